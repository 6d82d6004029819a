#include "graph_painter.h"

#include <QBrush>
#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>
#include <QStaticText>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "core/edge_course.h"
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
  // The frame's colour over the whole area, then the fill inside the frame:
  // two fills instead of five.
  const int w = std::min({width, area.width(), area.height()});
  painter.fillRect(area, frame);
  const QRect inside = area.adjusted(w, w, -w, -w);
  if (!inside.isEmpty()) painter.fillRect(inside, fill);
}

// Laid-out texts kept between frames: laying out a caption or a pin name is
// most of what drawing it costs, and the same few pin names recur on every
// node. Keyed by the text; cleared when the font changes or when it holds
// too many (captions that came and went). [ui thread]
class TextCache {
 public:
  struct Entry {
    QStaticText text;
    int advance = 0;  // QFontMetrics::horizontalAdvance, as the layout measures
  };

  // Once per frame, before Get: texts laid out in another font go.
  void Use(const QFont& font) {
    if (font == font_) return;
    texts_.clear();
    font_ = font;
  }

  const Entry& Get(std::string_view text, const QFontMetrics& metrics) {
    auto found = texts_.find(text);
    if (found == texts_.end()) {
      if (texts_.size() >= kMostTexts) texts_.clear();
      const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
      Entry entry{QStaticText(s), metrics.horizontalAdvance(s)};
      entry.text.setTextFormat(Qt::PlainText);
      entry.text.setPerformanceHint(QStaticText::AggressiveCaching);
      found = texts_.emplace(std::string(text), std::move(entry)).first;
    }
    return found->second;
  }

 private:
  static constexpr size_t kMostTexts = 4096;
  QFont font_;
  std::map<std::string, Entry, std::less<>> texts_;
};

TextCache& Captions() {
  static TextCache cache;
  return cache;
}

TextCache& PinNames() {
  static TextCache cache;
  return cache;
}

// What one frame needs besides the document: fonts and their metrics, the
// area on screen and what is legible at the zoom.
struct Frame {
  QFont captionFont, pinFont;
  QFontMetrics captionMetrics, pinMetrics;
  QRectF visible;  // client coordinates
  double scale = 1;  // device-independent pixels per client pixel
  bool captions = true, pinNames = true;

  Frame(const QPainter& painter, const GraphHighlight& highlight)
      : captionFont(CaptionFont()), pinFont(PinFont()), captionMetrics(captionFont), pinMetrics(pinFont) {
    const QTransform& world = painter.worldTransform();
    scale = std::sqrt(std::abs(world.determinant()));
    captions = captionMetrics.height() * scale >= kLeastLegibleText;
    pinNames = pinMetrics.height() * scale >= kLeastLegibleText;
    Captions().Use(captionFont);
    PinNames().Use(pinFont);
    QRectF area;
    if (highlight.exposed) {
      area = QRectF(*highlight.exposed);
    } else if (const QPaintDevice* device = painter.device()) {
      // Pictures count in device pixels, widgets in device-independent ones.
      const double ratio = device->devType() == QInternal::Widget ? 1.0 : device->devicePixelRatioF();
      area = QRectF(0, 0, device->width() / ratio, device->height() / ratio);
    }
    bool invertible = false;
    const QTransform back = world.inverted(&invertible);
    visible = invertible ? back.mapRect(area) : QRectF(-1e9, -1e9, 2e9, 2e9);
  }
};

QRectF Bounds(const host::Rect& r, QPoint origin, double margin) {
  return QRectF(r.left + origin.x() - margin, r.top + origin.y() - margin, r.right - r.left + 2 * margin,
                r.bottom - r.top + 2 * margin);
}

// What a node's drawing covers: its box, the pin squares hanging out of it,
// the rings of highlighted pins around them.
QRectF NodeBounds(const host::FilterNode& node, QPoint origin) {
  constexpr double kRing = 5;
  QRectF r = Bounds(node.geometry.box, origin, kRing);
  for (const host::Rect& pin : node.geometry.pinRects) r |= Bounds(pin, origin, kRing);
  return r;
}

void PaintNode(QPainter& painter, const host::FilterNode& node, bool selected, bool failed, int selectedPin,
               QPoint origin, const Frame& frame) {
  const Filter* filter = node.filter;
  const bool unusable = filter != nullptr && filter->state.load() == FilterState::Error;
  const QRect box = Box(node.geometry.box, origin);
  const QColor frameColour = selected ? kGreen : (unusable || failed) ? kRed : QColor(Qt::black);
  FramedRect(painter, box, frameColour, 2, kNodeFill);
  // A selected node that failed keeps a red frame inside the green one.
  if (selected && failed) FramedRect(painter, box.adjusted(2, 2, -2, -2), kRed, 2, kNodeFill);

  if (frame.captions) {
    painter.setFont(frame.captionFont);
    painter.setPen(Qt::white);
    const TextCache::Entry& caption = Captions().Get(node.caption, frame.captionMetrics);
    painter.drawStaticText(QPoint(node.geometry.captionX + origin.x(), node.geometry.captionY + origin.y()),
                           caption.text);
  }

  if (filter == nullptr) return;
  if (frame.pinNames) {
    painter.setFont(frame.pinFont);
    painter.setPen(Qt::white);
  }
  const int pins = std::min<int>(filter->pinCount, static_cast<int>(node.geometry.pinRects.size()));
  for (int i = 0; i < pins; ++i) {
    const Pin* pin = filter->pins[i];
    if (pin == nullptr) continue;
    const QRect square = Box(node.geometry.pinRects[static_cast<size_t>(i)], origin);
    FramedRect(painter, square, selected && i == selectedPin ? kGreen : QColor(Qt::black), 1, kNodeFill);
    if (!frame.pinNames) continue;

    const TextCache::Entry& name =
        PinNames().Get(pin->name != nullptr ? pin->name : "", frame.pinMetrics);
    const int w = name.advance;
    const int h = frame.pinMetrics.height();
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
    painter.drawStaticText(QPoint(left, top), name.text);
  }
}

QPointF ToQt(host::CoursePoint p) { return QPointF(p.x, p.y); }

host::EdgeCurve EdgeCurve(const host::GraphDocument& document, const host::GraphEdge& edge) {
  host::EdgeCurve c = host::CurveOf(document, edge);
  for (host::CoursePoint* p : {&c.from, &c.c1, &c.c2, &c.to}) {
    p->x += document.originX;
    p->y += document.originY;
  }
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
  const host::EdgeCurve c = EdgeCurve(document, edge);
  QPainterPath path(ToQt(c.from));
  if (curved) {
    path.cubicTo(ToQt(c.c1), ToQt(c.c2), ToQt(c.to));
  } else {
    path.lineTo(ToQt(c.to));
  }
  return path;
}

QPointF EdgeTail(const host::GraphDocument& document, const host::GraphEdge& edge, bool curved) {
  const host::EdgeCurve c = EdgeCurve(document, edge);
  const bool bent = c.c2.x != c.to.x || c.c2.y != c.to.y;
  return curved && bent ? ToQt(c.c2) : ToQt(c.from);
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

namespace {

// Edges drawn in one style, gathered so a frame strokes and fills each
// style once instead of once per edge. The buffers are kept between frames.
struct EdgeBatch {
  std::vector<QLine> lines;
  std::vector<host::EdgeCurve> curves;
  QPainterPath heads;

  void Clear() {
    lines.clear();
    curves.clear();
    heads.clear();
    heads.setFillRule(Qt::WindingFill);  // heads ending on one pin do not cancel out
  }
  bool Empty() const { return lines.empty() && curves.empty() && heads.isEmpty(); }
};

// The nodes of a frame by id: a curve asks for both its ends' nodes, and
// the document finds a node by id only by walking its list.
class NodesById {
 public:
  void Fill(const host::GraphDocument& document) {
    nodes_.clear();
    for (int i = 0; i < document.NodeCount(); ++i)
      if (const host::FilterNode* node = document.Node(i)) nodes_.emplace_back(node->nodeId, node);
    std::sort(nodes_.begin(), nodes_.end());
  }
  const host::FilterNode* Find(int32_t id) const {
    const auto at = std::lower_bound(nodes_.begin(), nodes_.end(), std::pair<int32_t, const host::FilterNode*>(id, nullptr));
    return at != nodes_.end() && at->first == id ? at->second : nullptr;
  }

 private:
  std::vector<std::pair<int32_t, const host::FilterNode*>> nodes_;
};

void AddEdge(EdgeBatch& batch, const host::GraphDocument& document, const NodesById& nodes,
             const host::GraphEdge& edge, bool curved) {
  const QPoint from(edge.fromX + document.originX, edge.fromY + document.originY);
  const QPoint to(edge.toX + document.originX, edge.toY + document.originY);
  QPoint tail = from;
  if (curved) {
    host::EdgeCurve c = host::CurveBetween(
        {static_cast<double>(from.x()), static_cast<double>(from.y())}, host::PinSide(nodes.Find(edge.fromNode), edge.fromPin),
        {static_cast<double>(to.x()), static_cast<double>(to.y())}, host::PinSide(nodes.Find(edge.toNode), edge.toPin));
    batch.curves.push_back(c);
    if (c.c2.x != c.to.x || c.c2.y != c.to.y) tail = ToQt(c.c2).toPoint();
  } else {
    batch.lines.emplace_back(from, to);
  }
  const QPolygon head = Arrowhead(tail, to);
  if (!head.isEmpty()) batch.heads.addPolygon(QPolygonF(head));
}

// How far, in device pixels, the chords a curve is drawn with may stray
// from it, and the most chords of one curve.
constexpr double kChordError = 0.3;
constexpr int kMostChords = 48;
// Below this zoom arrowheads are filled without the pen's outline.
constexpr double kLeastZoomOfOutlinedHeads = 0.75;

// `scale`: device pixels per client pixel; `zoom`: device-independent ones.
void DrawEdges(QPainter& painter, const EdgeBatch& batch, const QPen& pen, const QColor& fill, double scale,
               double zoom) {
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  if (!batch.lines.empty()) painter.drawLines(batch.lines.data(), static_cast<int>(batch.lines.size()));
  if (!batch.curves.empty()) {
    // Each curve as chords close enough to it to look the same, all drawn
    // as separate lines in one call: the raster engine has a rasterizer of
    // its own for wide antialiased lines, while stroking a wide cubic or a
    // polyline builds and fills an outline, several times dearer. Square
    // caps close the joints between chords.
    painter.setRenderHint(QPainter::Antialiasing, true);
    thread_local std::vector<host::CoursePoint> points;
    thread_local std::vector<QLineF> chords;
    chords.clear();
    for (const host::EdgeCurve& c : batch.curves) {
      // n chords stray at most 3 d / (4 n^2) from the curve, d the larger
      // second difference of its control points.
      const double d = std::max(std::hypot(c.from.x - 2 * c.c1.x + c.c2.x, c.from.y - 2 * c.c1.y + c.c2.y),
                                std::hypot(c.c1.x - 2 * c.c2.x + c.to.x, c.c1.y - 2 * c.c2.y + c.to.y)) *
                       scale;
      const int n = std::clamp(static_cast<int>(std::ceil(std::sqrt(0.75 * d / kChordError))), 1, kMostChords);
      host::FlattenCurve(c, n, points);
      for (size_t k = 1; k < points.size(); ++k) chords.emplace_back(ToQt(points[k - 1]), ToQt(points[k]));
    }
    painter.drawLines(chords.data(), static_cast<int>(chords.size()));
    painter.setRenderHint(QPainter::Antialiasing, false);
  }
  if (!batch.heads.isEmpty()) {
    painter.setBrush(fill);
    // Zoomed out, the pen's outline adds under a pixel to a head a few
    // pixels long but costs as much as the fill: the heads are only filled.
    if (zoom < kLeastZoomOfOutlinedHeads) painter.setPen(Qt::NoPen);
    painter.drawPath(batch.heads);
  }
}

// The area an edge's drawing may cover: its ends, the curve's control
// points (at most the bend away from the ends), the arrowhead and the pen.
QRectF EdgeBounds(const host::GraphDocument& document, const host::GraphEdge& edge, bool curved) {
  const double dx = edge.toX - edge.fromX, dy = edge.toY - edge.fromY;
  const double reach = (curved ? std::max(host::kLeastBend, std::hypot(dx, dy) / 2) : 0) + kArrowLength + 3;
  const QRectF ends = QRectF(QPointF(edge.fromX, edge.fromY), QPointF(edge.toX, edge.toY)).normalized();
  return ends.adjusted(-reach, -reach, reach, reach).translated(document.originX, document.originY);
}

}  // namespace

void PaintGraph(QPainter& painter, const host::GraphDocument& document,
                const GraphHighlight& highlight) {
  painter.save();
  painter.setBackgroundMode(Qt::TransparentMode);
  const QPoint origin(document.originX, document.originY);
  const Frame frame(painter, highlight);

  for (int i = 0; i < document.NodeCount(); ++i) {
    const host::FilterNode* node = document.Node(i);
    if (node == nullptr) continue;
    const auto preview = highlight.previews != nullptr ? highlight.previews->find(node->nodeId)
                                                       : std::map<int32_t, QImage>::const_iterator();
    const bool hasPreview = highlight.previews != nullptr && preview != highlight.previews->end();
    QRectF bounds = NodeBounds(*node, origin);
    if (hasPreview) bounds.adjust(-preview->second.width(), -preview->second.height() - 6, 0, 0);
    if (!bounds.intersects(frame.visible)) continue;
    const bool selected = i == highlight.node ||
                          std::find(highlight.nodes.begin(), highlight.nodes.end(), i) != highlight.nodes.end();
    PaintNode(painter, *node, selected, i == highlight.failedNode, i == highlight.node ? highlight.pin : -1, origin,
              frame);
    if (highlight.run.active) PaintRunStatus(painter, *node, highlight.run, origin);
    if (hasPreview) PaintPreview(painter, *node, preview->second, origin);
  }

  // Every edge but the selected and the hovered one in one batch, those two
  // on top of it.
  thread_local EdgeBatch plain, selected, hovered;
  plain.Clear();
  selected.Clear();
  hovered.Clear();
  const bool curved = highlight.curvedEdges;
  thread_local NodesById nodes;
  if (curved) nodes.Fill(document);
  for (int i = 0; i < document.EdgeCount(); ++i) {
    const host::GraphEdge* edge = document.Edge(i);
    if (edge == nullptr || !EdgeBounds(document, *edge, curved).intersects(frame.visible)) continue;
    EdgeBatch& batch = i == highlight.edge ? selected : i == highlight.hoverEdge ? hovered : plain;
    AddEdge(batch, document, nodes, *edge, curved);
  }
  const double scale = frame.scale * painter.device()->devicePixelRatioF();
  DrawEdges(painter, plain, QPen(highlight.ink, 2), highlight.ink, scale, frame.scale);
  if (!hovered.Empty()) DrawEdges(painter, hovered, QPen(kHover, 3), kHover, scale, frame.scale);
  if (!selected.Empty()) DrawEdges(painter, selected, QPen(kGreen, 1), kGreen, scale, frame.scale);

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
