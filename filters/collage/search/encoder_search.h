// One encoding run's search: the integral images, quantisers, domain walk
// and partition, shared by the search workers under one lock, and the
// workers themselves.
//
// Workers take candidates in small batches so that the lock is held once
// per batch rather than once per candidate; each item remembers whether it
// was the last entry of its range's walk, so one worker makes exactly the
// choices it would make taking candidates one at a time.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "search/candidate_bound.h"
#include "search/range_scan.h"
#include "search/domain_sequence.h"
#include "encoder_settings.h"
#include "fractal/uniform_quantizer.h"
#include "partition/hv_partition.h"
#include "search/integral_image.h"
#include "search/transform_fit.h"
#include "vorlan/contract.h"

namespace vorlan::collage {

// Results of Request and Submit.
enum SearchResult : int32_t {
  kGoOn = 0,          // keep evaluating
  kRangeFinished = 1, // this range is done for you (or just became current)
  kEncodingFinished = 2,
};

// Bounds derived from the input plane and the settings.
struct DerivedBounds {
  double lo = 0.0, hi = 0.0;
  double scaleMin = 0.0, scaleMax = 0.0;
  double offsetMin = 0.0, offsetMax = 0.0;
  double tolerance = 0.0;
};
DerivedBounds DeriveBounds(const FractalEncoderSettings& s, double lo, double hi);

// Whether every range of a run is fitted against its whole walk, keeping
// the first smallest error: the range-count modes, and Fidelity with "Best
// cover" and no largest-difference check. Such runs search whole ranges.
bool SearchesWholeWalks(const FractalEncoderSettings& s);

// Checks the settings against the image they are to encode: factors beyond
// the image can never fit and would only make the domain walk grow without
// bound. "" when the search can run, else a reason naming the setting.
std::string CheckSettingsForImage(const FractalEncoderSettings& s, int32_t width, int32_t height);

// The exact shortcuts of the search, all on by default. Each returns the
// same transforms as the plain search; they can be turned off to show it.
//
// The lower bound rejects too few candidates on natural images to pay for
// itself (a few percent slower on camera.bmp), so it is off unless asked for.
//
// Where a range's whole walk is searched (SearchesWholeWalks) it is searched whole: a single-precision
// scan of every candidate with rounding bounds, then an exact refit of the
// few that may still win, in walk order (see range_scan.h). Several workers
// share each range's scan.
struct SearchAccelerations {
  bool averagedTables = true;  // block rows copied from precomputed averages
  bool bounds = false;         // coarse lower bound rejects hopeless candidates
  bool boundsAlways = false;   // keep the bound on every range even where it does not pay
  bool wholeRanges = true;     // range-count modes: scan whole ranges, refit the survivors
  bool laneTables = true;      // whole ranges: candidates sixteen at a time where the step allows
};

// Search mode 1 (rich pool search) scans the pool's factor pairs on a
// coarse grid of domain positions (every `ratio`-th position of the pool's
// grid, `ratio` chosen so the coarse step is about `coarseStep` pixels),
// keeps the `keep` best candidates and then fits every pool position
// nearer to one of them than the next coarse position, with the
// candidate's factors and rotation. Runs only where whole walks are
// searched (see SearchesWholeWalks).
struct RichSearchRule {
  int32_t coarseStep = 16;
  int32_t keep = 4;
};
inline constexpr int32_t kGridSearch = 0;
inline constexpr int32_t kRichPoolSearch = 1;
// Grid search, then every range searched again against the decoded code
// (EncoderSearch::FitToAttractor); the range-count modes only.
inline constexpr int32_t kAttractorSearch = 2;
// The attractor search with its second search narrowed: each range scans a
// coarse grid of the pool (about every 16 pixels) against the decoded code,
// keeps its 8 best candidates and fits every pool position nearer to one of
// them, or to the range's own transform, than the next coarse position.
inline constexpr int32_t kQuickAttractorSearch = 3;
inline constexpr RichSearchRule kQuickAttractorRule{16, 8};
// The coarse grid's step in pool steps for a pool step of `step` pixels.
int32_t RichRatio(const RichSearchRule& rule, int32_t step);

// A rectangle for drawing the search state.
struct SearchRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

// A consistent copy of the search state taken under the lock, for a window
// that draws the partition while the workers change it.
struct SearchSnapshot {
  int32_t width = 0, height = 0;
  std::vector<SearchRect> stack;
  std::vector<SearchRect> pool;
  bool hasCurrent = false;
  SearchRect current;
  std::vector<SearchRect> domains;  // each worker's latest candidate
  double progress = 0.0;
  bool coverComplete = true;
};

class EncoderSearch {
 public:
  // One handed-out candidate.
  struct Item {
    fractal::DomainCandidate candidate;
    bool last = false;  // the walk was exhausted right after this entry
  };
  struct Batch {
    SearchResult result = kGoOn;
    fractal::RangeNode* range = nullptr;
    std::vector<Item> items;
  };

  EncoderSearch();
  EncoderSearch(const EncoderSearch&) = delete;
  EncoderSearch& operator=(const EncoderSearch&) = delete;
  ~EncoderSearch();

  // Builds every run structure for `samples` (width x height) and makes the
  // root current. Failed with a reason when the settings do not suit the
  // image or memory runs out; Stopped when `stop` was set meanwhile.
  Result Prepare(const FractalEncoderSettings& settings, double* samples, int32_t width, int32_t height,
                 double lo, double hi, std::string& reason, const std::atomic<bool>* stop = nullptr);

  // Runs `threadCount` workers to the end and joins them. `encoderStop` is
  // polled by every worker; `tick` runs on the calling thread about every
  // 15 ms while they work. Failed with a reason when a worker could not be
  // started or memory ran out; Stopped when a stop was noticed.
  Result Run(const std::atomic<bool>& encoderStop, const std::function<void()>& tick, std::string& reason);

  // Hands out the next fitting candidate of the current range, advancing
  // the partition when the walk is exhausted. Result 1 means the range
  // changed on the way. Takes the lock.
  SearchResult Request(fractal::DomainCandidate& candidate, fractal::RangeNode*& range);
  // Like Request, then up to maxItems - 1 further fitting candidates of the
  // same range, stopping at the end of its walk. Takes the lock.
  void RequestBatch(Batch& batch, int32_t maxItems, int32_t worker);
  // Offers a result for `range`. A range that is no longer current drops
  // it (1); `last` closes the range after this result. Takes the lock.
  SearchResult Submit(double rms, double maxDiff, const fractal::DomainCandidate& candidate,
                      fractal::RangeNode* range, bool last);

  SearchSnapshot Snapshot();

  // Rate-distortion mode, after Run: each range's quantised scale and
  // offset chosen again among the neighbouring levels, for the least
  // squared error plus lambda times their bits (lambda: the setting, else
  // the weakest cut the partition kept). The domain stays. Returns the
  // number of ranges changed; -1 when memory runs out.
  int64_t ChooseLevels();
  // Attractor search in the range-count modes, after ChooseLevels. The
  // decoder iterates the code to its attractor, whose domains differ from
  // the picture's by the code's own error, and that error grows through the
  // iterations. So the code as it stands is decoded, every range of the
  // partition is searched again (the same grid, the whole-range scan; the
  // quick attractor search narrows it, see kQuickAttractorSearch) against
  // the decoded picture's domains, and then, twice, the new code is
  // decoded and every range's levels chosen again as ChooseLevels does
  // (outside Rate-distortion mode by the error alone), from the
  // least-squares scale against the decoded domain. Each range is searched
  // on its own, so the code does not depend on the number of workers.
  // Returns the number of level changes (0 when the settings ask for no
  // attractor search); -1 when memory or threads run out.
  int64_t FitToAttractor(const std::atomic<bool>* stop);

  // Before Prepare.
  void SetAccelerations(const SearchAccelerations& accelerations) { accelerations_ = accelerations; }
  void SetRichRule(const RichSearchRule& rule) {
    richRule_ = rule;
    richRule_.keep = std::clamp(rule.keep, 1, 4096);
  }

  const HvPartition& Partition() const { return *partition_; }
  HvPartition& Partition() { return *partition_; }
  const DerivedBounds& Bounds() const { return bounds_; }
  const fractal::UniformQuantizer& Scales() const { return scales_; }
  const fractal::UniformQuantizer& Offsets() const { return offsets_; }
  const IntegralImage& Sums() const { return sums_; }
  // Domain comparisons (candidate blocks built and fitted) of the last Run.
  int64_t Comparisons() const { return comparisons_.load(); }
  // Block values those comparisons covered (each takes five multiply-adds:
  // the block's square sum and four cross sums).
  int64_t ComparedValues() const { return comparedValues_.load(); }
  // Candidates of the last Run whose four orientations were all rejected by
  // the lower bound, and orientations rejected in all.
  // The whole-range scan counts every candidate it settled without an
  // exact refit as rejected.
  int64_t RejectedCandidates() const {
    return wholeRanges_ ? comparisons_.load() - refitted_.load() : rejectedCandidates_.load();
  }
  // Whether the last Run searched whole ranges.
  bool SearchedWholeRanges() const { return wholeRanges_; }
  // Ranges of the last Run whose exact refit the workers shared.
  int64_t SharedRefits() const { return sharedRefits_.load(); }
  int64_t RejectedOrientations() const { return rejectedOrientations_.load(); }

 private:
  class Worker;
  SearchResult SubmitLocked(double rms, double maxDiff, const fractal::DomainCandidate& candidate,
                            fractal::RangeNode* range, bool last);
  // Called with lock_ held; lets go of it now and then during long walks.
  SearchResult RequestLocked(fractal::DomainCandidate& candidate);
  bool FitsCurrent(const fractal::DomainCandidate& candidate) const;
  // Whether Submit could change anything; decided from the lock-free hints.
  bool WorthSubmitting(double rms, double maxDiff, bool last) const;
  void WorkerBody(Worker& worker);
  // Whole-range search: worker 0 leads (takes ranges, refits, advances),
  // every worker scans its share of each range.
  void WholeRangeBody(Worker& worker);
  void LeadWholeRanges(Worker& worker, const StopFlags& stop);
  // A worker's slice of the shared refit job_ describes.
  void RefitShare(Worker& worker, int32_t parts, const StopFlags& stop);
  bool LoadScan(Worker& worker, fractal::RangeNode& range);
  // Rich pool search, on the leader after the coarse scan: the kept
  // candidates refitted exactly, then their pool neighbourhoods scanned and
  // refitted. False on a stop or when memory runs out.
  bool RefineRich(Worker& worker, fractal::RangeNode& range, std::vector<ScanSurvivor>& survivors,
                  double bestUpper, RefitResult& result, int64_t& scanned, int64_t& values, int64_t& refitted,
                  const StopFlags& stop);
  void WorkerFinished();
  int64_t ChooseLevelsAgainst(const IntegralImage& domainSums, const AveragedBlocks* averages, bool fromLeastSquares);
  // Iterates the partition's transforms `passes` times on `image` (from the
  // picture itself when empty). False when memory runs out.
  bool DecodePartition(std::vector<double>& image, int32_t passes) const;
  // The whole-range search of every range against the decoded code's
  // domains. False when memory runs out or a thread cannot start.
  bool SearchAgainstAttractor(const StopFlags& stop);
  static constexpr int32_t kAttractorPasses = 12;
  static constexpr int32_t kLevelRounds = 2;
  const double* samples_ = nullptr;

  FractalEncoderSettings settings_;
  SearchAccelerations accelerations_;
  DerivedBounds bounds_;
  int32_t width_ = 0, height_ = 0;
  IntegralImage sums_;
  AveragedBlocks averages_;
  bool haveAverages_ = false;
  bool wholeRanges_ = false;
  ScanContext scanContext_;
  // Rich pool search: the coarse walk the workers scan, and the pool's.
  bool rich_ = false;
  RichSearchRule richRule_;
  int32_t richRatioX_ = 1, richRatioY_ = 1;
  DomainSequence coarseSequence_;
  ScanContext poolContext_;
  std::vector<ScanSurvivor> neighbourhood_;
  // The range every worker scans, handed out by the leader: a new
  // generation means a new range (or, with `finished`, the end).
  struct ScanJob {
    std::atomic<int32_t> generation{0};
    std::atomic<int32_t> done{0};
    fractal::RangeNode* range = nullptr;
    WalkLimits limits;
    // After the scan, a long list of survivors is refitted by every worker:
    // worker i takes the i-th contiguous slice of `survivors` (hopeful ones
    // only, in walk order) and leaves its best in its own `refit`.
    bool refit = false;
    const std::vector<ScanSurvivor>* survivors = nullptr;
    double bestUpper = 0.0;
    std::atomic<bool> finished{false};
    // A worker never started: nobody waits for all of them any more.
    std::atomic<bool> abandoned{false};
  };
  ScanJob job_;
  fractal::UniformQuantizer scales_;
  fractal::UniformQuantizer offsets_;
  DomainSequence sequence_;
  std::unique_ptr<HvPartition> partition_;

  std::mutex lock_;  // guards the partition, the walk and workerDomains_
  std::vector<SearchRect> workerDomains_;
  std::vector<std::unique_ptr<Worker>> workers_;
  const std::atomic<bool>* encoderStop_ = nullptr;
  std::atomic<bool> outOfMemory_{false};
  std::atomic<int64_t> comparisons_{0};
  std::atomic<int64_t> comparedValues_{0};
  std::atomic<int64_t> rejectedCandidates_{0};
  std::atomic<int64_t> refitted_{0};
  std::atomic<int64_t> sharedRefits_{0};
  std::atomic<int64_t> rejectedOrientations_{0};

  std::mutex exitLock_;  // guards finished_
  std::condition_variable exitSignal_;
  int32_t finished_ = 0;
};

}  // namespace vorlan::collage
