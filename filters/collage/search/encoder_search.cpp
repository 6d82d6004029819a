#include "search/encoder_search.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <thread>

#include "fractal/code_layout.h"

namespace vorlan::collage {

using fractal::DomainCandidate;
using fractal::RangeNode;

namespace {
// Values of block work a worker takes per lock: small ranges take many
// candidates at once, large ones one.
constexpr int32_t kBatchElements = 16384;
constexpr int32_t kMaxBatchItems = 64;
// Memory the block averages may take; beyond it blocks are averaged from
// the integral image for every candidate.
constexpr int64_t kAverageBudget = int64_t{512} << 20;
constexpr auto kWaitSlice = std::chrono::milliseconds(15);
// Each factor pair is two entries of the domain walk at every grid position;
// 1024 factors already make two million of them.
constexpr int64_t kMaxFactorCount = 1024;
// Walk entries skipped under the lock between two looks at the stop flag.
constexpr int32_t kWalkStopInterval = 4096;

// The calling worker thread's "Idle" priority. Best effort: an idle policy
// the system refuses leaves normal priority.
void TakeIdlePriority() {
  sched_param param{};
  pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
}
}  // namespace

int32_t RichRatio(const RichSearchRule& rule, int32_t step) {
  return step >= 1 && rule.coarseStep > step ? rule.coarseStep / step : 1;
}

bool SearchesWholeWalks(const FractalEncoderSettings& s) {
  // Fidelity with "Best cover" and no largest-difference check keeps a
  // range's first smallest error over its whole walk, as the range-count
  // modes do; "Cover in tolerance" stops at the first fit within it.
  return GrowsToRangeCount(s.mode) || (s.mode == 0 && s.coverMode == 0 && s.maxDiffCheck == 0);
}

DerivedBounds DeriveBounds(const FractalEncoderSettings& s, double lo, double hi) {
  DerivedBounds b;
  const double maxScale = s.maxScale;
  b.lo = lo;
  b.hi = hi;
  b.scaleMax = maxScale;
  b.scaleMin = -maxScale;
  b.offsetMax = fractal::OffsetMax(lo, hi, maxScale);
  b.offsetMin = fractal::OffsetMin(lo, hi, maxScale);
  b.tolerance = s.errorMode == 0 ? static_cast<double>(s.maxError) : (1.0 - static_cast<double>(s.quality)) * (hi - lo);
  return b;
}

std::string CheckSettingsForImage(const FractalEncoderSettings& s, int32_t width, int32_t height) {
  const int64_t side = std::max(width, height);
  if (s.minRangeFactor > side || s.maxRangeFactor > side) {
    return "\"maxRangeFactor\" (" + std::to_string(s.maxRangeFactor) + ") and \"minRangeFactor\" (" +
           std::to_string(s.minRangeFactor) + ") must not exceed the image's larger side (" +
           std::to_string(width) + " x " + std::to_string(height) + ")";
  }
  const int64_t factors = int64_t{s.maxRangeFactor} - s.minRangeFactor + 1;
  if (factors > kMaxFactorCount) {
    return "\"minRangeFactor\" ... \"maxRangeFactor\" spans " + std::to_string(factors) +
           " factors; at most " + std::to_string(kMaxFactorCount) + " are searched";
  }
  return "";
}

class EncoderSearch::Worker {
 public:
  explicit Worker(int32_t i) : index(i) {}
  int32_t index;
  std::atomic<bool> stop{false};
  std::thread thread;
  RangeBlock rangeBlock;
  RangeScan scan;
  CandidateBound bound;
  std::vector<double> block;
  std::vector<double> line;
  Batch batch;
  RefitResult refit;  // this worker's slice of a shared refit
};

EncoderSearch::EncoderSearch() = default;

EncoderSearch::~EncoderSearch() {
  // Run always joins its workers; this only guards against a thread that
  // was started by a Run that never returned normally.
  for (auto& w : workers_) {
    if (w && w->thread.joinable()) {
      w->stop = true;
      w->thread.join();
    }
  }
}

Result EncoderSearch::Prepare(const FractalEncoderSettings& settings, double* samples, int32_t width,
                              int32_t height, double lo, double hi, std::string& reason,
                              const std::atomic<bool>* stop) {
  settings_ = settings;
  width_ = width;
  height_ = height;
  encoderStop_ = stop;
  bounds_ = DeriveBounds(settings, lo, hi);
  reason = CheckSettingsForImage(settings, width, height);
  if (!reason.empty()) return Failed;
  auto stopped = [stop] { return stop != nullptr && stop->load(); };
  if (!sums_.Build(samples, width, height, stop)) {
    if (stopped()) return Stopped;
    reason = "out of memory for the integral images";
    return Failed;
  }
  const bool wantWhole = accelerations_.wholeRanges && SearchesWholeWalks(settings);
  haveAverages_ = (accelerations_.averagedTables || wantWhole) &&
                  averages_.Build(sums_, settings.minRangeFactor, settings.maxRangeFactor, kAverageBudget, stop, wantWhole);
  if (stopped()) return Stopped;
  wholeRanges_ = wantWhole && haveAverages_ && averages_.HaveFloats();
  // Rich pool search needs the whole-range scan; without it (no room for
  // the tables) the pool is searched whole, candidate by candidate.
  rich_ = settings.searchMode == kRichPoolSearch && wholeRanges_;
  richRatioX_ = rich_ ? RichRatio(richRule_, settings.stepX) : 1;
  richRatioY_ = rich_ ? RichRatio(richRule_, settings.stepY) : 1;
  // Without lane tables small ranges take their candidates one at a time.
  if (wholeRanges_ && accelerations_.laneTables) {
    (void)averages_.BuildLanes(settings.stepX * richRatioX_, kAverageBudget);
  }
  if (!scales_.Build(bounds_.scaleMin, bounds_.scaleMax, settings.scaleLevels)) {
    reason = "the scale quantiser cannot be built";
    return Failed;
  }
  if (!offsets_.Build(bounds_.offsetMin, bounds_.offsetMax, settings.offsetLevels)) {
    reason = "the offset quantiser cannot be built for this value range";
    return Failed;
  }
  if (!sequence_.Build(width, height, settings.minRangeFactor, settings.maxRangeFactor, settings.stepX,
                       settings.stepY, stop)) {
    if (stopped()) return Stopped;
    reason = "out of memory for the domain walk";
    return Failed;
  }
  if (rich_ && !coarseSequence_.Build(width, height, settings.minRangeFactor, settings.maxRangeFactor,
                                      settings.stepX * richRatioX_, settings.stepY * richRatioY_, stop)) {
    if (stopped()) return Stopped;
    reason = "out of memory for the domain walk";
    return Failed;
  }
  scanContext_.sums = &sums_;
  scanContext_.averages = &averages_;
  scanContext_.sequence = rich_ ? &coarseSequence_ : &sequence_;
  scanContext_.width = width;
  scanContext_.height = height;
  scanContext_.fit = FitContext{&scales_, &offsets_, bounds_.scaleMin, bounds_.scaleMax};
  scanContext_.largestOffset = std::max(std::fabs(bounds_.offsetMin), std::fabs(bounds_.offsetMax));
  poolContext_ = scanContext_;
  poolContext_.sequence = &sequence_;
  HvPartition::Config config;
  config.mode = settings.mode;
  config.maxRanges = settings.maxRanges;
  config.minRangeSize = settings.minRangeSize;
  config.tolerance = bounds_.tolerance;
  if (settings.mode == kRateDistortionMode) {
    // Lambda is given on the 0..255 scale PSNR is read on.
    const double unit = (hi - lo) / 255.0;
    config.lambda = static_cast<double>(settings.lambda) * unit * unit;
    config.maxBits = static_cast<double>(settings.maxRate) * width * height;
    config.rate = RateModel::Limits{width,          height,         settings.minRangeSize,
                                    settings.scaleLevels, settings.offsetLevels, settings.stepX,
                                    settings.stepY, settings.minRangeFactor, settings.maxRangeFactor};
  }
  samples_ = samples;
  partition_.reset(new (std::nothrow) HvPartition(config, samples, sums_, sequence_));
  if (!partition_ || !partition_->Start()) {
    reason = "out of memory for the partition";
    return Failed;
  }
  return Ok;
}

bool EncoderSearch::FitsCurrent(const DomainCandidate& c) const {
  const RangeNode* range = partition_->Current();
  if (range == nullptr) return false;
  return DomainFits(range->width, range->height, c.dx, c.dy, c.fx, c.fy, c.rotate, width_, height_);
}

SearchResult EncoderSearch::RequestLocked(DomainCandidate& c) {
  if (partition_->Current() == nullptr) return kEncodingFinished;
  auto advance = [this] {
    const AdvanceResult r = partition_->AdvanceRange();
    // An unknown mode never reaches the search (settings are checked when a
    // run starts); ending here keeps the loop finite regardless.
    return r == kAdvanceNewRange ? kRangeFinished : kEncodingFinished;
  };
  SearchResult result = kGoOn;
  const int32_t maxSize = settings_.maxRangeSize;
  int32_t untilStopCheck = kWalkStopInterval;
  for (;;) {
    // A range may walk a long way before a candidate fits; a stop must not
    // wait for the end of the walk, nor a window that draws the search
    // state. The walk's position lives in the sequence, so another holder
    // of the lock meanwhile sees a consistent state and may take
    // candidates from the same walk.
    if (--untilStopCheck == 0) {
      untilStopCheck = kWalkStopInterval;
      if (encoderStop_ != nullptr && encoderStop_->load(std::memory_order_relaxed)) return kEncodingFinished;
      lock_.unlock();
      std::this_thread::yield();
      lock_.lock();
      if (partition_->Current() == nullptr) return kEncodingFinished;
    }
    if (!sequence_.Next(c)) {
      result = advance();
      sequence_.Next(c);
    }
    if (maxSize > 0) {
      while (result != kEncodingFinished && partition_->Current() != nullptr &&
             (partition_->Current()->width > maxSize || partition_->Current()->height > maxSize)) {
        result = advance();
        sequence_.Next(c);
      }
    }
    if (result == kEncodingFinished) return result;
    if (FitsCurrent(c)) return result;
  }
}

SearchResult EncoderSearch::Request(DomainCandidate& candidate, RangeNode*& range) {
  std::lock_guard<std::mutex> guard(lock_);
  const SearchResult result = RequestLocked(candidate);
  range = partition_->Current();
  return result;
}

void EncoderSearch::RequestBatch(Batch& batch, int32_t maxItems, int32_t worker) {
  batch.items.clear();
  batch.range = nullptr;
  std::lock_guard<std::mutex> guard(lock_);
  Item item;
  batch.result = RequestLocked(item.candidate);
  RangeNode* range = partition_->Current();
  if (batch.result == kEncodingFinished || range == nullptr) {
    batch.result = kEncodingFinished;
    return;
  }
  batch.range = range;
  item.last = sequence_.Exhausted();
  try {
    batch.items.push_back(item);
    const int32_t n = std::max(1, range->width * range->height);
    const int32_t limit = std::clamp(maxItems > 1 ? maxItems / n : 1, 1, kMaxBatchItems);
    // Further candidates of this range only; the end of its walk ends the
    // batch, so the next Request advances as a single-candidate walk would.
    while (static_cast<int32_t>(batch.items.size()) < limit && !sequence_.Exhausted()) {
      Item next;
      if (!sequence_.Next(next.candidate)) break;
      if (!FitsCurrent(next.candidate)) continue;
      next.last = sequence_.Exhausted();
      batch.items.push_back(next);
    }
  } catch (const std::bad_alloc&) {
    // Whatever made it into the batch is still handed out in order.
  }
  if (worker >= 0 && worker < static_cast<int32_t>(workerDomains_.size()) && !batch.items.empty()) {
    DomainCandidate c = batch.items.front().candidate;
    c.SizeDomainFor(range->width, range->height);
    workerDomains_[static_cast<size_t>(worker)] = SearchRect{c.dx, c.dy, c.domainWidth, c.domainHeight};
  }
}

SearchResult EncoderSearch::SubmitLocked(double rms, double maxDiff, const DomainCandidate& candidate,
                                         RangeNode* range, bool last) {
  HvPartition& p = *partition_;
  RangeNode* current = p.Current();
  if (range != current || current == nullptr) return kRangeFinished;  // stale: dropped
  auto closeIfLast = [&] {
    if (!last) return kGoOn;
    return p.AdvanceRange() == kAdvanceNewRange ? kRangeFinished : kEncodingFinished;
  };
  if (rms == -1.0) return closeIfLast();
  const bool unset = current->error == -1.0;
  if (GrowsToRangeCount(settings_.mode)) {
    if (unset || rms < current->error) {
      current->error = rms;
      current->best = candidate;
      p.PublishError(rms);
    }
    return closeIfLast();
  }
  if (settings_.mode == 0) {
    const double tolerance = bounds_.tolerance;
    if (unset || (rms < current->error &&
                  (settings_.maxDiffCheck == 0 || (maxDiff >= 0.0 && maxDiff <= tolerance)))) {
      current->error = rms;
      current->best = candidate;
      p.PublishError(rms);
    }
    if (settings_.coverMode == 1 && current->error <= tolerance) {
      return p.AdvanceRange() == kAdvanceNewRange ? kRangeFinished : kEncodingFinished;
    }
    if (settings_.coverMode == 0 || settings_.coverMode == 1) return closeIfLast();
  }
  return kGoOn;
}

SearchResult EncoderSearch::Submit(double rms, double maxDiff, const DomainCandidate& candidate, RangeNode* range,
                                   bool last) {
  std::lock_guard<std::mutex> guard(lock_);
  return SubmitLocked(rms, maxDiff, candidate, range, last);
}

bool EncoderSearch::WorthSubmitting(double rms, double maxDiff, bool last) const {
  if (last) return true;
  if (rms == -1.0) return false;
  const double error = partition_->ErrorHint();
  if (error == -1.0) return true;
  if (!(rms < error)) return false;
  if (settings_.mode == 0 && settings_.maxDiffCheck != 0) {
    return maxDiff >= 0.0 && maxDiff <= bounds_.tolerance;
  }
  return true;
}

void EncoderSearch::WorkerBody(Worker& w) {
  if (settings_.threadPriority == 1) TakeIdlePriority();
  const StopFlags stop{encoderStop_, &w.stop};
  const FitContext fit{&scales_, &offsets_, bounds_.scaleMin, bounds_.scaleMax};
  const bool maxDiffCheck = settings_.maxDiffCheck == 1;
  const double tolerance = bounds_.tolerance;
  int64_t comparisons = 0;
  int64_t comparedValues = 0;
  int64_t rejectedCandidates = 0;
  int64_t rejectedOrientations = 0;
  // Every term of a fit's squared error is at most about n times this.
  const double extreme = std::max(std::fabs(bounds_.lo), std::fabs(bounds_.hi));
  const double largestOffset = std::max(std::fabs(bounds_.offsetMin), std::fabs(bounds_.offsetMax));
  const double termScale = extreme * extreme * (1.0 + bounds_.scaleMax * bounds_.scaleMax) + largestOffset * largestOffset;
  bool ended = false;
  while (!ended && !stop.Requested()) {
    RequestBatch(w.batch, kBatchElements, w.index);
    if (w.batch.result == kEncodingFinished) break;
    RangeNode* range = w.batch.range;
    if (w.rangeBlock.Range() != range) {
      const size_t n = static_cast<size_t>(range->width) * static_cast<size_t>(range->height);
      bool ok = w.rangeBlock.Load(*range);
      // A range the bound cannot serve is fitted directly.
      w.bound.KeepAlways(accelerations_.boundsAlways);
      if (ok && accelerations_.bounds) (void)w.bound.Load(w.rangeBlock, range->sum);
      try {
        if (w.block.size() < n) w.block.resize(n);
        if (w.line.size() < static_cast<size_t>(range->width) + 1) w.line.resize(static_cast<size_t>(range->width) + 1);
      } catch (const std::bad_alloc&) {
        ok = false;
      }
      if (!ok) {
        outOfMemory_ = true;
        for (auto& other : workers_) other->stop = true;
        break;
      }
    }
    for (size_t k = 0; k < w.batch.items.size(); ++k) {
      // The first candidate of a range made current by this request is not
      // evaluated: the walk moves on from it.
      if (k == 0 && w.batch.result == kRangeFinished) continue;
      if (stop.Requested() || partition_->CurrentHint() != range) break;
      Item& item = w.batch.items[k];
      DomainCandidate& c = item.candidate;
      if (haveAverages_ && k + 1 < w.batch.items.size()) {
        PrefetchDomainBlock(averages_, range->width, range->height, w.batch.items[k + 1].candidate);
      }
      if (!BuildDomainBlock(sums_, haveAverages_ ? &averages_ : nullptr, range->width, range->height, c, w.block.data(), w.line.data(), stop)) break;
      ++comparisons;
      bool rejected[kOrientations] = {false, false, false, false};
      int32_t rejectedCount = 0;
      if (w.bound.Usable() && w.bound.Range() == range) {
        // The best so far only falls, so a bound against an older value
        // rejects less, never more.
        const double error = partition_->ErrorHint();
        const double n = static_cast<double>(w.rangeBlock.Count());
        rejectedCount = w.bound.Reject(w.block.data(), error, bounds_.scaleMax, range->squareSum + n * termScale, rejected);
        rejectedOrientations += rejectedCount;
      }
      double cross[kOrientations] = {0.0, 0.0, 0.0, 0.0};
      if (rejectedCount == kOrientations) {
        ++rejectedCandidates;
      } else {
        comparedValues += w.rangeBlock.Count();
        CrossSums(w.block.data(), w.rangeBlock, c.sum, c.squareSum, cross);
      }
      SearchResult result = kGoOn;
      for (int32_t o = 0; o < kOrientations && result == kGoOn && !stop.Requested(); ++o) {
        c.reverseRows = o >> 1;
        c.reverseColumns = o & 1;
        // A rejected orientation cannot beat the best so far: it counts as
        // a fit outside the bounds, which only matters when it closes the
        // range's walk.
        const double rms = rejected[o] ? -1.0 : Fit(fit, *range, cross[o], c);
        double maxDiff = -1.0;
        if (maxDiffCheck && rms >= 0.0 && rms < tolerance) maxDiff = MaxDifference(w.block.data(), w.rangeBlock, o, c);
        if (WorthSubmitting(rms, maxDiff, item.last)) {
          result = Submit(rms, maxDiff, c, range, item.last);
        } else if (partition_->CurrentHint() != range) {
          result = kRangeFinished;
        }
      }
      if (result == kEncodingFinished) ended = true;
      if (result != kGoOn) break;
    }
  }
  comparisons_ += comparisons;
  comparedValues_ += comparedValues;
  rejectedCandidates_ += rejectedCandidates;
  rejectedOrientations_ += rejectedOrientations;
  WorkerFinished();
}

namespace {

// Survivors from which the workers share a range's exact refit: below it
// the hand-over costs more than the fits.
constexpr size_t kSharedRefit = 12;

// Waits until `ready(value)` holds: a short spin (a range's scan often takes
// only microseconds), then the futex behind atomic wait.
template <class Ready>
void WaitFor(const std::atomic<int32_t>& value, Ready ready) {
  for (int32_t spin = 0; spin < 4000; ++spin) {
    if (ready(value.load(std::memory_order_acquire))) return;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  for (;;) {
    const int32_t seen = value.load(std::memory_order_acquire);
    if (ready(seen)) return;
    value.wait(seen, std::memory_order_acquire);
  }
}

// Appends every position of `pool`'s walk nearer to (dx, dy) than the next
// coarse position (ratioX, ratioY pool steps away), with `entry`'s factors
// and rotation (the coarse and the pool walk have the same entries).
void AppendNeighbourhood(const ScanContext& pool, int32_t dx, int32_t dy, int32_t entry, int32_t ratioX,
                         int32_t ratioY, std::vector<ScanSurvivor>& out) {
  const int32_t stepX = pool.sequence->StepX(), stepY = pool.sequence->StepY();
  for (int32_t i = 1 - ratioY; i < ratioY; ++i) {
    const int64_t y = dy + int64_t{i} * stepY;
    if (y < 0 || y >= pool.height) continue;
    for (int32_t j = 1 - ratioX; j < ratioX; ++j) {
      const int64_t x = dx + int64_t{j} * stepX;
      if (x < 0 || x >= pool.width) continue;
      ScanSurvivor s;
      s.dx = static_cast<int32_t>(x);
      s.dy = static_cast<int32_t>(y);
      s.entry = entry;
      s.key = WalkKey(pool, s.dx, s.dy, entry);
      out.push_back(s);
    }
  }
}

// Into walk order, each candidate once.
void SortUniqueByKey(std::vector<ScanSurvivor>& list) {
  std::sort(list.begin(), list.end(), [](const ScanSurvivor& a, const ScanSurvivor& b) { return a.key < b.key; });
  list.erase(std::unique(list.begin(), list.end(),
                         [](const ScanSurvivor& a, const ScanSurvivor& b) { return a.key == b.key; }),
             list.end());
}

// The quick attractor search's scan of one range: the coarse walk, keeping
// its `keep` best candidates, then every pool position near one of them or
// near the range's own transform. The second scan's survivors are left in
// `scan` for the exact refit, which so never picks a domain that fits worse
// than the range's own. False on a stop or when memory runs out.
bool ScanNearCoarseBest(const ScanContext& coarse, const ScanContext& pool, const RangeNode& range,
                        const RangeBlock& rangeBlock, RangeScan& scan, int32_t keep, int32_t ratioX, int32_t ratioY,
                        std::vector<ScanSurvivor>& list, std::vector<double>& block, std::vector<double>& line,
                        const StopFlags& stop) {
  scan.SetKeep(keep);
  if (!scan.Scan(coarse, WalkLimits{}, 0, 1, stop)) return false;
  list.assign(scan.Survivors().begin(), scan.Survivors().end());
  bool stopped = false;
  int64_t fitted = 0;
  const std::vector<RefitChoice> kept =
      RefitKeeping(coarse, range, rangeBlock, list, scan.BestUpper(), keep, block, line, stop, stopped, fitted);
  if (stopped) return false;
  const std::vector<DomainSequence::Entry>& entries = pool.sequence->Entries();
  const auto perPosition = static_cast<int64_t>(entries.size());
  list.clear();
  for (const RefitChoice& k : kept) {
    AppendNeighbourhood(pool, k.candidate.dx, k.candidate.dy, static_cast<int32_t>(k.key % perPosition), ratioX,
                        ratioY, list);
  }
  const DomainCandidate& own = range.best;
  for (size_t e = 0; e < entries.size(); ++e) {
    if (entries[e].fx == own.fx && entries[e].fy == own.fy && entries[e].rotate == own.rotate) {
      AppendNeighbourhood(pool, own.dx, own.dy, static_cast<int32_t>(e), ratioX, ratioY, list);
    }
  }
  SortUniqueByKey(list);
  scan.SetKeep(1);
  return scan.ScanList(pool, list, stop);
}

}  // namespace

bool EncoderSearch::LoadScan(Worker& w, RangeNode& range) {
  if (!w.rangeBlock.Load(range) || !w.scan.Load(range, w.rangeBlock)) {
    outOfMemory_ = true;
    return false;
  }
  return true;
}

void EncoderSearch::WholeRangeBody(Worker& w) {
  if (settings_.threadPriority == 1) TakeIdlePriority();
  const StopFlags stop{encoderStop_, &w.stop};
  w.scan.SetKeep(rich_ ? richRule_.keep : 1);
  if (w.index == 0) {
    LeadWholeRanges(w, stop);
  } else {
    const int32_t parts = static_cast<int32_t>(workers_.size());
    int32_t seen = 0;
    int64_t scanned = 0, values = 0;
    for (;;) {
      WaitFor(job_.generation, [seen](int32_t g) { return g != seen; });
      seen = job_.generation.load(std::memory_order_acquire);
      if (job_.finished.load(std::memory_order_acquire)) break;
      if (job_.refit) {
        RefitShare(w, parts, stop);
      } else {
        if (LoadScan(w, *job_.range) && w.scan.Scan(scanContext_, job_.limits, w.index, parts, stop) && !rich_) {
          w.scan.KeepHopeful();
        }
        scanned += w.scan.Scanned();
        values += w.scan.ScannedValues();
      }
      job_.done.fetch_add(1, std::memory_order_acq_rel);
      job_.done.notify_all();
    }
    comparisons_ += scanned;
    comparedValues_ += values;
  }
  WorkerFinished();
}

void EncoderSearch::RefitShare(Worker& w, int32_t parts, const StopFlags& stop) {
  const std::vector<ScanSurvivor>& all = *job_.survivors;
  const RangeNode& range = *job_.range;
  const size_t n = all.size(), part = static_cast<size_t>(w.index), count = static_cast<size_t>(parts);
  w.refit = RefitResult{};
  try {
    const size_t area = static_cast<size_t>(range.width) * static_cast<size_t>(range.height);
    if (w.block.size() < area) w.block.resize(area);
    if (w.line.size() < static_cast<size_t>(range.width) + 1) w.line.resize(static_cast<size_t>(range.width) + 1);
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;
    return;
  }
  w.refit = RefitSlice(scanContext_, range, w.rangeBlock, all.data() + n * part / count,
                       all.data() + n * (part + 1) / count, job_.bestUpper, w.block, w.line, stop);
}

void EncoderSearch::LeadWholeRanges(Worker& w, const StopFlags& stop) {
  const int32_t parts = static_cast<int32_t>(workers_.size());
  const int32_t maxSize = settings_.maxRangeSize;
  int64_t scanned = 0, values = 0, refitted = 0;
  // The candidate-at-a-time walk fits the first candidate of a range only
  // when the previous range's walk ended on a fitting candidate, and of
  // that last candidate only orientation 0: the rules are kept so that the
  // codes agree.
  bool evaluateFirst = true;
  std::vector<ScanSurvivor> survivors;
  for (;;) {
    RangeNode* range = nullptr;
    {
      std::lock_guard<std::mutex> guard(lock_);
      range = partition_->Current();
      if (range != nullptr && maxSize > 0 && (range->width > maxSize || range->height > maxSize)) {
        partition_->AdvanceRange();
        evaluateFirst = false;
        continue;
      }
    }
    if (range == nullptr || stop.Requested() || outOfMemory_) break;
    // The rich search has no candidate-at-a-time walk to agree with: every
    // candidate counts.
    WalkLimits limits;
    if (!rich_) {
      limits.skipKey = evaluateFirst ? -1 : FirstFittingKey(scanContext_, range->width, range->height);
      limits.firstOnlyKey = LastKeyIfFitting(scanContext_, range->width, range->height);
      evaluateFirst = limits.firstOnlyKey >= 0 && limits.firstOnlyKey != limits.skipKey;
    }
    const size_t n = static_cast<size_t>(range->width) * static_cast<size_t>(range->height);
    try {
      if (w.block.size() < n) w.block.resize(n);
      if (w.line.size() < static_cast<size_t>(range->width) + 1) w.line.resize(static_cast<size_t>(range->width) + 1);
    } catch (const std::bad_alloc&) {
      outOfMemory_ = true;
      break;
    }
    if (parts > 1) {
      job_.range = range;
      job_.limits = limits;
      job_.done.store(0, std::memory_order_relaxed);
      job_.generation.fetch_add(1, std::memory_order_acq_rel);
      job_.generation.notify_all();
    }
    bool scannedOk = LoadScan(w, *range) && w.scan.Scan(scanContext_, limits, 0, parts, stop);
    // Each worker sorts its own survivors; the lists then merge.
    if (scannedOk && !rich_) w.scan.KeepHopeful();
    if (parts > 1) {
      WaitFor(job_.done, [this, parts](int32_t d) {
        return d >= parts - 1 || job_.abandoned.load(std::memory_order_acquire);
      });
      if (job_.abandoned.load(std::memory_order_acquire)) break;
    }
    double bestUpper = w.scan.BestUpper();
    for (auto& other : workers_) {
      bestUpper = std::min(bestUpper, other->scan.BestUpper());
      if (other->scan.OutOfMemory()) outOfMemory_ = true;
    }
    try {
      if (rich_) {
        survivors.assign(w.scan.Survivors().begin(), w.scan.Survivors().end());
        for (auto& other : workers_) {
          if (other.get() == &w) continue;
          survivors.insert(survivors.end(), other->scan.Survivors().begin(), other->scan.Survivors().end());
        }
      } else {
        // The hopeful survivors of all workers in walk order.
        survivors.clear();
        for (auto& other : workers_) MergeHopeful(survivors, other->scan.Survivors(), bestUpper);
      }
    } catch (const std::bad_alloc&) {
      outOfMemory_ = true;
    }
    scanned += w.scan.Scanned();
    values += w.scan.ScannedValues();
    if (!scannedOk || outOfMemory_ || stop.Requested()) break;
    RefitResult result;
    if (rich_) {
      if (!RefineRich(w, *range, survivors, bestUpper, result, scanned, values, refitted, stop)) break;
    } else {
      if (parts > 1 && survivors.size() >= kSharedRefit) {
        // Every worker refits a slice; the slices' bests merge in walk
        // order, so the transform is the one a single refit picks.
        ++sharedRefits_;
        job_.refit = true;
        job_.survivors = &survivors;
        job_.bestUpper = bestUpper;
        job_.done.store(0, std::memory_order_relaxed);
        job_.generation.fetch_add(1, std::memory_order_acq_rel);
        job_.generation.notify_all();
        RefitShare(w, parts, stop);
        WaitFor(job_.done, [this, parts](int32_t d) {
          return d >= parts - 1 || job_.abandoned.load(std::memory_order_acquire);
        });
        job_.refit = false;
        if (job_.abandoned.load(std::memory_order_acquire)) break;
        result = w.refit;
        for (auto& other : workers_) {
          if (other.get() != &w) MergeRefit(result, other->refit);
        }
      } else {
        result = RefitSlice(scanContext_, *range, w.rangeBlock, survivors.data(), survivors.data() + survivors.size(),
                            bestUpper, w.block, w.line, stop);
      }
      refitted += result.fitted;
      if (result.stopped || outOfMemory_) break;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (result.found) {
      range->error = result.rms;
      range->best = result.best;
      partition_->PublishError(result.rms);
      if (!workerDomains_.empty()) {
        const DomainCandidate& c = result.best;
        workerDomains_[0] = SearchRect{c.dx, c.dy, c.domainWidth, c.domainHeight};
      }
    }
    partition_->AdvanceRange();
  }
  comparisons_ += scanned;
  comparedValues_ += values;
  refitted_ += refitted;
  if (parts > 1) {
    job_.finished.store(true, std::memory_order_release);
    job_.generation.fetch_add(1, std::memory_order_acq_rel);
    job_.generation.notify_all();
  }
}

bool EncoderSearch::RefineRich(Worker& w, RangeNode& range, std::vector<ScanSurvivor>& survivors, double bestUpper,
                              RefitResult& result, int64_t& scanned, int64_t& values, int64_t& refitted,
                              const StopFlags& stop) {
  const int32_t keep = std::max(richRule_.keep, 1);
  try {
    bool stopped = false;
    int64_t fitted = 0;
    const std::vector<RefitChoice> kept = RefitKeeping(scanContext_, range, w.rangeBlock, survivors, bestUpper, keep,
                                                       w.block, w.line, stop, stopped, fitted);
    refitted += fitted;
    if (stopped) return false;
    result = RefitResult{};
    if (kept.empty()) return true;
    // Every pool position nearer to a kept candidate than the next coarse
    // position, with its factors and rotation (the entries of both walks
    // are the same).
    const int32_t entries = coarseSequence_.EntriesPerPosition();
    neighbourhood_.clear();
    for (const RefitChoice& k : kept) {
      AppendNeighbourhood(poolContext_, k.candidate.dx, k.candidate.dy, static_cast<int32_t>(k.key % entries),
                          richRatioX_, richRatioY_, neighbourhood_);
    }
    SortUniqueByKey(neighbourhood_);
    w.scan.SetKeep(1);
    const bool ok = w.scan.ScanList(poolContext_, neighbourhood_, stop);
    w.scan.SetKeep(keep);
    scanned += w.scan.Scanned();
    values += w.scan.ScannedValues();
    if (w.scan.OutOfMemory()) outOfMemory_ = true;
    if (!ok) return false;
    survivors.assign(w.scan.Survivors().begin(), w.scan.Survivors().end());
    result = Refit(poolContext_, range, w.rangeBlock, survivors, w.scan.BestUpper(), w.block, w.line, stop);
    refitted += result.fitted;
    if (result.stopped) return false;
    if (!result.found || kept.front().rms < result.rms) {
      // The neighbourhoods hold the kept candidates themselves, so this is
      // only a guard against a bound that let the best one slip.
      result.found = true;
      result.rms = kept.front().rms;
      result.best = kept.front().candidate;
    }
    return true;
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;
    return false;
  }
}

void EncoderSearch::WorkerFinished() {
  std::lock_guard<std::mutex> guard(exitLock_);
  ++finished_;
  exitSignal_.notify_all();
}

Result EncoderSearch::Run(const std::atomic<bool>& encoderStop, const std::function<void()>& tick,
                          std::string& reason) {
  encoderStop_ = &encoderStop;
  comparisons_ = 0;
  comparedValues_ = 0;
  rejectedCandidates_ = 0;
  rejectedOrientations_ = 0;
  refitted_ = 0;
  sharedRefits_ = 0;
  outOfMemory_ = false;
  finished_ = 0;
  job_.range = nullptr;
  job_.finished = false;
  job_.abandoned = false;
  job_.done.store(0);
  const int32_t count = settings_.threadCount;
  try {
    workers_.clear();
    {
      // Snapshot may be copying the rectangles from the window's thread.
      std::lock_guard<std::mutex> guard(lock_);
      workerDomains_.assign(static_cast<size_t>(count), SearchRect{});
    }
    for (int32_t i = 0; i < count; ++i) workers_.push_back(std::make_unique<Worker>(i));
  } catch (const std::bad_alloc&) {
    workers_.clear();
    reason = "out of memory for the search workers";
    return Failed;
  }
  // Every worker exists before any starts; a worker that fails to start
  // counts as finished and stops the others.
  bool startFailed = false;
  for (auto& w : workers_) {
    if (startFailed) {
      WorkerFinished();
      continue;
    }
    try {
      w->thread = std::thread(wholeRanges_ ? &EncoderSearch::WholeRangeBody : &EncoderSearch::WorkerBody, this,
                              std::ref(*w));
    } catch (...) {
      startFailed = true;
      for (auto& other : workers_) other->stop = true;
      // Whole-range workers wait for each other: release them all.
      // (The count moves too, so a waiter that just read it cannot sleep
      // through the notification.)
      job_.abandoned.store(true, std::memory_order_release);
      job_.done.fetch_add(kMaxThreadCount, std::memory_order_acq_rel);
      job_.done.notify_all();
      job_.finished.store(true, std::memory_order_release);
      job_.generation.fetch_add(1, std::memory_order_acq_rel);
      job_.generation.notify_all();
      WorkerFinished();
    }
  }
  {
    std::unique_lock<std::mutex> guard(exitLock_);
    while (finished_ < count) {
      exitSignal_.wait_for(guard, kWaitSlice);
      guard.unlock();
      if (tick) tick();
      guard.lock();
    }
  }
  for (auto& w : workers_) {
    if (w->thread.joinable()) w->thread.join();
  }
  if (startFailed) {
    reason = "a search thread could not be started";
    return Failed;
  }
  if (outOfMemory_ || partition_->OutOfMemory()) {
    reason = "out of memory during the domain search";
    return Failed;
  }
  if (encoderStop.load()) return Stopped;
  return Ok;
}

int64_t EncoderSearch::ChooseLevels() { return ChooseLevelsAgainst(sums_, haveAverages_ ? &averages_ : nullptr, false); }

bool EncoderSearch::DecodePartition(std::vector<double>& image, int32_t passes) const {
  const size_t n = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  IntegralImage sums;
  std::vector<double> block, line, next;
  const StopFlags noStop{};
  try {
    if (image.size() != n) image.assign(samples_, samples_ + n);
    next = image;
    for (int32_t pass = 0; pass < passes; ++pass) {
      if (!sums.Build(image.data(), width_, height_)) return false;
      for (const RangeNode* r : partition_->Pool()) {
        DomainCandidate c = r->best;
        if (c.scaleIndex < 0 || c.offsetIndex < 0) continue;
        const int32_t w = r->width, h = r->height;
        if (block.size() < static_cast<size_t>(w) * h) block.resize(static_cast<size_t>(w) * h);
        if (line.size() < static_cast<size_t>(w) + 1) line.resize(static_cast<size_t>(w) + 1);
        if (!BuildDomainBlock(sums, nullptr, w, h, c, block.data(), line.data(), noStop)) return false;
        // Range pixel (i, j) takes the block value its orientation maps to
        // it, as RangeBlock::Oriented lays the range out against the block.
        for (int32_t i = 0; i < h; ++i) {
          const int32_t bi = c.reverseRows != 0 ? h - 1 - i : i;
          double* out = next.data() + static_cast<size_t>(r->y + i) * width_ + r->x;
          for (int32_t j = 0; j < w; ++j) {
            const int32_t bj = c.reverseColumns != 0 ? w - 1 - j : j;
            out[j] = c.scale * block[static_cast<size_t>(bi) * w + bj] + c.offset;
          }
        }
      }
      image.swap(next);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool EncoderSearch::SearchAgainstAttractor(const StopFlags& stop) {
  std::vector<double> decoded;
  if (!DecodePartition(decoded, kAttractorPasses)) return false;
  IntegralImage sums;
  AveragedBlocks averages;
  if (!sums.Build(decoded.data(), width_, height_) ||
      !averages.Build(sums, settings_.minRangeFactor, settings_.maxRangeFactor, kAverageBudget, nullptr, true) ||
      !averages.HaveFloats()) {
    return false;
  }
  // The quick search scans a coarse walk first (the lane tables serve it)
  // and then the pool positions near what it found.
  const bool quick = settings_.searchMode == kQuickAttractorSearch;
  const int32_t ratioX = quick ? RichRatio(kQuickAttractorRule, settings_.stepX) : 1;
  const int32_t ratioY = quick ? RichRatio(kQuickAttractorRule, settings_.stepY) : 1;
  const bool coarse = ratioX > 1 || ratioY > 1;
  DomainSequence coarseWalk;
  if (coarse && !coarseWalk.Build(width_, height_, settings_.minRangeFactor, settings_.maxRangeFactor,
                                  settings_.stepX * ratioX, settings_.stepY * ratioY, nullptr)) {
    return false;
  }
  if (accelerations_.laneTables) (void)averages.BuildLanes(settings_.stepX * ratioX, kAverageBudget);
  ScanContext context = scanContext_;
  context.sums = &sums;
  context.averages = &averages;
  context.sequence = &sequence_;
  ScanContext coarseContext = context;
  coarseContext.sequence = &coarseWalk;
  // Every range is searched on its own, so the workers take every
  // parts-th range of the pool: the code does not depend on their number.
  const std::vector<RangeNode*>& pool = partition_->Pool();
  const int32_t parts = std::clamp<int32_t>(settings_.threadCount, 1, kMaxThreadCount);
  std::atomic<bool> failed{false};
  auto work = [&](int32_t part) {
    if (part > 0 && settings_.threadPriority == 1) TakeIdlePriority();
    RangeScan scan;
    RangeBlock rangeBlock;
    std::vector<double> block, line;
    std::vector<ScanSurvivor> survivors;
    try {
      for (size_t k = static_cast<size_t>(part); k < pool.size(); k += static_cast<size_t>(parts)) {
        if (failed.load(std::memory_order_relaxed) || stop.Requested()) return;
        RangeNode& r = *pool[k];
        if (r.best.scaleIndex < 0) continue;
        const size_t n = static_cast<size_t>(r.width) * static_cast<size_t>(r.height);
        if (block.size() < n) block.resize(n);
        if (line.size() < static_cast<size_t>(r.width) + 1) line.resize(static_cast<size_t>(r.width) + 1);
        const bool scanned =
            rangeBlock.Load(r) && scan.Load(r, rangeBlock) &&
            (coarse ? ScanNearCoarseBest(coarseContext, context, r, rangeBlock, scan, kQuickAttractorRule.keep, ratioX,
                                         ratioY, survivors, block, line, stop)
                    : scan.Scan(context, WalkLimits{}, 0, 1, stop));
        if (!scanned) {
          if (!stop.Requested()) failed = true;
          return;
        }
        survivors.assign(scan.Survivors().begin(), scan.Survivors().end());
        const RefitResult result = Refit(context, r, rangeBlock, survivors, scan.BestUpper(), block, line, stop);
        if (result.stopped) return;
        if (!result.found) continue;
        r.best = result.best;
        r.error = result.rms;
      }
    } catch (const std::bad_alloc&) {
      failed = true;
    }
  };
  std::vector<std::thread> threads;
  try {
    for (int32_t part = 1; part < parts; ++part) threads.emplace_back(work, part);
  } catch (const std::exception&) {
    failed = true;
  }
  work(0);
  for (std::thread& t : threads) t.join();
  return !failed.load();
}

int64_t EncoderSearch::FitToAttractor(const std::atomic<bool>* stop) {
  const bool attractor = settings_.searchMode == kAttractorSearch || settings_.searchMode == kQuickAttractorSearch;
  if (!GrowsToRangeCount(settings_.mode) || !attractor || !partition_ || !wholeRanges_) {
    return 0;
  }
  const StopFlags stopFlags{stop, nullptr};
  if (!SearchAgainstAttractor(stopFlags)) return stopFlags.Requested() ? 0 : -1;
  std::vector<double> decoded;
  IntegralImage sums;
  int64_t changed = 0;
  for (int32_t round = 0; round < kLevelRounds; ++round) {
    if (stopFlags.Requested()) return changed;
    if (!DecodePartition(decoded, round == 0 ? kAttractorPasses : kAttractorPasses / 2)) return -1;
    if (!sums.Build(decoded.data(), width_, height_)) return -1;
    const int64_t c = ChooseLevelsAgainst(sums, nullptr, true);
    if (c < 0) return -1;
    changed += c;
  }
  return changed;
}

int64_t EncoderSearch::ChooseLevelsAgainst(const IntegralImage& domainSums, const AveragedBlocks* averages,
                                           bool fromLeastSquares) {
  const bool rd = settings_.mode == kRateDistortionMode;
  if (!partition_ || (!rd && !fromLeastSquares)) return 0;
  HvPartition& p = *partition_;
  const double unit = (bounds_.hi - bounds_.lo) / 255.0;
  // Outside Rate-distortion mode bits do not count: the least squared error.
  const double lambda =
      !rd ? 0.0 : settings_.lambda > 0.0f ? static_cast<double>(settings_.lambda) * unit * unit : p.LastCutSlope();
  if (!(lambda > 0.0) && !fromLeastSquares) return 0;
  // Two levels either way: beyond them the squared error grows faster
  // than any saving in bits.
  constexpr int32_t kReach = 2;
  RateModel& rates = p.Rates();
  RangeBlock rangeBlock;
  std::vector<double> block, line;
  int64_t changed = 0;
  const StopFlags noStop{};
  for (RangeNode* r : p.Pool()) {
    DomainCandidate c = r->best;
    if (c.scaleIndex < 0 || c.offsetIndex < 0) continue;
    const size_t n = static_cast<size_t>(r->width) * static_cast<size_t>(r->height);
    try {
      if (block.size() < n) block.resize(n);
      if (line.size() < static_cast<size_t>(r->width) + 1) line.resize(static_cast<size_t>(r->width) + 1);
    } catch (const std::bad_alloc&) {
      return -1;
    }
    if (!rangeBlock.Load(*r)) return -1;
    if (!BuildDomainBlock(domainSums, averages, r->width, r->height, c, block.data(), line.data(), noStop)) {
      continue;
    }
    double sumD = 0, squareD = 0, cross[kOrientations];
    CrossSums(block.data(), rangeBlock, sumD, squareD, cross);
    const double x = cross[c.reverseRows * 2 + c.reverseColumns];
    const double count = static_cast<double>(n);
    auto squaredError = [&](double s, double o) {
      return std::max(s * (s * squareD - 2 * x + 2 * o * sumD) + o * (o * count - 2 * r->sum) + r->squareSum, 0.0);
    };
    rates.CountLevels(*r, -1);
    double bestCost = squaredError(c.scale, c.offset) + lambda * rates.LevelBits(*r, c.scaleIndex, c.offsetIndex);
    int32_t bestSi = c.scaleIndex, bestOi = c.offsetIndex;
    int32_t centre = c.scaleIndex;
    if (fromLeastSquares) {
      // Other domain values than the search fitted: start from their own
      // least-squares scale.
      const double spread = squareD - sumD * sumD / count;
      const double fitted = spread > squareD * 1e-12 ? (x - sumD * r->sum / count) / spread : 0.0;
      centre = scales_.Quantize(std::clamp(fitted, bounds_.scaleMin, bounds_.scaleMax));
    }
    for (int32_t si = std::max(0, centre - kReach); si <= std::min(scales_.Levels() - 1, centre + kReach); ++si) {
      const double s = scales_.Level(si);
      if (s < bounds_.scaleMin || s > bounds_.scaleMax) continue;
      const int32_t middle = offsets_.Quantize((r->sum - s * sumD) / count);
      for (int32_t oi = std::max(0, middle - kReach); oi <= std::min(offsets_.Levels() - 1, middle + kReach); ++oi) {
        const double cost = squaredError(s, offsets_.Level(oi)) + lambda * rates.LevelBits(*r, si, oi);
        if (cost < bestCost) {
          bestCost = cost;
          bestSi = si;
          bestOi = oi;
        }
      }
    }
    if (bestSi != c.scaleIndex || bestOi != c.offsetIndex) {
      ++changed;
      r->best.scaleIndex = bestSi;
      r->best.offsetIndex = bestOi;
      r->best.scale = scales_.Level(bestSi);
      r->best.offset = offsets_.Level(bestOi);
      r->error = std::sqrt(squaredError(r->best.scale, r->best.offset) / count);
    }
    rates.CountLevels(*r, 1);
  }
  return changed;
}

SearchSnapshot EncoderSearch::Snapshot() {
  SearchSnapshot s;
  std::lock_guard<std::mutex> guard(lock_);
  s.width = width_;
  s.height = height_;
  if (!partition_) return s;
  auto rect = [](const RangeNode* n) { return SearchRect{n->x, n->y, n->width, n->height}; };
  try {
    for (const RangeNode* n : partition_->Stack()) s.stack.push_back(rect(n));
    for (const RangeNode* n : partition_->Pool()) s.pool.push_back(rect(n));
    s.domains = workerDomains_;
  } catch (const std::bad_alloc&) {
    // A partial picture is still a picture.
  }
  if (const RangeNode* c = partition_->Current()) {
    s.hasCurrent = true;
    s.current = rect(c);
  }
  s.progress = partition_->Progress();
  s.coverComplete = partition_->CoverComplete();
  return s;
}

}  // namespace vorlan::collage
