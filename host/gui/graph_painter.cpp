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

}  // namespace

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
  }

  for (int i = 0; i < document.EdgeCount(); ++i) {
    const host::GraphEdge* edge = document.Edge(i);
    if (edge == nullptr) continue;
    const bool selected = i == highlight.edge;
    painter.setPen(selected ? QPen(kGreen, 1) : QPen(Qt::black, 2));
    painter.setBrush(selected ? kGreen : QColor(Qt::black));
    const QPoint from(edge->fromX + origin.x(), edge->fromY + origin.y());
    const QPoint to(edge->toX + origin.x(), edge->toY + origin.y());
    painter.drawLine(from, to);
    const QPolygon head = Arrowhead(from, to);
    if (!head.isEmpty()) painter.drawPolygon(head);
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
    painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(*highlight.selectionBand);
  }

  if (highlight.rubberBand) {
    painter.setPen(QPen(Qt::black, 2));
    painter.drawLine(*highlight.rubberBand);
  }
  painter.restore();
}

}  // namespace vorlan::gui
