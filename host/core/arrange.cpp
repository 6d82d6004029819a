#include "core/arrange.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <unordered_map>

#include "core/edge_course.h"
#include "core/graph_document.h"
#include "core/placement.h"

namespace vorlan::host {

namespace {

constexpr int kOrderingSweeps = 12;
constexpr int kAlignPasses = 4;
constexpr int kCoursePassCounts[] = {12, 0, 4, 8, 16, 24};
constexpr int32_t kTallestPass = 40;  // most room a passing point takes in a layer
constexpr int32_t kPassingRoom = 20;  // height kept in a layer for an edge passing it
// Edges are drawn from pin to pin (a graph file keeps no bends), straight
// or curved, so the layers' lanes alone do not keep them off the boxes they
// pass: a wide box beside a narrow one, or a curve's swing, still meets
// them. Nodes an edge runs through move off its course, up to this many
// rounds.
constexpr int kClearanceRounds = 60;
constexpr int kFruitlessRounds = 12;
constexpr double kFarthestMove = 2000;  // pixels; a node is not moved further off one edge // rounds without fewer crossings before giving up
constexpr int32_t kEdgeClearance = 6;  // pixels between an edge and a box it passes
constexpr int kCourseChords = 32;      // chords a curve is checked with

// A vertex of the layered graph: a node, or a point an edge passes a layer at.
struct Vertex {
  int32_t node = -1;  // node list index, -1 for a passing point
  int32_t layer = 0;
  int32_t width = 0, height = 0;  // footprint
  double order = 0;               // position inside the layer
  double y = 0;                   // top of the footprint
  double courseTop = 0;           // passing point: where its edge's course wants its footprint
};

// A segment between adjacent layers; `fromPort`, `toPort` in [0, 1) place
// the pin along its box so R, G, B keep their order.
struct Segment {
  int32_t from = -1, to = -1;  // vertex indexes, layer(to) = layer(from) + 1
  double fromPort = 0.5, toPort = 0.5;
};

double Port(const FilterNode& node, int32_t pin) {
  if (pin < 0 || static_cast<size_t>(pin) >= node.geometry.pinRects.size()) return 0.5;
  const Rect& b = node.geometry.box;
  const Rect& r = node.geometry.pinRects[static_cast<size_t>(pin)];
  const double h = std::max(1, b.bottom - b.top);
  return std::clamp(((r.top + r.bottom) / 2.0 - b.top) / h, 0.0, 0.999);
}

class Layering {
 public:
  Layering(const GraphDocument& document, const ArrangeSpacing& spacing) : doc_(document), spacing_(spacing) {}

  std::vector<ArrangedNode> Run() {
    const int32_t n = doc_.NodeCount();
    if (n == 0) return {};
    CollectEdges();
    BreakCycles();
    AssignLayers();
    BuildVertices();
    OrderLayers();
    // Fitting the passing points to the courses moves the nodes that set
    // the courses, so how many rounds of it serve best differs from graph to
    // graph: each count is tried and the placement with the fewest edges
    // through nodes kept.
    const std::vector<Vertex> ordered = vertices_;
    std::vector<ArrangedNode> best;
    size_t fewest = std::numeric_limits<size_t>::max();
    for (const int coursePasses : kCoursePassCounts) {
      vertices_ = ordered;
      PlaceColumns(coursePasses);
      std::vector<ArrangedNode> placed = Result();
      const size_t crossings = KeepEdgesOffNodes(placed);
      if (crossings < fewest) {
        fewest = crossings;
        best = std::move(placed);
      }
      if (fewest == 0) break;
    }
    return best;
  }

 private:
  struct Edge {
    int32_t from, to, fromPin, toPin;
    int32_t edge;  // index in the document's edge list
  };

  // The passing points of one edge, layer by layer.
  struct Chain {
    int32_t edge;  // document edge index
    std::vector<int32_t> passes;
  };

  void CollectEdges() {
    const int32_t n = doc_.NodeCount();
    std::unordered_map<int32_t, int32_t> indexOf;
    for (int32_t i = 0; i < n; ++i) indexOf[doc_.Node(i)->nodeId] = i;
    for (int32_t e = 0; e < doc_.EdgeCount(); ++e) {
      const GraphEdge* edge = doc_.Edge(e);
      const auto from = indexOf.find(edge->fromNode);
      const auto to = indexOf.find(edge->toNode);
      if (from == indexOf.end() || to == indexOf.end() || from->second == to->second) continue;
      edges_.push_back(Edge{from->second, to->second, edge->fromPin, edge->toPin, e});
    }
  }

  // Edges that close a cycle (found by a depth-first walk) point backwards.
  void BreakCycles() {
    const int32_t n = doc_.NodeCount();
    std::vector<std::vector<int32_t>> out(static_cast<size_t>(n));
    for (size_t e = 0; e < edges_.size(); ++e) out[static_cast<size_t>(edges_[e].from)].push_back(static_cast<int32_t>(e));
    std::vector<uint8_t> mark(static_cast<size_t>(n), 0);  // 0 new, 1 on the path, 2 done
    std::vector<std::pair<int32_t, size_t>> stack;
    for (int32_t start = 0; start < n; ++start) {
      if (mark[static_cast<size_t>(start)] != 0) continue;
      stack.emplace_back(start, 0);
      mark[static_cast<size_t>(start)] = 1;
      while (!stack.empty()) {
        auto& [v, next] = stack.back();
        const auto& list = out[static_cast<size_t>(v)];
        if (next == list.size()) {
          mark[static_cast<size_t>(v)] = 2;
          stack.pop_back();
          continue;
        }
        Edge& e = edges_[static_cast<size_t>(list[next++])];
        if (mark[static_cast<size_t>(e.to)] == 1) {
          reversed_.push_back(&e - edges_.data());
        } else if (mark[static_cast<size_t>(e.to)] == 0) {
          mark[static_cast<size_t>(e.to)] = 1;
          stack.emplace_back(e.to, 0);
        }
      }
    }
    for (const ptrdiff_t r : reversed_) {
      Edge& e = edges_[static_cast<size_t>(r)];
      std::swap(e.from, e.to);
      std::swap(e.fromPin, e.toPin);
    }
  }

  // Longest path from the sources; a source then moves right up to its
  // first consumer, so a parameter feeding a late filter sits beside it.
  void AssignLayers() {
    const int32_t n = doc_.NodeCount();
    layer_.assign(static_cast<size_t>(n), 0);
    std::vector<int32_t> indegree(static_cast<size_t>(n), 0);
    std::vector<std::vector<int32_t>> succ(static_cast<size_t>(n)), pred(static_cast<size_t>(n));
    for (const Edge& e : edges_) {
      succ[static_cast<size_t>(e.from)].push_back(e.to);
      pred[static_cast<size_t>(e.to)].push_back(e.from);
      ++indegree[static_cast<size_t>(e.to)];
    }
    std::vector<int32_t> queue;
    for (int32_t i = 0; i < n; ++i)
      if (indegree[static_cast<size_t>(i)] == 0) queue.push_back(i);
    for (size_t q = 0; q < queue.size(); ++q) {
      const int32_t v = queue[q];
      for (const int32_t w : succ[static_cast<size_t>(v)]) {
        layer_[static_cast<size_t>(w)] = std::max(layer_[static_cast<size_t>(w)], layer_[static_cast<size_t>(v)] + 1);
        if (--indegree[static_cast<size_t>(w)] == 0) queue.push_back(w);
      }
    }
    for (int32_t i = 0; i < n; ++i) {
      if (!pred[static_cast<size_t>(i)].empty() || succ[static_cast<size_t>(i)].empty()) continue;
      int32_t first = std::numeric_limits<int32_t>::max();
      for (const int32_t w : succ[static_cast<size_t>(i)]) first = std::min(first, layer_[static_cast<size_t>(w)]);
      layer_[static_cast<size_t>(i)] = first - 1;
    }
    layers_ = 1 + *std::max_element(layer_.begin(), layer_.end());
  }

  void BuildVertices() {
    const int32_t n = doc_.NodeCount();
    for (int32_t i = 0; i < n; ++i) {
      const FilterNode& node = *doc_.Node(i);
      const Rect f = Footprint(node);
      Vertex v;
      v.node = i;
      v.layer = layer_[static_cast<size_t>(i)];
      v.width = f.right - f.left;
      v.height = f.bottom - f.top;
      v.order = (f.top + f.bottom) / 2.0;  // start from the user's own order
      vertices_.push_back(v);
    }
    for (const Edge& e : edges_) {
      const FilterNode& from = *doc_.Node(e.from);
      const FilterNode& to = *doc_.Node(e.to);
      int32_t previous = e.from;
      double previousPort = Port(from, e.fromPin);
      // Copies: adding passing points moves the vertices.
      const Vertex a = vertices_[static_cast<size_t>(e.from)];
      const Vertex b = vertices_[static_cast<size_t>(e.to)];
      Chain chain{e.edge, {}};
      for (int32_t l = a.layer + 1; l < b.layer; ++l) {
        Vertex pass;
        pass.layer = l;
        pass.height = kPassingRoom;
        const double t = static_cast<double>(l - a.layer) / (b.layer - a.layer);
        pass.order = a.order + t * (b.order - a.order);
        vertices_.push_back(pass);
        const int32_t index = static_cast<int32_t>(vertices_.size()) - 1;
        segments_.push_back(Segment{previous, index, previousPort, 0.5});
        chain.passes.push_back(index);
        previous = index;
        previousPort = 0.5;
      }
      segments_.push_back(Segment{previous, e.to, previousPort, Port(to, e.toPin)});
      if (!chain.passes.empty()) chains_.push_back(std::move(chain));
    }
    byLayer_.assign(static_cast<size_t>(layers_), {});
    for (size_t i = 0; i < vertices_.size(); ++i) byLayer_[static_cast<size_t>(vertices_[i].layer)].push_back(static_cast<int32_t>(i));
    for (auto& layer : byLayer_) Renumber(layer);
    into_.assign(vertices_.size(), {});
    outOf_.assign(vertices_.size(), {});
    for (size_t s = 0; s < segments_.size(); ++s) {
      into_[static_cast<size_t>(segments_[s].to)].push_back(static_cast<int32_t>(s));
      outOf_[static_cast<size_t>(segments_[s].from)].push_back(static_cast<int32_t>(s));
    }
  }

  // Sorts a layer by `order` and renumbers it 0, 1, 2, ...
  void Renumber(std::vector<int32_t>& layer) {
    std::stable_sort(layer.begin(), layer.end(), [this](int32_t a, int32_t b) {
      return vertices_[static_cast<size_t>(a)].order < vertices_[static_cast<size_t>(b)].order;
    });
    for (size_t k = 0; k < layer.size(); ++k) vertices_[static_cast<size_t>(layer[k])].order = static_cast<double>(k);
  }

  int64_t Crossings() const {
    int64_t total = 0;
    for (int32_t l = 0; l + 1 < layers_; ++l) {
      std::vector<std::pair<double, double>> ends;
      for (const int32_t v : byLayer_[static_cast<size_t>(l)])
        for (const int32_t s : outOf_[static_cast<size_t>(v)]) {
          const Segment& seg = segments_[static_cast<size_t>(s)];
          ends.emplace_back(vertices_[static_cast<size_t>(seg.from)].order + seg.fromPort,
                            vertices_[static_cast<size_t>(seg.to)].order + seg.toPort);
        }
      for (size_t i = 0; i < ends.size(); ++i)
        for (size_t j = i + 1; j < ends.size(); ++j)
          if ((ends[i].first - ends[j].first) * (ends[i].second - ends[j].second) < 0) ++total;
    }
    return total;
  }

  // Barycentre sweeps, down the layers and back, keeping the best order.
  void OrderLayers() {
    std::vector<double> best(vertices_.size());
    auto keep = [&] {
      for (size_t i = 0; i < vertices_.size(); ++i) best[i] = vertices_[i].order;
    };
    keep();
    int64_t fewest = Crossings();
    for (int sweep = 0; sweep < kOrderingSweeps && fewest > 0; ++sweep) {
      const bool down = sweep % 2 == 0;
      for (int32_t k = 1; k < layers_; ++k) {
        const int32_t l = down ? k : layers_ - 1 - k;
        for (const int32_t v : byLayer_[static_cast<size_t>(l)]) {
          double sum = 0;
          int count = 0;
          for (const int32_t s : down ? into_[static_cast<size_t>(v)] : outOf_[static_cast<size_t>(v)]) {
            const Segment& seg = segments_[static_cast<size_t>(s)];
            sum += down ? vertices_[static_cast<size_t>(seg.from)].order + seg.fromPort
                        : vertices_[static_cast<size_t>(seg.to)].order + seg.toPort;
            ++count;
          }
          // Without neighbours on that side a vertex keeps its place.
          if (count > 0) vertices_[static_cast<size_t>(v)].order = sum / count - 0.5 + 1e-6 * vertices_[static_cast<size_t>(v)].order;
        }
        Renumber(byLayer_[static_cast<size_t>(l)]);
      }
      const int64_t c = Crossings();
      if (c < fewest) {
        fewest = c;
        keep();
      }
    }
    for (size_t i = 0; i < vertices_.size(); ++i) vertices_[i].order = best[i];
    for (auto& layer : byLayer_) Renumber(layer);
  }

  // The y a vertex's pins would like: the mean of its neighbours' pin
  // heights in the layer before (or after), less its own pin offset.
  bool Wanted(int32_t v, bool fromLeft, double& wanted) const {
    double sum = 0;
    int count = 0;
    const Vertex& self = vertices_[static_cast<size_t>(v)];
    for (const int32_t s : fromLeft ? into_[static_cast<size_t>(v)] : outOf_[static_cast<size_t>(v)]) {
      const Segment& seg = segments_[static_cast<size_t>(s)];
      const Vertex& other = vertices_[static_cast<size_t>(fromLeft ? seg.from : seg.to)];
      const double otherPort = fromLeft ? seg.fromPort : seg.toPort;
      const double ownPort = fromLeft ? seg.toPort : seg.fromPort;
      sum += other.y + otherPort * other.height - ownPort * self.height;
      ++count;
    }
    if (count == 0) return false;
    wanted = sum / count;
    return true;
  }

  // Keeps the layer's order and gaps while moving vertices towards `want`.
  void Pack(const std::vector<int32_t>& layer, const std::vector<double>& want) {
    const double gap = spacing_.rowGap - kNodeClearance;
    std::vector<double> y(want);
    for (size_t k = 1; k < layer.size(); ++k) {
      const Vertex& above = vertices_[static_cast<size_t>(layer[k - 1])];
      y[k] = std::max(y[k], y[k - 1] + above.height + gap);
    }
    for (size_t k = layer.size() - 1; k-- > 0;) {
      const Vertex& self = vertices_[static_cast<size_t>(layer[k])];
      const double limit = y[k + 1] - self.height - gap;
      y[k] = std::min(std::max(want[k], y[k]), limit);
    }
    for (size_t k = 1; k < layer.size(); ++k) {
      const Vertex& above = vertices_[static_cast<size_t>(layer[k - 1])];
      y[k] = std::max(y[k], y[k - 1] + above.height + gap);
    }
    for (size_t k = 0; k < layer.size(); ++k) vertices_[static_cast<size_t>(layer[k])].y = y[k];
  }

  void PlaceColumns(int coursePasses) {
    columnX_.assign(static_cast<size_t>(layers_), 0);
    columnWidth_.assign(static_cast<size_t>(layers_), 0);
    int32_t x = 0;
    for (int32_t l = 0; l < layers_; ++l) {
      columnX_[static_cast<size_t>(l)] = x;
      int32_t widest = 0;
      for (const int32_t v : byLayer_[static_cast<size_t>(l)]) widest = std::max(widest, vertices_[static_cast<size_t>(v)].width);
      columnWidth_[static_cast<size_t>(l)] = widest;
      x += widest + spacing_.columnGap - kNodeClearance;
    }
    // Stack each layer, then let vertices move towards their neighbours.
    for (const auto& layer : byLayer_) {
      std::vector<double> want(layer.size(), 0.0);
      Pack(layer, want);
    }
    for (int pass = 0; pass < kAlignPasses + coursePasses; ++pass) {
      const bool fromLeft = pass % 2 == 0;
      // In the later passes a passing point takes the room the edge's drawn
      // course needs in its layer, where the course runs there.
      if (pass >= kAlignPasses) FitPassesToCourses();
      for (int32_t k = 0; k < layers_; ++k) {
        const auto& layer = byLayer_[static_cast<size_t>(fromLeft ? k : layers_ - 1 - k)];
        std::vector<double> want(layer.size());
        for (size_t i = 0; i < layer.size(); ++i) {
          const int32_t v = layer[i];
          const Vertex& vertex = vertices_[static_cast<size_t>(v)];
          if (vertex.node < 0 && pass >= kAlignPasses) {
            want[i] = vertex.courseTop;
          } else if (!Wanted(v, fromLeft, want[i]) && !Wanted(v, !fromLeft, want[i])) {
            want[i] = vertex.y;
          }
        }
        Pack(layer, want);
      }
    }
  }

  // The centre of node i's pin where the node's footprint stands now.
  CoursePoint PinAt(int32_t i, int32_t pin) const {
    const FilterNode& node = *doc_.Node(i);
    const Vertex& v = vertices_[static_cast<size_t>(i)];
    const Rect f = Footprint(node);
    if (pin < 0 || static_cast<size_t>(pin) >= node.geometry.pinRects.size()) return {};
    const Rect& r = node.geometry.pinRects[static_cast<size_t>(pin)];
    return {static_cast<double>(columnX_[static_cast<size_t>(v.layer)] + (r.left + r.right) / 2 - f.left),
            v.y + (r.top + r.bottom) / 2 - f.top};
  }

  // Sets each passing point's footprint to the y range the edge's straight
  // and curved courses cover over its layer's column, with clearance.
  void FitPassesToCourses() {
    std::unordered_map<int32_t, int32_t> indexOf;
    for (int32_t i = 0; i < doc_.NodeCount(); ++i) indexOf[doc_.Node(i)->nodeId] = i;
    std::vector<CoursePoint> curve;
    for (const Chain& chain : chains_) {
      const GraphEdge& edge = *doc_.Edge(chain.edge);
      const int32_t from = indexOf.at(edge.fromNode), to = indexOf.at(edge.toNode);
      const CoursePoint a = PinAt(from, edge.fromPin), b = PinAt(to, edge.toPin);
      const EdgeCurve c = CurveBetween(a, PinSide(doc_.Node(from), edge.fromPin), b, PinSide(doc_.Node(to), edge.toPin));
      FlattenCurve(c, kCourseChords, curve);
      for (const int32_t p : chain.passes) {
        Vertex& pass = vertices_[static_cast<size_t>(p)];
        const double left = columnX_[static_cast<size_t>(pass.layer)];
        const double right = left + columnWidth_[static_cast<size_t>(pass.layer)];
        double high = std::numeric_limits<double>::infinity(), low = -high;
        auto cover = [&](CoursePoint p0, CoursePoint p1) {
          const double dx = p1.x - p0.x;
          double t0 = 0, t1 = 1;
          if (dx != 0) {
            const double ta = (left - p0.x) / dx, tb = (right - p0.x) / dx;
            t0 = std::max(0.0, std::min(ta, tb));
            t1 = std::min(1.0, std::max(ta, tb));
          } else if (p0.x < left || p0.x > right) {
            return;
          }
          if (t0 > t1) return;
          for (const double t : {t0, t1}) {
            const double y = p0.y + t * (p1.y - p0.y);
            high = std::min(high, y);
            low = std::max(low, y);
          }
        };
        cover(a, b);
        for (size_t j = 1; j < curve.size(); ++j) cover(curve[j - 1], curve[j]);
        if (high > low) continue;  // the course does not reach the column
        // Footprints carry half the clearance on each side.
        pass.courseTop = high - kEdgeClearance + kNodeClearance / 2.0;
        pass.height = static_cast<int32_t>(std::ceil(low - high)) + 2 * kEdgeClearance - kNodeClearance;
        // A steep edge's room is capped: more room in one layer stretches
        // the layers apart, steepening the edges that cross them, which
        // then ask for more room still.
        pass.height = std::clamp(pass.height, 1, kTallestPass);
      }
    }
  }

  int32_t Snap(double v) const {
    const int32_t g = std::max(spacing_.grid, 1);
    return static_cast<int32_t>(std::lround(v / g)) * g;
  }

  std::vector<ArrangedNode> Result() const {
    const int32_t n = doc_.NodeCount();
    int32_t left = std::numeric_limits<int32_t>::max(), top = std::numeric_limits<int32_t>::max();
    for (int32_t i = 0; i < n; ++i) {
      left = std::min(left, doc_.Node(i)->x);
      top = std::min(top, doc_.Node(i)->y);
    }
    // The footprint's corner goes to its slot; the node's position keeps
    // its distance to that corner. Then the whole moves to where the graph
    // began, on the grid.
    std::vector<ArrangedNode> placed;
    double rawLeft = std::numeric_limits<double>::infinity(), rawTop = rawLeft;
    std::vector<std::pair<double, double>> raw;
    for (int32_t i = 0; i < n; ++i) {
      const FilterNode& node = *doc_.Node(i);
      const Vertex& v = vertices_[static_cast<size_t>(i)];
      const Rect f = Footprint(node);
      const double x = columnX_[static_cast<size_t>(v.layer)] + (node.x - f.left);
      const double y = v.y + (node.y - f.top);
      raw.emplace_back(x, y);
      rawLeft = std::min(rawLeft, x);
      rawTop = std::min(rawTop, y);
    }
    for (int32_t i = 0; i < n; ++i)
      placed.push_back(ArrangedNode{doc_.Node(i)->nodeId, Snap(left + raw[static_cast<size_t>(i)].first - rawLeft),
                                    Snap(top + raw[static_cast<size_t>(i)].second - rawTop)});
    return placed;
  }

  // Moves nodes off the courses of edges that run through their boxes, in
  // both the straight and the curved drawing: each such node goes up or
  // down, whichever is nearer, and pushes its layer's neighbours on that
  // side along so the layer keeps its order and gaps; then the courses are
  // checked again.
  // Returns how many edges still run through a node.
  size_t KeepEdgesOffNodes(std::vector<ArrangedNode>& placed) const {
    const int32_t n = doc_.NodeCount();
    if (n < 2 || doc_.EdgeCount() == 0) return 0;
    const int32_t grid = std::max(spacing_.grid, 1);
    const int32_t gap = spacing_.rowGap - kNodeClearance;
    const int32_t originalTop = std::min_element(placed.begin(), placed.end(), [](const auto& a, const auto& b) {
                                  return a.y < b.y;
                                })->y;
    std::unordered_map<int32_t, int32_t> indexOf;
    for (int32_t i = 0; i < n; ++i) indexOf[doc_.Node(i)->nodeId] = i;
    auto shiftOf = [&](int32_t i) {
      const FilterNode& node = *doc_.Node(i);
      return std::pair{placed[static_cast<size_t>(i)].x - node.x, placed[static_cast<size_t>(i)].y - node.y};
    };
    // Box, and pins with the box, of node i where it is placed now.
    auto boxOf = [&](int32_t i, bool withPins) {
      const FilterNode& node = *doc_.Node(i);
      Rect r = node.geometry.box;
      if (withPins) {
        const Rect f = Footprint(node);
        const int32_t half = kNodeClearance / 2;
        r = Rect{f.left + half, f.top + half, f.right - half, f.bottom - half};
      }
      const auto [dx, dy] = shiftOf(i);
      return Rect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
    };
    auto roundUp = [grid](int32_t v) { return (v + grid - 1) / grid * grid; };
    // Moves node i by dy and the nodes of its layer beyond it on that side
    // as far as needed to keep the gap.
    auto push = [&](int32_t i, int32_t dy) {
      std::vector<int32_t> layer;
      for (const int32_t v : byLayer_[static_cast<size_t>(vertices_[static_cast<size_t>(i)].layer)])
        if (vertices_[static_cast<size_t>(v)].node >= 0) layer.push_back(v);
      std::sort(layer.begin(), layer.end(), [&](int32_t a, int32_t b) {
        return placed[static_cast<size_t>(a)].y < placed[static_cast<size_t>(b)].y;
      });
      const auto at = std::find(layer.begin(), layer.end(), i) - layer.begin();
      placed[static_cast<size_t>(i)].y += dy;
      if (dy > 0) {
        for (size_t k = static_cast<size_t>(at) + 1; k < layer.size(); ++k) {
          const int32_t need = boxOf(layer[k - 1], true).bottom + kNodeClearance + gap - boxOf(layer[k], true).top;
          if (need <= 0) break;
          placed[static_cast<size_t>(layer[k])].y += roundUp(need);
        }
      } else {
        for (size_t k = static_cast<size_t>(at); k-- > 0;) {
          const int32_t need = boxOf(layer[k], true).bottom + kNodeClearance + gap - boxOf(layer[k + 1], true).top;
          if (need <= 0) break;
          placed[static_cast<size_t>(layer[k])].y -= roundUp(need);
        }
      }
    };

    std::vector<CoursePoint> straight(2), curve;
    // The rounds may trade one crossing for another; the placement with the
    // fewest is kept.
    std::vector<ArrangedNode> best = placed;
    size_t fewest = std::numeric_limits<size_t>::max();
    int stale = 0;
    for (int round = 0; round < kClearanceRounds; ++round) {
      // Every crossing of this placement first, then the moves: node ->
      // the shift its first crossing asks for.
      std::vector<std::pair<int32_t, int32_t>> moves;
      size_t crossings = 0;
      for (int32_t e = 0; e < doc_.EdgeCount(); ++e) {
        const GraphEdge& edge = *doc_.Edge(e);
        const auto from = indexOf.find(edge.fromNode), to = indexOf.find(edge.toNode);
        if (from == indexOf.end() || to == indexOf.end() || from->second == to->second) continue;
        const auto [fdx, fdy] = shiftOf(from->second);
        const auto [tdx, tdy] = shiftOf(to->second);
        const CoursePoint a{static_cast<double>(edge.fromX + fdx), static_cast<double>(edge.fromY + fdy)};
        const CoursePoint b{static_cast<double>(edge.toX + tdx), static_cast<double>(edge.toY + tdy)};
        const EdgeCurve c = CurveBetween(a, PinSide(doc_.Node(from->second), edge.fromPin), b,
                                         PinSide(doc_.Node(to->second), edge.toPin));
        straight[0] = a;
        straight[1] = b;
        FlattenCurve(c, kCourseChords, curve);
        const Rect reach = CurveBounds(c);
        for (int32_t k = 0; k < n; ++k) {
          if (k == from->second || k == to->second) continue;
          const Rect box = boxOf(k, false);
          const Rect wide{box.left - kEdgeClearance, box.top - kEdgeClearance, box.right + kEdgeClearance,
                          box.bottom + kEdgeClearance};
          if (wide.right <= reach.left || reach.right <= wide.left || wide.bottom <= reach.top ||
              reach.bottom <= wide.top)
            continue;
          // The course's highest and lowest points over the box's columns.
          double high = std::numeric_limits<double>::infinity(), low = -high;
          bool meets = false;
          for (const std::vector<CoursePoint>* course : {&straight, &curve}) {
            for (size_t j = 1; j < course->size(); ++j) {
              const CoursePoint p = (*course)[j - 1], q = (*course)[j];
              if (!ChordMeetsBox(p, q, wide)) continue;
              meets |= ChordMeetsBox(p, q, box);
              // The chord's part over [wide.left, wide.right].
              const double dx = q.x - p.x;
              double t0 = 0, t1 = 1;
              if (dx != 0) {
                const double ta = (wide.left - p.x) / dx, tb = (wide.right - p.x) / dx;
                t0 = std::max(0.0, std::min(ta, tb));
                t1 = std::min(1.0, std::max(ta, tb));
              }
              for (const double t : {t0, t1}) {
                const double y = p.y + t * (q.y - p.y);
                high = std::min(high, y);
                low = std::max(low, y);
              }
            }
          }
          if (!meets || !std::isfinite(high) || !std::isfinite(low)) continue;
          const Rect pins = boxOf(k, true);
          const double downBy = std::ceil(low) + kEdgeClearance - pins.top + 1;
          const double upBy = pins.bottom - std::floor(high) + kEdgeClearance + 1;
          if (std::min(downBy, upBy) > kFarthestMove) continue;
          const int32_t down = roundUp(static_cast<int32_t>(std::max(downBy, 0.0)));
          const int32_t up = roundUp(static_cast<int32_t>(std::clamp(upBy, 0.0, kFarthestMove)));
          if (std::none_of(moves.begin(), moves.end(), [k](const auto& m) { return m.first == k; }))
            moves.emplace_back(k, down <= up ? down : -up);
          ++crossings;
        }
      }
      if (crossings < fewest) {
        fewest = crossings;
        best = placed;
        stale = 0;
      } else if (++stale == kFruitlessRounds) {
        break;
      }
      if (crossings == 0) break;
      for (const auto& [node, dy] : moves) push(node, dy);
    }
    placed = std::move(best);
    const int32_t top = std::min_element(placed.begin(), placed.end(), [](const auto& a, const auto& b) {
                          return a.y < b.y;
                        })->y;
    for (ArrangedNode& a : placed) a.y += originalTop - top;
    return fewest;
  }

  const GraphDocument& doc_;
  const ArrangeSpacing& spacing_;
  std::vector<Edge> edges_;
  std::vector<ptrdiff_t> reversed_;
  std::vector<int32_t> layer_;
  int32_t layers_ = 1;
  std::vector<Vertex> vertices_;
  std::vector<Segment> segments_;
  std::vector<std::vector<int32_t>> byLayer_;
  std::vector<std::vector<int32_t>> into_, outOf_;
  std::vector<int32_t> columnX_, columnWidth_;
  std::vector<Chain> chains_;
};

}  // namespace

std::vector<ArrangedNode> ArrangeGraph(const GraphDocument& document, const ArrangeSpacing& spacing) {
  return Layering(document, spacing).Run();
}

}  // namespace vorlan::host
