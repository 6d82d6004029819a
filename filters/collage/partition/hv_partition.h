// The HV partition of one encoding run: the range stack (ranges waiting to
// be searched), the range pool (accepted ranges), the current range and the
// growth strategies: Fidelity (cut until every range meets the tolerance),
// the two range-count modes, Size and Least error, which differ in the
// range they cut next and where they cut it, and Rate-distortion, which
// grows as Least error does past its target and then prunes the tree back,
// always removing the cut that buys the least squared error per bit. Every
// member function except the hint readers runs under the encoder's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "encoder_settings.h"
#include "partition/cut_rules.h"
#include "search/domain_sequence.h"
#include "fractal/range_tree.h"
#include "search/integral_image.h"
#include "partition/rate_model.h"
#include "partition/split_choice.h"

namespace vorlan::collage {

enum AdvanceResult : int32_t {
  kAdvanceNothing = 0,  // unknown mode: nothing happened
  kAdvanceNewRange = 1,
  kAdvanceFinished = 2,
};


class HvPartition {
 public:
  struct Config {
    int32_t mode = 0;  // 0 Fidelity, 1 Size, 2 Least error, 3 Rate-distortion
    int32_t maxRanges = 100;
    int32_t minRangeSize = 4;
    double tolerance = 0.0;
    // Rate-distortion: keep no cut that removes less squared error (summed
    // over its pixels, in the plane's units) per bit than lambda, and no
    // more than maxBits of estimated code; 0 for neither. maxRanges stays
    // an upper bound.
    double lambda = 0.0;
    double maxBits = 0.0;
    RateModel::Limits rate;
  };

  // `samples` is the image (row stride = its width); `sums` its integral
  // images and `sequence` the domain walk rewound for every new range. All
  // three outlive the partition.
  HvPartition(const Config& config, double* samples, const IntegralImage& sums, DomainSequence& sequence)
      : config_(config),
        samples_(samples),
        sums_(sums),
        sequence_(sequence),
        cut_(MakeCutRule(config.mode)),
        choice_(MakeSplitChoice(config.mode)) {}

  // Makes the root (whole image) and selects it as current. False when
  // memory runs out.
  [[nodiscard]] bool Start();

  SplitDecision DecideSplit(const fractal::RangeNode& node) const;
  // Closes the current range and selects the next one.
  AdvanceResult AdvanceRange();

  fractal::RangeNode* Current() const { return current_; }
  fractal::RangeNode* Root() { return tree_.Root(); }
  const std::vector<fractal::RangeNode*>& Stack() const { return stack_; }
  const std::vector<fractal::RangeNode*>& Pool() const { return pool_; }
  int32_t RangeCounter() const { return counter_; }
  double Progress() const { return progress_; }
  bool CoverComplete() const { return coverComplete_; }
  // An allocation failed: the search ended early and the code is unusable.
  bool OutOfMemory() const { return outOfMemory_; }

  // Lock-free hints for the workers: the current range and its error as of
  // the last change under the lock. A range is current at most once, so a
  // range that is not the hint can never become current again.
  const fractal::RangeNode* CurrentHint() const { return currentHint_.load(std::memory_order_acquire); }
  double ErrorHint() const { return errorHint_.load(std::memory_order_acquire); }
  void PublishError(double error) { errorHint_.store(error, std::memory_order_release); }
  // The progress accumulator for readers outside the lock.
  double ProgressHint() const { return progressHint_.load(std::memory_order_relaxed); }

  // Rate-distortion: the estimated size of the code in bits, and the
  // squared error per bit of the weakest cut kept (0 when none).
  double EstimatedBits() const { return bits_; }
  // Prunes the finished tree further, to at most `maxBits` of estimated
  // code. False when memory runs out.
  [[nodiscard]] bool PruneTo(double maxBits);
  double LastCutSlope() const { return lastSlope_; }
  const RateModel& Rates() const { return rate_; }
  RateModel& Rates() { return rate_; }

 private:
  void MakeCurrent(fractal::RangeNode* node);
  void SetCurrent(fractal::RangeNode* node);
  void SetProgress(double value);
  bool Push(fractal::RangeNode* node);
  bool AppendToPool(fractal::RangeNode* node);
  // Takes pool range `index` out (the last one moves into its place).
  void RemoveFromPool(size_t index);
  AdvanceResult AdvanceSize();
  AdvanceResult AdvanceFidelity();
  AdvanceResult PopNext();
  AdvanceResult Finish(bool outOfMemory);
  bool SplitAndPush(fractal::RangeNode& node, const SplitDecision& decision);

  // Rate-distortion: grows as Least error does, past the target, then
  // prunes the tree back to it.
  bool GrowthDone(const fractal::RangeNode& next) const;
  void CountLeaf(const fractal::RangeNode& node);
  void CountCut(const fractal::RangeNode& node);
  void Prune();

  RateModel rate_;
  std::vector<double> leafError_;  // by tree node id: squared error of the node's own transform
  double bits_ = 0.0;
  double lastSlope_ = 0.0;

  Config config_;
  double* samples_;
  const IntegralImage& sums_;
  DomainSequence& sequence_;
  std::unique_ptr<CutRule> cut_;
  std::unique_ptr<SplitChoice> choice_;

  fractal::RangeTree tree_;
  std::vector<fractal::RangeNode*> stack_;
  std::vector<fractal::RangeNode*> pool_;
  // The split choice's weight of every pool range, in pool order, and how
  // many of them lack a transform. A range's error does not change while it
  // is in the pool, except where AdvanceSize marks it as not to be cut.
  HeaviestTree weights_;
  int64_t unsetInPool_ = 0;
  fractal::RangeNode* current_ = nullptr;
  int32_t counter_ = 0;
  double progress_ = 0.0;
  bool coverComplete_ = true;
  bool outOfMemory_ = false;

  std::atomic<const fractal::RangeNode*> currentHint_{nullptr};
  std::atomic<double> errorHint_{-1.0};
  std::atomic<double> progressHint_{0.0};
};

}  // namespace vorlan::collage
