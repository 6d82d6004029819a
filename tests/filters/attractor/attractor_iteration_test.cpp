#include "attractor_iteration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace vorlan::attractor {
namespace {

const StopPoll kNeverStop = [] { return false; };

// The transform written the long way: direct block sums into the range,
// then the rows and the columns swapped in place.
void ReferenceApply(const DecoderRange& r, const std::vector<double>& s, std::vector<double>& t, int32_t width) {
  auto S = [&](int64_t row, int64_t col) { return s[row * width + col]; };
  auto T = [&](int64_t row, int64_t col) -> double& { return t[row * width + col]; };
  const double e = (1.0 / (r.fx * r.fy)) * r.scale;
  for (int32_t i = 0; i < r.height; ++i) {
    for (int32_t j = 0; j < r.width; ++j) {
      long double sum = 0;
      if (!r.rotate) {
        for (int32_t a = 0; a < r.fy; ++a)
          for (int32_t b = 0; b < r.fx; ++b) sum += S(r.dy + i * r.fy + a, r.dx + j * r.fx + b);
      } else {
        for (int32_t row = r.dy + r.domainHeight - (j + 1) * r.fy; row <= r.dy + r.domainHeight - j * r.fy - 1; ++row)
          for (int32_t b = 0; b < r.fx; ++b) sum += S(row, r.dx + i * r.fx + b);
      }
      T(r.y + i, r.x + j) = r.offset + e * static_cast<double>(sum);
    }
  }
  if (r.reverseRows) {
    for (int32_t i = 0; i < r.height / 2; ++i)
      for (int32_t j = 0; j < r.width; ++j) std::swap(T(r.y + i, r.x + j), T(r.y + r.height - 1 - i, r.x + j));
  }
  if (r.reverseColumns) {
    for (int32_t i = 0; i < r.height; ++i)
      for (int32_t j = 0; j < r.width / 2; ++j) std::swap(T(r.y + i, r.x + j), T(r.y + i, r.x + r.width - 1 - j));
  }
}

TEST(AttractorIteration, EveryIsometryAndFactorMatchesTheDirectSums) {
  const int32_t width = 40, height = 36;
  std::mt19937 rng(7);
  std::vector<double> source(width * height);
  for (double& v : source) v = std::uniform_real_distribution<double>(0, 255)(rng);
  for (int32_t isometry = 0; isometry < 8; ++isometry) {
    for (int32_t fx = 1; fx <= 5; ++fx) {
      for (int32_t fy = 1; fy <= 3; ++fy) {
        DecoderRange r;
        r.x = 3;
        r.y = 2;
        r.width = 5;
        r.height = 4;
        r.hasTransform = true;
        r.scale = -0.75;
        r.offset = 100.0;
        r.rotate = isometry & 1;
        r.reverseRows = (isometry >> 1) & 1;
        r.reverseColumns = (isometry >> 2) & 1;
        r.fx = fx;
        r.fy = fy;
        r.domainWidth = fx * (r.rotate ? r.height : r.width);
        r.domainHeight = fy * (r.rotate ? r.width : r.height);
        r.dx = width - r.domainWidth;
        r.dy = height - r.domainHeight;
        std::vector<double> expected(width * height, -1.0), actual(width * height, -1.0);
        ReferenceApply(r, source, expected, width);
        PassScratch scratch;
        scratch.Reserve(std::span<const DecoderRange>(&r, 1));
        ASSERT_TRUE(ApplyRange(r, source.data(), actual.data(), width, scratch.Lines(), kNeverStop));
        for (size_t k = 0; k < expected.size(); ++k) {
          ASSERT_NEAR(actual[k], expected[k], 1e-9)
              << "isometry " << isometry << " fx " << fx << " fy " << fy << " at " << k % width << "," << k / width;
        }
      }
    }
  }
}

TEST(AttractorIteration, PassStopsBeforeARowAndBlankRangesTakeTheirOffset) {
  DecoderRange blank;
  blank.width = 4;
  blank.height = 3;
  blank.offset = 127.5;
  DecoderRange tall = blank;
  tall.x = 4;
  tall.hasTransform = true;
  tall.scale = 1.0;
  tall.offset = 0.0;
  tall.domainWidth = 4;
  tall.domainHeight = 3;
  std::vector<DecoderRange> ranges = {blank, tall};
  std::vector<double> a(8 * 3, 2.0), b(8 * 3, 0.0);
  PassScratch scratch;
  scratch.Reserve(ranges);
  int polls = 0;
  const StopPoll stopOnSecondRow = [&] { return ++polls == 3; };
  EXPECT_FALSE(ApplyPass(ranges, a.data(), b.data(), 8, scratch, stopOnSecondRow));
  EXPECT_EQ(b[0], 127.5);
  EXPECT_EQ(b[4], 2.0) << "first row of the second range done";
  EXPECT_EQ(b[8 + 4], 0.0) << "its second row was not started";
  EXPECT_TRUE(ApplyPass(ranges, a.data(), b.data(), 8, scratch, kNeverStop));
  EXPECT_EQ(b[23], 2.0);
  EXPECT_NEAR(RmsDifference(a.data(), b.data(), 24), std::sqrt(12 * 125.5 * 125.5 / 24), 1e-9);
}

TEST(AttractorIteration, SmoothingTouchesOnlyInnerEdgesWithTheirWeights) {
  // Two ranges side by side in a 6 x 3 image: left 4 x 3, right 2 x 3.
  const int32_t width = 6, height = 3;
  std::vector<DecoderRange> ranges(2);
  ranges[0].width = 4;
  ranges[0].height = 3;
  ranges[1].x = 4;
  ranges[1].width = 2;
  ranges[1].height = 3;
  std::vector<double> p(width * height), q(width * height, -1.0);
  for (int32_t k = 0; k < width * height; ++k) p[k] = (k % width) * 10.0 + k / width;
  SmoothBorders(ranges, p.data(), q.data(), width, height);
  auto P = [&](int c, int r) { return p[r * width + c]; };
  auto Q = [&](int c, int r) { return q[r * width + c]; };
  for (int r = 0; r < height; ++r) {
    EXPECT_EQ(Q(0, r), P(0, r)) << "image border untouched";
    EXPECT_EQ(Q(1, r), P(1, r));
    EXPECT_NEAR(Q(3, r), (P(4, r) + 2 * P(3, r)) / 3, 1e-12) << "left range, right edge";
    EXPECT_NEAR(Q(2, r), (P(4, r) + 2 * P(3, r) + 3 * P(2, r)) / 6, 1e-12);
    EXPECT_NEAR(Q(4, r), (P(3, r) + 2 * P(4, r)) / 3, 1e-12) << "right range, left edge";
    EXPECT_NEAR(Q(5, r), (P(3, r) + 2 * P(4, r) + 3 * P(5, r)) / 6, 1e-12);
  }

  // A range one pixel wide gets only its outermost line on each side.
  std::vector<DecoderRange> thin(3);
  thin[0].width = 2;
  thin[0].height = 3;
  thin[1].x = 2;
  thin[1].width = 1;
  thin[1].height = 3;
  thin[2].x = 3;
  thin[2].width = 3;
  thin[2].height = 3;
  SmoothBorders(thin, p.data(), q.data(), width, height);
  for (int r = 0; r < height; ++r) {
    EXPECT_NEAR(Q(2, r), (P(3, r) + 2 * P(2, r)) / 3, 1e-12) << "the right pass wins in a 1-wide range";
  }
}

}  // namespace
}  // namespace vorlan::attractor
