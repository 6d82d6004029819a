// A decoder pass laid out once per plan. Ranges whose domains share shrink
// factors and the same position modulo those factors read the same blocks
// of fx x fy pixels, so a pass first sums those blocks once into a shrunk
// picture per such group, then writes every range from its group's shrunk
// picture with one multiply and one add per pixel. The sums are taken in
// the order ApplyRange takes them, so a pass writes exactly the values
// ApplyPass writes (bit for bit), in the same range order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "attractor_iteration.h"
#include "decode_plan.h"

namespace vorlan::attractor {

class ShrunkPass {
 public:
  // Lays out `ranges` on a width x height picture. Groups whose domains are
  // too scattered to pay for a shrunk picture, and any beyond a memory cap
  // of one picture's size, keep the per-range reduction. May throw
  // std::bad_alloc.
  void Build(std::span<const DecoderRange> ranges, int32_t width, int32_t height);

  // One pass from `source` into `target` (width x height each, not
  // overlapping). False when `stop` answered true; it is asked between
  // pieces of about kPollPixels pixels of work.
  bool Run(const double* source, double* target, const StopPoll& stop);

  // Ranges written from a shrunk picture, and from their domains directly.
  int64_t ShrunkRangeCount() const { return shrunkRanges_; }
  int64_t DirectRangeCount() const { return directRanges_; }
  // Doubles held for the shrunk pictures.
  int64_t ShrunkCells() const { return static_cast<int64_t>(cells_.size()); }

  static constexpr int64_t kPollPixels = 1 << 15;

 private:
  // The blocks of one group: shrunk cell (r, c) is the fx x fy block whose
  // top left pixel is (phaseY + r * fy, phaseX + c * fx). Only the box
  // [row0, row0 + rows) x [col0, col0 + cols) is kept; within it each row
  // is summed over the span its domains cover.
  struct Group {
    int32_t fx = 1, fy = 1, phaseX = 0, phaseY = 0;
    int32_t row0 = 0, col0 = 0, rows = 0, cols = 0;
    int64_t offset = 0;                // first cell in cells_
    std::vector<int32_t> spanBegin;    // per box row, in box columns
    std::vector<int32_t> spanEnd;      // empty span: begin >= end
  };
  // One range's work: `group` -1 fills with the offset (no transform), -2
  // reduces the domain directly (ApplyRange), else reads cells_ from `cell`.
  struct Step {
    int32_t range = 0;
    int32_t group = -1;
    int64_t cell = 0;   // the cell of the domain's top left block
    double e = 0.0;     // scale / (fx * fy)
  };

  void SumGroup(const Group& g, const double* source);
  void WriteRange(const Step& step, double* target) const;

  std::span<const DecoderRange> ranges_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::vector<Group> groups_;
  std::vector<Step> steps_;
  std::vector<double> cells_;
  PassScratch scratch_;
  int64_t shrunkRanges_ = 0;
  int64_t directRanges_ = 0;
};

}  // namespace vorlan::attractor
