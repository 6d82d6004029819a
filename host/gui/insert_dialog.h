// The modeless "Insert filter" dialog: one row per filter prototype; Add or
// a double-click asks for a node of the selected prototype. The dialog stays
// open until Close. A search field and a category choice above the list
// hide the rows that do not match.
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace vorlan::gui {

struct PrototypeRow {
  int prototypeId = -1;
  QString filter;   // "%s %i.%i [%i]": name, major, minor, filter id
  QString library;  // "%s %i.%i (%s)": library name, major, minor, file name
  QString category;  // one of host::kFilterCategories
};

class InsertDialog : public QDialog {
  Q_OBJECT

 public:
  explicit InsertDialog(QWidget* parent = nullptr);

  void SetRows(const std::vector<PrototypeRow>& rows);
  QTreeWidget* List() const { return list_; }
  QPushButton* AddButton() const { return add_; }
  QPushButton* CloseButton() const { return close_; }
  QLineEdit* Search() const { return search_; }
  QComboBox* Category() const { return category_; }
  // Rows left visible by the search and the category.
  int VisibleRows() const;

  // Selects row `row` as a user click would; -1 clears the selection.
  void SelectRow(int row);

 signals:
  void AddRequested(int prototypeId);

 private:
  void AddSelected();
  void Filter();

  QLineEdit* search_;
  QComboBox* category_;
  QTreeWidget* list_;
  QPushButton* add_;
  QPushButton* close_;
};

}  // namespace vorlan::gui
