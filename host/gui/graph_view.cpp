#include "graph_view.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "caption_dialog.h"
#include "core/graph_document.h"
#include "graph_painter.h"
#include "progress_dialog.h"

namespace vorlan::gui {

namespace {

bool Inside(const host::Rect& r, QPoint p, QPoint origin) {
  const int x = p.x() - origin.x();
  const int y = p.y() - origin.y();
  return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}

// Truncates toward zero to a multiple of the grid, as integer division does.
int Snapped(int v) { return v / GraphView::kGridSize * GraphView::kGridSize; }

// The serialized settings of a filter, for telling whether Configure changed
// anything. The packet goes back to the library when it offers a way.
QByteArray SettingsBytes(const host::FilterNode& node) {
  Packet packet = node.filter->GetConfig(ConfigForm::Serialized);
  QByteArray bytes;
  if (packet.data != nullptr && packet.length > 0)
    bytes = QByteArray(static_cast<const char*>(packet.data), packet.length);
  if (node.library != nullptr && node.library->entry.releaseConfig != nullptr)
    node.library->entry.releaseConfig(packet);
  return bytes;
}

}  // namespace

GraphView::GraphView(host::GraphDocument& document, QWidget* parent)
    : QWidget(parent), document_(document) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(false);
  setMinimumSize(200, 150);

  contextMenu_ = new QMenu(QStringLiteral("Filter"), this);
  contextMenu_->addAction(QStringLiteral("Set Caption"), this, [this] { SetCaptionOfSelected(); });
  contextMenu_->addAction(QStringLiteral("Remove Filter"), this, [this] { RemoveSelected(); });
  contextMenu_->addAction(QStringLiteral("Configure"), this, [this] { ConfigureSelected(); });

  captionPrompt_ = [this](QString& caption) {
    CaptionDialog dialog(caption, this);
    if (dialog.exec() != QDialog::Accepted) return false;
    caption = dialog.Caption();
    return true;
  };
}

int GraphView::HitNode(QPoint p) const {
  const QPoint origin(document_.originX, document_.originY);
  for (int i = document_.NodeCount() - 1; i >= 0; --i) {
    const host::FilterNode* node = document_.Node(i);
    if (node != nullptr && Inside(node->geometry.box, p, origin)) return i;
  }
  return -1;
}

PinHit GraphView::HitPin(QPoint p) const {
  const QPoint origin(document_.originX, document_.originY);
  for (int i = document_.NodeCount() - 1; i >= 0; --i) {
    const host::FilterNode* node = document_.Node(i);
    if (node == nullptr) continue;
    const auto& rects = node->geometry.pinRects;
    for (size_t k = 0; k < rects.size(); ++k)
      if (Inside(rects[k], p, origin)) return PinHit{i, static_cast<int>(k)};
  }
  return PinHit{};
}

int GraphView::HitEdge(QPoint p) const {
  const double px = p.x() - document_.originX;
  const double py = p.y() - document_.originY;
  for (int i = 0; i < document_.EdgeCount(); ++i) {
    const host::GraphEdge* e = document_.Edge(i);
    if (e == nullptr) continue;
    const double dx = e->toX - e->fromX;
    const double dy = e->toY - e->fromY;
    const double d2 = dx * dx + dy * dy;
    double nearestX = e->fromX;
    double nearestY = e->fromY;
    if (d2 > 0) {
      const double t = ((px - e->fromX) * dx + (py - e->fromY) * dy) / d2;
      if (t < 0 || t > 1) continue;
      nearestX += t * dx;
      nearestY += t * dy;
    }
    // A zero-length edge is a point: hit near that point.
    const double ex = px - nearestX;
    const double ey = py - nearestY;
    if (ex * ex + ey * ey < 16) return i;
  }
  return -1;
}

void GraphView::ClearInteraction() {
  mode_ = DragMode::Idle;
  selectedNode_ = selectedPin_ = selectedEdge_ = -1;
  update();
  emit SelectionChanged();
}

void GraphView::SelectNode(int index) {
  selectedNode_ = (index >= 0 && index < document_.NodeCount()) ? index : -1;
  selectedPin_ = -1;
  selectedEdge_ = -1;
  update();
  emit SelectionChanged();
}

host::FilterNode* GraphView::SelectedNodePtr() const {
  return selectedNode_ >= 0 ? document_.Node(selectedNode_) : nullptr;
}

QString GraphView::NodeDescription() const {
  const host::FilterNode* node = SelectedNodePtr();
  if (node == nullptr || node->filter == nullptr) return QString();
  const FilterInfo& info = node->filter->info;
  return QStringLiteral("(%1) %2 %3.%4 [%5]")
      .arg(QString::fromStdString(node->caption),
           QString::fromUtf8(info.name != nullptr ? info.name : ""))
      .arg(info.major)
      .arg(info.minor)
      .arg(info.id);
}

QString GraphView::NodeState() const {
  const host::FilterNode* node = SelectedNodePtr();
  if (node == nullptr || node->filter == nullptr) return QString();
  return QStringLiteral("State : ") + StateName(static_cast<int>(node->filter->state.load()));
}

bool GraphView::Refuse() {
  const QString reason = LockReason();
  if (reason.isEmpty()) return false;
  emit Refused(reason);
  return true;
}

bool GraphView::RemoveSelected() {
  if (Refuse()) return false;
  bool removed = false;
  if (const host::FilterNode* node = SelectedNodePtr()) {
    removed = document_.RemoveNode(node->nodeId) != 0;
    selectedNode_ = selectedPin_ = -1;
  } else if (selectedEdge_ >= 0) {
    if (const host::GraphEdge* edge = document_.Edge(selectedEdge_))
      removed = document_.RemoveEdge(edge->edgeId) != 0;
    selectedEdge_ = -1;
  }
  update();
  emit SelectionChanged();
  if (removed) emit DocumentChanged();
  return removed;
}

bool GraphView::ConfigureSelected() {
  host::FilterNode* node = SelectedNodePtr();
  if (node == nullptr || node->filter == nullptr) return false;
  if (Refuse()) return false;
  const int32_t nodeId = node->nodeId;
  const QByteArray before = SettingsBytes(*node);
  node->filter->Configure();
  // The dialog ran its own event loop: look the node up again.
  node = document_.NodeById(nodeId);
  if (node == nullptr) return false;
  document_.RefreshNode(*node);
  if (selectedPin_ >= node->filter->pinCount) selectedPin_ = -1;
  update();
  emit SelectionChanged();
  if (SettingsBytes(*node) != before) emit DocumentChanged();
  return true;
}

bool GraphView::SetCaptionOfSelected() {
  host::FilterNode* node = SelectedNodePtr();
  if (node == nullptr) return false;
  if (Refuse()) return false;
  const int32_t nodeId = node->nodeId;
  QString caption = QString::fromStdString(node->caption);
  if (!captionPrompt_ || !captionPrompt_(caption)) return false;  // Cancel keeps the caption
  node = document_.NodeById(nodeId);
  if (node == nullptr) return false;
  const std::string text = caption.toStdString();
  if (text == node->caption) return true;
  document_.SetCaption(*node, text);
  update();
  emit SelectionChanged();
  emit DocumentChanged();
  return true;
}

void GraphView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  GraphHighlight highlight;
  highlight.node = selectedNode_;
  highlight.pin = selectedPin_;
  highlight.edge = selectedEdge_;
  if (mode_ == DragMode::Connect) highlight.rubberBand = QLine(dragStart_, current_);
  PaintGraph(painter, document_, highlight);
}

void GraphView::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (event->button() == Qt::RightButton) {
    const int node = HitNode(p);
    if (node >= 0) SelectNode(node);
    update();
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  dragStart_ = current_ = last_ = p;
  selectedNode_ = selectedPin_ = selectedEdge_ = -1;
  mode_ = DragMode::Idle;
  if (const int node = HitNode(p); node >= 0) {
    selectedNode_ = node;
    mode_ = DragMode::MoveOrPan;
  } else if (const PinHit pin = HitPin(p); pin.node >= 0) {
    selectedNode_ = pin.node;
    selectedPin_ = pin.pin;
    // Drawing a connection changes the graph: not while a run uses it.
    if (!Refuse()) mode_ = DragMode::Connect;
  } else if (const int edge = HitEdge(p); edge >= 0) {
    selectedEdge_ = edge;
  } else {
    mode_ = DragMode::MoveOrPan;  // panning
  }
  update();
  emit SelectionChanged();
}

void GraphView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (mode_ == DragMode::MoveOrPan) {
    host::FilterNode* node = SelectedNodePtr();
    if (node == nullptr) {
      const QPoint delta = p - last_;
      if (delta.isNull()) return;
      document_.originX += delta.x();
      document_.originY += delta.y();
      last_ = p;
      emit DocumentChanged();
    } else {
      QPoint from = last_;
      QPoint to = p;
      if (snap_) {
        from = QPoint(Snapped(from.x()), Snapped(from.y()));
        to = QPoint(Snapped(to.x()), Snapped(to.y()));
      }
      const QPoint delta = to - from;
      // Keep the unmoved remainder so that slow drags still add up.
      if (delta.isNull()) return;
      document_.MoveNode(*node, delta.x(), delta.y());
      document_.MoveEdgeEndsOfNode(*node, delta.x(), delta.y());
      last_ = to;
      emit DocumentChanged();
    }
    update();
  } else if (mode_ == DragMode::Connect) {
    current_ = p;
    update();
  }
}

void GraphView::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (event->button() == Qt::RightButton) {
    const int node = HitNode(p);
    if (node >= 0) {
      SelectNode(node);
      ShowContextMenu(mapToGlobal(p));
    }
    update();
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  if (mode_ == DragMode::MoveOrPan) {
    mode_ = DragMode::Idle;
  } else if (mode_ == DragMode::Connect) {
    mode_ = DragMode::Idle;
    const PinHit hit = HitPin(p);
    const host::FilterNode* from = SelectedNodePtr();
    if (hit.node >= 0 && from != nullptr && !(hit.node == selectedNode_ && hit.pin == selectedPin_) &&
        !Refuse()) {
      const host::FilterNode* to = document_.Node(hit.node);
      if (to != nullptr && document_.InsertEdge(from->nodeId, selectedPin_, to->nodeId, hit.pin) >= 0)
        emit DocumentChanged();
    }
    update();
  }
  emit SelectionChanged();
}

void GraphView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const int node = HitNode(event->position().toPoint());
  if (node >= 0) {
    mode_ = DragMode::Idle;
    SelectNode(node);
    ConfigureSelected();
  }
  update();
}

void GraphView::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && !event->isAutoRepeat()) {
    RemoveSelected();
    return;
  }
  QWidget::keyReleaseEvent(event);
}

void GraphView::ShowContextMenu(QPoint at) { contextMenu_->popup(at); }

}  // namespace vorlan::gui
