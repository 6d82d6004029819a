// The HV partition of one encoding run: the range stack (ranges waiting to
// be searched), the range pool (accepted ranges), the current range and the
// growth strategies: Fidelity (cut until every range meets the tolerance)
// and the two range-count modes, Size and Least error, which differ in the
// range they cut next and where they cut it. Every member function except
// the hint readers runs under the encoder's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "partition/cut_rules.h"
#include "search/domain_sequence.h"
#include "fractal/range_tree.h"
#include "search/integral_image.h"
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
    int32_t mode = 0;  // 0 Fidelity, 1 Size, 2 Least error
    int32_t maxRanges = 100;
    int32_t minRangeSize = 4;
    double tolerance = 0.0;
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

 private:
  void MakeCurrent(fractal::RangeNode* node);
  void SetCurrent(fractal::RangeNode* node);
  void SetProgress(double value);
  bool Push(fractal::RangeNode* node);
  bool AppendToPool(fractal::RangeNode* node);
  AdvanceResult AdvanceSize();
  AdvanceResult AdvanceFidelity();
  AdvanceResult PopNext();
  AdvanceResult Finish(bool outOfMemory);
  bool SplitAndPush(fractal::RangeNode& node, const SplitDecision& decision);

  Config config_;
  double* samples_;
  const IntegralImage& sums_;
  DomainSequence& sequence_;
  std::unique_ptr<CutRule> cut_;
  std::unique_ptr<SplitChoice> choice_;

  fractal::RangeTree tree_;
  std::vector<fractal::RangeNode*> stack_;
  std::vector<fractal::RangeNode*> pool_;
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
