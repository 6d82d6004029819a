#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "partition/cut_rules.h"
#include "partition/hv_partition.h"

namespace vorlan::collage {
namespace {

using fractal::RangeNode;
using fractal::SplitDirection;

// An image, its tables and a partition over it.
struct Fixture {
  Fixture(int32_t w, int32_t h, std::vector<double> values, int32_t minRangeSize, int32_t mode = 0,
          int32_t maxRanges = 1)
      : samples(std::move(values)) {
    EXPECT_TRUE(sums.Build(samples.data(), w, h));
    EXPECT_TRUE(sequence.Build(w, h, 2, 3, 32, 32));
    HvPartition::Config c;
    c.mode = mode;
    c.minRangeSize = minRangeSize;
    c.maxRanges = maxRanges;
    partition = std::make_unique<HvPartition>(c, samples.data(), sums, sequence);
  }
  SplitDecision Decide(int32_t x, int32_t y, int32_t w, int32_t h) {
    RangeNode node;
    node.x = x;
    node.y = y;
    node.width = w;
    node.height = h;
    return partition->DecideSplit(node);
  }
  std::vector<double> samples;
  IntegralImage sums;
  DomainSequence sequence;
  std::unique_ptr<HvPartition> partition;
};

std::vector<double> Constant(int32_t w, int32_t h) { return std::vector<double>(static_cast<size_t>(w) * h, 7.0); }

TEST(DecideSplit, TiesAndHalfCutsOnFlatImages) {
  Fixture f(64, 64, Constant(64, 64), 4);
  SplitDecision d = f.Decide(0, 0, 16, 16);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.direction, SplitDirection::Rows) << "equal scores on a square node cut rows";
  EXPECT_EQ(d.position, 8);
  d = f.Decide(8, 8, 20, 12);
  EXPECT_EQ(d.direction, SplitDirection::Columns) << "equal scores on a wide node cut columns";
  EXPECT_EQ(d.position, 10);
  d = f.Decide(0, 0, 7, 7);
  EXPECT_FALSE(d.ok) << "both sides below twice the minimum";
  d = f.Decide(0, 0, 7, 9);
  EXPECT_TRUE(d.ok) << "a 7 x 9 node is cut across its height";
  EXPECT_EQ(d.direction, SplitDirection::Rows);
  EXPECT_EQ(d.position, 4);

  Fixture one(8, 8, Constant(8, 8), 1);
  d = one.Decide(0, 0, 2, 2);
  EXPECT_EQ(d.direction, SplitDirection::Rows);
  EXPECT_EQ(d.position, 1) << "position 0 becomes half of 2";
  d = one.Decide(0, 0, 1, 2);
  EXPECT_EQ(d.direction, SplitDirection::Rows);
  EXPECT_EQ(d.position, 1);
  EXPECT_FALSE(one.Decide(3, 3, 1, 1).ok);
}

TEST(DecideSplit, EdgesPickTheCutAndSmallSidesAreRaised) {
  // A vertical edge between columns 38 and 39 of a 40 x 6 node.
  std::vector<double> v(40 * 6, 10.0);
  for (int y = 0; y < 6; ++y) v[static_cast<size_t>(y) * 40 + 39] = 200.0;
  Fixture f(40, 6, v, 4);
  SplitDecision d = f.Decide(0, 0, 40, 6);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.direction, SplitDirection::Columns);
  EXPECT_EQ(d.position, 4) << "38 leaves 2 < 4 on the right, so the cut is raised to the minimum";

  // Horizontal edge between rows 5 and 6 of a 12 x 16 node: the cut falls
  // before row 5, which goes to the second child.
  std::vector<double> h(12 * 16, 0.0);
  for (int y = 6; y < 16; ++y)
    for (int x = 0; x < 12; ++x) h[static_cast<size_t>(y) * 12 + x] = 100.0;
  Fixture g(12, 16, h, 2);
  d = g.Decide(0, 0, 12, 16);
  EXPECT_EQ(d.direction, SplitDirection::Rows);
  EXPECT_EQ(d.position, 5);

  // One pixel high: the column multiplier is infinite. The edge at index 0
  // has bias 0 (not a number, never wins); the one at index 3 wins.
  Fixture line(8, 1, {0, 9, 9, 9, 5, 5, 5, 5}, 1);
  d = line.Decide(0, 0, 8, 1);
  EXPECT_EQ(d.direction, SplitDirection::Columns);
  EXPECT_EQ(d.position, 3);
}

TEST(AdvanceRange, SmallRootIsTheOnlyUncoveredLeaf) {
  Fixture f(7, 7, Constant(7, 7), 4, /*mode*/ 0);
  ASSERT_TRUE(f.partition->Start());
  RangeNode* root = f.partition->Current();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->id, 0);
  EXPECT_DOUBLE_EQ(root->sum, 7.0 * 49);
  EXPECT_EQ(f.partition->AdvanceRange(), kAdvanceFinished);
  EXPECT_FALSE(f.partition->CoverComplete());
  ASSERT_EQ(f.partition->Pool().size(), 1u);
  EXPECT_EQ(f.partition->Pool()[0]->done, 1);
  EXPECT_DOUBLE_EQ(f.partition->Progress(), 1.0);
}

TEST(AdvanceRange, SizeModeSplitsUnsetRangesFirstAndStopsAtTheTarget) {
  Fixture f(32, 32, Constant(32, 32), 4, /*mode*/ 1);
  ASSERT_TRUE(f.partition->Start());
  // maxRanges 1: the searched root is pooled and encoding ends.
  EXPECT_EQ(f.partition->AdvanceRange(), kAdvanceFinished);
  EXPECT_EQ(f.partition->Pool().size(), 1u);
  EXPECT_EQ(f.partition->RangeCounter(), 1);
}

// Rows 0 .. k-1 dark, rows k .. h-1 bright: the edge lies between rows
// k - 1 and k.
std::vector<double> Stripe(int32_t w, int32_t h, int32_t k) {
  std::vector<double> v(static_cast<size_t>(w) * h, 20.0);
  for (int32_t y = k; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) v[static_cast<size_t>(y) * w + x] = 220.0;
  return v;
}

TEST(CutRules, LeastErrorCutsOnTheEdgeAndMovesToTheNearestValidPosition) {
  for (int32_t k : {5, 9, 12}) {
    for (int32_t mode : {0, 1, 2}) {
      Fixture f(16, 24, Stripe(16, 24, k), 2, mode);
      const SplitDecision d = f.Decide(0, 0, 16, 24);
      ASSERT_TRUE(d.ok);
      EXPECT_EQ(d.direction, SplitDirection::Rows);
      EXPECT_EQ(d.position, mode == 2 ? k : k - 1) << "edge at " << k << ", mode " << mode;
    }
  }
  // Edges too near an end: modes 0 and 1 raise the cut to minRangeSize from
  // the top, Least error moves it to the nearest allowed position.
  Fixture nearBottom(16, 24, Stripe(16, 24, 22), 4, 2);
  EXPECT_EQ(nearBottom.Decide(0, 0, 16, 24).position, 20);
  Fixture nearBottomSize(16, 24, Stripe(16, 24, 22), 4, 1);
  EXPECT_EQ(nearBottomSize.Decide(0, 0, 16, 24).position, 4);
  Fixture nearTop(16, 24, Stripe(16, 24, 2), 4, 2);
  EXPECT_EQ(nearTop.Decide(0, 0, 16, 24).position, 4);
  // A flat range is halved; a side below twice the minimum turns the cut.
  Fixture flat(64, 64, Constant(64, 64), 4, 2);
  SplitDecision d = flat.Decide(0, 0, 20, 12);
  EXPECT_EQ(d.direction, SplitDirection::Columns);
  EXPECT_EQ(d.position, 10);
  d = flat.Decide(0, 0, 7, 9);
  EXPECT_EQ(d.direction, SplitDirection::Rows);
  EXPECT_EQ(d.position, 4);
  EXPECT_FALSE(flat.Decide(0, 0, 7, 7).ok);
}

TEST(CutRules, LeastDeviationCutSeparatesTheTwoLevels) {
  std::vector<double> v = Stripe(16, 24, 7);
  IntegralImage sums;
  ASSERT_TRUE(sums.Build(v.data(), 16, 24));
  RangeNode node;
  node.width = 16;
  node.height = 24;
  const LeastDeviationCut rule;
  SplitDecision d = rule.Decide(node, sums, 2);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.direction, SplitDirection::Rows);
  EXPECT_EQ(d.position, 7);
  d = rule.Decide(node, sums, 8);
  EXPECT_EQ(d.position, 8) << "the nearest allowed cut to the edge";
  // Flat: every cut costs nothing, the even one is taken.
  std::vector<double> flat = Constant(16, 24);
  ASSERT_TRUE(sums.Build(flat.data(), 16, 24));
  d = rule.Decide(node, sums, 2);
  EXPECT_EQ(d.position, 12);
  node.width = node.height = 3;
  EXPECT_FALSE(rule.Decide(node, sums, 2).ok);
}

TEST(SplitChoice, LeastErrorCutsWhereMostSquaredErrorIs) {
  // The root of a 32 x 32 stripe is cut near row 6 into a small top range
  // and a large bottom one. With the top's RMS error at 20 and the bottom's
  // at 10, Size mode cuts the top next and Least error the bottom (10² x 26
  // rows outweighs 20² x 6).
  for (int32_t mode : {1, 2}) {
    Fixture f(32, 32, Stripe(32, 32, 6), 2, mode, /*maxRanges*/ 3);
    ASSERT_TRUE(f.partition->Start());
    f.partition->Current()->error = 5.0;
    ASSERT_EQ(f.partition->AdvanceRange(), kAdvanceNewRange);
    RangeNode* top = f.partition->Current();
    top->error = 20.0;
    ASSERT_EQ(f.partition->AdvanceRange(), kAdvanceNewRange);
    RangeNode* bottom = f.partition->Current();
    ASSERT_LT(top->height, bottom->height);
    bottom->error = 10.0;
    ASSERT_EQ(f.partition->AdvanceRange(), kAdvanceNewRange);
    EXPECT_EQ(f.partition->Current()->parent, mode == 2 ? bottom : top) << "mode " << mode;
  }
}

TEST(SplitChoice, LeastErrorWeighsTheAreaSizeModeDoesNot) {
  std::vector<RangeNode> ranges(2);
  ranges[0].width = ranges[0].height = 32;  // large, moderate RMS error
  ranges[0].error = 6.0;
  ranges[1].width = ranges[1].height = 4;  // tiny, higher RMS error
  ranges[1].error = 20.0;
  std::vector<RangeNode*> pool = {&ranges[1], &ranges[0]};
  EXPECT_EQ(pool[LargestSquaredError().Choose(pool)], &ranges[0]);
  EXPECT_EQ(pool[LargestRmsError().Choose(pool)], &ranges[1]);
  // A range without a transform comes first in both.
  RangeNode unset;
  unset.width = unset.height = 2;
  unset.error = -1.0;
  pool.push_back(&unset);
  EXPECT_EQ(pool[LargestSquaredError().Choose(pool)], &unset);
  EXPECT_EQ(pool[LargestRmsError().Choose(pool)], &unset);
}

TEST(SplitChoice, TheWeightTreeFindsWhatAScanFromTheFirstWeightFinds) {
  // The scan the tree stands for: the first weight, replaced only by larger ones.
  auto scan = [](const std::vector<double>& w) {
    size_t chosen = 0;
    for (size_t k = 1; k < w.size(); ++k) {
      if (w[k] > w[chosen]) chosen = k;
    }
    return chosen;
  };
  std::mt19937 rng(7);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Few distinct values, so that ties are common; a not-a-number now and then.
  auto draw = [&] {
    const int v = static_cast<int>(rng() % 9);
    return v == 8 ? nan : static_cast<double>(v);
  };
  HeaviestTree tree;
  std::vector<double> weights;
  for (int step = 0; step < 20000; ++step) {
    const uint32_t what = rng() % 8;
    if (weights.empty() || what < 4) {
      const double w = draw();
      tree.PushBack(w);
      weights.push_back(w);
    } else if (what < 6) {
      const size_t k = rng() % weights.size();
      const double w = draw();
      tree.Set(k, w);
      weights[k] = w;
    } else {
      // Taking a range out: the last one moves into its place.
      const size_t k = rng() % weights.size();
      tree.Set(k, tree.Weight(tree.Size() - 1));
      tree.PopBack();
      weights[k] = weights.back();
      weights.pop_back();
    }
    ASSERT_EQ(tree.Size(), weights.size());
    if (!weights.empty()) {
      ASSERT_EQ(tree.Heaviest(), scan(weights)) << "step " << step;
    }
    if (step == 10000) {
      tree.Clear();
      weights.clear();
    }
  }
}

}  // namespace
}  // namespace vorlan::collage
