#include "decode_plan.h"

#include <gtest/gtest.h>

#include <functional>

#include "fractal/uniform_quantizer.h"
#include "synthetic_code.h"

namespace vorlan::attractor {
namespace {

using test::MakeSyntheticCode;
using test::MakeTreeCode;
using test::SyntheticCode;

CodeArrays ArraysOf(const SyntheticCode& c, bool rectangles) {
  CodeArrays a;
  a.si = c.si;
  a.oi = c.oi;
  a.trn = c.trn;
  a.dp = c.dp;
  a.df = c.df;
  a.useRectangles = rectangles;
  a.rp = c.rp;
  a.rs = c.rs;
  a.rtd = c.rtd;
  a.rtt = c.rtt;
  return a;
}

std::string Build(const SyntheticCode& c, bool rectangles, DecodePlan& plan, int32_t rx = 1, int32_t ry = 1) {
  return BuildDecodePlan(c.header, ArraysOf(c, rectangles), rx, ry, plan);
}

TEST(DecodePlan, TreeIsRebuiltInPreOrder) {
  // Root cut into columns at 100; its left part cut into rows at 60.
  SyntheticCode c = MakeTreeCode(160, 128, {100, 60}, {1, 0}, 3);
  DecodePlan plan;
  ASSERT_EQ(Build(c, false, plan), "");
  ASSERT_EQ(plan.ranges.size(), 3u);
  auto rect = [&](size_t k) {
    const DecoderRange& r = plan.ranges[k];
    return std::vector<int32_t>{r.x, r.y, r.width, r.height};
  };
  EXPECT_EQ(rect(0), (std::vector<int32_t>{0, 0, 100, 60}));
  EXPECT_EQ(rect(1), (std::vector<int32_t>{0, 60, 100, 68}));
  EXPECT_EQ(rect(2), (std::vector<int32_t>{100, 0, 60, 128}));
  // Ranges without transform are filled with the middle of the value range.
  EXPECT_EQ(plan.ranges[0].offset, 127.5);
  EXPECT_FALSE(plan.ranges[0].hasTransform);

  // A one-range tree: RTD and RTT empty.
  SyntheticCode single = MakeTreeCode(7, 5, {}, {}, 1);
  ASSERT_EQ(Build(single, false, plan), "");
  ASSERT_EQ(plan.ranges.size(), 1u);
  EXPECT_EQ(plan.ranges[0].width, 7);
  EXPECT_EQ(plan.ranges[0].height, 5);
}

TEST(DecodePlan, TransformsComeFromTheEncodersQuantisersAndGrid) {
  SyntheticCode c = MakeTreeCode(64, 64, {32}, {0}, 2);
  c.header.maxScale = 1.0;
  c.header.scaleLevels = 5;     // -1, -0.5, 0, 0.5, 1
  c.header.offsetLevels = 256;  // over [-255, 510] for [0, 255]
  c.header.stepX = 8;
  c.header.stepY = 4;
  c.si = {3, 0};
  c.oi = {0, 255};
  c.trn = {1 | 4, 2};
  c.dp = {2, 0, 0, 0};
  c.df = {1, 1, 1, 2};
  DecodePlan plan;
  ASSERT_EQ(Build(c, false, plan), "");
  const DecoderRange& top = plan.ranges[0];  // 64 x 32, turned
  EXPECT_EQ(top.scale, 0.5);
  EXPECT_EQ(top.offset, -255.0);
  EXPECT_EQ(top.rotate, 1);
  EXPECT_EQ(top.reverseRows, 0);
  EXPECT_EQ(top.reverseColumns, 1);
  EXPECT_EQ(top.dx, 16);
  EXPECT_EQ(top.dy, 0);
  EXPECT_EQ(top.domainWidth, 32) << "fx x range height when turned";
  EXPECT_EQ(top.domainHeight, 64) << "fy x range width when turned";
  const DecoderRange& bottom = plan.ranges[1];
  EXPECT_EQ(bottom.scale, -1.0);
  fractal::UniformQuantizer offsets;
  ASSERT_TRUE(offsets.Build(-255.0, 510.0, 256));
  EXPECT_EQ(bottom.offset, offsets.Level(255)) << "the last level comes from repeated addition";
  EXPECT_EQ(bottom.reverseRows, 1);
  EXPECT_EQ(plan.maxAbsScale, 1.0);
}

TEST(DecodePlan, LevelsWithoutTableMatchTheTableBitForBit) {
  const int32_t levels = 3'000'000;  // above the table limit
  const std::vector<int32_t> indices = {levels - 1, 0, 17, 1'234'567, 17, 2'999'998};
  fractal::UniformQuantizer table;
  ASSERT_TRUE(table.Build(-510.0, 765.0, levels));
  const std::vector<double> walked = QuantizerLevels(-510.0, 765.0, levels, indices);
  for (size_t k = 0; k < indices.size(); ++k) EXPECT_EQ(walked[k], table.Level(indices[k])) << indices[k];
}

TEST(DecodePlan, ResolutionFactorsScaleRangesAndDomainsButNotShrinkFactors) {
  test::SyntheticOptions o;
  o.width = 32;
  o.height = 32;
  o.blankShare = 0.0;
  const SyntheticCode c = MakeSyntheticCode(o);
  DecodePlan one, two;
  ASSERT_EQ(Build(c, false, one), "");
  ASSERT_EQ(Build(c, false, two, 2, 2), "");
  EXPECT_EQ(two.width, 64);
  EXPECT_EQ(two.height, 64);
  for (size_t k = 0; k < one.ranges.size(); ++k) {
    const DecoderRange& a = one.ranges[k];
    const DecoderRange& b = two.ranges[k];
    EXPECT_TRUE(b.x == 2 * a.x && b.y == 2 * a.y && b.width == 2 * a.width && b.height == 2 * a.height);
    EXPECT_TRUE(b.dx == 2 * a.dx && b.dy == 2 * a.dy && b.domainWidth == 2 * a.domainWidth &&
                b.domainHeight == 2 * a.domainHeight && b.fx == a.fx && b.fy == a.fy)
        << "range " << k;
  }

  // Unequal factors change the shape of a turned domain; it stays inside.
  SyntheticCode turned = MakeTreeCode(16, 16, {4}, {0}, 2);
  turned.si = {0, -1};
  turned.oi = {0, -1};
  turned.trn = {1, 0};
  turned.dp = {1, 0, 0, 0};  // x = 8 of a 4 x 16 domain
  turned.df = {1, 1, 0, 0};
  DecodePlan tall;
  ASSERT_EQ(Build(turned, false, tall, 1, 3), "");
  const DecoderRange& r = tall.ranges[0];
  EXPECT_EQ(r.height, 12);
  EXPECT_EQ(r.domainWidth, 12) << "fx x the scaled range height";
  EXPECT_EQ(r.domainHeight, 16);
  EXPECT_EQ(r.dx, 4) << "moved back inside the output";
  EXPECT_LE(r.dy + r.domainHeight, tall.height);
}

// Each malformed code is refused with a reason that says what is wrong.
TEST(DecodePlan, MalformedCodesAreRefusedWithAReason) {
  test::SyntheticOptions o;
  o.blankShare = 0.0;
  const SyntheticCode good = MakeSyntheticCode(o);
  struct Case {
    const char* what;
    std::function<void(SyntheticCode&)> spoil;
    bool rectangles;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"short SI", [](SyntheticCode& c) { c.si.pop_back(); }, false, "SI holds"},
      {"long OI", [](SyntheticCode& c) { c.oi.push_back(0); }, true, "OI holds"},
      {"odd DP", [](SyntheticCode& c) { c.dp.pop_back(); }, false, "DP holds"},
      {"DF for fewer ranges", [](SyntheticCode& c) { c.df.resize(c.df.size() - 2); }, false, "DF holds"},
      {"scale index past the table", [](SyntheticCode& c) { c.si[3] = c.header.scaleLevels; }, false,
       "scale index"},
      {"offset index -2", [](SyntheticCode& c) { c.oi[0] = -2; }, false, "offset index"},
      {"only one index -1", [](SyntheticCode& c) { c.si[1] = -1; }, false, "scale index -1"},
      {"isometry 8", [](SyntheticCode& c) { c.trn[2] = 8; }, false, "isometry 8"},
      {"shrink factor 0", [](SyntheticCode& c) { c.df[1] = 0; }, false, "shrink factors"},
      {"domain past the right edge", [](SyntheticCode& c) { c.dp[0] = c.header.width / c.header.stepX; }, false,
       "domain"},
      {"negative domain", [](SyntheticCode& c) { c.dp[1] = -1; }, false, "domain"},
      {"grid step overflow", [](SyntheticCode& c) { c.dp[0] = 1 << 30, c.header.stepX = 1 << 30; }, false,
       "domain"},
      {"direction 2", [](SyntheticCode& c) { c.rtt[0] = 2; }, false, "direction"},
      {"cut at the side", [](SyntheticCode& c) { c.rtd[0] = c.header.height; }, false, "cut"},
      {"negative cut", [](SyntheticCode& c) { c.rtd[0] = -4; }, false, "cut"},
      {"fewer directions than cuts", [](SyntheticCode& c) { c.rtt.pop_back(); }, false, "directions"},
      {"more directions than cuts", [](SyntheticCode& c) { c.rtt.push_back(0); }, false, "RTT holds"},
      {"cut entries beyond the tree", [](SyntheticCode& c) { c.rtd.insert(c.rtd.end(), 500, 0); }, false,
       "beyond"},
      {"RP and RS differ", [](SyntheticCode& c) { c.rs.resize(c.rs.size() - 2); }, true, "RP holds"},
      {"range outside", [](SyntheticCode& c) { c.rp[4] = c.header.width; }, true, "not inside"},
      {"empty range", [](SyntheticCode& c) { c.rs[1] = 0; }, true, "not inside"},
      {"no ranges", [](SyntheticCode& c) { c.rp.clear(), c.rs.clear(); }, true, "no ranges"},
      {"one scale level", [](SyntheticCode& c) { c.header.scaleLevels = 1, c.si.assign(c.si.size(), 0); }, false,
       "at least 2"},
  };
  for (const Case& k : cases) {
    SyntheticCode c = good;
    k.spoil(c);
    DecodePlan plan;
    const std::string reason = Build(c, k.rectangles, plan);
    EXPECT_NE(reason.find(k.expected), std::string::npos) << k.what << ": got \"" << reason << "\"";
  }
  DecodePlan plan;
  EXPECT_EQ(Build(good, false, plan), "") << "the unspoilt code decodes";
  EXPECT_NE(Build(good, false, plan, 40000, 40000).find("too large"), std::string::npos);
}

TEST(DecodePlan, HeaderIsCheckedBeforeUse) {
  SyntheticCode c = MakeTreeCode(8, 8, {}, {}, 1);
  std::vector<uint8_t> bytes = c.HeaderBytes();
  fractal::CodeHeader h{};
  EXPECT_EQ(ParseHeader(bytes.data(), 48, h), "");
  EXPECT_EQ(h.width, 8);
  EXPECT_NE(ParseHeader(bytes.data(), 47, h), "");
  EXPECT_NE(ParseHeader(nullptr, 48, h), "");
  c.header.height = 0;
  bytes = c.HeaderBytes();
  EXPECT_NE(ParseHeader(bytes.data(), 48, h).find("0 pixels"), std::string::npos);
  c.header.height = 8;
  c.header.hi = std::numeric_limits<double>::infinity();
  bytes = c.HeaderBytes();
  EXPECT_NE(ParseHeader(bytes.data(), 48, h).find("finite"), std::string::npos);

  // Bounds no encoder writes, which would decode to a flat black or white.
  const auto refused = [&](double lo, double hi, double maxScale) {
    c.header.lo = lo;
    c.header.hi = hi;
    c.header.maxScale = maxScale;
    bytes = c.HeaderBytes();
    return ParseHeader(bytes.data(), 48, h);
  };
  EXPECT_NE(refused(0, 255, 1e300).find("scale bound 1e+300"), std::string::npos);
  EXPECT_NE(refused(0, 255, 0.0).find("scale bound"), std::string::npos);
  EXPECT_NE(refused(0, 255, -1.0).find("scale bound"), std::string::npos);
  EXPECT_NE(refused(255, 0, 1.0).find("value range"), std::string::npos);
  EXPECT_NE(refused(-1e308, 1e308, 1.0).find("value range"), std::string::npos);
  EXPECT_NE(refused(0, 1e300, 3e38).find("not finite"), std::string::npos);
  EXPECT_EQ(refused(0, 255, 3e38), "") << "the largest float32 setting still decodes";
}

TEST(DecodePlan, CopiesSettleUnlessTheyReachACycleOfCopies) {
  // A row of 1 x 1 ranges; range k copies range k + 1 at scale 1. The last
  // one maps the whole row at scale 0.5 (it contracts), so the chain settles
  // back to front however long it is.
  const int32_t n = 4096;
  DecodePlan plan;
  plan.width = n;
  plan.height = 1;
  for (int32_t k = 0; k < n; ++k) {
    DecoderRange r;
    r.x = k;
    r.width = r.height = 1;
    r.hasTransform = true;
    r.scale = 1.0;
    r.dx = k + 1;
    r.domainWidth = r.domainHeight = 1;
    plan.ranges.push_back(r);
  }
  DecoderRange& last = plan.ranges.back();
  last.scale = 0.5;
  last.dx = 0;
  last.fx = 2;
  last.domainWidth = 2;
  EXPECT_EQ(FirstNonConverging(plan), -1);
  // Two copies of each other at scale -1 and +1 in the middle: they, and
  // every copy before them, never settle; the first one is named.
  plan.ranges[2000].dx = 2001;
  plan.ranges[2001].dx = 2000;
  plan.ranges[2001].scale = -1.0;
  EXPECT_EQ(FirstNonConverging(plan), 0);
  // A copy of itself is a cycle too; a scale just inside 1 contracts.
  plan.ranges[2001].dx = 2002;
  plan.ranges[2001].scale = 1.0;
  plan.ranges[3000].dx = 3000;
  EXPECT_EQ(FirstNonConverging(plan), 0);
  plan.ranges[3000].scale = 0.999;
  EXPECT_EQ(FirstNonConverging(plan), -1);
}

}  // namespace
}  // namespace vorlan::attractor
