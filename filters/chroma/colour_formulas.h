// Per-pixel colour-space formulas on normalised values. Every function here
// takes the values the conversion expects (already mapped onto its input
// ranges) and returns the raw outputs before they are mapped onto [0, 1].
// Nothing is clamped: values outside the nominal ranges pass through.
#pragma once

#include <array>
#include <cmath>

namespace vorlan::chroma {

struct Range {
  double lo;
  double hi;
};

using Rgb = std::array<double, 3>;
using Triple = std::array<double, 3>;
using Matrix3 = std::array<std::array<double, 3>, 3>;

// ---- Constants ------------------------------------------------------------------

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = kPi * 2;
inline constexpr double kPiOver3 = kPi * 0.3333333333333333;
inline constexpr double kOneThird = 0.3333333333333333;

// CMYK: under-colour removal and black generation are separate factors.
inline constexpr double kRemovalFactor = 0.5;
inline constexpr double kBlackFactor = 0.5;

// Reference white shared by Lab and Luv.
inline constexpr double kXn = 0.31277888;
inline constexpr double kYn = 0.3291835;
inline constexpr double kZn = 0.35803763;

// Threshold between the cube-root and the linear branch of the CIE curves.
inline constexpr double kT0 = 0.008856;
// The pixel formulas use an eight-digit cube-root exponent; the range
// derivation uses a full-precision third. Both are kept as they are.
inline constexpr double kPixelCubeRoot = 0.33333333;
inline constexpr double kRangeCubeRoot = 0.3333333333333333;
inline constexpr double kLinearSlope = 7.787;
inline constexpr double kInvLinearSlope = 0.1284191601386927;
inline constexpr double kLinearOffset = 0.13793103448275862;  // 16/116
inline constexpr double kL116 = 116;
inline constexpr double kL16 = 16;
inline constexpr double kLLinear = 903.3;
inline constexpr double kInv116 = 0.008620689655172414;
inline constexpr double kInvLLinear = 0.0011070519207350825;
inline constexpr double kAScale = 500;
inline constexpr double kBScale = 200;
inline constexpr double kInvAScale = 0.002;
inline constexpr double kInvBScale = 0.005;
inline constexpr double kLuvScale = 13;
inline constexpr double kInvLuvScale = 0.07692307692307693;

// Luv weights: u' = 4X/D, v' = 9Y/D, D = 1X + 15Y + 3Z.
inline constexpr double kLuvU = 4;
inline constexpr double kLuvV = 9;
inline constexpr double kLuvX = 1;
inline constexpr double kLuvY = 15;
inline constexpr double kLuvZ = 3;
inline constexpr double kLuvDenominatorN = kLuvX * kXn + kLuvY * kYn + kLuvZ * kZn;
inline constexpr double kUn = kLuvU * kXn / kLuvDenominatorN;
inline constexpr double kVn = kLuvV * kYn / kLuvDenominatorN;

// ---- Linear transforms -------------------------------------------------------

struct LinearSpace {
  Matrix3 forward;
  Matrix3 inverse;  // stored as measured, not recomputed from `forward`
  std::array<Range, 3> declared;  // forward outputs; the inverse expects these
};

// The U row has -0.141 for R, and the inverse belongs to exactly this matrix.
inline constexpr LinearSpace kYuvPal{
    {{{0.299, 0.587, 0.114}, {-0.141, -0.289, 0.437}, {0.615, -0.515, -0.1}}},
    {{{1.000000275, -3.937706602e-05, 1.139828236},
      {1.00275667, -0.3938100355, -0.577807251},
      {0.9858048434, 2.027879513, -0.01434900279}}},
    {{{0, 1}, {-0.437, 0.437}, {-0.615, 0.615}}}};

inline constexpr LinearSpace kYuvSecam{
    {{{0.299, 0.587, 0.114}, {-0.4485, -0.8805, 1.329}, {-1.3319, 1.1153, 0.2166}}},
    {{{1.0, 0.0, -0.5263157894}, {1.0, -0.1294718909, 0.2680893033}, {1.0, 0.6666666666, 0.0}}},
    {{{0, 1}, {-1.329, 1.329}, {-1.3319, 1.3319}}}};

inline constexpr LinearSpace kYiq{
    {{{0.29889531, 0.58662247, 0.11482234},
      {0.59597799, -0.2741761, -0.32180189},
      {0.21147017, -0.52261711, 0.31114694}}},
    {{{0.9996599956, 0.9564603651, 0.6203096624},
      {0.9996599956, -0.2710007367, -0.6491847523},
      {0.9996599956, -1.10524133, 1.701922413}}},
    {{{0, 1}, {-0.59597799, 0.59597799}, {-0.52261711, 0.52261711}}}};

// The inverse is close to, not exactly, the inverse of the forward matrix.
inline constexpr LinearSpace kYCbCr{
    {{{0.299, 0.587, 0.114}, {-0.168736, -0.331264, 0.5}, {0.5, -0.418668, -0.081312}}},
    {{{1.0, -3.681999084e-05, 1.401987576},
      {1.0, -0.3441132813, -0.7141038211},
      {1.0, 1.771978116, -0.0001345834133}}},
    {{{0, 1}, {-0.5, 0.5}, {-0.5, 0.5}}}};

// C1 weighs B with 0.5, C2 weighs R with 0.5 and B with +0.11482234.
inline constexpr LinearSpace kYcc{
    {{{0.29889531, 0.58662247, 0.11482234},
      {-0.29889531, -0.58662247, 0.5},
      {0.5, -0.58662247, 0.11482234}}},
    {{{0.7841905046, -0.4675379602, 1.251728464},
      {0.9867542137, -0.08014019354, -0.6377794692},
      {1.626486116, 1.626486116, 0.0}}},
    {{{0, 1}, {-0.88551778, 0.5}, {-0.58662247, 0.61482234}}}};

inline constexpr LinearSpace kXyz{
    {{{0.621, 0.113, 0.194}, {0.297, 0.563, 0.049}, {-0.009, 0.027, 1.105}}},
    {{{1.76906266, -0.3408994622, -0.2954697579},
      {-0.9364811176, 1.960444765, 0.07748012971},
      {0.0372909992, -0.05067882698, 0.9006776549}}},
    {{{0, 0.928}, {0, 0.909}, {-0.009, 1.132}}}};

inline Triple Apply(const Matrix3& m, double a, double b, double c) {
  return {m[0][0] * a + m[0][1] * b + m[0][2] * c, m[1][0] * a + m[1][1] * b + m[1][2] * c,
          m[2][0] * a + m[2][1] * b + m[2][2] * c};
}

// ---- Complements ----------------------------------------------------------------

// C, M, Y, K from R, G, B, with partial under-colour removal.
inline std::array<double, 4> CmykFromRgb(double r, double g, double b) {
  const double c = 1 - r, m = 1 - g, y = 1 - b;
  const double mn = (c < m) ? (c < y ? c : y) : (m < y ? m : y);
  return {c - kRemovalFactor * mn, m - kRemovalFactor * mn, y - kRemovalFactor * mn, kBlackFactor * mn};
}

inline Rgb RgbFromCmyk(double c, double m, double y, double k) {
  constexpr double ratio = kBlackFactor != 0 ? kRemovalFactor / kBlackFactor : 0.0;
  return {1 - c - ratio * k, 1 - m - ratio * k, 1 - y - ratio * k};
}

// ---- Hexcone models -------------------------------------------------------------

// Hue in [0, 2pi) of a pixel whose channels span `delta` > 0 up to `max`.
// Ties for the maximum go to red first, then green. Written with selects
// rather than branches: hues change unpredictably from pixel to pixel.
inline double Hue(double r, double g, double b, double max, double delta) {
  const bool red = r == max, green = !red && g == max;
  const double numerator = red ? g - b : green ? b - r : r - g;
  const double sector = red ? 0.0 : green ? 2.0 : 4.0;
  double hue = (numerator / delta + sector) * kPiOver3;
  hue += hue < 0 ? kTwoPi : 0.0;
  return hue;
}

inline double Max3(double r, double g, double b) { return (r > g) ? (r > b ? r : b) : (g > b ? g : b); }
inline double Min3(double r, double g, double b) { return (r < g) ? (r < b ? r : b) : (g < b ? g : b); }

// H, S, V.
inline Triple HsvFromRgb(double r, double g, double b) {
  const double max = Max3(r, g, b), min = Min3(r, g, b), delta = max - min;
  if (max == 0) return {0, 0, max};
  const double s = delta / max;
  return {s == 0 ? 0.0 : Hue(r, g, b, max, delta), s, max};
}

// H, L, S.
inline Triple HlsFromRgb(double r, double g, double b) {
  const double max = Max3(r, g, b), min = Min3(r, g, b), delta = max - min;
  const double l = (max + min) * 0.5;
  if (l == 0 || l == 1) return {0, l, 0};
  const double s = delta / (l <= 0.5 ? 2 * l : 2 * (1 - l));
  return {s == 0 ? 0.0 : Hue(r, g, b, max, delta), l, s};
}

// H, S, I. A grey pixel gets S = 0 and H = 0 even when the rounded mean
// differs from its channels in the last bit (0.3 * 3 / 3 != 0.3), which
// would otherwise give a tiny saturation and a 0/0 hue.
inline Triple HsiFromRgb(double r, double g, double b) {
  const double i = (b + g + r) * kOneThird;
  if (i == 0) return {0, 0, i};
  const double max = Max3(r, g, b), min = Min3(r, g, b), delta = max - min;
  if (delta == 0) return {0, 0, i};
  const double s = 1 - min / i;
  return {s == 0 ? 0.0 : Hue(r, g, b, max, delta), s, i};
}

// Splits a hue into its sector 0..5 and the fraction within it. Hues
// outside [0, 2pi] are wrapped first; 2pi itself (sector 6) is sector 0, so
// every pixel gets a colour. A NaN hue stays NaN in the fraction.
struct HueSector {
  int sector;
  double fraction;
  double position;  // hue / (pi/3) after wrapping, in [0, 6]
};

inline HueSector SplitHue(double hue) {
  if (hue < 0 || hue > kTwoPi) {
    hue = std::fmod(hue, kTwoPi);
    if (hue < 0) hue += kTwoPi;
  }
  const double position = hue / kPiOver3;
  if (!(position >= 0 && position < 7)) return {0, position, position};  // NaN or infinite
  int sector = static_cast<int>(position);
  const double fraction = position - sector;
  if (sector >= 6) sector -= 6;
  return {sector, fraction, position};
}

// Which of (max, min, rising, falling) each of R, G, B takes per sector.
inline constexpr int kSectorChannels[6][3] = {{0, 2, 1}, {3, 0, 1}, {1, 0, 2}, {1, 3, 0}, {2, 1, 0}, {0, 1, 3}};

inline Rgb AssignSector(int sector, double mx, double mn, double rising, double falling) {
  const double values[4] = {mx, mn, rising, falling};
  const int* channels = kSectorChannels[sector];
  return {values[channels[0]], values[channels[1]], values[channels[2]]};
}

inline Rgb RgbFromHsv(double h, double s, double v) {
  if (s == 0) return {v, v, v};
  const HueSector hs = SplitHue(h);
  return AssignSector(hs.sector, v, v * (1 - s), v * (1 - s * (1 - hs.fraction)), v * (1 - s * hs.fraction));
}

inline Rgb RgbFromHls(double h, double l, double s) {
  if (l == 0) return {0, 0, 0};
  if (l == 1) return {1, 1, 1};
  const double d = (l <= 0.5) ? s * l : s * (1 - l);
  if (d <= 0) return {l, l, l};
  const HueSector hs = SplitHue(h);
  const double f = hs.fraction;
  return AssignSector(hs.sector, l + d, l - d, l + (2 * f - 1) * d, l + (1 - 2 * f) * d);
}

inline Rgb RgbFromHsi(double h, double s, double i) {
  if (s == 0) return {i, i, i};
  const HueSector hs = SplitHue(h);
  const double mn = (1 - s) * i;
  const double p = hs.position;
  // Folded hue: p - 6 from 5 on, p - 4 from 3, p - 2 from 1, else p.
  const double folds = double(p >= 1) + double(p >= 3) + double(p >= 5);
  const double u = std::fabs(p - 2 * folds);
  const double mx = ((u - 2) * mn + 3 * i) / (u + 1);
  const double d = (mx - mn) * hs.fraction;
  return AssignSector(hs.sector, mx, mn, mn + d, mx - d);
}

// ---- CIE perceptual spaces --------------------------------------------------------

// Ranges of a two-branch curve (cube root above t0, linear up to t0).
struct PiecewiseRanges {
  Range whole;
  Range linear;  // the values the linear branch takes on the interval
};

// Both branches are always included, whether or not [lo, hi] contains t0.
template <class CubeBranch, class LinearBranch>
PiecewiseRanges PiecewiseRange(Range interval, CubeBranch cube, LinearBranch linear) {
  auto ordered = [](double a, double b) { return a <= b ? Range{a, b} : Range{b, a}; };
  const Range t = ordered(interval.lo, interval.hi);
  const Range cubeArg = ordered(kT0, t.hi);
  const Range linearArg = ordered(t.lo, kT0);
  const Range c = ordered(cube(cubeArg.lo), cube(cubeArg.hi));
  const Range l = ordered(linear(linearArg.lo), linear(linearArg.hi));
  return {{std::fmin(c.lo, l.lo), std::fmax(c.hi, l.hi)}, l};
}

// Declared ranges of L, a, b and the branch limits the inverses use,
// derived from the RGB -> XYZ output ranges and the white point.
struct CieRanges {
  PiecewiseRanges l;
  PiecewiseRanges fx;
  PiecewiseRanges fy;
  PiecewiseRanges fz;
  Range a;
  Range b;
};

CieRanges DeriveCieRanges();

// L from y = Y / Yn, sharing the cube root with f(y) when y > t0.
inline double Lightness(double y, double cubeRootOfY) { return y > kT0 ? kL116 * cubeRootOfY - kL16 : kLLinear * y; }

inline double CieF(double t) { return t > kT0 ? std::pow(t, kPixelCubeRoot) : kLinearSlope * t + kLinearOffset; }

inline Triple LabFromRgb(double r, double g, double b) {
  const Triple xyz = Apply(kXyz.forward, r, g, b);
  const double x = xyz[0] * (1 / kXn), y = xyz[1] * (1 / kYn), z = xyz[2] * (1 / kZn);
  const double fy = CieF(y);
  return {Lightness(y, fy), kAScale * (CieF(x) - fy), kBScale * (fy - CieF(z))};
}

inline Triple LuvFromRgb(double r, double g, double b) {
  const Triple xyz = Apply(kXyz.forward, r, g, b);
  const double y = xyz[1] * (1 / kYn);
  const double l = Lightness(y, y > kT0 ? std::pow(y, kPixelCubeRoot) : 0.0);
  const double d = kLuvX * xyz[0] + kLuvY * xyz[1] + kLuvZ * xyz[2];
  const double q = d == 0 ? 0.0 : 1 / d;
  return {l, kLuvScale * l * (kLuvU * xyz[0] * q - kUn), kLuvScale * l * (kLuvV * xyz[1] * q - kVn)};
}

inline bool Within(double v, Range r) { return v >= r.lo && v <= r.hi; }

// y = Y / Yn from L.
inline double RelativeLuminance(double l, const CieRanges& ranges) {
  if (Within(l, ranges.l.linear)) return l * kInvLLinear;
  const double t = (l + kL16) * kInv116;
  return t * t * t;
}

inline Rgb LabToRgb(double l, double a, double b, const CieRanges& ranges) {
  const double y = RelativeLuminance(l, ranges);
  const double fy = CieF(y);
  const double fx = fy + a * kInvAScale;
  const double g = b * kInvBScale - fy;  // -f(z)
  const double x = Within(fx, ranges.fx.linear) ? (fx - kLinearOffset) * kInvLinearSlope : fx * fx * fx;
  const double z = Within(g, Range{-ranges.fz.linear.hi, -ranges.fz.linear.lo})
                       ? (g + kLinearOffset) * -kInvLinearSlope
                       : -g * g * g;
  return Apply(kXyz.inverse, x * kXn, y * kYn, z * kZn);
}

inline Rgb LuvToRgb(double l, double u, double v, const CieRanges& ranges) {
  if (l == 0) return {0, 0, 0};
  const double y = RelativeLuminance(l, ranges);
  const double uPrime = kUn + u * (1 / l) * kInvLuvScale;
  const double vPrime = kVn + v * (1 / l) * kInvLuvScale;
  const double w = vPrime == 0 ? 0.0 : 1 / vPrime;
  const double luminance = y * kYn;
  // 9/4, 3, 3/4 and 5 follow from the weights of u' and v'.
  constexpr double xFactor = kLuvV / kLuvU;
  constexpr double zConstant = kLuvV * (1 / kLuvZ);
  constexpr double zU = kLuvX * kLuvV / (kLuvZ * kLuvU);
  constexpr double zOffset = kLuvY * (1 / kLuvZ);
  const double bigX = luminance * w * uPrime * xFactor;
  const double bigZ = luminance * (w * (zConstant - zU * uPrime) - zOffset);
  return Apply(kXyz.inverse, bigX, luminance, bigZ);
}

}  // namespace vorlan::chroma
