#include "insert_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vorlan::gui {

namespace {
constexpr int kColumnWidth = 265;
constexpr int kPrototypeRole = Qt::UserRole + 1;
}  // namespace

InsertDialog::InsertDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Insert filter"));
  setModal(false);

  list_ = new QTreeWidget;
  list_->setColumnCount(2);
  list_->setHeaderLabels({QStringLiteral("Filter"), QStringLiteral("Library")});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSortingEnabled(false);
  list_->header()->setSectionsClickable(false);
  list_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list_->setColumnWidth(0, kColumnWidth);
  list_->setColumnWidth(1, kColumnWidth);
  list_->setMinimumWidth(2 * kColumnWidth + 24);
  list_->setMinimumHeight(220);

  auto* hint = new QLabel(
      QStringLiteral("To add filter into the graph double\nclick on filter name or press Add."));
  add_ = new QPushButton(QStringLiteral("Add"));
  close_ = new QPushButton(QStringLiteral("Close"));
  add_->setDefault(true);
  close_->setAutoDefault(false);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(hint, 1);
  bottom->addWidget(add_);
  bottom->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(bottom);

  connect(add_, &QPushButton::clicked, this, &InsertDialog::AddSelected);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { AddSelected(); });
  connect(close_, &QPushButton::clicked, this, &QDialog::hide);
}

void InsertDialog::SetRows(const std::vector<PrototypeRow>& rows) {
  list_->clear();
  for (const PrototypeRow& row : rows) {
    auto* item = new QTreeWidgetItem(list_, {row.filter, row.library});
    item->setData(0, kPrototypeRole, row.prototypeId);
  }
}

void InsertDialog::SelectRow(int row) {
  list_->clearSelection();
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr) return;
  list_->setCurrentItem(item);
  item->setSelected(true);
}

void InsertDialog::AddSelected() {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) return;
  emit AddRequested(selected.front()->data(0, kPrototypeRole).toInt());
}

}  // namespace vorlan::gui
