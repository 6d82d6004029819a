// Prediction of a range's offset index from what a decoder of the packed
// code already holds, for format version 2.
//
// A transform maps its domain D onto the range R as R = s D + o, so the
// offset is about mean(R) - s mean(D). Neither mean is in the code, but
// both can be estimated from the ranges coded before: each coded range
// leaves its estimated mean o + s mean(D) on a coarse grid of the picture.
// mean(R) is taken from the grid just left of and above the range (both
// always coded before it in the tree's pre-order), mean(D) from the grid
// under the domain, with the part nothing has covered yet taken at the
// estimated mean(R). The packer codes the offset index as its distance
// from the predicted index.
//
// Everything is integer arithmetic on fixed-point values (1/65536 of the
// plane's units), so that packer and unpacker agree bit for bit on every
// machine and compiler. The grid has at most kMaxCells cells; each row of
// it is a Fenwick tree of (sum, known area) pairs, so each range costs
// O(cells it covers x log + rows it spans x log) whatever a hostile stream
// claims. Ranges and domains span few rows of cells, so the row trees
// answer in far fewer steps than one tree over the whole grid.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fractal/code_layout.h"

namespace vorlan::codepack {

class OffsetPredictor {
 public:
  static constexpr int64_t kMaxCells = 1 << 12;
  static constexpr int64_t kOne = 1 << 16;  // fixed-point 1.0

  // Geometry and quantisers from the code header (any values: hostile
  // ones give a useless but harmless predictor). May throw std::bad_alloc.
  explicit OffsetPredictor(const fractal::CodeHeader& h) : width_(h.width), height_(h.height) {
    cell_ = 1;
    while (CellsAcross(h.width, cell_) * CellsAcross(h.height, cell_) > kMaxCells) ++cell_;
    columns_ = CellsAcross(h.width, cell_);
    rows_ = CellsAcross(h.height, cell_);
    tree_.assign(static_cast<size_t>(columns_ * rows_), Cell{});
    const int64_t lo = Fixed(h.lo), hi = Fixed(h.hi);
    maxScale_ = std::clamp<int64_t>(Fixed(h.maxScale), 0, 16 * kOne);
    scaleLevels_ = std::max(h.scaleLevels, 2);
    offsetLevels_ = std::max(h.offsetLevels, 2);
    // As fractal::OffsetMin / OffsetMax, in fixed point.
    const int64_t sHi = maxScale_ * hi / kOne, sLo = maxScale_ * lo / kOne;
    offsetMin_ = std::min(lo - sHi, lo + sLo);
    const int64_t offsetMax = std::max(hi + sHi, hi - sLo);
    offsetStep_ = std::max<int64_t>((offsetMax - offsetMin_) / (offsetLevels_ - 1), 1);
    fallback_ = (lo + hi) / 2;
  }

  // The predicted offset index, 0 .. offsetLevels - 1, of a range with
  // scale index `si` whose domain is the dw x dh rectangle at (dx, dy).
  // Remembers what it needs for Record.
  int32_t Predict(const fractal::RangeRect& r, int32_t si, int64_t dx, int64_t dy, int64_t dw, int64_t dh) {
    // The range's surroundings: the column left of it and the row above.
    int64_t s = 0, k = 0;
    if (r.x >= 1) AddQuery(r.x - 1, r.y, 1, r.height, s, k);
    if (r.y >= 1) AddQuery(r.x, r.y - 1, r.width, 1, s, k);
    const int64_t rangeMean = std::clamp<int64_t>(
        k > 0 ? s / k : (totalKnown_ > 0 ? totalSum_ / totalKnown_ : fallback_), -kLimit, kLimit);
    // The domain: what is known of it, the rest at the range's mean.
    int64_t ds = 0, dk = 0;
    const int64_t area = AddQuery(dx, dy, dw, dh, ds, dk);
    domainMean_ = std::clamp<int64_t>(area > 0 ? (ds + rangeMean * (area - dk)) / area : rangeMean, -kLimit, kLimit);
    scale_ = Scale(si);
    const int64_t offset = rangeMean - scale_ * domainMean_ / kOne;
    const int64_t index = (offset - offsetMin_ + offsetStep_ / 2) / offsetStep_;
    // Division truncates towards zero; below offsetMin the index is 0 anyway.
    return static_cast<int32_t>(std::clamp<int64_t>(offset < offsetMin_ ? 0 : index, 0, offsetLevels_ - 1));
  }

  // Enters the range just predicted with its coded offset index.
  void Record(const fractal::RangeRect& r, int32_t oi) {
    const int64_t offset = offsetMin_ + int64_t{oi} * offsetStep_;
    const int64_t mean = std::clamp<int64_t>(offset + scale_ * domainMean_ / kOne, -kLimit, kLimit);
    const int64_t c0 = r.x / cell_, c1 = (int64_t{r.x} + r.width - 1) / cell_;
    const int64_t r0 = r.y / cell_, r1 = (int64_t{r.y} + r.height - 1) / cell_;
    for (int64_t row = r0; row <= r1; ++row) {
      const int64_t h = Overlap(row, r.y, r.height);
      for (int64_t col = c0; col <= c1; ++col) {
        const int64_t a = h * Overlap(col, r.x, r.width);
        Add(col, row, mean * a, a);
      }
    }
    const int64_t area = int64_t{r.width} * r.height;
    totalSum_ += mean * area;
    totalKnown_ += area;
  }

  // A range without a transform is not recorded: it leaves nothing on the grid.

 private:
  // Plane values are clamped to +-1024 and scales to +-16, so offsets and
  // means stay below 2^32 in fixed point, a range's mean times its area
  // (at most 2^28 pixels) below 2^60, and every sum the trees hold too.
  static constexpr double kLargestValue = 1024.0;
  static constexpr int64_t kLimit = int64_t{1} << 32;

  static int64_t CellsAcross(int64_t side, int64_t cell) { return (std::max<int64_t>(side, 1) + cell - 1) / cell; }
  static int64_t Fixed(double v) {
    if (!std::isfinite(v)) return 0;
    return static_cast<int64_t>(std::clamp(v, -kLargestValue, kLargestValue) * static_cast<double>(kOne));
  }

  // Scale level `si` of scaleLevels evenly spaced from -maxScale to +maxScale.
  int64_t Scale(int32_t si) const {
    return -maxScale_ + 2 * maxScale_ * std::clamp<int64_t>(si, 0, scaleLevels_ - 1) / (scaleLevels_ - 1);
  }

  // Pixels of cell `index` inside [start, start + length).
  int64_t Overlap(int64_t index, int64_t start, int64_t length) const {
    const int64_t a = std::max(index * cell_, start), b = std::min((index + 1) * cell_, start + length);
    return std::max<int64_t>(b - a, 0);
  }

  // Adds the known sum and area of the cells the w x h rectangle at (x, y)
  // touches (clipped to the picture); returns the pixel area of those cells.
  int64_t AddQuery(int64_t x, int64_t y, int64_t w, int64_t h, int64_t& s, int64_t& k) const {
    const int64_t x0 = std::clamp<int64_t>(x, 0, width_ - 1), x1 = std::clamp<int64_t>(x + w - 1, 0, width_ - 1);
    const int64_t y0 = std::clamp<int64_t>(y, 0, height_ - 1), y1 = std::clamp<int64_t>(y + h - 1, 0, height_ - 1);
    if (w < 1 || h < 1 || x1 < x0 || y1 < y0) return 0;
    const int64_t c0 = x0 / cell_, c1 = x1 / cell_, r0 = y0 / cell_, r1 = y1 / cell_;
    Rectangle(c0, r0, c1, r1, s, k);
    const int64_t cellsW = std::min((c1 + 1) * cell_, int64_t{width_}) - c0 * cell_;
    const int64_t cellsH = std::min((r1 + 1) * cell_, int64_t{height_}) - r0 * cell_;
    return cellsW * cellsH;
  }

  // One Fenwick tree over the columns of each row of cells.
  struct Cell {
    int64_t sum = 0;
    int64_t known = 0;
  };
  void Add(int64_t col, int64_t row, int64_t sum, int64_t known) {
    Cell* line = tree_.data() + row * columns_;
    for (int64_t j = col + 1; j <= columns_; j += j & -j) {
      line[j - 1].sum += sum;
      line[j - 1].known += known;
    }
  }
  // Adds the cells [c0, c1] of the rows [r0, r1].
  void Rectangle(int64_t c0, int64_t r0, int64_t c1, int64_t r1, int64_t& s, int64_t& k) const {
    for (int64_t row = r0; row <= r1; ++row) {
      const Cell* line = tree_.data() + row * columns_;
      for (int64_t j = c1 + 1; j > 0; j -= j & -j) {
        s += line[j - 1].sum;
        k += line[j - 1].known;
      }
      for (int64_t j = c0; j > 0; j -= j & -j) {
        s -= line[j - 1].sum;
        k -= line[j - 1].known;
      }
    }
  }

  int64_t width_, height_;
  int64_t cell_ = 1, columns_ = 1, rows_ = 1;
  std::vector<Cell> tree_;
  int64_t maxScale_ = 0, offsetMin_ = 0, offsetStep_ = 1, fallback_ = 0;
  int32_t scaleLevels_ = 2, offsetLevels_ = 2;
  int64_t totalSum_ = 0, totalKnown_ = 0;
  int64_t domainMean_ = 0, scale_ = 0;
};

// The offset index as its distance from the prediction, folded so that
// near values get small codes: 0, +1, -1, +2, -2, ... while both sides
// last, then the longer side alone. A bijection of 0 .. levels - 1.
inline uint32_t FoldOffset(int32_t oi, int32_t predicted, int32_t levels) {
  const int32_t r = oi - predicted;
  const int32_t a = r < 0 ? -r : r;
  const int32_t m = std::min(predicted, levels - 1 - predicted);
  if (a <= m) return static_cast<uint32_t>(r > 0 ? 2 * a - 1 : 2 * a);
  return static_cast<uint32_t>(m + a);
}
inline int32_t UnfoldOffset(uint32_t f, int32_t predicted, int32_t levels) {
  const int32_t m = std::min(predicted, levels - 1 - predicted);
  const auto v = static_cast<int32_t>(f);
  if (v <= 2 * m) return predicted + ((v & 1) != 0 ? (v + 1) / 2 : -(v / 2));
  const int32_t a = v - m;
  return predicted < levels - 1 - predicted ? predicted + a : predicted - a;
}

}  // namespace vorlan::codepack
