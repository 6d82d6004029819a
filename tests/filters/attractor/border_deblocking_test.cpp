#include "border_deblocking.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace vorlan::attractor {
namespace {

// A 12 x 8 picture cut into four ranges: a 6 x 8 column on the left and
// three 6-wide ranges stacked on the right (heights 2, 3, 3).
std::vector<DecoderRange> FourRanges() {
  std::vector<DecoderRange> r(4);
  r[0] = DecoderRange{0, 0, 6, 8};
  r[1] = DecoderRange{6, 0, 6, 2};
  r[2] = DecoderRange{6, 2, 6, 3};
  r[3] = DecoderRange{6, 5, 6, 3};
  return r;
}

constexpr int32_t kWidth = 12, kHeight = 8;
constexpr double kQuantum = 3.0 / 127.0;

TEST(BorderDeblocking, PicturesWithoutStepsComeOutUnchanged) {
  const std::vector<DecoderRange> ranges = FourRanges();
  std::vector<double> q(kWidth * kHeight);
  for (double level : {0.0, 0.37, 1.0}) {
    const std::vector<double> p(kWidth * kHeight, level);
    DeblockBorders(ranges, p.data(), q.data(), kWidth, kHeight, kQuantum);
    EXPECT_EQ(q, p) << "constant " << level;
  }
  // A ramp across the column border has no step a border made: p1 - p0
  // equals q0 - p0 equals q1 - q0.
  std::vector<double> ramp(kWidth * kHeight);
  for (int32_t k = 0; k < kWidth * kHeight; ++k) ramp[k] = 0.2 + 0.001 * (k % kWidth);
  DeblockBorders(ranges, ramp.data(), q.data(), kWidth, kHeight, kQuantum);
  for (size_t k = 0; k < q.size(); ++k) EXPECT_NEAR(q[k], ramp[k], 1e-15) << k;
  // No quantum (a code without offset levels): nothing to measure against.
  std::vector<double> noise(kWidth * kHeight);
  std::mt19937 rng(3);
  for (double& v : noise) v = std::uniform_real_distribution<double>(0, 1)(rng);
  DeblockBorders(ranges, noise.data(), q.data(), kWidth, kHeight, 0.0);
  EXPECT_EQ(q, noise);
}

TEST(BorderDeblocking, SmallStepsBetweenFlatSidesShrinkWhileEdgesAndTextureStay) {
  const std::vector<DecoderRange> ranges = FourRanges();
  const DeblockThresholds t;
  // Left range at 0.50, right ranges at 0.50 + a step: small, then an edge.
  for (double step : {0.2 * kQuantum, 2.0 * kQuantum, t.step * kQuantum * 1.01}) {
    std::vector<double> p(kWidth * kHeight), q(kWidth * kHeight);
    for (int32_t k = 0; k < kWidth * kHeight; ++k) p[k] = k % kWidth < 6 ? 0.5 : 0.5 + step;
    DeblockBorders(ranges, p.data(), q.data(), kWidth, kHeight, kQuantum);
    const bool edge = step >= t.step * kQuantum;
    const double moved = edge ? 0.0 : std::min(step / 4, t.clip * kQuantum);
    for (int32_t r = 0; r < kHeight; ++r) {
      const double* row = q.data() + r * kWidth;
      EXPECT_NEAR(row[5], 0.5 + moved, 1e-12) << "step " << step << " row " << r;
      EXPECT_NEAR(row[6], 0.5 + step - moved, 1e-12) << "step " << step << " row " << r;
      EXPECT_EQ(row[4], 0.5) << "only the two samples next to the border move";
      EXPECT_EQ(row[7], 0.5 + step);
      EXPECT_EQ(row[0], 0.5);
      EXPECT_EQ(row[11], 0.5 + step);
    }
    // The picture's borders are not range borders.
    EXPECT_EQ(q[0], p[0]);
  }

  // Texture next to a border: a side that is not flat is left as it is.
  std::vector<double> p(kWidth * kHeight), q(kWidth * kHeight);
  for (int32_t k = 0; k < kWidth * kHeight; ++k) {
    const int32_t c = k % kWidth;
    p[k] = c < 6 ? (c % 2 == 0 ? 0.3 : 0.3 + 2 * t.flatness * kQuantum) : 0.31;
  }
  DeblockBorders(ranges, p.data(), q.data(), kWidth, kHeight, kQuantum);
  for (int32_t r = 0; r < kHeight; ++r) {
    EXPECT_EQ(q[r * kWidth + 5], p[r * kWidth + 5]) << r;
    EXPECT_EQ(q[r * kWidth + 6], p[r * kWidth + 6]) << r;
  }

  // Row borders: the stacked ranges at 0.4, 0.41, 0.4 meet at rows 2 and 5;
  // each border moves once, towards the other side.
  for (int32_t k = 0; k < kWidth * kHeight; ++k) {
    const int32_t c = k % kWidth, r = k / kWidth;
    p[k] = c < 6 ? 0.4 : (r >= 2 && r < 5 ? 0.41 : 0.4);
  }
  DeblockBorders(ranges, p.data(), q.data(), kWidth, kHeight, kQuantum);
  const double shift = std::min(0.01 / 4, t.clip * kQuantum);
  EXPECT_NEAR(q[1 * kWidth + 9], 0.4 + shift, 1e-12);
  EXPECT_NEAR(q[2 * kWidth + 9], 0.41 - shift, 1e-12);
  EXPECT_EQ(q[3 * kWidth + 9], 0.41);
  EXPECT_NEAR(q[4 * kWidth + 9], 0.41 - shift, 1e-12);
  EXPECT_NEAR(q[5 * kWidth + 9], 0.4 + shift, 1e-12);
  EXPECT_EQ(q[2 * kWidth + 3], 0.4) << "the left range has no row border";
}

TEST(BorderDeblocking, QuantumIsTheOffsetLevelDistance) {
  fractal::CodeHeader h{};
  h.lo = 0.0;
  h.hi = 1.0;
  h.maxScale = 1.0;
  h.offsetLevels = 128;
  EXPECT_NEAR(OffsetQuantum(h), 3.0 / 127.0, 1e-15) << "offsets span [-1, 2]";
  h.offsetLevels = 1;
  EXPECT_EQ(OffsetQuantum(h), 0.0);
  h.offsetLevels = 128;
  h.hi = 0.0;
  EXPECT_EQ(OffsetQuantum(h), 0.0) << "an empty value range";
}

}  // namespace
}  // namespace vorlan::attractor
