#include "graph_painter.h"

#include <QBrush>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

#include "core/graph_document.h"
#include "node_fonts.h"

namespace vorlan::gui {

namespace {

constexpr int kLabelGap = 4;
constexpr double kArrowLength = 15;
constexpr double kCos20 = 0.9396926207859084;
constexpr double kSin20 = 0.3420201433256687;

const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kNodeFill(22, 103, 170);
const QColor kTarget(255, 170, 0);
const QColor kHover(255, 140, 0);

// How far a curve runs along a pin's side before it bends: half the
// distance between the ends, at least this.
constexpr double kLeastBend = 40;

// The pixels left..right-1, top..bottom-1 that the node geometry's exclusive
// right and bottom edges mean.
QRect Box(const host::Rect& r, QPoint origin) {
  return QRect(r.left + origin.x(), r.top + origin.y(), r.right - r.left, r.bottom - r.top);
}

// Fills `area` and frames it with a `width`-pixel line lying inside it, so
// the whole drawing covers exactly the pixels of `area`. (QPainter::drawRect
// with a pen would straddle the edge and cover one more column and row.)
void FramedRect(QPainter& painter, const QRect& area, const QColor& frame, int width, const QColor& fill) {
  if (area.isEmpty()) return;
  painter.fillRect(area, fill);
  const int w = std::min({width, area.width(), area.height()});
  painter.fillRect(QRect(area.left(), area.top(), area.width(), w), frame);
  painter.fillRect(QRect(area.left(), area.bottom() - w + 1, area.width(), w), frame);
  painter.fillRect(QRect(area.left(), area.top(), w, area.height()), frame);
  painter.fillRect(QRect(area.right() - w + 1, area.top(), w, area.height()), frame);
}

QString Text(const char* text) { return QString::fromUtf8(text != nullptr ? text : ""); }

void PaintNode(QPainter& painter, const host::FilterNode& node, bool selected, bool failed, int selectedPin,
               QPoint origin, const QFont& captionFont, const QFont& pinFont) {
  const Filter* filter = node.filter;
  const bool unusable = filter != nullptr && filter->state.load() == FilterState::Error;
  const QRect box = Box(node.geometry.box, origin);
  const QColor frame = selected ? kGreen : (unusable || failed) ? kRed : QColor(Qt::black);
  FramedRect(painter, box, frame, 2, kNodeFill);
  // A selected node that failed keeps a red frame inside the green one.
  if (selected && failed) FramedRect(painter, box.adjusted(2, 2, -2, -2), kRed, 2, kNodeFill);

  painter.setFont(captionFont);
  painter.setPen(Qt::white);
  const QFontMetrics captionMetrics(captionFont);
  const QString caption = QString::fromStdString(node.caption);
  painter.drawText(QPoint(node.geometry.captionX + origin.x(),
                          node.geometry.captionY + origin.y() + captionMetrics.ascent()),
                   caption);

  if (filter == nullptr) return;
  painter.setFont(pinFont);
  const QFontMetrics pinMetrics(pinFont);
  const int pins = std::min<int>(filter->pinCount, static_cast<int>(node.geometry.pinRects.size()));
  for (int i = 0; i < pins; ++i) {
    const Pin* pin = filter->pins[i];
    if (pin == nullptr) continue;
    const QRect square = Box(node.geometry.pinRects[static_cast<size_t>(i)], origin);
    FramedRect(painter, square, selected && i == selectedPin ? kGreen : QColor(Qt::black), 1, kNodeFill);

    const QString name = Text(pin->name);
    const int w = pinMetrics.horizontalAdvance(name);
    const int h = pinMetrics.height();
    const host::Rect& r = node.geometry.pinRects[static_cast<size_t>(i)];
    const int centreY = (r.top + r.bottom) / 2 + origin.y();
    int left = 0;
    int top = centreY - h / 2;
    switch (static_cast<PinKind>(pin->kind)) {
      case PinKind::Input:
        left = r.right + origin.x() + kLabelGap;
        break;
      case PinKind::Output:
        left = r.left + origin.x() - kLabelGap - w;
        break;
      default:  // configuration pins: centred above the square, inside the box
        left = (r.left + r.right) / 2 + origin.x() - w / 2;
        top = r.top + origin.y() - kLabelGap - h;
        break;
    }
    painter.setPen(Qt::white);
    painter.drawText(QPoint(left, top + pinMetrics.ascent()), name);
  }
}

// The direction a wire leaves or enters a pin, pointing out of the node.
QPointF PinSide(const host::GraphDocument& document, int32_t nodeId, int32_t pin) {
  const host::FilterNode* node = document.NodeById(nodeId);
  if (node == nullptr || node->filter == nullptr || pin < 0 || pin >= node->filter->pinCount ||
      node->filter->pins[pin] == nullptr)
    return QPointF(0, 0);
  switch (static_cast<PinKind>(node->filter->pins[pin]->kind)) {
    case PinKind::Input: return QPointF(-1, 0);
    case PinKind::Output: return QPointF(1, 0);
    case PinKind::ConfigIn:
    case PinKind::ConfigOut: return QPointF(0, 1);
    default: return QPointF(0, 0);
  }
}

struct Curve {
  QPointF from, c1, c2, to;
};

Curve EdgeCurve(const host::GraphDocument& document, const host::GraphEdge& edge) {
  const QPointF origin(document.originX, document.originY);
  Curve c;
  c.from = QPointF(edge.fromX, edge.fromY) + origin;
  c.to = QPointF(edge.toX, edge.toY) + origin;
  const QPointF d = c.to - c.from;
  const double bend = std::max(kLeastBend, std::hypot(d.x(), d.y()) / 2);
  c.c1 = c.from + PinSide(document, edge.fromNode, edge.fromPin) * bend;
  c.c2 = c.to + PinSide(document, edge.toNode, edge.toPin) * bend;
  return c;
}

QColor StateColour(FilterState state) {
  switch (state) {
    case FilterState::Ready: return QColor(255, 255, 255);
    case FilterState::Running: return kHover;
    case FilterState::Stopped: return QColor(230, 120, 120);
    case FilterState::Done: return kGreen;
    case FilterState::Error: return kRed;
    default: return QColor(150, 150, 150);
  }
}

// The state dot and the progress bar of a node during a run.
void PaintRunStatus(QPainter& painter, const host::FilterNode& node, const RunProgress& run, QPoint origin) {
  if (node.filter == nullptr) return;
  const FilterState state = node.filter->state.load();
  const QRect box = Box(node.geometry.box, origin);
  const QRect inner = box.adjusted(2, 2, -2, -2);
  if (inner.width() < 8 || inner.height() < 8) return;
  painter.fillRect(QRect(inner.right() - 6, inner.top() + 1, 6, 6), StateColour(state));
  double done = 0;
  if (state == FilterState::Done) {
    done = 1;
  } else if (node.nodeId == run.currentNodeId) {
    done = std::clamp(static_cast<double>(run.fraction), 0.0, 1.0);
  }
  const QRect bar(inner.left(), inner.bottom() - 2, inner.width(), 3);
  painter.fillRect(bar, kNodeFill.darker(150));
  if (done > 0) painter.fillRect(QRect(bar.left(), bar.top(), static_cast<int>(bar.width() * done), 3), StateColour(state));
}

void PaintPreview(QPainter& painter, const host::FilterNode& node, const QImage& image, QPoint origin) {
  const QRect box = Box(node.geometry.box, origin);
  const QRect where(box.right() - image.width() + 1, box.top() - image.height() - 3, image.width(), image.height());
  painter.drawImage(where, image);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(where.adjusted(-1, -1, 0, 0));
}

}  // namespace

QPainterPath EdgePath(const host::GraphDocument& document, const host::GraphEdge& edge, bool curved) {
  const Curve c = EdgeCurve(document, edge);
  QPainterPath path(c.from);
  if (curved) {
    path.cubicTo(c.c1, c.c2, c.to);
  } else {
    path.lineTo(c.to);
  }
  return path;
}

QPointF EdgeTail(const host::GraphDocument& document, const host::GraphEdge& edge, bool curved) {
  const Curve c = EdgeCurve(document, edge);
  return curved && c.c2 != c.to ? c.c2 : c.from;
}

QPolygon Arrowhead(QPoint from, QPoint to) {
  const double vx = from.x() - to.x();
  const double vy = from.y() - to.y();
  const double length = std::sqrt(vx * vx + vy * vy);
  if (length == 0) return {};
  const int ux = static_cast<int>(vx * kArrowLength / length);
  const int uy = static_cast<int>(vy * kArrowLength / length);
  const QPoint left(to.x() + static_cast<int>(ux * kCos20 - uy * kSin20),
                    to.y() + static_cast<int>(ux * kSin20 + uy * kCos20));
  const QPoint right(to.x() + static_cast<int>(ux * kCos20 + uy * kSin20),
                     to.y() + static_cast<int>(-ux * kSin20 + uy * kCos20));
  return QPolygon({to, left, right});
}

void PaintGraph(QPainter& painter, const host::GraphDocument& document,
                const GraphHighlight& highlight) {
  painter.save();
  painter.setBackgroundMode(Qt::TransparentMode);
  const QPoint origin(document.originX, document.originY);
  const QFont captionFont = CaptionFont();
  const QFont pinFont = PinFont();

  for (int i = 0; i < document.NodeCount(); ++i) {
    const host::FilterNode* node = document.Node(i);
    if (node == nullptr) continue;
    const bool selected = i == highlight.node ||
                          std::find(highlight.nodes.begin(), highlight.nodes.end(), i) != highlight.nodes.end();
    PaintNode(painter, *node, selected, i == highlight.failedNode, i == highlight.node ? highlight.pin : -1, origin,
              captionFont, pinFont);
    if (highlight.run.active) PaintRunStatus(painter, *node, highlight.run, origin);
    if (highlight.previews != nullptr) {
      const auto preview = highlight.previews->find(node->nodeId);
      if (preview != highlight.previews->end()) PaintPreview(painter, *node, preview->second, origin);
    }
  }

  for (int i = 0; i < document.EdgeCount(); ++i) {
    const host::GraphEdge* edge = document.Edge(i);
    if (edge == nullptr) continue;
    const bool selected = i == highlight.edge;
    const bool hovered = i == highlight.hoverEdge && !selected;
    painter.setPen(selected ? QPen(kGreen, 1) : hovered ? QPen(kHover, 3) : QPen(highlight.ink, 2));
    painter.setBrush(selected ? kGreen : hovered ? kHover : highlight.ink);
    const QPoint from(edge->fromX + origin.x(), edge->fromY + origin.y());
    const QPoint to(edge->toX + origin.x(), edge->toY + origin.y());
    QPoint tail = from;
    if (highlight.curvedEdges) {
      painter.save();
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setBrush(Qt::NoBrush);
      painter.drawPath(EdgePath(document, *edge, true));
      painter.restore();
      tail = EdgeTail(document, *edge, true).toPoint();
    } else {
      painter.drawLine(from, to);
    }
    const QPolygon head = Arrowhead(tail, to);
    if (!head.isEmpty()) painter.drawPolygon(head);
  }

  // The pins the edge under the mouse joins.
  if (const host::GraphEdge* hover = document.Edge(highlight.hoverEdge)) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kHover, 2));
    for (const auto& [nodeId, pin] : {std::pair{hover->fromNode, hover->fromPin}, std::pair{hover->toNode, hover->toPin}}) {
      const host::FilterNode* node = document.NodeById(nodeId);
      if (node == nullptr || pin < 0 || static_cast<size_t>(pin) >= node->geometry.pinRects.size()) continue;
      painter.drawRect(Box(node->geometry.pinRects[static_cast<size_t>(pin)], origin).adjusted(-3, -3, 3, 3));
    }
  }

  // Pins a connection may end on get a ring around their square.
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(kTarget, 2));
  for (const GraphHighlight::PinRef& target : highlight.targets) {
    const host::FilterNode* node = document.Node(target.node);
    if (node == nullptr || target.pin < 0 || static_cast<size_t>(target.pin) >= node->geometry.pinRects.size()) continue;
    painter.drawRect(Box(node->geometry.pinRects[static_cast<size_t>(target.pin)], origin).adjusted(-3, -3, 3, 3));
  }

  if (highlight.selectionBand) {
    painter.setPen(QPen(highlight.ink, 1, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(*highlight.selectionBand);
  }

  if (highlight.rubberBand) {
    painter.setPen(QPen(highlight.ink, 2));
    painter.drawLine(*highlight.rubberBand);
  }
  painter.restore();
}

}  // namespace vorlan::gui
