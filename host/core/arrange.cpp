#include "core/arrange.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <unordered_map>

#include "core/graph_document.h"
#include "core/placement.h"

namespace vorlan::host {

namespace {

constexpr int kOrderingSweeps = 12;
constexpr int kAlignPasses = 4;
constexpr int32_t kPassingRoom = 20;  // height kept in a layer for an edge passing it

// A vertex of the layered graph: a node, or a point an edge passes a layer at.
struct Vertex {
  int32_t node = -1;  // node list index, -1 for a passing point
  int32_t layer = 0;
  int32_t width = 0, height = 0;  // footprint
  double order = 0;               // position inside the layer
  double y = 0;                   // top of the footprint
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
    PlaceColumns();
    return Result();
  }

 private:
  struct Edge {
    int32_t from, to, fromPin, toPin;
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
      edges_.push_back(Edge{from->second, to->second, edge->fromPin, edge->toPin});
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
      for (int32_t l = a.layer + 1; l < b.layer; ++l) {
        Vertex pass;
        pass.layer = l;
        pass.height = kPassingRoom;
        const double t = static_cast<double>(l - a.layer) / (b.layer - a.layer);
        pass.order = a.order + t * (b.order - a.order);
        vertices_.push_back(pass);
        const int32_t index = static_cast<int32_t>(vertices_.size()) - 1;
        segments_.push_back(Segment{previous, index, previousPort, 0.5});
        previous = index;
        previousPort = 0.5;
      }
      segments_.push_back(Segment{previous, e.to, previousPort, Port(to, e.toPin)});
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

  void PlaceColumns() {
    // Stack each layer, then let vertices move towards their neighbours.
    for (const auto& layer : byLayer_) {
      std::vector<double> want(layer.size(), 0.0);
      Pack(layer, want);
    }
    for (int pass = 0; pass < kAlignPasses; ++pass) {
      const bool fromLeft = pass % 2 == 0;
      for (int32_t k = 0; k < layers_; ++k) {
        const auto& layer = byLayer_[static_cast<size_t>(fromLeft ? k : layers_ - 1 - k)];
        std::vector<double> want(layer.size());
        for (size_t i = 0; i < layer.size(); ++i) {
          const int32_t v = layer[i];
          if (!Wanted(v, fromLeft, want[i]) && !Wanted(v, !fromLeft, want[i]))
            want[i] = vertices_[static_cast<size_t>(v)].y;
        }
        Pack(layer, want);
      }
    }
    columnX_.assign(static_cast<size_t>(layers_), 0);
    int32_t x = 0;
    for (int32_t l = 0; l < layers_; ++l) {
      columnX_[static_cast<size_t>(l)] = x;
      int32_t widest = 0;
      for (const int32_t v : byLayer_[static_cast<size_t>(l)]) widest = std::max(widest, vertices_[static_cast<size_t>(v)].width);
      x += widest + spacing_.columnGap - kNodeClearance;
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
  std::vector<int32_t> columnX_;
};

}  // namespace

std::vector<ArrangedNode> ArrangeGraph(const GraphDocument& document, const ArrangeSpacing& spacing) {
  return Layering(document, spacing).Run();
}

}  // namespace vorlan::host
