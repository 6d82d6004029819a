// Drawing of a graph: node boxes with caption and pins, edges with
// arrowheads, the rubber band of a connection being drawn. Used by the view
// and for rendering graphs to images.
#pragma once

#include <QLine>
#include <QPolygon>
#include <QRect>
#include <optional>
#include <utility>
#include <vector>

class QPainter;

namespace vorlan::host {
class GraphDocument;
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
};

// The arrowhead at `to` of an edge coming from `from`: 15 pixels long,
// opening +-20 degrees, coordinates truncated toward zero. Empty for an edge
// of zero length, which has no direction.
QPolygon Arrowhead(QPoint from, QPoint to);

// Paints the document at its origin. [ui thread]
void PaintGraph(QPainter& painter, const host::GraphDocument& document,
                const GraphHighlight& highlight);

}  // namespace vorlan::gui
