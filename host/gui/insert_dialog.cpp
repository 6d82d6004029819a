#include "insert_dialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/filter_catalog.h"

namespace vorlan::gui {

namespace {
constexpr int kColumnWidth = 265;
constexpr int kPrototypeRole = Qt::UserRole + 1;
constexpr int kCategoryRole = Qt::UserRole + 2;
}  // namespace

InsertDialog::InsertDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Insert filter"));
  setModal(false);

  search_ = new QLineEdit;
  search_->setPlaceholderText(QStringLiteral("Search filters by name, library or category"));
  search_->setClearButtonEnabled(true);
  category_ = new QComboBox;
  category_->addItem(QStringLiteral("All categories"), QString());
  for (const char* c : host::kFilterCategories) category_->addItem(QString::fromUtf8(c), QString::fromUtf8(c));

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
  auto* top = new QHBoxLayout;
  top->addWidget(search_, 1);
  top->addWidget(category_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(list_, 1);
  layout->addLayout(bottom);

  connect(add_, &QPushButton::clicked, this, &InsertDialog::AddSelected);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { AddSelected(); });
  connect(close_, &QPushButton::clicked, this, &QDialog::hide);
  connect(search_, &QLineEdit::textChanged, this, &InsertDialog::Filter);
  connect(category_, &QComboBox::currentIndexChanged, this, &InsertDialog::Filter);
  // Enter in the search field adds the selected row, or the first one
  // left visible: the field chooses it, the default button (Add) adds it.
  connect(search_, &QLineEdit::returnPressed, this, [this] {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty() || selected.front()->isHidden()) {
      for (int i = 0; i < list_->topLevelItemCount(); ++i)
        if (!list_->topLevelItem(i)->isHidden()) {
          SelectRow(i);
          break;
        }
    }
  });
}

void InsertDialog::SetRows(const std::vector<PrototypeRow>& rows) {
  list_->clear();
  for (const PrototypeRow& row : rows) {
    auto* item = new QTreeWidgetItem(list_, {row.filter, row.library});
    item->setData(0, kPrototypeRole, row.prototypeId);
    item->setData(0, kCategoryRole, row.category);
  }
  Filter();
}

void InsertDialog::Filter() {
  const QStringList words = search_->text().toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  const QString category = category_->currentData().toString();
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    const QString rowCategory = item->data(0, kCategoryRole).toString();
    const QString text = (item->text(0) + QLatin1Char('\n') + item->text(1) + QLatin1Char('\n') + rowCategory).toLower();
    bool match = category.isEmpty() || rowCategory == category;
    for (const QString& w : words) match = match && text.contains(w);
    item->setHidden(!match);
    if (!match && item->isSelected()) item->setSelected(false);
  }
}

int InsertDialog::VisibleRows() const {
  int n = 0;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) n += list_->topLevelItem(i)->isHidden() ? 0 : 1;
  return n;
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
  if (selected.isEmpty() || selected.front()->isHidden()) return;
  emit AddRequested(selected.front()->data(0, kPrototypeRole).toInt());
}

}  // namespace vorlan::gui
