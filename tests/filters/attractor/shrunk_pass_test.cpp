#include "shrunk_pass.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace vorlan::attractor {
namespace {

const StopPoll kNeverStop = [] { return false; };

DecoderRange RandomTransform(std::mt19937& rng, int32_t x, int32_t y, int32_t w, int32_t h, int32_t width,
                             int32_t height, int32_t maxFactor) {
  auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  DecoderRange r;
  r.x = x;
  r.y = y;
  r.width = w;
  r.height = h;
  r.hasTransform = true;
  r.scale = std::uniform_real_distribution<double>(-0.9, 0.9)(rng);
  r.offset = std::uniform_real_distribution<double>(-50.0, 300.0)(rng);
  int32_t isometry = pick(0, 7);
  if (h > width || w > height) isometry &= ~1;  // no turned domain fits
  r.rotate = isometry & 1;
  r.reverseRows = (isometry >> 1) & 1;
  r.reverseColumns = (isometry >> 2) & 1;
  // Factors that still fit the picture.
  do {
    r.fx = pick(1, maxFactor);
    r.fy = pick(1, maxFactor);
    r.domainWidth = r.fx * (r.rotate ? h : w);
    r.domainHeight = r.fy * (r.rotate ? w : h);
  } while (r.domainWidth > width || r.domainHeight > height);
  r.dx = pick(0, width - r.domainWidth);
  r.dy = pick(0, height - r.domainHeight);
  return r;
}

// Runs one pass both ways from a random picture and compares every bit.
void ExpectSamePass(const std::vector<DecoderRange>& ranges, int32_t width, int32_t height, uint32_t seed,
                    const char* what) {
  std::mt19937 rng(seed);
  std::vector<double> source(static_cast<size_t>(width) * height);
  for (double& v : source) v = std::uniform_real_distribution<double>(-20.0, 280.0)(rng);
  std::vector<double> expected(source.size(), -7.0), actual(source.size(), -7.0);
  PassScratch scratch;
  scratch.Reserve(ranges);
  ASSERT_TRUE(ApplyPass(ranges, source.data(), expected.data(), width, scratch, kNeverStop));
  ShrunkPass pass;
  pass.Build(ranges, width, height);
  ASSERT_TRUE(pass.Run(source.data(), actual.data(), kNeverStop));
  for (size_t k = 0; k < expected.size(); ++k) {
    ASSERT_EQ(std::memcmp(&expected[k], &actual[k], sizeof(double)), 0)
        << what << " seed " << seed << ": pixel " << k % width << ", " << k / width << " is " << actual[k]
        << ", the per-range pass wrote " << expected[k];
  }
  // A second pass from the result: the shrunk pictures are summed again.
  std::vector<double> expected2(source.size()), actual2(source.size());
  ASSERT_TRUE(ApplyPass(ranges, expected.data(), expected2.data(), width, scratch, kNeverStop));
  ASSERT_TRUE(pass.Run(actual.data(), actual2.data(), kNeverStop));
  ASSERT_EQ(std::memcmp(expected2.data(), actual2.data(), expected2.size() * sizeof(double)), 0)
      << what << " seed " << seed << ": the second pass differs";
}

TEST(ShrunkPass, WritesWhatThePerRangePassWritesBitForBit) {
  // A tiling of 8 x 8 ranges with 2 x 2 domains on an even grid, the
  // encoder's usual code: every range reads a shrunk picture.
  {
    const int32_t width = 96, height = 80;
    std::mt19937 rng(3);
    std::vector<DecoderRange> ranges;
    for (int32_t y = 0; y < height; y += 8) {
      for (int32_t x = 0; x < width; x += 8) {
        DecoderRange r = RandomTransform(rng, x, y, 8, 8, width, height, 2);
        r.fx = r.fy = 2;
        r.domainWidth = r.domainHeight = 16;
        r.dx = 8 * std::uniform_int_distribution<int32_t>(0, (width - 16) / 8)(rng);
        r.dy = 8 * std::uniform_int_distribution<int32_t>(0, (height - 16) / 8)(rng);
        ranges.push_back(r);
      }
    }
    ShrunkPass pass;
    pass.Build(ranges, width, height);
    EXPECT_EQ(pass.ShrunkRangeCount(), static_cast<int64_t>(ranges.size()));
    EXPECT_EQ(pass.DirectRangeCount(), 0);
    ExpectSamePass(ranges, width, height, 11, "8 x 8 tiling");
  }
  // Overlapping rectangles of every size in list order (a later range
  // overwrites an earlier one), factors 1 to 4 at every phase, every
  // isometry, and ranges without a transform.
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    const int32_t width = std::uniform_int_distribution<int32_t>(9, 61)(rng);
    const int32_t height = std::uniform_int_distribution<int32_t>(9, 53)(rng);
    const int32_t count = std::uniform_int_distribution<int32_t>(1, 120)(rng);
    std::vector<DecoderRange> ranges;
    for (int32_t n = 0; n < count; ++n) {
      const int32_t w = std::uniform_int_distribution<int32_t>(1, std::min(width / 2, 12))(rng);
      const int32_t h = std::uniform_int_distribution<int32_t>(1, std::min(height / 2, 12))(rng);
      const int32_t x = std::uniform_int_distribution<int32_t>(0, width - w)(rng);
      const int32_t y = std::uniform_int_distribution<int32_t>(0, height - h)(rng);
      DecoderRange r = RandomTransform(rng, x, y, w, h, width, height, 4);
      if (rng() % 9 == 0) {
        r = DecoderRange{};
        r.x = x, r.y = y, r.width = w, r.height = h, r.offset = 127.5;
      }
      ranges.push_back(r);
    }
    ExpectSamePass(ranges, width, height, seed, "random rectangles");
  }
}

TEST(ShrunkPass, ScatteredDomainsAndTheMemoryCapKeepThePerRangeReduction) {
  const int32_t width = 200, height = 120;
  std::mt19937 rng(5);
  // Two small ranges of one group whose domains lie at opposite corners:
  // their box would be mostly empty.
  std::vector<DecoderRange> ranges;
  for (int32_t k = 0; k < 2; ++k) {
    DecoderRange r = RandomTransform(rng, 10 * k, 0, 4, 4, width, height, 2);
    r.rotate = 0;
    r.fx = r.fy = 2;
    r.domainWidth = r.domainHeight = 8;
    r.dx = k == 0 ? 0 : width - 8;
    r.dy = k == 0 ? 0 : height - 8;
    ranges.push_back(r);
  }
  // One range of factor 1 x 1 whose domain is the whole lower half: its
  // box alone is within the cap, and it comes first (it reads the most).
  DecoderRange big = RandomTransform(rng, 0, 60, 200, 60, width, height, 1);
  big.rotate = 0;
  big.dx = 0;
  big.dy = 0;
  big.domainWidth = 200;
  big.domainHeight = 60;
  ranges.push_back(big);
  ShrunkPass pass;
  pass.Build(ranges, width, height);
  EXPECT_EQ(pass.DirectRangeCount(), 2);
  EXPECT_EQ(pass.ShrunkRangeCount(), 1);
  EXPECT_LE(pass.ShrunkCells(), int64_t{width} * height);
  ExpectSamePass(ranges, width, height, 5, "scattered domains");

  // Ranges that together read more than a picture's worth of cells at
  // factor 1 x 1 and 2 x 1: the smaller group goes over the cap and is
  // reduced directly.
  std::vector<DecoderRange> layered;
  for (int32_t k = 0; k < 3; ++k) {
    DecoderRange r = big;
    r.fx = k == 2 ? 2 : 1;
    r.domainWidth = r.fx * 100;
    r.width = 100;
    r.x = 50 * k;
    r.y = 20 * k;
    layered.push_back(r);
  }
  layered[0].width = layered[1].width = 200;
  layered[0].domainWidth = layered[1].domainWidth = 200;
  layered[0].x = layered[1].x = 0;
  layered[0].dy = 60;
  layered[1].dy = 0;
  pass.Build(layered, width, height);
  // The 1 x 1 box is the whole picture; the 2 x 1 box (100 x 60) is over.
  EXPECT_EQ(pass.ShrunkRangeCount(), 2);
  EXPECT_EQ(pass.DirectRangeCount(), 1);
  ExpectSamePass(layered, width, height, 6, "layered domains");
}

TEST(ShrunkPass, AStopEndsThePass) {
  const int32_t width = 64, height = 64;
  std::mt19937 rng(9);
  std::vector<DecoderRange> ranges;
  for (int32_t y = 0; y < height; y += 4) {
    for (int32_t x = 0; x < width; x += 4) ranges.push_back(RandomTransform(rng, x, y, 4, 4, width, height, 3));
  }
  std::vector<double> source(width * height, 1.0), target(width * height, 0.0);
  ShrunkPass pass;
  pass.Build(ranges, width, height);
  int32_t polls = 0;
  EXPECT_FALSE(pass.Run(source.data(), target.data(), [&] { return ++polls > 1; }));
  EXPECT_TRUE(pass.Run(source.data(), target.data(), kNeverStop));
}

}  // namespace
}  // namespace vorlan::attractor
