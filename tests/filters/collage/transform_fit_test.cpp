#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "search/domain_sequence.h"
#include "search/encoder_search.h"
#include "search/transform_fit.h"

namespace vorlan::collage {
namespace {

using fractal::DomainCandidate;
using fractal::RangeNode;

TEST(DomainSequence, WalksPositionsThenFactorsThenRotation) {
  DomainSequence seq;
  ASSERT_TRUE(seq.Build(10, 5, 2, 3, 4, 3));
  ASSERT_EQ(seq.EntriesPerPosition(), 8);
  std::vector<DomainCandidate> all;
  DomainCandidate c;
  while (seq.Next(c)) all.push_back(c);
  ASSERT_EQ(all.size(), 3u * 2u * 8u);  // dx 0, 4, 8; dy 0, 3
  const int expectFactors[8][3] = {{2, 2, 0}, {2, 2, 1}, {2, 3, 0}, {2, 3, 1},
                                   {3, 2, 0}, {3, 2, 1}, {3, 3, 0}, {3, 3, 1}};
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(all[k].fx, expectFactors[k][0]);
    EXPECT_EQ(all[k].fy, expectFactors[k][1]);
    EXPECT_EQ(all[k].rotate, expectFactors[k][2]);
    EXPECT_EQ(all[k].dx, 0);
  }
  EXPECT_EQ(all[8].dx, 4);
  EXPECT_EQ(all[16].dx, 8);
  EXPECT_EQ(all[24].dx, 0);
  EXPECT_EQ(all[24].dy, 3);
  EXPECT_TRUE(seq.Exhausted());
  EXPECT_FALSE(seq.Next(c));
  seq.Rewind();
  ASSERT_TRUE(seq.Next(c));
  EXPECT_EQ(c.dx, 0);
  EXPECT_EQ(c.dy, 0);
}

// The averaged block of a candidate straight from the pixels.
double DirectBlock(const std::vector<double>& img, int W, const DomainCandidate& c, int w, int i, int j) {
  const int bx = c.rotate ? c.dx + i * c.fx : c.dx + j * c.fx;
  const int by = c.rotate ? c.dy + (w - 1 - j) * c.fy : c.dy + i * c.fy;
  double s = 0;
  for (int v = 0; v < c.fy; ++v)
    for (int u = 0; u < c.fx; ++u) s += img[static_cast<size_t>(by + v) * W + bx + u];
  return s / (c.fx * c.fy);
}

TEST(TransformFit, BlockCrossSumsAndErrorMatchTheDirectSums) {
  const int W = 40, H = 30;
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> dist(0.0, 255.0);
  std::vector<double> img(W * H);
  for (auto& v : img) v = dist(rng);
  IntegralImage sums;
  ASSERT_TRUE(sums.Build(img.data(), W, H));
  fractal::UniformQuantizer scales, offsets;
  ASSERT_TRUE(scales.Build(-1, 1, 256));
  ASSERT_TRUE(offsets.Build(-255, 510, 256));
  const FitContext fit{&scales, &offsets, -1.0, 1.0};

  RangeNode range;
  range.x = 3, range.y = 5, range.width = 7, range.height = 5;
  range.view.origin = img.data() + range.y * W + range.x;
  range.view.stride = W;
  range.sum = sums.BoxSum(3, 5, 7, 5);
  range.squareSum = sums.BoxSquareSum(3, 5, 7, 5);
  RangeBlock block;
  ASSERT_TRUE(block.Load(range));
  const int w = 7, h = 5;

  AveragedBlocks averages;
  ASSERT_TRUE(averages.Build(sums, 2, 3, 1 << 24));
  for (int variant = 0; variant < 4; ++variant) {
    const int rotate = variant & 1;
    const AveragedBlocks* tables = variant < 2 ? nullptr : &averages;
    DomainCandidate c;
    c.dx = 2, c.dy = 4, c.fx = 2, c.fy = 3, c.rotate = rotate;
    std::vector<double> d(w * h), line(w + 1);
    ASSERT_TRUE(BuildDomainBlock(sums, tables, w, h, c, d.data(), line.data(), StopFlags{}));
    EXPECT_EQ(c.domainWidth, rotate ? 10 : 14);
    EXPECT_EQ(c.domainHeight, rotate ? 21 : 15);
    double sumD = 0;
    for (int i = 0; i < h; ++i)
      for (int j = 0; j < w; ++j) {
        const double expect = DirectBlock(img, W, c, w, i, j);
        EXPECT_NEAR(d[i * w + j], expect, 1e-9) << "rotate " << rotate << " at " << i << "," << j;
        sumD += expect;
      }
    double cross[4];
    CrossSums(d.data(), block, c.sum, c.squareSum, cross);
    EXPECT_NEAR(c.sum, sumD, 1e-7);
    for (int o = 0; o < 4; ++o) {
      const bool rr = o & 2, rc = o & 1;
      double x = 0;
      for (int i = 0; i < h; ++i)
        for (int j = 0; j < w; ++j)
          x += img[(range.y + i) * W + range.x + j] * d[(rr ? h - 1 - i : i) * w + (rc ? w - 1 - j : j)];
      EXPECT_NEAR(cross[o], x, 1e-6) << "orientation " << o;
      // The closed-form error equals the RMS of the quantised map.
      const double rms = Fit(fit, range, cross[o], c);
      ASSERT_GE(rms, 0.0);
      double se = 0, worst = 0;
      for (int i = 0; i < h; ++i)
        for (int j = 0; j < w; ++j) {
          const double diff = img[(range.y + i) * W + range.x + j] -
                              (c.scale * d[(rr ? h - 1 - i : i) * w + (rc ? w - 1 - j : j)] + c.offset);
          se += diff * diff;
          worst = std::max(worst, std::fabs(diff));
        }
      EXPECT_NEAR(rms, std::sqrt(se / (w * h)), 1e-6);
      EXPECT_NEAR(MaxDifference(d.data(), block, o, c), worst, 1e-9);
    }
  }
}

TEST(TransformFit, FlatBlockTakesZeroScaleAndTheMeanAsOffset) {
  std::vector<double> img(16 * 16, 50.0);
  for (int k = 0; k < 16; ++k) img[k] = 10.0 + k;  // a varied range in row 0
  IntegralImage sums;
  ASSERT_TRUE(sums.Build(img.data(), 16, 16));
  fractal::UniformQuantizer scales, offsets;
  ASSERT_TRUE(scales.Build(-1, 1, 256));
  ASSERT_TRUE(offsets.Build(-255, 510, 256));
  RangeNode range;
  range.width = 4, range.height = 1;
  range.sum = 10 + 11 + 12 + 13;
  range.squareSum = 100 + 121 + 144 + 169;
  DomainCandidate c;
  c.sum = 4 * 50.0;
  c.squareSum = 4 * 2500.0;  // den = 4 * 10000 - 200^2 = 0
  const double rms = Fit(FitContext{&scales, &offsets, -1, 1}, range, 0.0, c);
  double zeroScale;
  EXPECT_EQ(c.scaleIndex, scales.Quantize(0.0, zeroScale));
  EXPECT_EQ(c.scale, zeroScale);
  double meanOffset;
  EXPECT_EQ(c.offsetIndex, offsets.Quantize(11.5, meanOffset));
  EXPECT_EQ(c.offset, meanOffset);
  EXPECT_GE(rms, 0.0);
  EXPECT_FALSE(std::isnan(rms));

  // A flat block of a value without an exact binary form: the rounded sums
  // must still be read as a flat block.
  std::vector<double> flat(7 * 5, 0.1);
  RangeBlock rangeBlock;
  std::vector<double> rangeValues = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                     22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35};
  RangeNode wide;
  wide.width = 7, wide.height = 5;
  wide.view.origin = rangeValues.data();
  wide.view.stride = 7;
  wide.sum = 630;
  wide.squareSum = 14910;
  ASSERT_TRUE(rangeBlock.Load(wide));
  DomainCandidate flatCandidate;
  double cross[4];
  CrossSums(flat.data(), rangeBlock, flatCandidate.sum, flatCandidate.squareSum, cross);
  ASSERT_GE(Fit(FitContext{&scales, &offsets, -1, 1}, wide, cross[0], flatCandidate), 0.0);
  EXPECT_EQ(flatCandidate.scaleIndex, scales.Quantize(0.0));
  EXPECT_EQ(flatCandidate.offsetIndex, offsets.Quantize(18.0));

  // A quantised scale beyond the bound rejects the candidate untouched.
  DomainCandidate before = c;
  c.squareSum = 4 * 2600.0;  // den = 1600: the fitted scale is huge
  const double rejected = Fit(FitContext{&scales, &offsets, -0.5, 0.5}, range, 1e6, c);
  EXPECT_EQ(rejected, -1.0);
  EXPECT_EQ(c.scaleIndex, before.scaleIndex);
}

TEST(EncoderSearch, StaleResultsAreDropped) {
  std::vector<double> img(64 * 64);
  for (size_t k = 0; k < img.size(); ++k) img[k] = static_cast<double>(k % 61);
  FractalEncoderSettings s;
  s.maxError = 0.0f;
  EncoderSearch search;
  std::string reason;
  ASSERT_EQ(search.Prepare(s, img.data(), 64, 64, 0, 255, reason), Ok) << reason;
  RangeNode* root = search.Partition().Current();
  ASSERT_NE(root, nullptr);
  DomainCandidate c;
  RangeNode* range = nullptr;
  // The root has no fitting domain: Request walks its sequence, cuts it and
  // hands out a candidate of the first child.
  EXPECT_EQ(search.Request(c, range), kRangeFinished);
  ASSERT_NE(range, root);
  EXPECT_LT(range->Area(), root->Area());
  EXPECT_EQ(search.Submit(0.0, -1.0, c, root, false), kRangeFinished) << "root is no longer current";
  EXPECT_EQ(root->error, -1.0);
  EXPECT_EQ(root->best.scaleIndex, -1);

  c.scaleIndex = 3;
  EXPECT_EQ(search.Submit(5.0, -1.0, c, range, false), kGoOn);
  EXPECT_EQ(range->error, 5.0);
  EXPECT_EQ(range->best.scaleIndex, 3);
  RangeNode* closed = range;
  EXPECT_EQ(search.Submit(1.0, -1.0, c, range, true), kRangeFinished) << "the last candidate closes the range";
  EXPECT_EQ(closed->error, 1.0);
  c.scaleIndex = 9;
  EXPECT_EQ(search.Submit(0.5, -1.0, c, closed, false), kRangeFinished);
  EXPECT_EQ(closed->error, 1.0) << "a late result never changes a closed range";
  EXPECT_EQ(closed->best.scaleIndex, 3);
}

}  // namespace
}  // namespace vorlan::collage
