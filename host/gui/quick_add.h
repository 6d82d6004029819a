// Quick add: a search field with the matching filters below it, floating
// over the graph view where the user asked for it (Tab, a double-click on
// empty canvas, a connection dropped on empty canvas). Typing narrows the
// list (name, library, file or category), Up and Down choose, Enter adds,
// Escape or a click elsewhere closes it.
#pragma once

#include <QFrame>
#include <vector>

#include "core/filter_catalog.h"

class QLineEdit;
class QListWidget;

namespace vorlan::gui {

// One row's text: "Bmp decoder   (images, Bmp Decoder Library)".
QString CatalogRowText(const host::CatalogEntry& entry);

class QuickAddPopup : public QFrame {
  Q_OBJECT

 public:
  QuickAddPopup(std::vector<host::CatalogEntry> catalog, QWidget* parent);

  // Shows the field with its top-left corner at `at` (parent coordinates,
  // kept inside the parent), empty and with the keyboard focus.
  void Open(QPoint at);
  QLineEdit* Field() const { return field_; }
  QListWidget* List() const { return list_; }
  // Prototype id of the chosen row, -1 when the list is empty.
  int Current() const;

 signals:
  void Chosen(int prototypeId);
  void Dismissed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Refill();
  void Choose();
  void Dismiss();

  std::vector<host::CatalogEntry> catalog_;
  QLineEdit* field_;
  QListWidget* list_;
};

}  // namespace vorlan::gui
