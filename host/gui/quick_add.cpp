#include "quick_add.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace vorlan::gui {

namespace {
constexpr int kPrototypeRole = Qt::UserRole + 1;
constexpr int kWidth = 340;
constexpr int kVisibleRows = 10;
}  // namespace

QString CatalogRowText(const host::CatalogEntry& entry) {
  return QStringLiteral("%1   (%2, %3)")
      .arg(QString::fromStdString(entry.name), QString::fromStdString(entry.category),
           QString::fromStdString(entry.library));
}

QuickAddPopup::QuickAddPopup(std::vector<host::CatalogEntry> catalog, QWidget* parent)
    : QFrame(parent), catalog_(std::move(catalog)) {
  setObjectName(QStringLiteral("quickAdd"));
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  field_ = new QLineEdit(this);
  field_->setPlaceholderText(QStringLiteral("Add filter: name, library or category"));
  field_->setClearButtonEnabled(true);
  list_ = new QListWidget(this);
  list_->setFocusPolicy(Qt::NoFocus);
  list_->setUniformItemSizes(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(2);
  layout->addWidget(field_);
  layout->addWidget(list_);
  field_->installEventFilter(this);
  connect(field_, &QLineEdit::textChanged, this, &QuickAddPopup::Refill);
  connect(list_, &QListWidget::itemActivated, this, [this] { Choose(); });
  connect(list_, &QListWidget::itemClicked, this, [this] { Choose(); });
  hide();
}

void QuickAddPopup::Open(QPoint at) {
  field_->clear();
  Refill();
  const int rowHeight = std::max(list_->sizeHintForRow(0), fontMetrics().height() + 2);
  resize(kWidth, field_->sizeHint().height() + rowHeight * kVisibleRows + 16);
  if (QWidget* p = parentWidget()) {
    at.setX(std::clamp(at.x(), 0, std::max(0, p->width() - width())));
    at.setY(std::clamp(at.y(), 0, std::max(0, p->height() - height())));
  }
  move(at);
  show();
  raise();
  field_->setFocus(Qt::PopupFocusReason);
}

int QuickAddPopup::Current() const {
  const QListWidgetItem* item = list_->currentItem();
  return item != nullptr ? item->data(kPrototypeRole).toInt() : -1;
}

void QuickAddPopup::Refill() {
  list_->clear();
  for (const host::CatalogEntry* entry : host::SearchCatalog(catalog_, field_->text().toStdString())) {
    auto* item = new QListWidgetItem(CatalogRowText(*entry), list_);
    item->setData(kPrototypeRole, entry->prototypeId);
    item->setToolTip(QString::fromStdString(entry->fileName));
  }
  if (list_->count() > 0) list_->setCurrentRow(0);
}

void QuickAddPopup::Choose() {
  const int id = Current();
  if (id < 0) return;
  hide();
  emit Chosen(id);
}

void QuickAddPopup::Dismiss() {
  if (isHidden()) return;
  hide();
  emit Dismissed();
}

bool QuickAddPopup::eventFilter(QObject* watched, QEvent* event) {
  if (watched == field_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const int row = list_->currentRow();
    switch (key->key()) {
      case Qt::Key_Down:
        if (row + 1 < list_->count()) list_->setCurrentRow(row + 1);
        return true;
      case Qt::Key_Up:
        if (row > 0) list_->setCurrentRow(row - 1);
        return true;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        Choose();
        return true;
      case Qt::Key_Escape:
        Dismiss();
        return true;
      default:
        break;
    }
  }
  if (watched == field_ && event->type() == QEvent::FocusOut) {
    // A click on the list keeps the popup; elsewhere it closes.
    auto* focus = static_cast<QFocusEvent*>(event);
    if (focus->reason() == Qt::MouseFocusReason && !underMouse()) Dismiss();
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace vorlan::gui
