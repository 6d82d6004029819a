#include "partition/hv_partition.h"

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

SplitDecision HvPartition::DecideSplit(const RangeNode& node) const {
  return cut_->Decide(node, sums_, config_.minRangeSize);
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
  if (config_.mode == 1 || config_.mode == 2) return AdvanceSize();
  if (config_.mode == 0) return AdvanceFidelity();
  return kAdvanceNothing;
}

AdvanceResult HvPartition::AdvanceSize() {
  current_->done = 1;
  if (!AppendToPool(current_)) return Finish(true);
  SetProgress(static_cast<double>(pool_.size()) / config_.maxRanges);
  if (!stack_.empty()) return PopNext();
  if (static_cast<int64_t>(pool_.size()) >= config_.maxRanges) return Finish(false);

  // Error 0 marks ranges that must not be cut (or cannot be improved).
  for (;;) {
    const size_t chosen = choice_->Choose(pool_);
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
