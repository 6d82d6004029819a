#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "fractal/code_layout.h"
#include "fractal/range_tree.h"
#include "fractal/uniform_quantizer.h"

namespace vorlan::fractal {
namespace {

TEST(UniformQuantizer, LevelsEndsTiesAndBadValues) {
  UniformQuantizer q;
  ASSERT_TRUE(q.Build(0.0, 10.0, 11));
  EXPECT_EQ(q.Levels(), 11);
  double v = 0;
  EXPECT_EQ(q.Quantize(-5.0, v), 0);
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(q.Quantize(50.0, v), 10);
  EXPECT_EQ(q.Quantize(3.49), 3);
  EXPECT_EQ(q.Quantize(3.5), 4) << "a value halfway between two levels takes the upper one";
  EXPECT_EQ(q.Quantize(std::nan("")), 0);
  EXPECT_EQ(q.Quantize(std::numeric_limits<double>::infinity()), 0);

  // Levels come from repeated addition, not lo + k*e: both sides of the
  // codec must hold the same doubles.
  ASSERT_TRUE(q.Build(-1.0, 1.0, 256));
  double level = -1.0;
  for (int k = 1; k < 256; ++k) level += 2.0 / 255;
  EXPECT_EQ(q.Level(255), level);
  EXPECT_EQ(q.Quantize(0.0, v), 128) << "0 lies halfway between levels 127 and 128";

  UniformQuantizer flat;
  ASSERT_TRUE(flat.Build(2.0, 2.0, 4));
  EXPECT_EQ(flat.Quantize(2.0), 0);
  EXPECT_EQ(flat.Quantize(3.0), 3);
  EXPECT_FALSE(flat.Build(0.0, 1.0, 1));
  EXPECT_FALSE(flat.Build(0.0, std::numeric_limits<double>::infinity(), 8));
}

std::vector<RangeRect> Rebuild(int w, int h, std::vector<int32_t> rtd, std::vector<int32_t> rtt, std::string* why = nullptr) {
  RangeTree tree;
  std::string reason;
  if (!RebuildTree(tree, w, h, rtd.data(), static_cast<int32_t>(rtd.size()), rtt.data(),
                   static_cast<int32_t>(rtt.size()), reason)) {
    if (why) *why = reason;
    return {};
  }
  return RangesOf(tree);
}

bool Same(const RangeRect& r, int x, int y, int w, int h) {
  return r.x == x && r.y == y && r.width == w && r.height == h;
}

TEST(CodeLayout, TreeRebuildFollowsPreOrder) {
  auto one = Rebuild(256, 256, {}, {});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_TRUE(Same(one[0], 0, 0, 256, 256));

  auto two = Rebuild(256, 256, {128}, {0});
  ASSERT_EQ(two.size(), 2u);
  EXPECT_TRUE(Same(two[0], 0, 0, 256, 128));
  EXPECT_TRUE(Same(two[1], 0, 128, 256, 128));

  // Columns at 100, its left part cut by rows at 60: trimmed and untrimmed
  // forms give the same three ranges.
  for (auto rtd : {std::vector<int32_t>{100, 60}, std::vector<int32_t>{100, 60, 0, 0, 0}}) {
    auto three = Rebuild(200, 150, rtd, {1, 0});
    ASSERT_EQ(three.size(), 3u);
    EXPECT_TRUE(Same(three[0], 0, 0, 100, 60));
    EXPECT_TRUE(Same(three[1], 0, 60, 100, 90));
    EXPECT_TRUE(Same(three[2], 100, 0, 100, 150));
  }

  // A cut in the second subtree after a leaf zero.
  auto deep = Rebuild(64, 64, {32, 0, 16}, {0, 1});
  ASSERT_EQ(deep.size(), 3u);
  EXPECT_TRUE(Same(deep[0], 0, 0, 64, 32));
  EXPECT_TRUE(Same(deep[1], 0, 32, 16, 32));
  EXPECT_TRUE(Same(deep[2], 16, 32, 48, 32));
}

TEST(CodeLayout, MalformedTreesAreRefused) {
  std::string why;
  EXPECT_TRUE(Rebuild(64, 64, {64}, {0}, &why).empty()) << "cut at the full side";
  EXPECT_TRUE(Rebuild(64, 64, {-3}, {0}, &why).empty());
  EXPECT_TRUE(Rebuild(64, 64, {10}, {2}, &why).empty()) << "unknown direction";
  EXPECT_TRUE(Rebuild(64, 64, {10, 5}, {0}, &why).empty()) << "RTT too short";
  EXPECT_TRUE(Rebuild(64, 64, {10, 0, 0, 7}, {0}, &why).empty()) << "entries after the last range";
  EXPECT_FALSE(why.empty());
  EXPECT_TRUE(Rebuild(0, 64, {}, {}, &why).empty());
}

TEST(CodeLayout, OffsetBounds) {
  EXPECT_EQ(OffsetMax(0, 255, 1.0), 510.0);
  EXPECT_EQ(OffsetMin(0, 255, 1.0), -255.0);
  EXPECT_EQ(OffsetMax(-1, 1, 0.5), 1.5);
  EXPECT_EQ(OffsetMin(-1, 1, 0.5), -1.5);
}

}  // namespace
}  // namespace vorlan::fractal
