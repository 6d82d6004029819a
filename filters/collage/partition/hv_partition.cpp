#include "partition/hv_partition.h"

#include <cmath>
#include <limits>
#include <new>

namespace vorlan::collage {

using fractal::RangeNode;
using fractal::SplitDirection;

bool HvPartition::Start() {
  stack_.clear();
  pool_.clear();
  weights_.Clear();
  unsetInPool_ = 0;
  current_ = nullptr;
  counter_ = 0;
  SetProgress(0.0);
  coverComplete_ = true;
  outOfMemory_ = false;
  leafError_.clear();
  bits_ = RateModel::kContainerBits;
  lastSlope_ = 0.0;
  if (config_.mode == kRateDistortionMode) rate_.Reset(config_.rate);
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
    pool_.reserve(pool_.size() + 1);
    weights_.PushBack(choice_->Weight(*node));
  } catch (const std::bad_alloc&) {
    return false;
  }
  pool_.push_back(node);
  if (node->error == -1.0) ++unsetInPool_;
  return true;
}

void HvPartition::RemoveFromPool(size_t index) {
  if (pool_[index]->error == -1.0) --unsetInPool_;
  pool_[index] = pool_.back();
  pool_.pop_back();
  weights_.Set(index, weights_.Weight(weights_.Size() - 1));
  weights_.PopBack();
}

AdvanceResult HvPartition::Finish(bool outOfMemory) {
  if (!outOfMemory && config_.mode == kRateDistortionMode && current_ != nullptr) {
    try {
      Prune();
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
    }
  }
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
  if (GrowsToRangeCount(config_.mode)) return AdvanceSize();
  if (config_.mode == 0) return AdvanceFidelity();
  return kAdvanceNothing;
}

AdvanceResult HvPartition::AdvanceSize() {
  const bool rd = config_.mode == kRateDistortionMode;
  current_->done = 1;
  if (!AppendToPool(current_)) return Finish(true);
  if (rd) {
    try {
      CountLeaf(*current_);
    } catch (const std::bad_alloc&) {
      return Finish(true);
    }
  }
  SetProgress(static_cast<double>(pool_.size()) / config_.maxRanges);
  if (!stack_.empty()) return PopNext();
  if (!rd && static_cast<int64_t>(pool_.size()) >= config_.maxRanges) return Finish(false);

  // Error 0 marks ranges that must not be cut (or cannot be improved).
  for (;;) {
    const size_t chosen = SplitChoice::Choose(pool_, weights_, unsetInPool_ > 0);
    RangeNode* node = pool_[chosen];
    if (node->error == 0.0) return Finish(false);
    if (rd && GrowthDone(*node)) return Finish(false);
    const SplitDecision decision = DecideSplit(*node);
    if (!decision.ok) {
      if (node->error == -1.0) --unsetInPool_;
      node->error = 0.0;
      weights_.Set(chosen, choice_->Weight(*node));
      continue;
    }
    if (!SplitAndPush(*node, decision)) return Finish(true);
    if (rd) CountCut(*node);
    RemoveFromPool(chosen);
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

namespace vorlan::collage {

namespace {

// Squared error of a range's best transform over its pixels; a range
// without one counts as flattened to its mean.
double SquaredError(const RangeNode& r) {
  const double area = static_cast<double>(r.Area());
  if (r.error >= 0.0) return r.error * r.error * area;
  return std::max(r.squareSum - r.sum * r.sum / area, 0.0);
}

// The tree grows this much past a rate or range-count target before it is
// pruned back: the cuts pruning removes make room for deeper ones where
// they pay more.
constexpr double kOvergrowth = 1.3;
// No cut costs less than this (a cut flag, a position and two transforms
// take far more), so a range whose whole squared error is below lambda
// times it cannot hold a cut worth keeping at lambda, nor can its subtree.
constexpr double kLeastCutBits = 16.0;

}  // namespace

void HvPartition::CountLeaf(const RangeNode& node) {
  const size_t id = static_cast<size_t>(node.id);
  if (leafError_.size() <= id) leafError_.resize(id + 1, 0.0);
  leafError_[id] = SquaredError(node);
  bits_ += rate_.LeafBits(node);
  rate_.AddLeaf(node);
}

void HvPartition::CountCut(const RangeNode& node) {
  bits_ += rate_.CutBits(node, SplitDecision{true, node.splitPosition, node.splitDirection}) - rate_.LeafBits(node);
  rate_.CutLeaf(node);
}

bool HvPartition::PruneTo(double maxBits) {
  config_.maxBits = maxBits;
  try {
    Prune();
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool HvPartition::GrowthDone(const RangeNode& next) const {
  if (next.error < 0.0) return static_cast<int64_t>(pool_.size()) >= config_.maxRanges;
  const double ranges = static_cast<double>(pool_.size());
  if (ranges >= static_cast<double>(config_.maxRanges) * kOvergrowth) return true;
  if (config_.maxBits > 0.0 && bits_ >= config_.maxBits * kOvergrowth) return true;
  return config_.lambda > 0.0 && leafError_[static_cast<size_t>(next.id)] < config_.lambda * kLeastCutBits;
}

// Weakest-link pruning: every cut of the grown tree is worth the squared
// error its subtree removes against the node's own transform, per bit the
// subtree adds; the cut worth least goes first (its node becomes a range
// again) until what is left meets every limit.
void HvPartition::Prune() {
  RangeNode* root = tree_.Root();
  std::vector<RangeNode*> order;
  fractal::WalkPreOrder(root, [&](const RangeNode& n) { order.push_back(const_cast<RangeNode*>(&n)); });
  // The final frequencies price every node alike.
  rate_.Reset(config_.rate);
  for (RangeNode* n : order) rate_.AddLeaf(*n);
  for (RangeNode* n : order) {
    if (!n->IsLeaf()) rate_.CutLeaf(*n);
  }
  const size_t count = leafError_.size();
  struct Subtree {
    double leafError = 0, leafBits = 0;  // the node as a range
    double error = 0, bits = 0;          // its subtree as it stands
    int32_t leaves = 1;
    int32_t version = 0;
    bool alive = true;
  };
  std::vector<Subtree> t(count);
  std::vector<RangeNode*> byId(count, nullptr);
  for (RangeNode* n : order) byId[static_cast<size_t>(n->id)] = n;
  auto worth = [&](const RangeNode& n) {
    const Subtree& s = t[static_cast<size_t>(n.id)];
    if (n.best.scaleIndex < 0) return std::numeric_limits<double>::infinity();
    return (s.leafError - s.error) / std::max(s.bits - s.leafBits, 1e-9);
  };
  struct Entry {
    double worth;
    int32_t id, version;
    bool operator>(const Entry& o) const { return worth > o.worth || (worth == o.worth && id > o.id); }
  };
  std::vector<Entry> heap;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    RangeNode& n = **it;
    Subtree& s = t[static_cast<size_t>(n.id)];
    s.leafError = leafError_[static_cast<size_t>(n.id)];
    s.leafBits = rate_.LeafBits(n);
    if (n.IsLeaf()) {
      s.error = s.leafError;
      s.bits = s.leafBits;
      continue;
    }
    const Subtree& a = t[static_cast<size_t>(n.first->id)];
    const Subtree& b = t[static_cast<size_t>(n.second->id)];
    s.error = a.error + b.error;
    s.bits = a.bits + b.bits + rate_.CutBits(n, SplitDecision{true, n.splitPosition, n.splitDirection});
    s.leaves = a.leaves + b.leaves;
    heap.push_back(Entry{worth(n), n.id, 0});
  }
  auto later = std::greater<Entry>();
  std::make_heap(heap.begin(), heap.end(), later);
  Subtree& whole = t[static_cast<size_t>(root->id)];
  auto meets = [&](double weakest) {
    return (config_.lambda <= 0.0 || weakest >= config_.lambda) &&
           (config_.maxBits <= 0.0 || whole.bits + RateModel::kContainerBits <= config_.maxBits) &&
           whole.leaves <= config_.maxRanges;
  };
  int32_t removed = 0;
  lastSlope_ = 0.0;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), later);
    const Entry e = heap.back();
    heap.pop_back();
    Subtree& s = t[static_cast<size_t>(e.id)];
    if (!s.alive || e.version != s.version) continue;
    RangeNode* n = byId[static_cast<size_t>(e.id)];
    if (n->IsLeaf()) continue;
    if (meets(e.worth)) {
      lastSlope_ = e.worth;
      break;
    }
    if (!std::isfinite(e.worth)) break;
    const double dError = s.leafError - s.error;
    const double dBits = s.leafBits - s.bits;
    const int32_t dLeaves = 1 - s.leaves;
    // Everything below goes.
    std::vector<RangeNode*> below{n->first, n->second};
    while (!below.empty()) {
      RangeNode* m = below.back();
      below.pop_back();
      t[static_cast<size_t>(m->id)].alive = false;
      ++removed;
      if (!m->IsLeaf()) {
        below.push_back(m->first);
        below.push_back(m->second);
      }
    }
    n->first = n->second = nullptr;
    n->splitPosition = 0;
    n->splitDirection = SplitDirection::None;
    n->error = std::sqrt(s.leafError / static_cast<double>(n->Area()));
    n->done = 1;
    s.error = s.leafError;
    s.bits = s.leafBits;
    s.leaves = 1;
    for (RangeNode* up = n; !up->IsRoot();) {
      up = up->parent;
      Subtree& u = t[static_cast<size_t>(up->id)];
      u.error += dError;
      u.bits += dBits;
      u.leaves += dLeaves;
      ++u.version;
      heap.push_back(Entry{worth(*up), up->id, u.version});
      std::push_heap(heap.begin(), heap.end(), later);
    }
  }
  counter_ -= removed;
  bits_ = whole.bits + RateModel::kContainerBits;
  pool_.clear();
  weights_.Clear();
  unsetInPool_ = 0;
  for (const RangeNode* leaf : fractal::LeavesInPreOrder(root)) {
    RangeNode* range = const_cast<RangeNode*>(leaf);
    pool_.push_back(range);
    weights_.PushBack(choice_->Weight(*range));
    if (range->error == -1.0) ++unsetInPool_;
  }
}

}  // namespace vorlan::collage
