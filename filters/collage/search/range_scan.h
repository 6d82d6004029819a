// The whole-range search of the modes that fit every range against its whole
// walk (see SearchesWholeWalks in encoder_search.h). Every fitting candidate
// of one range is first scanned in single precision against the mean-free
// block-average tables: four cross sums, the block sum and square sum in
// one pass over the block, sixteen candidates side by side where the lane
// tables serve the factor pair, wide vectors where the processor has them. Each
// result carries a bound on how far it can lie from what the exact
// arithmetic gives, both for the unquantised least-squares error (a lower
// bound that drops most candidates after a few operations) and for the
// quantised fit (the quantiser levels must not change within the bound).
// Only candidates whose bounds leave them a chance to beat or tie the best
// are fitted again, exactly as the candidate-at-a-time search fits them and
// in walk order, so the chosen transform is that search's own.
//
// The scan can be split between workers (every parts-th row of domain
// positions each); the refit then runs once over the union.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "search/averaged_blocks.h"
#include "search/domain_sequence.h"
#include "fractal/domain_candidate.h"
#include "fractal/range_node.h"
#include "search/integral_image.h"
#include "search/transform_fit.h"

namespace vorlan::collage {

// What every worker's scan reads; built once per run.
struct ScanContext {
  const IntegralImage* sums = nullptr;
  const AveragedBlocks* averages = nullptr;  // with single-precision tables
  const DomainSequence* sequence = nullptr;
  int32_t width = 0, height = 0;
  FitContext fit;
  double largestOffset = 0.0;  // largest |offset| the quantiser holds
};

// Walk positions of one range: which candidate the search skips at the
// start and which one it fits in orientation 0 only (see WalkRules).
struct WalkLimits {
  int64_t skipKey = -1;       // not fitted at all
  int64_t firstOnlyKey = -1;  // only orientation 0 is fitted
};

// A candidate that may still win, with a lower bound of its squared error
// per orientation (-infinity where the scan cannot tell, +infinity where it
// can never win).
struct ScanSurvivor {
  int64_t key = 0;  // position in the walk
  int32_t dx = 0, dy = 0;
  int32_t entry = 0;
  double lower[kOrientations] = {0.0, 0.0, 0.0, 0.0};
};

// For tests: the portable kernels instead of the widest the processor has
// (set between runs, not during one).
void UsePortableScanKernels(bool portable);

// The walk position of a candidate: rows of domain positions, positions,
// then the factor/rotation entries in sequence order.
int64_t WalkKey(const ScanContext& context, int32_t dx, int32_t dy, int32_t entry);
// Whether the candidate's domain lies inside the image for a w x h range.
bool CandidateFits(const ScanContext& context, int32_t w, int32_t h, int32_t dx, int32_t dy, int32_t entry);
// Key of the first fitting candidate of a w x h range, -1 when none fits.
int64_t FirstFittingKey(const ScanContext& context, int32_t w, int32_t h);
// Key of the walk's last entry when it fits a w x h range, else -1.
int64_t LastKeyIfFitting(const ScanContext& context, int32_t w, int32_t h);

class RangeScan {
 public:
  // Takes the range's values as single-precision patterns for both
  // rotations and all four orientations. False when memory runs out.
  [[nodiscard]] bool Load(const fractal::RangeNode& range, const RangeBlock& block);

  // Scans rows part, part + parts, ... of domain positions. Keeps the
  // smallest upper bound of a quantised error seen and the candidates whose
  // lower bound does not exceed it at the time. False when a stop was
  // noticed or memory ran out (OutOfMemory tells).
  bool Scan(const ScanContext& context, const WalkLimits& limits, int32_t part, int32_t parts,
            const StopFlags& stop);

  // Scans the given candidates (key, dx, dy and entry of `context`'s walk;
  // those that do not fit are passed over) the same way, for an exact
  // Refit of the survivors. False when a stop was noticed or memory ran out.
  bool ScanList(const ScanContext& context, const std::vector<ScanSurvivor>& candidates, const StopFlags& stop);

  // How many distinct candidates (positions and entries, each at its best
  // orientation) the scan keeps a chance for: with more than one, the
  // threshold a candidate must beat is the keep-th smallest upper bound seen
  // rather than the smallest. 1 by default.
  void SetKeep(int32_t keep);

  // Smallest upper bound of the squared error of a scanned fit, or the
  // keep-th smallest of distinct candidates (+infinity while there are
  // fewer in bounds).
  double BestUpper() const { return bestUpper_; }
  const std::vector<ScanSurvivor>& Survivors() const { return survivors_; }
  // Drops the survivors this scan's own bound already rules out and puts
  // the rest in walk order (KeepHopefulInWalkOrder), so that workers can
  // do it side by side before their lists are merged.
  void KeepHopeful();
  bool OutOfMemory() const { return outOfMemory_; }
  int64_t Scanned() const { return scanned_; }
  int64_t ScannedValues() const { return scannedValues_; }

 private:
  using Kernel = void (*)(const float*, int64_t, const float*, int64_t, int32_t, int32_t, int32_t, double*);
  // Rounding allowances of a kernel's sums relative to their absolute
  // terms: the block sum, its square sum and the cross sums.
  struct Gammas {
    double shifted = 0.0, squares = 0.0, cross = 0.0;
  };
  static Gammas GammasFor(double gamma);
  struct Pattern {
    int32_t lines = 0, length = 0, stride = 0;
    std::vector<float> values;  // four orientations, lines x stride each
    Kernel kernel = nullptr;    // vector width chosen for the run length
    Gammas gammas;
  };
  // Per-range values every candidate's bounds use.
  struct Constants {
    double n = 0, invN = 0, rootN = 0;
    double center = 0, shiftSquare = 0;  // the tables' mean mu and n mu^2
    double sumR = 0, rangeCentred = 0, rootCentred = 0, centredSquares = 0;
    // mu times the sum of the range's deviations from its mean, and bounds
    // of its rounding (plain and squared).
    double centerDeviation = 0, deviationError = 0, deviationSlack = 0;
    // What the exact double-precision sums may be off by, per unit of the
    // candidate's magnitudes: its sum, square sum and cross sum (the last
    // also squared, and the term from sum R sum D / n).
    double exactSum = 0, exactSquares = 0, crossExact = 0, crossSquareSlack = 0, sumRA = 0, sumRB = 0;
    // The exact error formula's rounding: allowancePerSquare * sum d^2 + allowanceBase.
    double allowancePerSquare = 0, allowanceBase = 0;
    // The largest scale magnitude a fit may take, and the range's centred
    // norm sqrt(rangeCentred).
    double scaleReach = 0, rootRange = 0;
  };
  void Begin();
  // The per-range values of Constants for this context's quantisers.
  void SetConstants(const ScanContext& context);
  bool ScanRows(const ScanContext& context, const WalkLimits& limits, int32_t part, int32_t parts,
                const StopFlags& stop);
  void OfferUpper(double upper);
  void Candidate(const ScanContext& context, const WalkLimits& limits, int64_t key, int32_t dx, int32_t dy,
                 int32_t entry);
  // Up to sixteen candidates of one row and entry at once, from the lane tables.
  void LaneCandidates(const ScanContext& context, const WalkLimits& limits, int32_t row, int32_t columns,
                      int32_t entry);
  // Bounds and, where needed, the quantised fit of one scanned candidate
  // from its six sums {sum d^2, four cross sums, sum d} (d less the mean).
  void Settle(const ScanContext& context, const WalkLimits& limits, int64_t key, int32_t dx, int32_t dy,
              int32_t entry, const Gammas& gammas, const double out[6]);

  const fractal::RangeNode* range_ = nullptr;
  Pattern patterns_[2];  // unturned, turned
  double mean_ = 0.0;           // range mean the patterns are taken about
  double deviationSum_ = 0.0;  // sum (r - mean_) in double: the range sum's rounding
  double centredSquares_ = 0.0;  // sum (r - mean)^2
  Constants constants_;
  std::vector<int32_t> laneOffsets_;  // where value j of a run lies in the lane tables
  std::vector<char> laneEntry_;       // per walk entry: taken in lanes
  Gammas laneGammas_;
  double bestUpper_ = 0.0;
  int32_t keep_ = 1;
  std::vector<double> keptUppers_;  // rising; only with keep_ > 1
  std::vector<ScanSurvivor> survivors_;
  bool outOfMemory_ = false;
  int64_t scanned_ = 0;
  int64_t scannedValues_ = 0;
};

// The exact refit: the survivors of every part whose bound does not exceed
// `bestUpper`, fitted with BuildDomainBlock, CrossSums and Fit in walk order.
// `best` gets the first candidate with the smallest RMS error; false when
// none was in bounds or a stop was noticed (`stopped` tells).
struct RefitResult {
  bool found = false;
  bool stopped = false;
  double rms = -1.0;
  fractal::DomainCandidate best;
  int64_t fitted = 0;  // candidates refitted
};
RefitResult Refit(const ScanContext& context, const fractal::RangeNode& range, const RangeBlock& block,
                  std::vector<ScanSurvivor>& survivors, double bestUpper, std::vector<double>& blockBuffer,
                  std::vector<double>& line, const StopFlags& stop);

// Refit in two steps, so that workers can share it: the survivors that may
// still win, sorted into walk order; then the refit of a contiguous slice
// [begin, end) of them. The refit of the whole is that of its slices taken
// in order, a later slice's best replacing an earlier one's only when its
// error is smaller (MergeRefit).
void KeepHopefulInWalkOrder(std::vector<ScanSurvivor>& survivors, double bestUpper);
// Adds the survivors of `sorted` (in walk order, keys not in `into`) that
// may still beat `bestUpper` to `into` (also in walk order), keeping it in
// walk order. Throws std::bad_alloc.
void MergeHopeful(std::vector<ScanSurvivor>& into, const std::vector<ScanSurvivor>& sorted, double bestUpper);
RefitResult RefitSlice(const ScanContext& context, const fractal::RangeNode& range, const RangeBlock& block,
                       const ScanSurvivor* begin, const ScanSurvivor* end, double bestUpper,
                       std::vector<double>& blockBuffer, std::vector<double>& line, const StopFlags& stop);
void MergeRefit(RefitResult& into, const RefitResult& later);

// The exact refit keeping the `keep` best distinct candidates (each at its
// best orientation), in rising RMS error, ties in walk order. Survivors must
// come from scans whose threshold was the keep-th smallest upper bound (see
// RangeScan::SetKeep); `bestUpper` is the smallest such threshold of the
// parts. Empty when none was in bounds; `stopped` tells of a stop.
struct RefitChoice {
  double rms = -1.0;
  int64_t key = 0;
  fractal::DomainCandidate candidate;
};
std::vector<RefitChoice> RefitKeeping(const ScanContext& context, const fractal::RangeNode& range,
                                      const RangeBlock& block, std::vector<ScanSurvivor>& survivors,
                                      double bestUpper, int32_t keep, std::vector<double>& blockBuffer,
                                      std::vector<double>& line, const StopFlags& stop, bool& stopped,
                                      int64_t& fitted);

}  // namespace vorlan::collage
