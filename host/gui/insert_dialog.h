// The modeless "Insert filter" dialog: one row per filter prototype; Add or
// a double-click asks for a node of the selected prototype. The dialog stays
// open until Close.
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

class QPushButton;
class QTreeWidget;

namespace vorlan::gui {

struct PrototypeRow {
  int prototypeId = -1;
  QString filter;   // "%s %i.%i [%i]": name, major, minor, filter id
  QString library;  // "%s %i.%i (%s)": library name, major, minor, file name
};

class InsertDialog : public QDialog {
  Q_OBJECT

 public:
  explicit InsertDialog(QWidget* parent = nullptr);

  void SetRows(const std::vector<PrototypeRow>& rows);
  QTreeWidget* List() const { return list_; }
  QPushButton* AddButton() const { return add_; }
  QPushButton* CloseButton() const { return close_; }

  // Selects row `row` as a user click would; -1 clears the selection.
  void SelectRow(int row);

 signals:
  void AddRequested(int prototypeId);

 private:
  void AddSelected();

  QTreeWidget* list_;
  QPushButton* add_;
  QPushButton* close_;
};

}  // namespace vorlan::gui
