#include "hv_partition.h"

#include <cmath>
#include <limits>
#include <new>

namespace vorlan::collage {

using fractal::RangeNode;
using fractal::SplitDirection;

bool HvPartition::Start() {
  stack_.clear();
  pool_.clear();
  current_ = nullptr;
  counter_ = 0;
  SetProgress(0.0);
  coverComplete_ = true;
  outOfMemory_ = false;
  RangeNode* root = tree_.Reset(sums_.Width(), sums_.Height());
  if (root == nullptr || !Push(root)) return false;
  return AdvanceRange() == kAdvanceNewRange;
}

namespace {

// The line index with the largest biased difference between neighbouring
// line sums; 0 when none exceeds 0. `lineSum(k)` is the sum of line k,
// `scale` the reciprocal of the summed lines' length minus one (infinite for
// one-pixel lines: a positive product becomes infinite and wins, a zero
// product is not a number and never wins).
template <class LineSum>
void ScanLines(int32_t lines, double scale, LineSum lineSum, double& best, int32_t& index) {
  best = 0.0;
  index = 0;
  if (lines <= 1) return;
  double previous = lineSum(0);
  for (int32_t i = 0; i + 1 < lines; ++i) {
    const double next = lineSum(i + 1);
    const int32_t bias = i < lines - 1 - i ? i : lines - 1 - i;
    const double value = std::fabs(previous - next) * bias * scale;
    if (value > best) {
      best = value;
      index = i;
    }
    previous = next;
  }
}

// Step 4 of the cut decision: the position fitted to a side of length L.
int32_t FitPosition(int32_t position, int32_t side, int32_t minSize) {
  if (position == 0) position = side / 2;
  if (position < minSize || side - position < minSize) position = minSize;
  return position;
}

bool Fits(int32_t position, int32_t side, int32_t minSize) {
  return position >= minSize && int64_t{side} - position >= minSize;
}

}  // namespace

SplitDecision HvPartition::DecideSplit(const RangeNode& node) const {
  const int32_t w = node.width;
  const int32_t h = node.height;
  constexpr double kInfinite = std::numeric_limits<double>::infinity();
  double bestRow = 0.0;
  double bestCol = 0.0;
  int32_t a = 0;
  int32_t d = 0;
  if (h > 1) {
    const double scale = w > 1 ? 1.0 / (w - 1) : kInfinite;
    ScanLines(h, scale, [&](int32_t r) { return sums_.BoxSum(node.x, node.y + r, w, 1); }, bestRow, a);
  }
  if (w > 1) {
    const double scale = h > 1 ? 1.0 / (h - 1) : kInfinite;
    ScanLines(w, scale, [&](int32_t c) { return sums_.BoxSum(node.x + c, node.y, 1, h); }, bestCol, d);
  }
  const bool rows = w < 2 || (h >= 2 && (bestRow > bestCol || (bestRow == bestCol && w <= h)));
  const int32_t minSize = config_.minRangeSize;

  SplitDecision decision;
  decision.direction = rows ? SplitDirection::Rows : SplitDirection::Columns;
  int32_t side = rows ? h : w;
  decision.position = FitPosition(rows ? a : d, side, minSize);
  if (Fits(decision.position, side, minSize)) {
    decision.ok = true;
    return decision;
  }
  decision.direction = rows ? SplitDirection::Columns : SplitDirection::Rows;
  side = rows ? w : h;
  decision.position = FitPosition(rows ? d : a, side, minSize);
  decision.ok = Fits(decision.position, side, minSize);
  return decision;
}

void HvPartition::SetCurrent(RangeNode* node) {
  current_ = node;
  currentHint_.store(node, std::memory_order_release);
}

void HvPartition::SetProgress(double value) {
  progress_ = value;
  progressHint_.store(value, std::memory_order_relaxed);
}

void HvPartition::MakeCurrent(RangeNode* node) {
  node->id = counter_++;
  node->view.origin = samples_ + static_cast<int64_t>(node->y) * sums_.Width() + node->x;
  node->view.stride = sums_.Width();
  node->sum = sums_.BoxSum(node->x, node->y, node->width, node->height);
  node->squareSum = sums_.BoxSquareSum(node->x, node->y, node->width, node->height);
  node->best = fractal::DomainCandidate{};
  node->error = -1.0;
  errorHint_.store(-1.0, std::memory_order_release);
  sequence_.Rewind();
  SetCurrent(node);
}

bool HvPartition::Push(RangeNode* node) {
  try {
    stack_.push_back(node);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool HvPartition::AppendToPool(RangeNode* node) {
  try {
    pool_.push_back(node);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

AdvanceResult HvPartition::Finish(bool outOfMemory) {
  if (outOfMemory) outOfMemory_ = true;
  SetCurrent(nullptr);
  return kAdvanceFinished;
}

AdvanceResult HvPartition::PopNext() {
  RangeNode* next = stack_.back();
  stack_.pop_back();
  MakeCurrent(next);
  return kAdvanceNewRange;
}

bool HvPartition::SplitAndPush(RangeNode& node, const SplitDecision& decision) {
  if (!tree_.Split(node, decision.position, decision.direction)) return false;
  // Reserve first so both children go on the stack or neither does.
  try {
    stack_.reserve(stack_.size() + 2);
  } catch (const std::bad_alloc&) {
    return false;
  }
  stack_.push_back(node.second);
  stack_.push_back(node.first);
  return true;
}

AdvanceResult HvPartition::AdvanceRange() {
  if (current_ == nullptr) {
    if (stack_.empty()) return Finish(false);
    return PopNext();
  }
  if (config_.mode == 1) return AdvanceSize();
  if (config_.mode == 0) return AdvanceFidelity();
  return kAdvanceNothing;
}

AdvanceResult HvPartition::AdvanceSize() {
  current_->done = 1;
  if (!AppendToPool(current_)) return Finish(true);
  SetProgress(static_cast<double>(pool_.size()) / config_.maxRanges);
  if (!stack_.empty()) return PopNext();
  if (static_cast<int64_t>(pool_.size()) >= config_.maxRanges) return Finish(false);

  // The range to cut: the first one without a transform, else the first
  // with the largest error; error 0 marks ranges that must not be cut.
  for (;;) {
    size_t chosen = 0;
    bool unset = false;
    for (size_t k = 0; k < pool_.size(); ++k) {
      if (pool_[k]->error == -1.0) {
        chosen = k;
        unset = true;
        break;
      }
    }
    if (!unset) {
      for (size_t k = 1; k < pool_.size(); ++k) {
        if (pool_[k]->error > pool_[chosen]->error) chosen = k;
      }
    }
    RangeNode* node = pool_[chosen];
    if (node->error == 0.0) return Finish(false);
    const SplitDecision decision = DecideSplit(*node);
    if (!decision.ok) {
      node->error = 0.0;
      continue;
    }
    if (!SplitAndPush(*node, decision)) return Finish(true);
    pool_[chosen] = pool_.back();
    pool_.pop_back();
    node->error = 0.0;
    return PopNext();
  }
}

AdvanceResult HvPartition::AdvanceFidelity() {
  RangeNode* node = current_;
  const double areaShare =
      static_cast<double>(node->Area()) / (static_cast<double>(sums_.Width()) * sums_.Height());
  if (node->error >= 0.0 && node->error <= config_.tolerance) {
    SetProgress(progress_ + areaShare);
    node->done = 1;
  } else {
    const SplitDecision decision = DecideSplit(*node);
    if (decision.ok) {
      if (!SplitAndPush(*node, decision)) return Finish(true);
      return PopNext();
    }
    SetProgress(progress_ + areaShare);
    coverComplete_ = false;
    node->done = 1;
  }
  if (!AppendToPool(node)) return Finish(true);
  if (stack_.empty()) return Finish(false);
  return PopNext();
}

}  // namespace vorlan::collage
