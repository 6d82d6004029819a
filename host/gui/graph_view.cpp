#include "graph_view.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <QToolTip>

#include "caption_dialog.h"
#include "core/edge_course.h"
#include "core/file_stream_path.h"
#include "core/graph_document.h"
#include "core/pin_compat.h"
#include "core/placement.h"
#include "core/graph_file.h"
#include "graph_painter.h"
#include "progress_dialog.h"
#include "undo_commands.h"

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
  // Tracked for the hover highlight of edges.
  setMouseTracking(true);
  setMinimumSize(200, 150);

  contextMenu_ = new QMenu(QStringLiteral("Filter"), this);
  contextMenu_->addAction(QStringLiteral("Set Caption"), this, [this] { SetCaptionOfSelected(); });
  contextMenu_->addAction(QStringLiteral("Remove Filter"), this, [this] { RemoveSelected(); });
  contextMenu_->addAction(QStringLiteral("Configure"), this, [this] { ConfigureSelected(); });

  // Any edit clears the mark of a failed run.
  connect(this, &GraphView::DocumentChanged, this, [this] {
    MarkFailedNode(-1);
    hoverEdge_ = -1;
    // A removed node's id may come back with another node.
    std::erase_if(previews_, [this](const auto& p) { return document_.NodeById(p.first) == nullptr; });
  });

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

namespace {

double SegmentDistance2(QPointF p, QPointF a, QPointF b) {
  const QPointF d = b - a;
  const double d2 = QPointF::dotProduct(d, d);
  double t = d2 > 0 ? QPointF::dotProduct(p - a, d) / d2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  const QPointF e = p - (a + t * d);
  return QPointF::dotProduct(e, e);
}

}  // namespace

int GraphView::HitEdge(QPoint p) const {
  if (curved_) {
    // Along the drawn curve, flattened into short segments.
    for (int i = 0; i < document_.EdgeCount(); ++i) {
      const host::GraphEdge* e = document_.Edge(i);
      if (e == nullptr) continue;
      // Only curves whose control points' box comes within reach are
      // flattened; the mouse tests every edge on each move.
      const host::Rect b = host::CurveBounds(host::CurveOf(document_, *e));
      const int px = p.x() - document_.originX, py = p.y() - document_.originY;
      if (px < b.left - 4 || px > b.right + 4 || py < b.top - 4 || py > b.bottom + 4) continue;
      for (const QPolygonF& line : EdgePath(document_, *e, true).toSubpathPolygons())
        for (qsizetype k = 1; k < line.size(); ++k)
          if (SegmentDistance2(QPointF(p), line[k - 1], line[k]) < 16) return i;
    }
    return -1;
  }
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
  hoverEdge_ = -1;
  previews_.clear();
  run_ = RunProgress{};
  mode_ = DragMode::Idle;
  selectedNode_ = selectedPin_ = selectedEdge_ = -1;
  selection_.clear();
  update();
  emit SelectionChanged();
}

void GraphView::SetCurrent(int index) {
  const host::FilterNode* node = document_.Node(index);
  selectedNode_ = node != nullptr ? index : -1;
  if (node != nullptr) selection_.insert(node->nodeId);
}

void GraphView::SelectNode(int index) {
  selection_.clear();
  selectedNode_ = -1;
  SetCurrent(index);
  selectedPin_ = -1;
  selectedEdge_ = -1;
  update();
  emit SelectionChanged();
}

void GraphView::SelectNodeIds(const std::vector<int32_t>& nodeIds) {
  selection_.clear();
  selectedNode_ = selectedPin_ = selectedEdge_ = -1;
  for (const int32_t id : nodeIds) SetCurrent(document_.NodeIndex(id));
  update();
  emit SelectionChanged();
}

void GraphView::ValidateSelection() {
  const host::FilterNode* current = SelectedNodePtr();
  const int32_t currentId = current != nullptr ? current->nodeId : -1;
  for (auto it = selection_.begin(); it != selection_.end();)
    it = document_.NodeIndex(*it) < 0 ? selection_.erase(it) : std::next(it);
  // List indexes change when nodes come and go: find the current node again.
  selectedNode_ = currentId >= 0 ? document_.NodeIndex(currentId) : -1;
  if (selectedNode_ < 0 && !selection_.empty()) selectedNode_ = document_.NodeIndex(*selection_.rbegin());
  if (selectedNode_ < 0 || selectedPin_ >= document_.Node(selectedNode_)->filter->pinCount) selectedPin_ = -1;
  selectedEdge_ = -1;
  mode_ = DragMode::Idle;
  update();
  emit SelectionChanged();
}

host::FilterNode* GraphView::SelectedNodePtr() const {
  return selectedNode_ >= 0 ? document_.Node(selectedNode_) : nullptr;
}

void GraphView::BeginEdit() {
  if (history_ != nullptr) history_->Begin();
}

void GraphView::EndEdit(const QString& text, int mergeKey) {
  if (history_ == nullptr || !history_->Open()) return;
  // A run that started during a drag owns the filters: their settings
  // cannot be read now, so the move stays out of the history.
  if (!LockReason().isEmpty()) {
    history_->Cancel();
    emit UntrackedChange();
    return;
  }
  history_->Commit(text, mergeKey);
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

void GraphView::MarkFailedNode(int nodeId) {
  if (nodeId == failedNodeId_) return;
  failedNodeId_ = nodeId;
  update();
}

QString GraphView::NodeToolTip(QPoint p) const {
  const int index = HitNode(p);
  const host::FilterNode* node = index >= 0 ? document_.Node(index) : nullptr;
  if (node == nullptr || !host::IsFileStream(*node)) return QString();
  const QString caption = QString::fromStdString(node->caption);
  // The settings are not read while a run may be using the filter.
  if (!LockReason().isEmpty()) return caption;
  const std::optional<std::string> file = host::FileStreamTarget(document_, *node);
  // A graph never saved takes relative names from the current folder.
  const QString text = file ? QDir::current().absoluteFilePath(QString::fromStdString(*file))
                            : QStringLiteral("(no file selected)");
  return caption.isEmpty() ? text : caption + QStringLiteral(": ") + text;
}

QString GraphView::PinToolTip(QPoint p) const {
  const PinHit hit = HitPin(p);
  const host::FilterNode* node = hit.node >= 0 ? document_.Node(hit.node) : nullptr;
  if (node == nullptr || node->filter == nullptr || node->filter->pins[hit.pin] == nullptr) return QString();
  const Pin& pin = *node->filter->pins[hit.pin];
  auto pinName = [](const host::FilterNode& n, int32_t index) {
    const Pin* other = index >= 0 && index < n.filter->pinCount ? n.filter->pins[index] : nullptr;
    return QString::fromUtf8(other != nullptr && other->name != nullptr ? other->name : "?");
  };
  QString kind;
  switch (static_cast<PinKind>(pin.kind)) {
    case PinKind::Input: kind = QStringLiteral("input"); break;
    case PinKind::Output: kind = QStringLiteral("output"); break;
    case PinKind::ConfigIn: kind = QStringLiteral("settings input"); break;
    case PinKind::ConfigOut: kind = QStringLiteral("settings output"); break;
    default: kind = QStringLiteral("pin"); break;
  }
  // The packet types are asked from the filter: not while a run uses it.
  QString text = QStringLiteral("\u201c%1\u201d, %2").arg(pinName(*node, hit.pin), kind);
  if (LockReason().isEmpty()) {
    const uint32_t types = host::PinPacketTypes(document_, *node, hit.pin);
    text += QStringLiteral(": ") + QString::fromStdString(host::PacketTypesText(types));
  }
  QStringList peers;
  for (int i = 0; i < document_.EdgeCount(); ++i) {
    const host::GraphEdge* e = document_.Edge(i);
    const bool outgoing = e->fromNode == node->nodeId && e->fromPin == hit.pin;
    const bool incoming = e->toNode == node->nodeId && e->toPin == hit.pin;
    if (!outgoing && !incoming) continue;
    const host::FilterNode* other = document_.NodeById(outgoing ? e->toNode : e->fromNode);
    if (other == nullptr) continue;
    peers << QStringLiteral("%1 \u201c%2\u201d (%3)")
                 .arg(outgoing ? QStringLiteral("to") : QStringLiteral("from"),
                      pinName(*other, outgoing ? e->toPin : e->fromPin), QString::fromStdString(other->caption));
  }
  text += peers.isEmpty() ? QStringLiteral("\nnot connected") : QStringLiteral("\nconnected ") + peers.join(QStringLiteral(",\n  "));
  return text;
}

bool GraphView::event(QEvent* event) {
  // Tab opens quick add instead of moving the focus on.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier) {
      const QPoint cursor = mapFromGlobal(QCursor::pos());
      const QPoint at = rect().contains(cursor) ? cursor : rect().center();
      if (!Refuse(QStringLiteral("Quick add"))) emit QuickAddRequested(at, ToClient(QPointF(at)), -1, -1);
      return true;
    }
  }
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    QString tip = PinToolTip(ToClient(QPointF(help->pos())));
    if (tip.isEmpty()) tip = NodeToolTip(help->pos());
    if (tip.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), tip, this);
    }
    return true;
  }
  return QWidget::event(event);
}

bool GraphView::Refuse(const QString& command) {
  const QString reason = LockReason();
  if (reason.isEmpty()) return false;
  emit Refused(RefusalText(command, reason));
  return true;
}

bool GraphView::RemoveSelected() {
  if (Refuse(QStringLiteral("Delete"))) return false;
  bool removed = false;
  BeginEdit();
  if (!selection_.empty()) {
    for (const int32_t id : selection_) removed = document_.RemoveNode(id) != 0 || removed;
    selection_.clear();
    selectedNode_ = selectedPin_ = -1;
  } else if (selectedEdge_ >= 0) {
    if (const host::GraphEdge* edge = document_.Edge(selectedEdge_))
      removed = document_.RemoveEdge(edge->edgeId) != 0;
    selectedEdge_ = -1;
  }
  EndEdit(QStringLiteral("Delete"));
  update();
  emit SelectionChanged();
  if (removed) emit DocumentChanged();
  return removed;
}

bool GraphView::ConfigureSelected() {
  host::FilterNode* node = SelectedNodePtr();
  if (node == nullptr || node->filter == nullptr) return false;
  if (Refuse(QStringLiteral("Configure"))) return false;
  const int32_t nodeId = node->nodeId;
  const QByteArray before = SettingsBytes(*node);
  BeginEdit();
  node->filter->Configure();
  // The dialog ran its own event loop: look the node up again.
  node = document_.NodeById(nodeId);
  if (node == nullptr) {
    EndEdit(QStringLiteral("Configure"));
    return false;
  }
  document_.RefreshNode(*node);
  // A node that grew pushes its neighbours aside, in the same undo step.
  host::MakeRoomAround(document_, nodeId);
  selectedNode_ = document_.NodeIndex(nodeId);
  if (selectedPin_ >= node->filter->pinCount) selectedPin_ = -1;
  EndEdit(QStringLiteral("Configure"));
  update();
  emit SelectionChanged();
  if (SettingsBytes(*node) != before) emit DocumentChanged();
  return true;
}

bool GraphView::SetCaptionOfSelected() {
  host::FilterNode* node = SelectedNodePtr();
  if (node == nullptr) return false;
  if (Refuse(QStringLiteral("Set Caption"))) return false;
  const int32_t nodeId = node->nodeId;
  QString caption = QString::fromStdString(node->caption);
  if (!captionPrompt_ || !captionPrompt_(caption)) return false;  // Cancel keeps the caption
  node = document_.NodeById(nodeId);
  if (node == nullptr) return false;
  const std::string text = caption.toStdString();
  if (text == node->caption) return true;
  BeginEdit();
  document_.SetCaption(*node, text);
  host::MakeRoomAround(document_, nodeId);
  EndEdit(QStringLiteral("Set Caption"));
  update();
  emit SelectionChanged();
  emit DocumentChanged();
  return true;
}

bool GraphView::MoveSelected(int dx, int dy) {
  if (selection_.empty() || (dx == 0 && dy == 0)) return false;
  // During a run nodes still move, as with the mouse, outside the history.
  const bool locked = !LockReason().isEmpty();
  if (!locked) BeginEdit();
  for (const int32_t id : selection_) {
    if (host::FilterNode* node = document_.NodeById(id)) {
      document_.MoveNode(*node, dx, dy);
      document_.MoveEdgeEndsOfNode(*node, dx, dy);
    }
  }
  // Key presses in a row make one undo step.
  constexpr int kKeyMoveMerge = 1;
  if (locked) {
    emit UntrackedChange();
  } else {
    EndEdit(QStringLiteral("Move"), kKeyMoveMerge);
  }
  update();
  emit DocumentChanged();
  return true;
}

QRect GraphView::ContentRect() const {
  QRect bounds;
  for (int i = 0; i < document_.NodeCount(); ++i) {
    const host::FilterNode* node = document_.Node(i);
    const host::Rect& b = node->geometry.box;
    bounds |= QRect(QPoint(b.left, b.top), QPoint(b.right, b.bottom));
    for (const host::Rect& r : node->geometry.pinRects) bounds |= QRect(QPoint(r.left, r.top), QPoint(r.right, r.bottom));
  }
  return bounds.translated(document_.originX, document_.originY);
}

QPoint GraphView::VisibleCentre() const {
  const QPoint client = zoom_.ToClient(QPointF(width() / 2.0, height() / 2.0)).toPoint();
  return client - QPoint(document_.originX, document_.originY);
}

void GraphView::ZoomIn() {
  zoom_.ZoomIn(QPointF(width() / 2.0, height() / 2.0));
  update();
  emit ViewChanged();
}

void GraphView::ZoomOut() {
  zoom_.ZoomOut(QPointF(width() / 2.0, height() / 2.0));
  update();
  emit ViewChanged();
}

void GraphView::ZoomToFit() {
  constexpr double kFitMargin = 20;
  zoom_.Fit(QRectF(ContentRect()), QSizeF(size()), kFitMargin);
  update();
  emit ViewChanged();
}

void GraphView::ZoomReset() {
  zoom_.Reset();
  update();
  emit ViewChanged();
}

std::vector<PinHit> GraphView::ConnectTargets() const {
  std::vector<PinHit> targets;
  const host::FilterNode* from = SelectedNodePtr();
  if (from == nullptr || selectedPin_ < 0 || selectedPin_ >= from->filter->pinCount) return targets;
  const Pin* start = from->filter->pins[selectedPin_];
  if (start == nullptr) return targets;
  PinKind wanted;
  switch (static_cast<PinKind>(start->kind)) {
    case PinKind::Output: wanted = PinKind::Input; break;
    case PinKind::ConfigOut: wanted = PinKind::ConfigIn; break;
    default: return targets;  // an edge drawn from an input carries nothing
  }
  for (int i = 0; i < document_.NodeCount(); ++i) {
    if (i == selectedNode_) continue;
    const Filter* filter = document_.Node(i)->filter;
    for (int k = 0; k < filter->pinCount; ++k)
      if (filter->pins[k] != nullptr && static_cast<PinKind>(filter->pins[k]->kind) == wanted &&
          host::ConnectionProblem(document_, *from, selectedPin_, *document_.Node(i), k).empty())
        targets.push_back(PinHit{i, k});
  }
  return targets;
}

void GraphView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QColor paper = palette().color(QPalette::Base);
  painter.fillRect(rect(), paper);
  painter.translate(zoom_.Shift());
  painter.scale(zoom_.Scale(), zoom_.Scale());
  GraphHighlight highlight;
  highlight.curvedEdges = curved_;
  highlight.paper = paper;
  highlight.ink = palette().color(QPalette::Text);
  highlight.previews = showPreviews_ ? &previews_ : nullptr;
  highlight.run = run_;
  highlight.exposed = event->rect();
  highlight.hoverEdge = mode_ == DragMode::Idle ? hoverEdge_ : -1;
  highlight.node = selectedNode_;
  highlight.pin = selectedPin_;
  highlight.edge = selectedEdge_;
  highlight.failedNode = failedNodeId_ >= 0 ? document_.NodeIndex(failedNodeId_) : -1;
  for (const int32_t id : selection_) highlight.nodes.push_back(document_.NodeIndex(id));
  if (mode_ == DragMode::Connect) {
    highlight.rubberBand = QLine(dragStart_, current_);
    for (const PinHit& target : ConnectTargets()) highlight.targets.push_back({target.node, target.pin});
  }
  if (mode_ == DragMode::Select) highlight.selectionBand = QRect(dragStart_, current_).normalized();
  PaintGraph(painter, document_, highlight);
}

void GraphView::mousePressEvent(QMouseEvent* event) {
  const QPoint p = ToClient(event->position());
  if (event->button() == Qt::RightButton) {
    const int node = HitNode(p);
    if (node >= 0) SelectNode(node);
    update();
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  const bool toggle = event->modifiers().testFlag(Qt::ControlModifier);
  const bool extend = toggle || event->modifiers().testFlag(Qt::ShiftModifier);
  dragStart_ = current_ = last_ = p;
  selectedPin_ = selectedEdge_ = -1;
  collapseOnRelease_ = false;
  mode_ = DragMode::Idle;
  if (const int node = HitNode(p); node >= 0) {
    const int32_t id = document_.Node(node)->nodeId;
    if (toggle) {
      // Ctrl-click adds or drops one node and moves nothing.
      if (selection_.erase(id) != 0) {
        selectedNode_ = selection_.empty() ? -1 : document_.NodeIndex(*selection_.rbegin());
      } else {
        SetCurrent(node);
      }
    } else {
      if (selection_.count(id) == 0) selection_.clear();
      collapseOnRelease_ = selection_.size() > 1;
      SetCurrent(node);
      mode_ = DragMode::MoveOrPan;
      if (LockReason().isEmpty()) BeginEdit();
    }
  } else if (const PinHit pin = HitPin(p); pin.node >= 0) {
    selection_.clear();
    SetCurrent(pin.node);
    selectedPin_ = pin.pin;
    // Drawing a connection changes the graph: not while a run uses it.
    if (!Refuse(QStringLiteral("Connect"))) mode_ = DragMode::Connect;
  } else if (const int edge = HitEdge(p); edge >= 0) {
    selection_.clear();
    selectedNode_ = -1;
    selectedEdge_ = edge;
  } else if (extend) {
    if (!toggle) {
      selection_.clear();
      selectedNode_ = -1;
    }
    mode_ = DragMode::Select;
  } else {
    selection_.clear();
    selectedNode_ = -1;
    mode_ = DragMode::MoveOrPan;  // panning
  }
  update();
  emit SelectionChanged();
}

void GraphView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = ToClient(event->position());
  if (mode_ == DragMode::Idle) {
    const int hover = HitNode(p) < 0 && HitPin(p).node < 0 ? HitEdge(p) : -1;
    if (hover != hoverEdge_) {
      hoverEdge_ = hover;
      update();
    }
    return;
  }
  if (mode_ == DragMode::MoveOrPan) {
    if (selection_.empty()) {
      const QPoint delta = p - last_;
      if (delta.isNull()) return;
      document_.originX += delta.x();
      document_.originY += delta.y();
      last_ = p;
      emit OriginChanged();
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
      for (const int32_t id : selection_) {
        if (host::FilterNode* node = document_.NodeById(id)) {
          document_.MoveNode(*node, delta.x(), delta.y());
          document_.MoveEdgeEndsOfNode(*node, delta.x(), delta.y());
        }
      }
      last_ = to;
      collapseOnRelease_ = false;
      // Nodes move during a run too; their settings cannot be read for the
      // undo history then, so such a move is marked but not recorded.
      if (history_ == nullptr || !history_->Open()) emit UntrackedChange();
      emit DocumentChanged();
    }
    update();
  } else if (mode_ == DragMode::Connect || mode_ == DragMode::Select) {
    current_ = p;
    if (mode_ == DragMode::Connect) ExplainRefusedTarget(p);
    update();
  }
}

void GraphView::ExplainRefusedTarget(QPoint p) {
  const PinHit hit = HitPin(p);
  const host::FilterNode* from = SelectedNodePtr();
  const std::string problem =
      hit.node >= 0 && from != nullptr
          ? host::ConnectionProblem(document_, *from, selectedPin_, *document_.Node(hit.node), hit.pin)
          : std::string();
  if (problem.empty()) {
    refusedPin_ = PinHit{};
    return;
  }
  if (hit.node == refusedPin_.node && hit.pin == refusedPin_.pin) return;
  refusedPin_ = hit;
  emit Refused(RefusalText(QStringLiteral("Connect"), QString::fromStdString(problem)));
}

void GraphView::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = ToClient(event->position());
  if (event->button() == Qt::RightButton) {
    const int node = HitNode(p);
    if (node >= 0) {
      SelectNode(node);
      ShowContextMenu(event->globalPosition().toPoint());
    }
    update();
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  if (mode_ == DragMode::MoveOrPan) {
    mode_ = DragMode::Idle;
    if (!selection_.empty()) EndEdit(QStringLiteral("Move"));
    if (collapseOnRelease_) {
      // A click without a drag on one of several selected nodes selects it alone.
      const int current = selectedNode_;
      selection_.clear();
      SetCurrent(current);
    }
    update();
  } else if (mode_ == DragMode::Select) {
    mode_ = DragMode::Idle;
    const QRect band = QRect(dragStart_, p).normalized();
    const QPoint origin(document_.originX, document_.originY);
    for (int i = 0; i < document_.NodeCount(); ++i) {
      const host::Rect& b = document_.Node(i)->geometry.box;
      if (band.intersects(QRect(QPoint(b.left, b.top), QPoint(b.right, b.bottom)).translated(origin))) SetCurrent(i);
    }
    update();
  } else if (mode_ == DragMode::Connect) {
    mode_ = DragMode::Idle;
    refusedPin_ = PinHit{};
    const PinHit hit = HitPin(p);
    const host::FilterNode* from = SelectedNodePtr();
    const std::string problem =
        hit.node >= 0 && from != nullptr
            ? host::ConnectionProblem(document_, *from, selectedPin_, *document_.Node(hit.node), hit.pin)
            : std::string();
    if (!problem.empty()) {
      emit Refused(RefusalText(QStringLiteral("Connect"), QString::fromStdString(problem)));
    } else if (hit.node < 0 && HitNode(p) < 0 && from != nullptr) {
      // Dropped on empty canvas: quick add, connected to the new node.
      if (!Refuse(QStringLiteral("Quick add")))
        emit QuickAddRequested(event->position().toPoint(), p, from->nodeId, selectedPin_);
    } else if (hit.node >= 0 && from != nullptr && !(hit.node == selectedNode_ && hit.pin == selectedPin_) &&
        !Refuse(QStringLiteral("Connect"))) {
      const host::FilterNode* to = document_.Node(hit.node);
      BeginEdit();
      const bool added = to != nullptr && document_.InsertEdge(from->nodeId, selectedPin_, to->nodeId, hit.pin) >= 0;
      EndEdit(QStringLiteral("Connect"));
      if (added) emit DocumentChanged();
    }
    update();
  }
  emit SelectionChanged();
}

void GraphView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint p = ToClient(event->position());
  const int node = HitNode(p);
  if (node >= 0) {
    mode_ = DragMode::Idle;
    if (history_ != nullptr) history_->Cancel();  // the press began a move that never came
    SelectNode(node);
    ConfigureSelected();
  } else if (HitPin(p).node < 0 && HitEdge(p) < 0) {
    mode_ = DragMode::Idle;
    if (!Refuse(QStringLiteral("Quick add"))) emit QuickAddRequested(event->position().toPoint(), p, -1, -1);
  }
  update();
}

void GraphView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      if (mode_ == DragMode::Connect || mode_ == DragMode::Select) {
        mode_ = DragMode::Idle;
        update();
        return;
      }
      break;
    case Qt::Key_Left:
      MoveSelected(-kGridSize, 0);
      return;
    case Qt::Key_Right:
      MoveSelected(kGridSize, 0);
      return;
    case Qt::Key_Up:
      MoveSelected(0, -kGridSize);
      return;
    case Qt::Key_Down:
      MoveSelected(0, kGridSize);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (!event->isAutoRepeat()) ConfigureSelected();
      return;
    case Qt::Key_F2:
      if (!event->isAutoRepeat()) SetCaptionOfSelected();
      return;
    case Qt::Key_Menu:
      ShowContextMenuOfSelected();
      return;
    default:
      break;
  }
  QWidget::keyPressEvent(event);
}

void GraphView::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && !event->isAutoRepeat()) {
    RemoveSelected();
    return;
  }
  QWidget::keyReleaseEvent(event);
}

void GraphView::wheelEvent(QWheelEvent* event) {
  constexpr int kNotch = 120;       // angle delta of one wheel step
  constexpr int kScrollStep = 40;   // pixels one wheel step scrolls
  const QPoint angle = event->angleDelta();
  if (event->modifiers().testFlag(Qt::ControlModifier)) {
    if (angle.y() == 0) return;
    const double factor = std::pow(ViewZoom::kStep, angle.y() / double(kNotch));
    zoom_.ZoomAt(zoom_.Scale() * factor, event->position());
    update();
    emit ViewChanged();
    event->accept();
    return;
  }
  QPointF delta = event->pixelDelta().isNull() ? QPointF(angle) * kScrollStep / kNotch : QPointF(event->pixelDelta());
  if (event->modifiers().testFlag(Qt::ShiftModifier) && delta.x() == 0) delta = QPointF(delta.y(), 0);
  const QPoint step = (delta / zoom_.Scale()).toPoint();
  if (step.isNull()) return;
  ScrollBy(step);
  event->accept();
}

void GraphView::ScrollBy(QPoint step) {
  document_.originX = std::clamp(document_.originX + step.x(), -host::kMaxCoordinate, host::kMaxCoordinate);
  document_.originY = std::clamp(document_.originY + step.y(), -host::kMaxCoordinate, host::kMaxCoordinate);
  update();
  emit OriginChanged();
}

void GraphView::contextMenuEvent(QContextMenuEvent* event) {
  // The mouse opens the menu on button release; only the keyboard comes here.
  if (event->reason() == QContextMenuEvent::Keyboard) ShowContextMenuOfSelected();
}

void GraphView::ShowContextMenuOfSelected() {
  const host::FilterNode* node = SelectedNodePtr();
  if (node == nullptr) return;
  const host::Rect& b = node->geometry.box;
  const QPointF centre((b.left + b.right) / 2.0 + document_.originX, (b.top + b.bottom) / 2.0 + document_.originY);
  ShowContextMenu(mapToGlobal(zoom_.ToWidget(centre).toPoint()));
}

void GraphView::ShowContextMenu(QPoint at) { contextMenu_->popup(at); }

}  // namespace vorlan::gui
