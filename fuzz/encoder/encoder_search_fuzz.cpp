// Differential harness for the encoder's search: a small picture and
// settings from the input, searched once candidate by candidate and once
// with the whole-range scan (with one worker and with two). The scan's
// bounds must never drop the winner, so the codes must agree array for
// array; a difference aborts. The rich
// pool search (search mode 1, a coarse grid of every 2nd or 3rd position)
// must give the same code with one worker and with three (its kept
// candidates are the exact best, whatever the split of the scan) and only
// transforms of the pool. So must the quick attractor search (search mode 3)
// in the modes that grow to a range count.
//
// Input: 9 setting bytes, then samples (one byte each, row by row). The
// modes that search whole walks: Size, Least error, Rate-distortion and Fidelity with "Best
// cover" (its tolerance from the ninth byte).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "code/code_builder.h"
#include "search/encoder_search.h"
#include "fractal/code_layout.h"

namespace {

using namespace vorlan::collage;

struct Outcome {
  bool ok = false;
  std::vector<std::vector<int32_t>> arrays;
};

// `fitToAttractor`: the level choice and the attractor searches after the
// growth, as the encoder filter runs them.
Outcome Search(const FractalEncoderSettings& s, std::vector<double> image, int32_t w, int32_t h, double lo,
               double hi, bool whole, const RichSearchRule* rich = nullptr, bool fitToAttractor = false) {
  Outcome out;
  EncoderSearch search;
  SearchAccelerations acc;
  acc.wholeRanges = whole;
  search.SetAccelerations(acc);
  if (rich != nullptr) search.SetRichRule(*rich);
  std::string reason;
  std::atomic<bool> stop{false};
  if (search.Prepare(s, image.data(), w, h, lo, hi, reason, &stop) != vorlan::Ok ||
      search.Run(stop, nullptr, reason) != vorlan::Ok) {
    return out;
  }
  if (fitToAttractor && (search.ChooseLevels() < 0 || search.FitToAttractor(&stop) < 0)) return out;
  FractalCode code;
  HvPartition& p = search.Partition();
  if (!BuildCode(p.Root(), p.RangeCounter(), p.Pool(), s, w, h, lo, hi, code, reason)) return out;
  for (auto& a : code.arrays) out.arrays.emplace_back(a.Record().values, a.Record().values + a.Record().count);
  code.Release();
  out.ok = true;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kHeader = 9;
  if (size < kHeader + 16) return 0;
  const uint8_t* b = data;
  FractalEncoderSettings s;
  s.mode = (b[8] & 3) == 0 ? 0 : ((b[8] & 3) == 3 ? kRateDistortionMode : 1 + (b[0] & 1));
  s.coverMode = 0;
  s.maxDiffCheck = 0;
  s.errorMode = 1;
  s.quality = 1.0f - static_cast<float>(b[8] >> 2) / 256.0f;
  const int32_t w = 4 + (b[0] >> 1) % 29;  // 4 ... 32
  s.minRangeFactor = 1 + b[1] % 3;
  s.maxRangeFactor = s.minRangeFactor + (b[1] >> 2) % 2;
  s.stepX = 1 + b[2] % 8;
  s.stepY = 1 + (b[2] >> 3) % 8;
  s.scaleLevels = 2 + b[3] % 63;
  s.offsetLevels = 2 + b[4];
  s.maxScale = 0.25f + 0.25f * static_cast<float>(b[5] % 8);
  s.maxRanges = 1 + b[6] % 40;
  s.minRangeSize = 1 + (b[6] >> 6);
  s.maxRangeSize = (b[7] & 1) != 0 ? 4 + (b[7] >> 1) % 16 : 0;
  s.feedback = 0;
  s.threadCount = 1;
  // Value ranges from unit to large, and pictures of few levels (ties).
  static const double kScales[4][2] = {{0.0, 1.0}, {0.0, 255.0}, {-1e6, 1e6}, {1000.0, 1000.001}};
  const double lo = kScales[(b[7] >> 5) & 3][0], hi = kScales[(b[7] >> 5) & 3][1];
  const size_t samples = size - kHeader;
  int32_t h = static_cast<int32_t>(std::min<size_t>(32, samples / static_cast<size_t>(w)));
  if (h < 4) return 0;
  // The search's work grows as ranges times domain positions times factor
  // pairs, plus the hand-overs per range between the workers of the
  // two-worker and the rich searches: Fidelity at a strict tolerance cuts down to single pixels, and
  // with a grid step of 1 a 32 x 32 picture then takes tens of seconds
  // under the sanitizers. Fewer rows keep every input to about a second.
  const auto work = [&](int64_t rows) {
    const int64_t sizeSq = int64_t{s.minRangeSize} * s.minRangeSize;
    const int64_t leaves = std::max<int64_t>(1, int64_t{w} * rows / sizeSq);
    // (Rate-distortion grows past maxRanges before it prunes.)
    const int64_t grown = s.mode == kRateDistortionMode ? 2 * int64_t{s.maxRanges} : s.maxRanges;
    const int64_t ranges = s.mode == 0 ? leaves : std::min(leaves, grown);
    const int64_t positions = (w / s.stepX + 1) * (rows / s.stepY + 1);
    const int64_t span = s.maxRangeFactor - s.minRangeFactor + 1;
    return ranges * (positions * span * span + 260);
  };
  constexpr int64_t kWorkBudget = 50000;
  while (h > 4 && work(h) > kWorkBudget) --h;
  std::vector<double> image(static_cast<size_t>(w) * h);
  for (size_t k = 0; k < image.size(); ++k) image[k] = lo + (hi - lo) * (b[kHeader + k] / 255.0);
  if (!ValidateSettings(s).empty() || !SearchesWholeWalks(s)) return 0;
  const Outcome plain = Search(s, image, w, h, lo, hi, false);
  const Outcome whole = Search(s, image, w, h, lo, hi, true);
  // Two workers split the scan and share long refits: the same code again.
  FractalEncoderSettings pair = s;
  pair.threadCount = 2;
  const Outcome shared = Search(pair, image, w, h, lo, hi, true);
  if (shared.ok != whole.ok || shared.arrays != whole.arrays) {
    std::fprintf(stderr, "%d x %d, mode %d: two workers give another code than one\n", w, h, s.mode);
    std::abort();
  }
  if (plain.ok != whole.ok || plain.arrays != whole.arrays) {
    std::fprintf(stderr, "%d x %d, mode %d, factors %d..%d, steps %d/%d, levels %d/%d, maxScale %g, ranges %d, "
                 "min size %d, max size %d, values %g..%g\n", w, h, s.mode, s.minRangeFactor, s.maxRangeFactor,
                 s.stepX, s.stepY, s.scaleLevels, s.offsetLevels, s.maxScale, s.maxRanges, s.minRangeSize,
                 s.maxRangeSize, lo, hi);
    std::fprintf(stderr, "plain %s, whole-range scan %s\n", plain.ok ? "ok" : "failed", whole.ok ? "ok" : "failed");
    for (size_t a = 0; a < plain.arrays.size() && a < whole.arrays.size(); ++a) {
      for (size_t k = 0; k < plain.arrays[a].size() && k < whole.arrays[a].size(); ++k) {
        if (plain.arrays[a][k] != whole.arrays[a][k]) {
          std::fprintf(stderr, "array %zu differs first at %zu: %d against %d\n", a, k, plain.arrays[a][k],
                       whole.arrays[a][k]);
          break;
        }
      }
    }
    std::abort();
  }

  if (!whole.ok) return 0;  // settings the picture cannot take
  FractalEncoderSettings r = s;
  r.searchMode = kRichPoolSearch;
  const RichSearchRule rule{s.stepX * (2 + (b[5] >> 7)), 1 + (b[3] >> 6) * 2};
  const Outcome one = Search(r, image, w, h, lo, hi, true, &rule);
  r.threadCount = 3;
  const Outcome three = Search(r, image, w, h, lo, hi, true, &rule);
  // SI, DP and DF: every transform's factors in the span, its domain on the
  // grid and inside the picture (RS gives the range's size).
  const auto poolOnly = [&](const Outcome& o) {
    if (!o.ok || o.arrays.size() != vorlan::fractal::kCodeArrayCount) return false;
    const auto &si = o.arrays[0], &trn = o.arrays[2], &dp = o.arrays[3], &df = o.arrays[4], &rs = o.arrays[6];
    for (size_t k = 0; k < si.size(); ++k) {
      if (si[k] < 0) continue;
      const int64_t fx = df[2 * k], fy = df[2 * k + 1];
      const bool turned = (trn[k] & 1) != 0;
      const int64_t dw = fx * (turned ? rs[2 * k + 1] : rs[2 * k]), dh = fy * (turned ? rs[2 * k] : rs[2 * k + 1]);
      if (fx < s.minRangeFactor || fx > s.maxRangeFactor || fy < s.minRangeFactor || fy > s.maxRangeFactor ||
          dp[2 * k] < 0 || dp[2 * k + 1] < 0 || int64_t{dp[2 * k]} * s.stepX + dw >= w ||
          int64_t{dp[2 * k + 1]} * s.stepY + dh >= h) {
        return false;
      }
    }
    return true;
  };
  const bool valid = poolOnly(one);
  if (!valid || one.ok != three.ok || one.arrays != three.arrays) {
    std::fprintf(stderr, "rich pool search, %d x %d, mode %d, factors %d..%d, steps %d/%d, coarse %d, keep %d, "
                 "values %g..%g: %s\n", w, h, s.mode, s.minRangeFactor, s.maxRangeFactor, s.stepX, s.stepY,
                 rule.coarseStep, rule.keep, lo, hi, !valid ? "a transform outside the pool" : "threads differ");
    std::abort();
  }

  // The quick attractor search (the range-count modes): pool transforms
  // only, and the same code with one worker and with three.
  if (s.mode == 0) return 0;
  FractalEncoderSettings q = s;
  q.searchMode = kQuickAttractorSearch;
  const Outcome quickOne = Search(q, image, w, h, lo, hi, true, nullptr, true);
  q.threadCount = 3;
  const Outcome quickThree = Search(q, image, w, h, lo, hi, true, nullptr, true);
  const bool quickValid = poolOnly(quickOne);
  if (!quickValid || quickThree.arrays != quickOne.arrays) {
    std::fprintf(stderr, "quick attractor search, %d x %d, mode %d, factors %d..%d, steps %d/%d, values %g..%g: %s\n",
                 w, h, s.mode, s.minRangeFactor, s.maxRangeFactor, s.stepX, s.stepY, lo, hi,
                 !quickValid ? "a transform outside the pool" : "threads differ");
    std::abort();
  }
  return 0;
}
