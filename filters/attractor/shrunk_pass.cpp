#include "shrunk_pass.h"

#include <algorithm>
#include <limits>
#include <map>
#include <tuple>

namespace vorlan::attractor {

namespace {

using GroupKey = std::tuple<int32_t, int32_t, int32_t, int32_t>;  // fx, fy, phaseX, phaseY

// A group being gathered: its box in shrunk cells and its members.
struct Candidate {
  int32_t rowMin = std::numeric_limits<int32_t>::max(), rowMax = 0;
  int32_t colMin = std::numeric_limits<int32_t>::max(), colMax = 0;
  int64_t domainCells = 0;  // shrunk cells its domains read, overlaps counted again
  std::vector<int32_t> members;
};

// The domain of `r` in shrunk cells of its own group: top left cell and size.
struct CellBox {
  int32_t row, col, rows, cols;
};
CellBox CellsOf(const DecoderRange& r) {
  return {r.dy / r.fy, r.dx / r.fx, r.rotate ? r.width : r.height, r.rotate ? r.height : r.width};
}

}  // namespace

void ShrunkPass::Build(std::span<const DecoderRange> ranges, int32_t width, int32_t height) {
  ranges_ = ranges;
  width_ = width;
  height_ = height;
  groups_.clear();
  steps_.clear();
  cells_.clear();
  shrunkRanges_ = directRanges_ = 0;

  std::map<GroupKey, Candidate> candidates;
  for (size_t k = 0; k < ranges.size(); ++k) {
    const DecoderRange& r = ranges[k];
    if (!r.hasTransform) continue;
    Candidate& c = candidates[GroupKey{r.fx, r.fy, r.dx % r.fx, r.dy % r.fy}];
    const CellBox box = CellsOf(r);
    c.rowMin = std::min(c.rowMin, box.row);
    c.rowMax = std::max(c.rowMax, box.row + box.rows);
    c.colMin = std::min(c.colMin, box.col);
    c.colMax = std::max(c.colMax, box.col + box.cols);
    c.domainCells += int64_t{box.rows} * box.cols;
    c.members.push_back(static_cast<int32_t>(k));
  }

  // The groups that read their blocks most often get a shrunk picture
  // first, while the pictures together stay within one picture's size.
  std::vector<std::pair<GroupKey, Candidate*>> order;
  for (auto& [key, c] : candidates) order.emplace_back(key, &c);
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.second->domainCells > b.second->domainCells; });
  const int64_t cellBudget = int64_t{width} * height;
  int64_t cellsTaken = 0;
  std::vector<int32_t> groupOf(ranges.size(), -2);
  for (const auto& [key, c] : order) {
    Group g;
    std::tie(g.fx, g.fy, g.phaseX, g.phaseY) = key;
    g.row0 = c->rowMin;
    g.col0 = c->colMin;
    g.rows = c->rowMax - c->rowMin;
    g.cols = c->colMax - c->colMin;
    const int64_t boxCells = int64_t{g.rows} * g.cols;
    // A box mostly empty, or spans with wide gaps, would cost more than
    // reducing each domain where it lies.
    if (boxCells > 2 * c->domainCells || cellsTaken + boxCells > cellBudget) continue;
    g.spanBegin.assign(static_cast<size_t>(g.rows), g.cols);
    g.spanEnd.assign(static_cast<size_t>(g.rows), 0);
    for (int32_t k : c->members) {
      const CellBox box = CellsOf(ranges[static_cast<size_t>(k)]);
      for (int32_t i = box.row - g.row0; i < box.row - g.row0 + box.rows; ++i) {
        g.spanBegin[static_cast<size_t>(i)] = std::min(g.spanBegin[static_cast<size_t>(i)], box.col - g.col0);
        g.spanEnd[static_cast<size_t>(i)] = std::max(g.spanEnd[static_cast<size_t>(i)], box.col - g.col0 + box.cols);
      }
    }
    int64_t spanCells = 0;
    for (int32_t i = 0; i < g.rows; ++i) {
      spanCells += std::max(0, g.spanEnd[static_cast<size_t>(i)] - g.spanBegin[static_cast<size_t>(i)]);
    }
    if (spanCells > c->domainCells) continue;
    g.offset = cellsTaken;
    cellsTaken += boxCells;
    for (int32_t k : c->members) groupOf[static_cast<size_t>(k)] = static_cast<int32_t>(groups_.size());
    groups_.push_back(std::move(g));
  }
  cells_.assign(static_cast<size_t>(cellsTaken), 0.0);

  steps_.reserve(ranges.size());
  bool anyDirect = false;
  for (size_t k = 0; k < ranges.size(); ++k) {
    const DecoderRange& r = ranges[k];
    Step step;
    step.range = static_cast<int32_t>(k);
    if (r.hasTransform) {
      step.group = groupOf[k];
      step.e = (1.0 / (static_cast<double>(r.fx) * r.fy)) * r.scale;
      if (step.group >= 0) {
        const Group& g = groups_[static_cast<size_t>(step.group)];
        const CellBox box = CellsOf(r);
        step.cell = g.offset + int64_t{box.row - g.row0} * g.cols + (box.col - g.col0);
        ++shrunkRanges_;
      } else {
        anyDirect = true;
        ++directRanges_;
      }
    }
    steps_.push_back(step);
  }
  if (anyDirect) scratch_.Reserve(ranges);
}

void ShrunkPass::SumGroup(const Group& g, const double* source) {
  const int64_t stride = width_;
  for (int32_t i = 0; i < g.rows; ++i) {
    const int32_t begin = g.spanBegin[static_cast<size_t>(i)];
    const int32_t n = g.spanEnd[static_cast<size_t>(i)] - begin;
    if (n <= 0) continue;
    const double* src = source + (g.phaseY + int64_t{g.row0 + i} * g.fy) * stride + g.phaseX +
                        int64_t{g.col0 + begin} * g.fx;
    double* out = cells_.data() + g.offset + int64_t{i} * g.cols + begin;
    if (g.fx == 2 && g.fy == 2) {
      // The grouping of the 2 x 2 row kernel of ApplyRange.
      const double* below = src + stride;
      for (int32_t c = 0; c < n; ++c) out[c] = (src[2 * c] + src[2 * c + 1]) + (below[2 * c] + below[2 * c + 1]);
      continue;
    }
    // Row by row, left to right within each row, from 0: the order of the
    // general kernel, one block after the other.
    for (int32_t c = 0; c < n; ++c) out[c] = 0.0;
    for (int32_t m = 0; m < g.fy; ++m) {
      const double* row = src + m * stride;
      if (g.fx == 1) {
        for (int32_t c = 0; c < n; ++c) out[c] += row[c];
        continue;
      }
      for (int32_t k = 0; k < g.fx; ++k) {
        for (int32_t c = 0; c < n; ++c) out[c] += row[int64_t{c} * g.fx + k];
      }
    }
  }
}

namespace {

// The h rows of one range from its domain's cells, the isometry's turn and
// column mirror fixed at compile time; `out` is the first row written and
// `outStep` the distance to the next (negative when rows are mirrored).
template <bool Rotate, bool ReverseColumns>
void WriteRows(double* out, int64_t outStep, const double* cells, int64_t cols, int32_t w, int32_t h, double offset,
               double e) {
  for (int32_t i = 0; i < h; ++i, out += outStep) {
    double* __restrict row = out;
    if constexpr (!Rotate) {
      const double* __restrict line = cells + i * cols;
      if constexpr (ReverseColumns) {
        for (int32_t j = 0; j < w; ++j) row[j] = offset + e * line[w - 1 - j];
      } else {
        for (int32_t j = 0; j < w; ++j) row[j] = offset + e * line[j];
      }
    } else {
      // A quarter turn: range pixel (i, j) reads cell (w - 1 - j, i) of
      // the domain, and mirrored columns read cell (j, i).
      const double* __restrict column = cells + i;
      if constexpr (ReverseColumns) {
        for (int32_t j = 0; j < w; ++j) row[j] = offset + e * column[j * cols];
      } else {
        for (int32_t j = 0; j < w; ++j) row[j] = offset + e * column[(w - 1 - j) * cols];
      }
    }
  }
}

}  // namespace

void ShrunkPass::WriteRange(const Step& step, double* target) const {
  const DecoderRange& r = ranges_[static_cast<size_t>(step.range)];
  const int64_t stride = width_;
  const Group& g = groups_[static_cast<size_t>(step.group)];
  const double* cells = cells_.data() + step.cell;
  double* first = target + (r.y + int64_t{r.reverseRows ? r.height - 1 : 0}) * stride + r.x;
  const int64_t outStep = r.reverseRows ? -stride : stride;
  const auto write = r.rotate ? (r.reverseColumns ? WriteRows<true, true> : WriteRows<true, false>)
                              : (r.reverseColumns ? WriteRows<false, true> : WriteRows<false, false>);
  write(first, outStep, cells, g.cols, r.width, r.height, r.offset, step.e);
}

bool ShrunkPass::Run(const double* source, double* target, const StopPoll& stop) {
  for (const Group& g : groups_) {
    if (stop()) return false;
    SumGroup(g, source);
  }
  const int64_t stride = width_;
  int64_t sincePoll = kPollPixels;
  for (const Step& step : steps_) {
    const DecoderRange& r = ranges_[static_cast<size_t>(step.range)];
    if (sincePoll >= kPollPixels) {
      if (stop()) return false;
      sincePoll = 0;
    }
    sincePoll += int64_t{r.width} * r.height;
    if (step.group >= 0) {
      WriteRange(step, target);
    } else if (step.group == -1) {
      for (int32_t i = 0; i < r.height; ++i) {
        double* row = target + (r.y + int64_t{i}) * stride + r.x;
        std::fill(row, row + r.width, r.offset);
      }
    } else if (!ApplyRange(r, source, target, width_, scratch_.Lines(), stop)) {
      return false;
    }
  }
  return true;
}

}  // namespace vorlan::attractor
