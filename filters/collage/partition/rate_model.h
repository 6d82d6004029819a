// What a range and a cut cost in the packed code, estimated while the
// partition grows. The HV code packer codes every field with adaptive
// models in contexts the decoder knows: the cut flag by the node's width
// and height classes, the direction, the position bounded by the side, and
// per range SI by its area class, OI by its scale class, TRN, DF and DP
// bounded by where the domain still fits. An adaptive model settles near
// the frequencies it has seen, so each field is priced here by the
// frequencies of the same contexts over the ranges accepted so far:
// -log2 of the value's share, with half a count for every value not yet
// seen. The estimate runs within a few percent of what the packer writes;
// a rate limit is then held on the packed stream itself (code/rate_fit.h).
#pragma once

#include <cstdint>
#include <vector>

#include "fractal/range_node.h"
#include "partition/cut_rules.h"

namespace vorlan::collage {

class RateModel {
 public:
  struct Limits {
    int32_t width = 0, height = 0;
    int32_t minSide = 1;  // minRangeSize: no cut leaves a shorter side
    int32_t scaleLevels = 2, offsetLevels = 2;
    int32_t stepX = 1, stepY = 1;
    int32_t minFactor = 2, maxFactor = 2;
  };

  // The packed container's fixed bytes (magic, version, header, counts,
  // checksum) and the coder's flush, in bits.
  static constexpr double kContainerBits = 8.0 * (4 + 2 + 2 + 48 + 16 + 4 + 5);

  void Reset(const Limits& limits);

  // The transform fields of a leaf with `range.best` (one flag when it has
  // no transform).
  double LeafBits(const fractal::RangeNode& range) const;
  // What cutting a leaf adds to the tree: its flag turns from leaf to cut,
  // the direction and position, and the children's leaf flags.
  double CutBits(const fractal::RangeNode& node, const SplitDecision& cut) const;

  // The scale and offset indexes alone, as a leaf of `range`'s size.
  double LevelBits(const fractal::RangeNode& range, int32_t si, int32_t oi) const;
  // Adds (+1) or removes (-1) the counts of a leaf's scale and offset.
  void CountLevels(const fractal::RangeNode& range, int32_t delta);

  // Counts a leaf's fields and its leaf flag.
  void AddLeaf(const fractal::RangeNode& range);
  // Forgets a leaf that is being cut and counts the cut.
  void CutLeaf(const fractal::RangeNode& range);

 private:
  // Frequencies of the values of one context.
  struct Histogram {
    std::vector<uint32_t> counts;
    uint32_t total = 0;
  };
  static double Cost(const Histogram& h, int64_t value, double levels);
  static void Count(Histogram& h, int64_t value, int32_t delta);
  int AreaClass(const fractal::RangeNode& r) const;
  int ScaleClass(int32_t si) const;
  int FlagContext(int32_t w, int32_t h) const;
  bool CanCut(int32_t w, int32_t h) const;
  double FlagBits(int32_t w, int32_t h, int flag) const;
  int32_t FactorPair(const fractal::DomainCandidate& c) const;

  Limits limits_;
  static constexpr int kAreaClasses = 8, kScaleClasses = 8;
  // Tables with more levels than this price the field as uniform.
  static constexpr int32_t kMaxLevels = 1 << 16;
  static constexpr int32_t kMaxFactorPairs = 256;
  Histogram scale_[kAreaClasses];
  Histogram offset_[kScaleClasses];
  Histogram isometry_;
  Histogram factors_;
  // Domain positions per axis, by the bit length of the last position
  // that fits (the packer's models are kept per bound length too).
  static constexpr int kMaxPositionBits = 16;
  Histogram positions_[2][kMaxPositionBits + 1];
  double PositionBits(int axis, int64_t last, int32_t value) const;
  void CountPositions(const fractal::RangeNode& r, int32_t delta);
  void DomainLimits(const fractal::RangeNode& r, int64_t& lastX, int64_t& lastY) const;
  // Cut flags by width and height class: counts of leaves (0) and cuts (1).
  uint32_t flags_[16 * 16][2] = {};
};

}  // namespace vorlan::collage
