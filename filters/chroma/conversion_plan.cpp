#include "conversion_plan.h"

namespace vorlan::chroma {

namespace {

constexpr Range kUnit{0, 1};
constexpr Range kHueRange{0, kTwoPi};

const LinearSpace* LinearSpaceOf(ConversionCode code) {
  switch (code) {
    case ConversionCode::RgbToYuvPal:
    case ConversionCode::YuvPalToRgb: return &kYuvPal;
    case ConversionCode::RgbToYiq:
    case ConversionCode::YiqToRgb: return &kYiq;
    case ConversionCode::RgbToYCbCr:
    case ConversionCode::YCbCrToRgb: return &kYCbCr;
    case ConversionCode::RgbToYcc:
    case ConversionCode::YccToRgb: return &kYcc;
    case ConversionCode::RgbToXyz:
    case ConversionCode::XyzToRgb: return &kXyz;
    case ConversionCode::RgbToYuvSecam:
    case ConversionCode::YuvSecamToRgb: return &kYuvSecam;
    default: return nullptr;
  }
}

// Applies `pixel` to every pixel of a row: NI inputs mapped onto their
// expected ranges, NO raw outputs.
template <int NI, int NO, class Pixel>
inline void ForEachPixel(const std::array<const double*, kMaxPlanes>& in, const std::array<double*, kMaxPlanes>& out,
                         const std::array<LinearMap, kMaxPlanes>& maps, int64_t count, Pixel pixel) {
  const LinearMap m0 = maps[0], m1 = maps[1], m2 = maps[2], m3 = maps[3];
  const double* const a = in[0];
  const double* const b = in[1];
  const double* const c = in[2];
  const double* const d = in[3];
  double* const o0 = out[0];
  double* const o1 = out[1];
  double* const o2 = out[2];
  double* const o3 = out[3];
  for (int64_t i = 0; i < count; ++i) {
    std::array<double, 4> v{};
    v[0] = m0(a[i]);
    v[1] = m1(b[i]);
    v[2] = m2(c[i]);
    if constexpr (NI == 4) v[3] = m3(d[i]);
    const std::array<double, NO> r = pixel(v);
    o0[i] = r[0];
    o1[i] = r[1];
    o2[i] = r[2];
    if constexpr (NO == 4) o3[i] = r[3];
  }
}

}  // namespace

LinearMap MapOnto(Range from, Range to) {
  const double span = to.hi - to.lo;
  return {span / (from.hi - from.lo), to.lo - span * from.lo / (from.hi - from.lo)};
}

LinearMap NormalisingMap(Range declared) {
  return {1 / (declared.hi - declared.lo), declared.lo / (declared.lo - declared.hi)};
}

ConversionPlan::ConversionPlan(int32_t code, const std::array<Range, kMaxPlanes>& inputDeclared) : code_(code) {
  const int32_t spacePins = SpaceOf(code).pinCount;
  const bool fromRgb = ConvertsFromRgb(code);
  inputs_ = fromRgb ? 3 : spacePins;
  outputs_ = fromRgb ? spacePins : 3;
  expected_.fill(kUnit);
  declared_.fill(kUnit);

  const auto c = static_cast<ConversionCode>(code);
  if (const LinearSpace* space = LinearSpaceOf(c)) {
    for (int k = 0; k < 3; ++k) (fromRgb ? declared_ : expected_)[k] = space->declared[k];
  }
  switch (c) {
    case ConversionCode::RgbToCmyk:
    case ConversionCode::CmykToRgb: {
      auto& ranges = fromRgb ? declared_ : expected_;
      for (int k = 0; k < 3; ++k) ranges[k] = {0, 1 - kRemovalFactor};
      ranges[3] = {0, kBlackFactor};
      break;
    }
    case ConversionCode::RgbToHsv:
    case ConversionCode::RgbToHls:
    case ConversionCode::RgbToHsi: declared_[0] = kHueRange; break;
    case ConversionCode::HsvToRgb:
    case ConversionCode::HlsToRgb:
    case ConversionCode::HsiToRgb: expected_[0] = kHueRange; break;
    case ConversionCode::RgbToLab:
      cie_ = DeriveCieRanges();
      declared_ = {cie_.l.whole, cie_.a, cie_.b, kUnit};
      break;
    case ConversionCode::LabToRgb:
      cie_ = DeriveCieRanges();
      expected_ = {cie_.l.whole, cie_.a, cie_.b, kUnit};
      break;
    case ConversionCode::RgbToLuv:
      cie_ = DeriveCieRanges();
      declared_[0] = cie_.l.whole;  // u and v keep [0, 1] whatever their values
      break;
    case ConversionCode::LuvToRgb:
      cie_ = DeriveCieRanges();
      expected_ = {cie_.l.whole, inputDeclared[1], inputDeclared[2], kUnit};
      break;
    default: break;
  }
  for (int32_t k = 0; k < inputs_; ++k) maps_[k] = MapOnto(inputDeclared[k], expected_[k]);
}

void ConversionPlan::ConvertRow(const std::array<const double*, kMaxPlanes>& in,
                                const std::array<double*, kMaxPlanes>& out, int64_t n) const {
  using V = const std::array<double, 4>&;
  const auto c = static_cast<ConversionCode>(code_);
  switch (c) {
    case ConversionCode::RgbToHsv:
      return ForEachPixel<3, 3>(in, out, maps_, n, [](V v) { return HsvFromRgb(v[0], v[1], v[2]); });
    case ConversionCode::HsvToRgb:
      return ForEachPixel<3, 3>(in, out, maps_, n, [](V v) { return RgbFromHsv(v[0], v[1], v[2]); });
    case ConversionCode::RgbToHls:
      return ForEachPixel<3, 3>(in, out, maps_, n, [](V v) { return HlsFromRgb(v[0], v[1], v[2]); });
    case ConversionCode::HlsToRgb:
      return ForEachPixel<3, 3>(in, out, maps_, n, [](V v) { return RgbFromHls(v[0], v[1], v[2]); });
    case ConversionCode::RgbToHsi:
      return ForEachPixel<3, 3>(in, out, maps_, n, [](V v) { return HsiFromRgb(v[0], v[1], v[2]); });
    case ConversionCode::HsiToRgb:
      return ForEachPixel<3, 3>(in, out, maps_, n, [](V v) { return RgbFromHsi(v[0], v[1], v[2]); });
    case ConversionCode::RgbToCmy:
    case ConversionCode::CmyToRgb:
      return ForEachPixel<3, 3>(in, out, maps_, n, [](V v) { return Triple{1 - v[0], 1 - v[1], 1 - v[2]}; });
    case ConversionCode::RgbToCmyk:
      return ForEachPixel<3, 4>(in, out, maps_, n, [](V v) { return CmykFromRgb(v[0], v[1], v[2]); });
    case ConversionCode::CmykToRgb:
      return ForEachPixel<4, 3>(in, out, maps_, n, [](V v) { return RgbFromCmyk(v[0], v[1], v[2], v[3]); });
    case ConversionCode::RgbToLab:
      return ForEachPixel<3, 3>(in, out, maps_, n, [](V v) { return LabFromRgb(v[0], v[1], v[2]); });
    case ConversionCode::LabToRgb: {
      const CieRanges& cie = cie_;
      return ForEachPixel<3, 3>(in, out, maps_, n, [&cie](V v) { return LabToRgb(v[0], v[1], v[2], cie); });
    }
    case ConversionCode::RgbToLuv:
      return ForEachPixel<3, 3>(in, out, maps_, n, [](V v) { return LuvFromRgb(v[0], v[1], v[2]); });
    case ConversionCode::LuvToRgb: {
      const CieRanges& cie = cie_;
      return ForEachPixel<3, 3>(in, out, maps_, n, [&cie](V v) { return LuvToRgb(v[0], v[1], v[2], cie); });
    }
    default: {
      const LinearSpace* space = LinearSpaceOf(c);
      if (space == nullptr) return;
      const Matrix3 m = ConvertsFromRgb(code_) ? space->forward : space->inverse;
      return ForEachPixel<3, 3>(in, out, maps_, n, [&m](V v) { return Apply(m, v[0], v[1], v[2]); });
    }
  }
}

}  // namespace vorlan::chroma
