// Rich pool search (searchMode 1): a coarse scan keeping several candidates,
// then the pool positions around them. Its codes must hold only transforms
// the decoder can use, from the pool the header and settings describe, must
// not depend on the number of workers, and must be worth what the search
// says. The grid search's own codes are pinned by the growth-mode and
// equivalence tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "encoder_test_support.h"
#include "search/encoder_search.h"
#include "search/range_scan.h"

namespace vorlan::collage {
namespace {

using fractal::DomainCandidate;
using fractal::RangeNode;
using test::Code;

FractalEncoderSettings RichSettings(int32_t mode) {
  FractalEncoderSettings s;
  s.mode = mode;
  s.maxRanges = 300;
  s.minRangeSize = 2;
  s.minRangeFactor = 2;
  s.maxRangeFactor = 4;
  s.stepX = s.stepY = 2;
  s.scaleLevels = 32;
  s.offsetLevels = 128;
  s.searchMode = kRichPoolSearch;
  s.threadCount = 1;
  s.feedback = 0;
  return s;
}

// Every transform of the code lies in the pool: factors within the span,
// positions on the grid (DP is in grid steps) with the domain inside the
// image, indexes within the quantisers.
void ExpectPoolCode(const Code& code, const FractalEncoderSettings& s) {
  ASSERT_EQ(test::ValidateCode(code), "");
  EXPECT_EQ(code.header.stepX, s.stepX);
  EXPECT_EQ(code.header.stepY, s.stepY);
  for (size_t k = 0; k < code.SI().size(); ++k) {
    ASSERT_GE(code.SI()[k], 0) << "range " << k << " has no transform";
    for (int axis = 0; axis < 2; ++axis) {
      const int32_t f = code.DF()[2 * k + axis];
      EXPECT_TRUE(f >= s.minRangeFactor && f <= s.maxRangeFactor) << "range " << k << " factor " << f;
      EXPECT_GE(code.DP()[2 * k + axis], 0);
    }
  }
}

double Quality(const Code& code, const std::vector<double>& image) {
  return test::Psnr(test::Decode(code, 16), image, 1.0);
}

TEST(RichSearch, CodesHoldPoolTransformsBetweenTheCoarseGridAndTheWholePool) {
  // At equal range count the rich code is at least as good as the grid
  // search of its coarse grid alone (it refines that grid's best) and, with
  // a coarse grid as fine as the pool, as good as the whole pool's search.
  const int n = 128;
  const auto image = test::Grey("astronaut.bmp", n, n);
  for (int32_t mode : {2, 1, 0}) {
    FractalEncoderSettings rich = RichSettings(mode);
    if (mode == 0) {
      rich.coverMode = 0;  // Fidelity keeping the best fit
      rich.errorMode = 1;
      rich.quality = 0.95f;
    }
    const Code richCode = test::SearchCode(rich, image, n, n, 0, 1);
    ExpectPoolCode(richCode, rich);
    // Fidelity's range count follows the fits; Size mode only shows that the
    // code is valid for it too.
    if (mode != 2) continue;

    FractalEncoderSettings coarse = rich;
    coarse.searchMode = kGridSearch;
    coarse.stepX = coarse.stepY = RichSearchRule{}.coarseStep;
    const Code coarseCode = test::SearchCode(coarse, image, n, n, 0, 1);
    const RichSearchRule fine{rich.stepX, 1};
    const Code fineCode = test::SearchCode(rich, image, n, n, 0, 1, &fine);
    ExpectPoolCode(fineCode, rich);
    FractalEncoderSettings whole = rich;
    whole.searchMode = kGridSearch;
    const Code wholeCode = test::SearchCode(whole, image, n, n, 0, 1);
    for (const Code* c : {&coarseCode, &fineCode, &wholeCode}) EXPECT_EQ(c->SI().size(), richCode.SI().size());

    const double richPsnr = Quality(richCode, image);
    const double coarsePsnr = Quality(coarseCode, image);
    const double finePsnr = Quality(fineCode, image);
    const double wholePsnr = Quality(wholeCode, image);
    std::printf("mode %d, %zu ranges: rich %.2f dB, coarse grid %.2f dB, rich at the pool's step %.2f dB, "
                "whole pool %.2f dB\n",
                mode, richCode.SI().size(), richPsnr, coarsePsnr, finePsnr, wholePsnr);
    EXPECT_GT(richPsnr, coarsePsnr + 0.1);
    EXPECT_NEAR(finePsnr, wholePsnr, 0.1);
    EXPECT_LT(richPsnr, wholePsnr + 0.1);
  }
}

TEST(RichSearch, WorkerCountDoesNotChangeTheCode) {
  const int n = 160;
  const auto image = test::Grey("astronaut.bmp", n, n);
  for (int32_t mode : {2, 3}) {
    FractalEncoderSettings s = RichSettings(mode);
    s.stepX = 3;  // no lane tables serve factor 2 here: the single-candidate scan
    s.stepY = 4;
    s.maxRangeFactor = 3;
    if (mode == 3) s.maxRate = 1.0f;
    const Code one = test::SearchCode(s, image, n, n, 0, 1);
    ExpectPoolCode(one, s);
    for (int32_t threads : {2, 3}) {
      s.threadCount = threads;
      EXPECT_TRUE(test::SearchCode(s, image, n, n, 0, 1) == one) << "mode " << mode << ", " << threads << " workers";
    }
  }
}

TEST(RichSearch, FilterRunDecodesNearItsCollage) {
  // Through the filter and the run-start checks; the decoded attractor of
  // a contractive code stays near the collage the search measured.
  const int n = 128;
  const auto image = test::Pattern(n, n);
  FractalEncoderSettings s = RichSettings(2);
  s.threadCount = 2;
  test::InitializedEncoder f;
  test::ApplySettings(f, s);
  ASSERT_EQ(test::Encode(f, image, n, n, 0, 255), Ok) << f.FailureReason();
  const Code code = test::ReadCode(f);
  ExpectPoolCode(code, s);
  const double collage = test::Psnr(test::Decode(code, 1, &image), image, 255.0);
  const double decoded = test::Psnr(test::Decode(code, 20), image, 255.0);
  std::printf("collage %.2f dB, decoded %.2f dB\n", collage, decoded);
  EXPECT_GT(collage, 30.0);
  EXPECT_NEAR(decoded, collage, 1.5);
}

// The kept candidates of a scan are the exact best distinct ones: checked
// against fitting every candidate of the walk.
TEST(RichSearch, ScanKeepsTheExactBestCandidates) {
  const int W = 48, H = 40;
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> noise(-20.0, 20.0);
  std::vector<double> img(W * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) img[y * W + x] = 120 + 60 * std::sin(x * 0.3) * std::cos(y * 0.2) + noise(rng);
  IntegralImage sums;
  ASSERT_TRUE(sums.Build(img.data(), W, H));
  AveragedBlocks averages;
  ASSERT_TRUE(averages.Build(sums, 2, 3, 1 << 26, nullptr, true));
  fractal::UniformQuantizer scales, offsets;
  ASSERT_TRUE(scales.Build(-1, 1, 32));
  ASSERT_TRUE(offsets.Build(-255, 510, 128));
  DomainSequence sequence;
  ASSERT_TRUE(sequence.Build(W, H, 2, 3, 2, 2));
  ScanContext context;
  context.sums = &sums;
  context.averages = &averages;
  context.sequence = &sequence;
  context.width = W;
  context.height = H;
  context.fit = FitContext{&scales, &offsets, -1.0, 1.0};
  context.largestOffset = 510;

  for (int32_t size : {3, 6}) {
    RangeNode range;
    range.x = 9, range.y = 7, range.width = size, range.height = size + 1;
    range.view.origin = img.data() + range.y * W + range.x;
    range.view.stride = W;
    range.sum = sums.BoxSum(range.x, range.y, range.width, range.height);
    range.squareSum = sums.BoxSquareSum(range.x, range.y, range.width, range.height);
    RangeBlock block;
    ASSERT_TRUE(block.Load(range));

    // Every candidate's best orientation, fitted directly, in walk order.
    struct Fitted {
      double rms;
      int64_t key;
    };
    std::vector<Fitted> all;
    std::vector<double> d(static_cast<size_t>(range.width) * range.height), line(range.width + 1);
    const int32_t entries = sequence.EntriesPerPosition();
    for (int32_t dy = 0; dy < H; dy += 2)
      for (int32_t dx = 0; dx < W; dx += 2)
        for (int32_t e = 0; e < entries; ++e) {
          if (!CandidateFits(context, range.width, range.height, dx, dy, e)) continue;
          const DomainSequence::Entry& entry = sequence.Entries()[e];
          DomainCandidate c;
          c.dx = dx, c.dy = dy, c.fx = entry.fx, c.fy = entry.fy, c.rotate = entry.rotate;
          ASSERT_TRUE(BuildDomainBlock(sums, &averages, range.width, range.height, c, d.data(), line.data(), {}));
          double cross[kOrientations];
          CrossSums(d.data(), block, c.sum, c.squareSum, cross);
          double best = -1;
          for (int o = 0; o < kOrientations; ++o) {
            const double rms = Fit(context.fit, range, cross[o], c);
            if (rms >= 0 && (best < 0 || rms < best)) best = rms;
          }
          if (best >= 0) all.push_back({best, WalkKey(context, dx, dy, e)});
        }
    std::stable_sort(all.begin(), all.end(), [](const Fitted& a, const Fitted& b) { return a.rms < b.rms; });

    for (int32_t keep : {1, 5, 40}) {
      for (int32_t parts : {1, 3}) {
        std::vector<ScanSurvivor> survivors;
        double bestUpper = HUGE_VAL;
        for (int32_t part = 0; part < parts; ++part) {
          RangeScan scan;
          ASSERT_TRUE(scan.Load(range, block));
          scan.SetKeep(keep);
          ASSERT_TRUE(scan.Scan(context, WalkLimits{}, part, parts, StopFlags{}));
          bestUpper = std::min(bestUpper, scan.BestUpper());
          survivors.insert(survivors.end(), scan.Survivors().begin(), scan.Survivors().end());
        }
        bool stopped = true;
        int64_t fitted = 0;
        const auto kept = RefitKeeping(context, range, block, survivors, bestUpper, keep, d, line, StopFlags{},
                                       stopped, fitted);
        EXPECT_FALSE(stopped);
        ASSERT_EQ(kept.size(), static_cast<size_t>(keep)) << "size " << size << ", keep " << keep;
        EXPECT_LT(fitted, static_cast<int64_t>(all.size()));  // the bounds did drop candidates
        for (int32_t i = 0; i < keep; ++i) {
          EXPECT_EQ(kept[i].rms, all[i].rms) << "place " << i << ", keep " << keep << ", parts " << parts;
          EXPECT_EQ(kept[i].key, all[i].key) << "place " << i << ", keep " << keep << ", parts " << parts;
          EXPECT_EQ(WalkKey(context, kept[i].candidate.dx, kept[i].candidate.dy, static_cast<int32_t>(kept[i].key % entries)),
                    kept[i].key);
        }
      }
    }
  }
}

TEST(RichSearch, SettingsRefuseWhatTheSearchCannotServe) {
  FractalEncoderSettings s = RichSettings(2);
  EXPECT_EQ(ValidateSettings(s), "");
  s.searchMode = 4;
  EXPECT_NE(ValidateSettings(s).find("\"searchMode\""), std::string::npos);
  s.searchMode = -1;
  EXPECT_NE(ValidateSettings(s).find("\"searchMode\""), std::string::npos);
  // Fidelity taking the first fit in tolerance has no best fits to narrow down.
  s = RichSettings(0);
  s.coverMode = 1;
  EXPECT_NE(ValidateSettings(s).find("Rich pool search"), std::string::npos);
  s.coverMode = 0;
  EXPECT_EQ(ValidateSettings(s), "");
  s.maxDiffCheck = 1;
  EXPECT_NE(ValidateSettings(s).find("\"searchMode\""), std::string::npos);

  // A run refuses it with the reason and publishes nothing.
  test::InitializedEncoder f;
  s.threadCount = 1;
  test::ApplySettings(f, s);
  EXPECT_EQ(test::Encode(f, test::Pattern(32, 32), 32, 32, 0, 255), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("searchMode"), std::string::npos) << f.FailureReason();

  // The settings description names both modes for settings by name.
  const SettingField& field = EncoderSettingsDescription().fields[11];
  EXPECT_STREQ(field.identifier, "searchMode");
  ASSERT_EQ(field.choiceCount, 4);
  EXPECT_STREQ(field.choices[1].identifier, "rich");
  EXPECT_STREQ(field.choices[1].label, "Rich pool search");
  EXPECT_STREQ(field.choices[2].identifier, "attractor");
  EXPECT_STREQ(field.choices[3].identifier, "quick_attractor");
}

}  // namespace
}  // namespace vorlan::collage
