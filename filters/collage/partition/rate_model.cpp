#include "partition/rate_model.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace vorlan::collage {

using fractal::RangeNode;

namespace {

int SizeClass(int64_t side) { return std::min(static_cast<int>(std::bit_width(static_cast<uint64_t>(side))), 15); }

// Half a count for every value not yet seen: a fresh context prices every
// value alike, and a seen value never gets so cheap that one outlier costs
// more than the table's spread allows.
constexpr double kPrior = 0.5;

}  // namespace

void RateModel::Reset(const Limits& limits) {
  limits_ = limits;
  auto fresh = [](Histogram& h, int32_t levels) {
    h.total = 0;
    h.counts.assign(levels <= kMaxLevels ? static_cast<size_t>(std::max(levels, 1)) : 0, 0);
  };
  for (Histogram& h : scale_) fresh(h, limits.scaleLevels);
  for (Histogram& h : offset_) fresh(h, limits.offsetLevels);
  fresh(isometry_, 8);
  const int64_t n = int64_t{limits.maxFactor} - limits.minFactor + 1;
  fresh(factors_, n * n <= kMaxFactorPairs ? static_cast<int32_t>(n * n) : kMaxLevels + 1);
  for (auto& f : flags_) f[0] = f[1] = 0;
  for (auto& axis : positions_) {
    for (int b = 0; b <= kMaxPositionBits; ++b) fresh(axis[b], int32_t{1} << b);
  }
}

void RateModel::DomainLimits(const RangeNode& r, int64_t& lastX, int64_t& lastY) const {
  const fractal::DomainCandidate& c = r.best;
  const int64_t baseW = c.rotate != 0 ? r.height : r.width;
  const int64_t baseH = c.rotate != 0 ? r.width : r.height;
  lastX = std::max<int64_t>((limits_.width - c.fx * baseW) / std::max(limits_.stepX, 1), 0);
  lastY = std::max<int64_t>((limits_.height - c.fy * baseH) / std::max(limits_.stepY, 1), 0);
}

double RateModel::PositionBits(int axis, int64_t last, int32_t value) const {
  const int length = std::bit_width(static_cast<uint64_t>(last));
  const double levels = static_cast<double>(last + 1);
  if (length > kMaxPositionBits) return std::log2(levels);
  const Histogram& h = positions_[axis][length];
  if (value < 0 || value > last) return std::log2(levels);
  return -std::log2((h.counts[static_cast<size_t>(value)] + kPrior) / (h.total + kPrior * levels));
}

void RateModel::CountPositions(const RangeNode& r, int32_t delta) {
  int64_t last[2];
  DomainLimits(r, last[0], last[1]);
  const int32_t value[2] = {r.best.dx / std::max(limits_.stepX, 1), r.best.dy / std::max(limits_.stepY, 1)};
  for (int axis = 0; axis < 2; ++axis) {
    const int length = std::bit_width(static_cast<uint64_t>(last[axis]));
    if (length <= kMaxPositionBits) Count(positions_[axis][length], value[axis], delta);
  }
}

double RateModel::Cost(const Histogram& h, int64_t value, double levels) {
  if (h.counts.empty() || value < 0 || value >= static_cast<int64_t>(h.counts.size())) return std::log2(levels);
  const double share = (h.counts[static_cast<size_t>(value)] + kPrior) / (h.total + kPrior * levels);
  return -std::log2(share);
}

void RateModel::Count(Histogram& h, int64_t value, int32_t delta) {
  if (h.counts.empty() || value < 0 || value >= static_cast<int64_t>(h.counts.size())) return;
  uint32_t& c = h.counts[static_cast<size_t>(value)];
  if (delta < 0 && c == 0) return;
  c = static_cast<uint32_t>(static_cast<int64_t>(c) + delta);
  h.total = static_cast<uint32_t>(static_cast<int64_t>(h.total) + delta);
}

int RateModel::AreaClass(const RangeNode& r) const { return std::min(SizeClass(r.Area()) / 2, kAreaClasses - 1); }

int RateModel::ScaleClass(int32_t si) const {
  return static_cast<int>(std::clamp<int64_t>(int64_t{si} * kScaleClasses / std::max(limits_.scaleLevels, 1), 0,
                                              kScaleClasses - 1));
}

int RateModel::FlagContext(int32_t w, int32_t h) const { return SizeClass(w) * 16 + SizeClass(h); }

bool RateModel::CanCut(int32_t w, int32_t h) const {
  const int64_t m = limits_.minSide;
  return w >= 2 * m || h >= 2 * m;
}

double RateModel::FlagBits(int32_t w, int32_t h, int flag) const {
  if (!CanCut(w, h)) return 0.0;
  const uint32_t* f = flags_[FlagContext(w, h)];
  return -std::log2((f[flag] + kPrior) / (f[0] + f[1] + 2 * kPrior));
}

int32_t RateModel::FactorPair(const fractal::DomainCandidate& c) const {
  const int32_t n = limits_.maxFactor - limits_.minFactor + 1;
  return (c.fx - limits_.minFactor) * n + (c.fy - limits_.minFactor);
}

double RateModel::LeafBits(const RangeNode& r) const {
  const fractal::DomainCandidate& c = r.best;
  if (c.scaleIndex < 0 || c.offsetIndex < 0) return 1.0;
  double bits = Cost(scale_[AreaClass(r)], c.scaleIndex, limits_.scaleLevels);
  bits += Cost(offset_[ScaleClass(c.scaleIndex)], c.offsetIndex, limits_.offsetLevels);
  bits += Cost(isometry_, c.Isometry(), 8);
  if (limits_.maxFactor > limits_.minFactor) {
    const double n = limits_.maxFactor - limits_.minFactor + 1;
    bits += Cost(factors_, FactorPair(c), n * n);
  }
  int64_t lastX = 0, lastY = 0;
  DomainLimits(r, lastX, lastY);
  bits += PositionBits(0, lastX, c.dx / std::max(limits_.stepX, 1));
  bits += PositionBits(1, lastY, c.dy / std::max(limits_.stepY, 1));
  return bits;
}

double RateModel::LevelBits(const RangeNode& r, int32_t si, int32_t oi) const {
  return Cost(scale_[AreaClass(r)], si, limits_.scaleLevels) + Cost(offset_[ScaleClass(si)], oi, limits_.offsetLevels);
}

void RateModel::CountLevels(const RangeNode& r, int32_t delta) {
  const fractal::DomainCandidate& c = r.best;
  if (c.scaleIndex < 0 || c.offsetIndex < 0) return;
  Count(scale_[AreaClass(r)], c.scaleIndex, delta);
  Count(offset_[ScaleClass(c.scaleIndex)], c.offsetIndex, delta);
}

double RateModel::CutBits(const RangeNode& node, const SplitDecision& cut) const {
  const int64_t m = limits_.minSide;
  double bits = FlagBits(node.width, node.height, 1) - FlagBits(node.width, node.height, 0);
  const bool canRows = node.height >= 2 * m;
  const bool canColumns = node.width >= 2 * m;
  if (canRows && canColumns) bits += 1.0;
  const bool rows = cut.direction == fractal::SplitDirection::Rows;
  const int64_t side = rows ? node.height : node.width;
  bits += std::log2(static_cast<double>(std::max<int64_t>(side - 2 * m, 0) + 1));
  const int32_t firstW = rows ? node.width : cut.position;
  const int32_t firstH = rows ? cut.position : node.height;
  const int32_t secondW = rows ? node.width : node.width - cut.position;
  const int32_t secondH = rows ? node.height - cut.position : node.height;
  bits += FlagBits(firstW, firstH, 0) + FlagBits(secondW, secondH, 0);
  return bits;
}

void RateModel::AddLeaf(const RangeNode& r) {
  if (CanCut(r.width, r.height)) ++flags_[FlagContext(r.width, r.height)][0];
  const fractal::DomainCandidate& c = r.best;
  if (c.scaleIndex < 0 || c.offsetIndex < 0) return;
  Count(scale_[AreaClass(r)], c.scaleIndex, 1);
  Count(offset_[ScaleClass(c.scaleIndex)], c.offsetIndex, 1);
  Count(isometry_, c.Isometry(), 1);
  if (limits_.maxFactor > limits_.minFactor) Count(factors_, FactorPair(c), 1);
  CountPositions(r, 1);
}

void RateModel::CutLeaf(const RangeNode& r) {
  if (CanCut(r.width, r.height)) {
    uint32_t* f = flags_[FlagContext(r.width, r.height)];
    if (f[0] > 0) --f[0];
    ++f[1];
  }
  const fractal::DomainCandidate& c = r.best;
  if (c.scaleIndex < 0 || c.offsetIndex < 0) return;
  Count(scale_[AreaClass(r)], c.scaleIndex, -1);
  Count(offset_[ScaleClass(c.scaleIndex)], c.offsetIndex, -1);
  Count(isometry_, c.Isometry(), -1);
  if (limits_.maxFactor > limits_.minFactor) Count(factors_, FactorPair(c), -1);
  CountPositions(r, -1);
}

}  // namespace vorlan::collage
