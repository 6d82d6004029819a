#include "colour_formulas.h"

namespace vorlan::chroma {

CieRanges DeriveCieRanges() {
  const double invXn = 1 / kXn, invYn = 1 / kYn, invZn = 1 / kZn;
  auto ordered = [](double a, double b) { return a <= b ? Range{a, b} : Range{b, a}; };
  const Range x = ordered(kXyz.declared[0].lo * invXn, kXyz.declared[0].hi * invXn);
  const Range y = ordered(kXyz.declared[1].lo * invYn, kXyz.declared[1].hi * invYn);
  const Range z = ordered(kXyz.declared[2].lo * invZn, kXyz.declared[2].hi * invZn);

  auto cubeRoot = [](double t) { return std::pow(t, kRangeCubeRoot); };
  auto linearF = [](double t) { return kLinearSlope * t + kLinearOffset; };
  CieRanges r{};
  r.l = PiecewiseRange(
      y, [&](double t) { return kL116 * cubeRoot(t) - kL16; }, [](double t) { return kLLinear * t; });
  r.fx = PiecewiseRange(x, cubeRoot, linearF);
  r.fy = PiecewiseRange(y, cubeRoot, linearF);
  r.fz = PiecewiseRange(z, cubeRoot, linearF);
  r.a = {kAScale * (r.fx.whole.lo - r.fy.whole.hi), kAScale * (r.fx.whole.hi - r.fy.whole.lo)};
  r.b = {kBScale * (r.fy.whole.lo - r.fz.whole.hi), kBScale * (r.fy.whole.hi - r.fz.whole.lo)};
  return r;
}

}  // namespace vorlan::chroma
