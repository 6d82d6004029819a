// Drawing of a graph: node boxes with caption and pins, edges with
// arrowheads, the rubber band of a connection being drawn. Used by the view
// and for rendering graphs to images.
#pragma once

#include <QColor>
#include <QImage>
#include <QLine>
#include <QPainterPath>
#include <QPolygon>
#include <QRect>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "node_previews.h"

class QPainter;

namespace vorlan::host {
class GraphDocument;
struct GraphEdge;
}

namespace vorlan::gui {

struct GraphHighlight {
  int node = -1;  // selected node list index
  int pin = -1;   // selected pin of the selected node
  int edge = -1;  // selected edge list index
  int failedNode = -1;  // list index of the node that failed the last run
  std::optional<QLine> rubberBand;  // connect mode, widget coordinates
  std::vector<int> nodes;           // further selected nodes, list indexes
  struct PinRef {
    int node = -1;
    int pin = -1;
  };
  std::vector<PinRef> targets;           // pins the connection being drawn may end on
  std::optional<QRect> selectionBand;    // rubber-band selection, widget coordinates
  // Edges as curves leaving and entering their pins along the pins' sides
  // (outputs to the right, inputs from the left, configuration pins
  // downwards); false draws the straight lines.
  bool curvedEdges = false;
  int hoverEdge = -1;  // edge under the mouse, drawn highlighted with its two pins
  // By node id, pictures of published planes, drawn above the boxes.
  const std::map<int32_t, QImage>* previews = nullptr;
  // The canvas and the colour of wires and bands on it: the desktop's
  // palette in the view (dark themes included), white and black elsewhere.
  QColor paper = QColor(255, 255, 255);
  QColor ink = QColor(0, 0, 0);
  // During a run every node shows its state as a dot in the box's corner
  // and a thin bar along its bottom.
  RunProgress run;
  // The part of the device that needs drawing, in device-independent pixels
  // before the painter's transform (a paint event's rect); none means the
  // whole device. Nodes and edges wholly outside it are skipped.
  std::optional<QRect> exposed;
};

// The course of an edge in client coordinates (document + origin): the
// straight line, or the curve explained at GraphHighlight::curvedEdges.
QPainterPath EdgePath(const host::GraphDocument& document, const host::GraphEdge& edge, bool curved);

// The point the arrowhead at the edge's end points away from: the start for
// a straight edge, the curve's last control point otherwise.
QPointF EdgeTail(const host::GraphDocument& document, const host::GraphEdge& edge, bool curved);

// The arrowhead at `to` of an edge coming from `from`: 15 pixels long,
// opening +-20 degrees, coordinates truncated toward zero. Empty for an edge
// of zero length, which has no direction.
QPolygon Arrowhead(QPoint from, QPoint to);

// Text drawn smaller than this many device-independent pixels is not
// drawn: at such a zoom it cannot be read and it costs most of a frame.
inline constexpr double kLeastLegibleText = 7;

// Paints the document at its origin, through the painter's transform (the
// view's zoom). [ui thread]
void PaintGraph(QPainter& painter, const host::GraphDocument& document,
                const GraphHighlight& highlight);

}  // namespace vorlan::gui
