// The search must keep choosing the same transforms however it is sped up:
// pinned checksums of the code modes 0 and 1 give on camera.bmp, and random
// small problems on which every search strategy must agree with the plain
// one.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "code/code_builder.h"
#include "encoder_test_support.h"
#include "vorlan/config_stream.h"

namespace vorlan::collage {
namespace {

using test::Code;

using Encoder = test::InitializedEncoder;

void Apply(FractalEncoderFilter& f, const FractalEncoderSettings& s) { test::ApplySettings(f, s); }

uint64_t Checksum(const Code& code) { return test::CodeChecksum(code, 8); }

Code EncodeCamera(const FractalEncoderSettings& s, const std::vector<double>& image, int32_t n) {
  Encoder f;
  Apply(f, s);
  EXPECT_EQ(test::Encode(f, image, n, n, 0, 1), Ok) << f.FailureReason();
  return test::ReadCode(f);
}

TEST(SearchEquivalence, FidelityAndSizeModesKeepTheirCodeOnCamera) {
  // Checksums taken from the encoder before any search acceleration; one
  // worker, so the choice between tied candidates is deterministic.
  const int32_t n = 512;
  const auto image = test::Camera(n, n);
  struct Case {
    const char* name;
    FractalEncoderSettings settings;
    uint64_t checksum;
  };
  std::vector<Case> cases(3);
  // Fidelity, best cover: every candidate of every range is fitted.
  cases[0].name = "fidelity, best cover";
  cases[0].settings.errorMode = 1;
  cases[0].settings.quality = 0.96f;
  cases[0].settings.coverMode = 0;
  cases[0].checksum = 0xbeb38921464d7d39ull;
  // Fidelity, cover in tolerance, with the largest-difference check.
  cases[1].name = "fidelity, cover in tolerance";
  cases[1].settings.errorMode = 1;
  cases[1].settings.quality = 0.95f;
  cases[1].settings.maxDiffCheck = 1;
  cases[1].settings.maxRangeFactor = 4;
  cases[1].checksum = 0x55f23b92965f357bull;
  // Size mode, coarse quantisers.
  cases[2].name = "size";
  cases[2].settings.mode = 1;
  cases[2].settings.maxRanges = 800;
  cases[2].settings.scaleLevels = 32;
  cases[2].settings.offsetLevels = 128;
  cases[2].checksum = 0xae4ea2c1b3a303a6ull;
  for (Case& c : cases) {
    c.settings.feedback = 0;
    const Code code = EncodeCamera(c.settings, image, n);
    ASSERT_EQ(test::ValidateCode(code), "") << c.name;
    std::printf("%s: %zu ranges, checksum %016" PRIx64 "\n", c.name, code.SI().size(), Checksum(code));
    EXPECT_EQ(Checksum(code), c.checksum) << c.name;
  }
}

Code Search(const FractalEncoderSettings& s, std::vector<double> image, int32_t w, int32_t h,
            const SearchAccelerations& acc, int64_t* rejected, int64_t* sharedRefits = nullptr);

TEST(SearchEquivalence, WholeRangeScanKeepsTheLeastErrorCodeOnCamera) {
  // The example graph's settings on a quarter of camera.bmp: ranges from
  // the whole picture down to 2 x 2, so the single-precision scan meets
  // long sums as well as short ones.
  const int32_t n = 256;
  const auto full = test::Camera(512, 512);
  std::vector<double> image(static_cast<size_t>(n) * n);
  for (int32_t y = 0; y < n; ++y) {
    for (int32_t x = 0; x < n; ++x) image[static_cast<size_t>(y) * n + x] = 255.0 * full[static_cast<size_t>(y + 128) * 512 + x + 128];
  }
  FractalEncoderSettings s;
  s.mode = 2;
  s.maxRanges = 700;
  s.minRangeSize = 2;
  s.minRangeFactor = s.maxRangeFactor = 2;
  s.scaleLevels = 32;
  s.offsetLevels = 128;
  s.stepX = s.stepY = 8;
  s.feedback = 0;
  SearchAccelerations plain;
  plain.wholeRanges = false;
  const Code reference = Search(s, image, n, n, plain, nullptr);
  ASSERT_EQ(reference.SI().size(), 700u);
  EXPECT_TRUE(Search(s, image, n, n, SearchAccelerations{}, nullptr) == reference);
  s.threadCount = 2;
  int64_t shared = 0;
  EXPECT_TRUE(Search(s, image, n, n, SearchAccelerations{}, nullptr, &shared) == reference) << "two workers";
  EXPECT_GT(shared, 0) << "the workers must have shared some refits for the comparison to mean anything";
}

// The code one search gives, as the test's Code record; the counters of the
// search in `rejected`.
Code Search(const FractalEncoderSettings& s, std::vector<double> image, int32_t w, int32_t h,
            const SearchAccelerations& acc, int64_t* rejected, int64_t* sharedRefits) {
  EncoderSearch search;
  search.SetAccelerations(acc);
  std::string reason;
  std::atomic<bool> stop{false};
  Code code;
  if (search.Prepare(s, image.data(), w, h, 0.0, 255.0, reason, &stop) != Ok ||
      search.Run(stop, nullptr, reason) != Ok) {
    ADD_FAILURE() << reason;
    return code;
  }
  if (rejected != nullptr) *rejected += search.RejectedOrientations();
  if (sharedRefits != nullptr) *sharedRefits += search.SharedRefits();
  EXPECT_EQ(search.SearchedWholeRanges(), acc.wholeRanges && SearchesWholeWalks(s));
  FractalCode built;
  HvPartition& p = search.Partition();
  if (!BuildCode(p.Root(), p.RangeCounter(), p.Pool(), s, w, h, 0.0, 255.0, built, reason)) {
    ADD_FAILURE() << reason;
    return code;
  }
  code.header = built.header;
  for (int k = 0; k < fractal::kCodeArrayCount; ++k) {
    const IntArray& a = built.arrays[k].Record();
    code.arrays[k].assign(a.values, a.values + a.count);
  }
  built.Release();
  return code;
}

// A random picture: smooth gradients, a few flat patches, a noisy patch and
// repeated tiles, so that some domains fit very well and others not at all.
std::vector<double> RandomImage(std::mt19937& rng, int32_t w, int32_t h) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double fx = 0.05 + 0.3 * u(rng), fy = 0.05 + 0.3 * u(rng), tile = 3 + 6 * u(rng);
  std::vector<double> v(static_cast<size_t>(w) * h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      double value = 128 + 80 * std::sin(fx * x + 0.7 * std::cos(fy * y));
      if (x < w / 3 && y < h / 3) value = 60;                     // flat
      if (x > w / 2 && y > h / 2) value = 255 * u(rng);            // noise
      if (x < w / 2 && y > h / 2) value = std::fmod(x + y, tile) * 20;  // tiles
      v[static_cast<size_t>(y) * w + x] = std::clamp(std::round(value), 0.0, 255.0);
    }
  }
  return v;
}

TEST(SearchEquivalence, EveryAccelerationGivesThePlainSearchsCode) {
  std::mt19937 rng(20261208);
  auto pick = [&rng](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  std::vector<int32_t> modes = {0, 1};
  FractalEncoderSettings probe;
  probe.mode = 2;
  if (ValidateSettings(probe).empty()) modes.push_back(2);

  SearchAccelerations plain;
  plain.averagedTables = false;
  plain.bounds = false;
  plain.wholeRanges = false;
  SearchAccelerations tables = plain;
  tables.averagedTables = true;
  SearchAccelerations bounds = tables;
  bounds.bounds = true;
  bounds.boundsAlways = true;
  SearchAccelerations adaptive = tables;
  adaptive.bounds = true;
  const SearchAccelerations whole;  // the default: range-count modes scan whole ranges
  SearchAccelerations single = whole;
  single.laneTables = false;

  int64_t rejected = 0;
  for (int trial = 0; trial < 36; ++trial) {
    const int32_t w = pick(20, 72), h = pick(20, 72);
    FractalEncoderSettings s;
    s.mode = modes[static_cast<size_t>(trial) % modes.size()];
    s.maxRanges = pick(2, 60);
    s.minRangeSize = pick(1, 5);
    s.minRangeFactor = pick(1, 2);
    s.maxRangeFactor = s.minRangeFactor + pick(0, 2);
    s.stepX = pick(1, 9);
    s.stepY = pick(1, 9);
    s.scaleLevels = pick(2, 64);
    s.offsetLevels = pick(2, 256);
    s.maxScale = static_cast<float>(pick(2, 12)) / 8.0f;
    s.coverMode = pick(0, 1);
    s.maxDiffCheck = pick(0, 1);
    s.maxError = static_cast<float>(pick(1, 40));
    s.maxRangeSize = pick(0, 1) != 0 ? pick(8, 40) : 0;
    s.feedback = 0;
    const auto image = RandomImage(rng, w, h);
    const std::string where = "trial " + std::to_string(trial) + ": " + std::to_string(w) + " x " +
                              std::to_string(h) + ", mode " + std::to_string(s.mode) + ", factors " +
                              std::to_string(s.minRangeFactor) + "..." + std::to_string(s.maxRangeFactor) +
                              ", steps " + std::to_string(s.stepX) + "/" + std::to_string(s.stepY);
    const Code reference = Search(s, image, w, h, plain, nullptr);
    ASSERT_EQ(test::ValidateCode(reference), "") << where;
    EXPECT_TRUE(Search(s, image, w, h, tables, nullptr) == reference) << where << ": averaged tables";
    EXPECT_TRUE(Search(s, image, w, h, bounds, &rejected) == reference) << where << ": lower bound";
    EXPECT_TRUE(Search(s, image, w, h, adaptive, nullptr) == reference) << where << ": adaptive lower bound";
    EXPECT_TRUE(Search(s, image, w, h, whole, nullptr) == reference) << where << ": whole-range scan";
    if (SearchesWholeWalks(s)) {
      // Neither the scan's split between workers, nor taking candidates
      // singly, nor the narrower kernels may change the choice.
      FractalEncoderSettings threaded = s;
      threaded.threadCount = 3;
      EXPECT_TRUE(Search(threaded, image, w, h, whole, nullptr) == reference) << where << ": whole-range scan, 3 workers";
      EXPECT_TRUE(Search(s, image, w, h, single, nullptr) == reference) << where << ": whole-range scan, no lanes";
      UsePortableScanKernels(true);
      EXPECT_TRUE(Search(s, image, w, h, whole, nullptr) == reference) << where << ": portable kernels";
      EXPECT_TRUE(Search(s, image, w, h, single, nullptr) == reference) << where << ": portable kernels, no lanes";
      UsePortableScanKernels(false);
    }
  }
  EXPECT_GT(rejected, 1000) << "the bound must have rejected something for the comparison to mean anything";
}

}  // namespace
}  // namespace vorlan::collage
