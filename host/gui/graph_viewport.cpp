#include "graph_viewport.h"

#include <QEvent>
#include <QGridLayout>
#include <QScrollBar>
#include <algorithm>

#include "core/graph_document.h"
#include "graph_view.h"

namespace vorlan::gui {

namespace {

// Room left beyond the outermost nodes, in document pixels.
constexpr int kMargin = 40;

// Range of one bar whose value is minus the origin: the content from `low`
// to `high` (client units at origin 0), a visible span `page` starting
// `lead` client units after minus the origin.
void SetRange(QScrollBar* bar, int value, int low, int high, int lead, int page) {
  const int minimum = std::min(low - kMargin - lead, value);
  const int maximum = std::max(high + kMargin - lead - page, value);
  bar->setRange(minimum, maximum);
  bar->setPageStep(std::max(1, page));
  bar->setSingleStep(GraphView::kGridSize * 2);
  bar->setValue(value);
  bar->setVisible(maximum > minimum);
}

}  // namespace

GraphViewport::GraphViewport(GraphView* view, QWidget* parent)
    : QWidget(parent), view_(view), horizontal_(new QScrollBar(Qt::Horizontal)), vertical_(new QScrollBar(Qt::Vertical)) {
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(view_, 0, 0);
  layout->addWidget(vertical_, 0, 1);
  layout->addWidget(horizontal_, 1, 0);
  horizontal_->hide();
  vertical_->hide();
  view_->installEventFilter(this);
  connect(horizontal_, &QScrollBar::valueChanged, this, &GraphViewport::Scrolled);
  connect(vertical_, &QScrollBar::valueChanged, this, &GraphViewport::Scrolled);
  connect(view_, &GraphView::OriginChanged, this, &GraphViewport::UpdateBars);
  connect(view_, &GraphView::ViewChanged, this, &GraphViewport::UpdateBars);
  connect(view_, &GraphView::DocumentChanged, this, &GraphViewport::UpdateBars);
}

bool GraphViewport::eventFilter(QObject* watched, QEvent* event) {
  // Graph edits without a signal (undo, loading) show up at the next paint.
  if (watched == view_ && (event->type() == QEvent::Resize || event->type() == QEvent::Paint)) UpdateBars();
  return QWidget::eventFilter(watched, event);
}

void GraphViewport::UpdateBars() {
  if (syncing_) return;
  syncing_ = true;
  const host::GraphDocument& doc = view_->Document();
  // The content at origin 0, and where the view's top-left corner lies.
  const QRect content = view_->ContentRect().translated(-doc.originX, -doc.originY);
  const QPointF topLeft = view_->Zoom().ToClient(QPointF(0, 0));
  const QPointF bottomRight = view_->Zoom().ToClient(QPointF(view_->width(), view_->height()));
  const QRect visible(topLeft.toPoint(), bottomRight.toPoint());
  if (content.isEmpty()) {
    horizontal_->hide();
    vertical_->hide();
  } else {
    SetRange(horizontal_, -doc.originX, content.left(), content.right(), visible.left(), visible.width());
    SetRange(vertical_, -doc.originY, content.top(), content.bottom(), visible.top(), visible.height());
  }
  syncing_ = false;
}

void GraphViewport::Scrolled() {
  if (syncing_) return;
  const host::GraphDocument& doc = view_->Document();
  const QPoint step(-horizontal_->value() - doc.originX, -vertical_->value() - doc.originY);
  if (!step.isNull()) view_->ScrollBy(step);
}

}  // namespace vorlan::gui
