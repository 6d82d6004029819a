#include "colour_conversion_filter.h"

#include <cmath>
#include <cstring>

#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan::chroma {

namespace {

// By code; the labels are the dialog's row and column.
constexpr SettingChoice kConversions[kConversionCount] = {
    {0, "rgb_to_hsv", "HSV (HSB) RGB->"},
    {1, "hsv_to_rgb", "HSV (HSB) ->RGB"},
    {2, "rgb_to_yuv_pal", "YUV (PAL) RGB->"},
    {3, "yuv_pal_to_rgb", "YUV (PAL) ->RGB"},
    {4, "rgb_to_yiq", "YIQ RGB->"},
    {5, "yiq_to_rgb", "YIQ ->RGB"},
    {6, "rgb_to_ycbcr", "YCbCr RGB->"},
    {7, "ycbcr_to_rgb", "YCbCr ->RGB"},
    {8, "rgb_to_ycc", "YCC (Kodak) RGB->"},
    {9, "ycc_to_rgb", "YCC (Kodak) ->RGB"},
    {10, "rgb_to_cmy", "CMY RGB->"},
    {11, "cmy_to_rgb", "CMY ->RGB"},
    {12, "rgb_to_cmyk", "CMYK RGB->"},
    {13, "cmyk_to_rgb", "CMYK ->RGB"},
    {14, "rgb_to_hls", "HLS RGB->"},
    {15, "hls_to_rgb", "HLS ->RGB"},
    {16, "rgb_to_xyz", "CIE XYZ RGB->"},
    {17, "xyz_to_rgb", "CIE XYZ ->RGB"},
    {18, "rgb_to_lab", "CIE Lab RGB->"},
    {19, "lab_to_rgb", "CIE Lab ->RGB"},
    {20, "rgb_to_hsi", "HSI RGB->"},
    {21, "hsi_to_rgb", "HSI ->RGB"},
    {22, "rgb_to_luv", "CIE Luv RGB->"},
    {23, "luv_to_rgb", "CIE Luv ->RGB"},
    {24, "rgb_to_yuv_secam", "YUV (SECAM) RGB->"},
    {25, "yuv_secam_to_rgb", "YUV (SECAM) ->RGB"},
};

constexpr SettingField kFields[] = {
    {.identifier = "conversion", .label = "Conversion", .type = kSettingChoice, .defaultValue = 0,
     .choiceCount = kConversionCount, .choices = kConversions, .unit = "",
     .help = "the colour space and direction; it decides the data pins (R, G, B, then the colour space's planes)"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 1, kFields};

}  // namespace

const SettingsDescription& ColourConversionFilter::DescribeSettings() { return kDescription; }

std::string ColourConversionFilter::SettingsProblem() const {
  if (IsValidCode(conversion_)) return "";
  return std::string("\"conversion\" is ") + std::to_string(conversion_) + ", not a code of 0..25";
}

ColourConversionFilter::ColourConversionFilter() : FilterBase(kInfo) {
  // Room for the largest pin set, so rebuilding the pins never allocates here.
  inputPins_.reserve(3 + kMaxPlanes);
  outputPins_.reserve(3 + kMaxPlanes);
  if (state != FilterState::Error) BuildPins();
}

ColourConversionFilter::~ColourConversionFilter() {
  // Pins and the "Cfg out" packet go with the base classes.
  ReleaseOutputs();
}

Result ColourConversionFilter::BuildPins() {
  RemovePinsFrom(2);
  inputPins_.clear();
  outputPins_.clear();
  if (!IsValidCode(conversion_)) return Fail("unknown conversion code");
  const bool fromRgb = ConvertsFromRgb(conversion_);
  const ColourSpace& space = SpaceOf(conversion_);
  auto add = [&](const char* name, bool input) {
    Pin* pin = AddNewPin(name, input ? PinKind::Input : PinKind::Output, kPlanePacket);
    if (pin == nullptr) return false;
    (input ? inputPins_ : outputPins_).push_back(pin);
    return true;
  };
  for (const char* name : kRgbPins) {
    if (!add(name, fromRgb)) return Fail("out of memory while creating the pins");
  }
  for (int32_t k = 0; k < space.pinCount; ++k) {
    if (!add(space.pins[k], !fromRgb)) return Fail("out of memory while creating the pins");
  }
  return Ok;
}

Result ColourConversionFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the configuration is empty");
  int32_t code = 0;
  if (form == ConfigForm::Native) {
    if (packet.length < static_cast<int32_t>(sizeof code)) return Fail("the configuration is too short");
    std::memcpy(&code, packet.data, sizeof code);
  } else {
    ConfigReader reader(packet);
    if (!reader.Int32(code)) return Fail("the configuration is too short");
  }
  if (!IsValidCode(code)) return Failf("unknown conversion code %d", code);
  // The old output records die with their pins.
  ReleaseOutputs();
  conversion_ = code;
  return BuildPins();
}

Packet ColourConversionFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&conversion_, sizeof conversion_);
  ConfigWriter writer;
  writer.Int32(conversion_);
  return writer.ToPacket();
}

Result ColourConversionFilter::ApplyRunConfig(Packet packet) {
  ConfigReader reader(packet);
  int32_t code = 0;
  // An unreadable or unknown code is refused and ignored, like any rejected configuration.
  if (!reader.Int32(code) || !IsValidCode(code) || code == conversion_) return Ok;
  return Fail("a configuration received during a run cannot change the pin set");
}

void ColourConversionFilter::ReleaseOutputs() {
  for (Pin* pin : outputPins_) Withdraw(pin);
  for (OwnedPlane& plane : outputPlanes_) plane.Release();
}

Result ColourConversionFilter::ReadInputs(std::array<const Plane*, kMaxPlanes>& planes) {
  planes.fill(nullptr);
  // Every input is read before any is examined, so a pass that finds one
  // input not ready touches nothing.
  for (size_t k = 0; k < inputPins_.size(); ++k) {
    const Result r = ReadPlane(inputPins_[k], planes[k]);
    if (r != Ok) return r;
  }
  const Plane* first = planes[0];
  for (size_t k = 0; k < inputPins_.size(); ++k) {
    const Plane& p = *planes[k];
    const char* name = inputPins_[k]->name;
    if (p.width <= 0 || p.height <= 0) return Failf("input \"%s\" holds an empty plane", name);
    if (p.width != first->width || p.height != first->height) {
      return Failf("input \"%s\" is %dx%d where \"%s\" is %dx%d", name, p.width, p.height, inputPins_[0]->name,
                   first->width, first->height);
    }
    if (!std::isfinite(p.min) || !std::isfinite(p.max) || p.min == p.max) {
      return Failf("input \"%s\" declares no usable value range [%g, %g]", name, p.min, p.max);
    }
    // A range so narrow that its width overflows to infinity is no range either.
    if (!std::isfinite(1 / (p.max - p.min)) || !std::isfinite(p.max - p.min)) {
      return Failf("input \"%s\" declares no usable value range [%g, %g]", name, p.min, p.max);
    }
  }
  return Ok;
}

Result ColourConversionFilter::Work() {
  if (!IsValidCode(conversion_)) return Ok;  // nothing to convert, only "Cfg out" is published
  std::array<const Plane*, kMaxPlanes> planes{};
  const Result read = ReadInputs(planes);
  if (read != Ok) return read;

  // The outputs of the previous run go now; consumers have had them until
  // this Process. Buffers of the right size are reused rather than freed and
  // faulted in again.
  for (Pin* pin : outputPins_) Withdraw(pin);

  std::array<Range, kMaxPlanes> declared{};
  for (size_t k = 0; k < inputPins_.size(); ++k) declared[k] = {planes[k]->min, planes[k]->max};
  const ConversionPlan plan(conversion_, declared);

  const int32_t width = planes[0]->width, height = planes[0]->height;
  for (int32_t k = 0; k < plan.Outputs(); ++k) {
    const Range r = plan.Declared(k);
    Plane& record = outputPlanes_[k].Record();
    if (!outputPlanes_[k].Empty() && record.width == width && record.height == height) {
      record.min = r.lo;
      record.max = r.hi;
    } else if (!outputPlanes_[k].Allocate(width, height, r.lo, r.hi)) {
      return Failf("no memory for a %dx%d output plane", width, height);
    }
  }

  const Result converted = Convert(plan, planes);
  if (converted != Ok) return converted;
  const Result normalised = NormaliseOutputs(plan.Outputs());
  if (normalised != Ok) return normalised;

  for (int32_t k = 0; k < plan.Outputs(); ++k) Publish(outputPins_[k], outputPlanes_[k].AsPacket());
  return Ok;
}

Result ColourConversionFilter::Convert(const ConversionPlan& plan, const std::array<const Plane*, kMaxPlanes>& planes) {
  const int32_t width = planes[0]->width, height = planes[0]->height;
  std::array<const double*, kMaxPlanes> in{};
  std::array<double*, kMaxPlanes> out{};
  for (int32_t row = 0; row < height; ++row) {
    if (StopRequested()) return Stopped;
    const int64_t start = int64_t{row} * width;
    for (int32_t k = 0; k < plan.Inputs(); ++k) in[k] = planes[k]->samples + start;
    for (int32_t k = 0; k < plan.Outputs(); ++k) out[k] = outputPlanes_[k].Samples() + start;
    plan.ConvertRow(in, out, width);
    ReportProgress(static_cast<float>(row) / static_cast<float>(height));
  }
  return Ok;
}

Result ColourConversionFilter::NormaliseOutputs(int32_t count) {
  for (int32_t k = 0; k < count; ++k) {
    Plane& plane = outputPlanes_[k].Record();
    const LinearMap map = NormalisingMap({plane.min, plane.max});
    for (int32_t row = 0; row < plane.height; ++row) {
      if (StopRequested()) return Stopped;
      double* values = plane.samples + int64_t{row} * plane.width;
      for (int32_t i = 0; i < plane.width; ++i) values[i] = values[i] * map.scale + map.offset;
    }
    plane.min = 0.0;
    plane.max = 1.0;
  }
  return Ok;
}

}  // namespace vorlan::chroma
