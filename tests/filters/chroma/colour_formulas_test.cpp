#include "colour_formulas.h"

#include <gtest/gtest.h>


namespace vorlan::chroma {
namespace {

void ExpectRgb(const Rgb& got, double r, double g, double b, double tolerance, const char* what) {
  EXPECT_NEAR(got[0], r, tolerance) << what << " R";
  EXPECT_NEAR(got[1], g, tolerance) << what << " G";
  EXPECT_NEAR(got[2], b, tolerance) << what << " B";
}

TEST(HexconeModels, HuesOfPrimariesAndMagentaAgreeInAllThreeModels) {
  struct Case {
    double r, g, b, hue;
    const char* name;
  };
  const Case cases[] = {{1, 0, 0, 0, "red"},
                        {0, 1, 0, 2 * kPi / 3, "green"},
                        {0, 0, 1, 4 * kPi / 3, "blue"},
                        {1, 0, 1, 5 * kPi / 3, "magenta (wrapped from -1)"},
                        {1, 1, 0, kPi / 3, "yellow (red wins the tie)"},
                        {0, 1, 1, kPi, "cyan (green wins the tie)"}};
  for (const Case& c : cases) {
    EXPECT_NEAR(HsvFromRgb(c.r, c.g, c.b)[0], c.hue, 1e-12) << "HSV " << c.name;
    EXPECT_NEAR(HlsFromRgb(c.r, c.g, c.b)[0], c.hue, 1e-12) << "HLS " << c.name;
    EXPECT_NEAR(HsiFromRgb(c.r, c.g, c.b)[0], c.hue, 1e-12) << "HSI " << c.name;
  }
  EXPECT_LT(HsvFromRgb(1, 0, 1e-9)[0], kTwoPi) << "hues stay below 2pi";
}

TEST(HexconeModels, GreyBlackAndWhiteHaveNoHueOrSaturation) {
  for (double v : {0.0, 0.3, 0.6, 0.7, 1.0}) {
    const Triple hsv = HsvFromRgb(v, v, v), hls = HlsFromRgb(v, v, v), hsi = HsiFromRgb(v, v, v);
    EXPECT_EQ(hsv[0], 0.0) << v;
    EXPECT_EQ(hsv[1], 0.0) << v;
    EXPECT_EQ(hsv[2], v);
    EXPECT_EQ(hls[0], 0.0) << v;
    EXPECT_EQ(hls[2], 0.0) << v;
    EXPECT_EQ(hls[1], v);
    // (0.3 + 0.3 + 0.3) / 3 rounds below 0.3; the pixel is still grey.
    EXPECT_EQ(hsi[0], 0.0) << v;
    EXPECT_EQ(hsi[1], 0.0) << v;
    EXPECT_NEAR(hsi[2], v, 1e-15);
  }
}

TEST(HexconeModels, InversesColourEveryHueIncludingTheEdges) {
  ExpectRgb(RgbFromHsv(kTwoPi, 1, 1), 1, 0, 0, 1e-9, "HSV hue 2pi is red");
  ExpectRgb(RgbFromHsv(-kPi / 3, 1, 1), 1, 0, 1, 1e-9, "HSV hue -pi/3 wraps to magenta");
  ExpectRgb(RgbFromHsv(kTwoPi + 2 * kPi / 3, 1, 1), 0, 1, 0, 1e-9, "HSV hue above 2pi wraps to green");
  ExpectRgb(RgbFromHls(kTwoPi, 0.5, 1), 1, 0, 0, 1e-9, "HLS hue 2pi is red");
  ExpectRgb(RgbFromHls(-kPi, 0.5, 1), 0, 1, 1, 1e-9, "HLS hue -pi wraps to cyan");
  ExpectRgb(RgbFromHsi(kTwoPi, 1, 1.0 / 3), 1, 0, 0, 1e-9, "HSI hue 2pi is red");
  ExpectRgb(RgbFromHsi(4 * kPi / 3 - kTwoPi, 1, 1.0 / 3), 0, 0, 1, 1e-9, "HSI hue wraps to blue");
  ExpectRgb(RgbFromHls(1.0, 1, 0.3), 1, 1, 1, 0, "HLS L = 1 is white");
  ExpectRgb(RgbFromHls(1.0, 0, 0.3), 0, 0, 0, 0, "HLS L = 0 is black");
  const Rgb nan = RgbFromHsv(std::nan(""), 1, 1);
  EXPECT_EQ(nan[0], 1.0) << "a NaN hue still yields a pixel";
}

TEST(Complements, CmykOfGreyAndItsInverse) {
  for (double c : {0.0, 0.25, 0.8, 1.0}) {
    const auto cmyk = CmykFromRgb(1 - c, 1 - c, 1 - c);
    EXPECT_DOUBLE_EQ(cmyk[3], 0.5 * c);
    for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(cmyk[k], 0.5 * c);
    ExpectRgb(RgbFromCmyk(cmyk[0], cmyk[1], cmyk[2], cmyk[3]), 1 - c, 1 - c, 1 - c, 1e-15, "grey");
  }
  const auto red = CmykFromRgb(1, 0, 0);
  EXPECT_EQ(red[0], 0.0);
  EXPECT_EQ(red[1], 1.0);
  EXPECT_EQ(red[2], 1.0);
  EXPECT_EQ(red[3], 0.0);
}

TEST(CieSpaces, DerivedRangesMatchTheirSixDigitFigures) {
  const CieRanges r = DeriveCieRanges();
  auto six = [](double expected) { return std::fabs(expected) * 5e-6; };
  EXPECT_EQ(r.l.whole.lo, 0.0);
  EXPECT_NEAR(r.l.whole.hi, 146.742, six(146.742));
  EXPECT_NEAR(r.l.linear.hi, 7.99962, six(7.99962));
  EXPECT_NEAR(r.fx.whole.lo, 0.137931, six(0.137931));
  EXPECT_NEAR(r.fx.whole.hi, 1.43693, six(1.43693));
  EXPECT_NEAR(r.fy.whole.hi, 1.40295, six(1.40295));
  EXPECT_NEAR(r.fz.whole.lo, -0.0578110, six(0.0578110));
  EXPECT_NEAR(r.fz.whole.hi, 1.46771, six(1.46771));
  EXPECT_NEAR(r.fx.linear.hi, 0.206893, six(0.206893));
  EXPECT_NEAR(r.fz.linear.lo, -0.0578110, six(0.0578110));
  EXPECT_NEAR(r.a.lo, -632.509, six(632.509));
  EXPECT_NEAR(r.a.hi, 649.502, six(649.502));
  EXPECT_NEAR(r.b.lo, -265.955, six(265.955));
  EXPECT_NEAR(r.b.hi, 292.152, six(292.152));
}

TEST(CieSpaces, PiecewiseRangeIncludesBothBranchesWhereverTheInterval) {
  auto cube = [](double t) { return std::pow(t, kRangeCubeRoot); };
  auto lin = [](double t) { return kLinearSlope * t + kLinearOffset; };
  // Entirely above t0: the linear branch still contributes, evaluated at the
  // interval's lower end and at t0, and here it dominates both ends.
  const PiecewiseRanges above = PiecewiseRange(Range{8, 1}, cube, lin);
  EXPECT_DOUBLE_EQ(above.whole.lo, lin(kT0));
  EXPECT_DOUBLE_EQ(above.whole.hi, lin(1.0));
  EXPECT_LT(std::pow(kT0, kRangeCubeRoot) - lin(kT0), 1e-6) << "the branches nearly meet at t0";
  EXPECT_DOUBLE_EQ(above.linear.lo, lin(kT0)) << "pairs are put in order";
}

TEST(CieSpaces, WhiteIsNotNeutralAndLightnessZeroIsBlack) {
  const Triple xyz = Apply(kXyz.forward, 1, 1, 1);
  EXPECT_NEAR(xyz[0], 0.928, 1e-12);
  EXPECT_NEAR(xyz[1], 0.909, 1e-12);
  EXPECT_NEAR(xyz[2], 1.123, 1e-12);
  const Triple lab = LabFromRgb(1, 1, 1);
  EXPECT_NEAR(lab[0], 146.742, 1e-3);
  EXPECT_NEAR(lab[1], 16.99, 5e-3);
  EXPECT_NEAR(lab[2], -12.17, 5e-3);

  const CieRanges ranges = DeriveCieRanges();
  ExpectRgb(LabToRgb(0, 0, 0, ranges), 0, 0, 0, 1e-15, "Lab L = 0");
  ExpectRgb(LuvToRgb(0, 0.7, -3, ranges), 0, 0, 0, 0, "Luv L = 0");
  const Triple black = LuvFromRgb(0, 0, 0);
  EXPECT_EQ(black[1], 0.0) << "D = 0 gives q = 0, not a division by zero";
}

}  // namespace
}  // namespace vorlan::chroma
