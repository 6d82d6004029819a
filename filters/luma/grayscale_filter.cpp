#include "grayscale_filter.h"

#include <cmath>
#include <cstring>

#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan {

namespace {

// Maps a plane's declared range onto [0, 1]: n = s * x + o.
struct Normaliser {
  explicit Normaliser(const Plane& p) : s(1.0 / (p.max - p.min)), o(-p.min / (p.max - p.min)) {}
  double s;
  double o;
};

constexpr SettingChoice kMethods[] = {
    {0, "maximum", "Maximum ( I = max(R, G, B) )"},
    {1, "average", "Average ( I = (R + G + B)/3 )"},
    {2, "y", "Y ( I = 0.299*R + 0.587*G + 0.114*B)"},
    {3, "luminance", "Luminance ( I = 0.27*R + 0.67*G + 0.06*B)"},
    {4, "trilinear", "Trilinear ( I = r*R + g*G + b*B) (r+b+g = 1)"},
};

// The weights are shown as the letters of the Trilinear formula.
constexpr SettingField kFields[] = {
    {.identifier = "method", .label = "Conversion method", .type = kSettingChoice, .defaultValue = 0, .choiceCount = 5,
     .choices = kMethods, .unit = "",
     .help = "how R, G and B (each normalised to 0..1) become one intensity"},
    {.identifier = "r", .label = "r", .type = kSettingFloat64, .defaultValue = 0.3333333333333333, .minimum = -HUGE_VAL,
     .maximum = HUGE_VAL, .unit = "",
     .help = "weight of R in the trilinear method (not checked to sum to 1 with g and b)"},
    {.identifier = "g", .label = "g", .type = kSettingFloat64, .defaultValue = 0.3333333333333333, .minimum = -HUGE_VAL,
     .maximum = HUGE_VAL, .unit = "", .help = "weight of G in the trilinear method"},
    {.identifier = "b", .label = "b", .type = kSettingFloat64, .defaultValue = 0.3333333333333333, .minimum = -HUGE_VAL,
     .maximum = HUGE_VAL, .unit = "", .help = "weight of B in the trilinear method"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 4, kFields};

}  // namespace

const SettingsDescription& GrayscaleFilter::DescribeSettings() { return kDescription; }

GrayscaleWeights WeightsOf(GrayscaleMethod method, const GrayscaleSettings& settings) {
  switch (method) {
    case GrayscaleMethod::Y:
      return {0.299, 0.587, 0.114};
    case GrayscaleMethod::Luminance:
      return {0.27, 0.67, 0.06};
    case GrayscaleMethod::Trilinear:
      return {settings.r, settings.g, settings.b};
    case GrayscaleMethod::Average:
    default:
      return {0.3333333333333333, 0.3333333333333333, 0.3333333333333333};
  }
}

void WeightedRange(const GrayscaleWeights& w, double& min, double& max) {
  min = 0.0;
  max = 0.0;
  for (const double weight : {w.r, w.g, w.b}) {
    // A positive weight reaches its maximum at the top of the normalised
    // input range (1), a negative one at the bottom (0).
    if (weight > 0.0) max += weight * 1.0;
    else min -= weight * 0.0;
  }
  if (min > 0.0) min = 0.0;
  if (max < 1.0) max = 1.0;
}

GrayscaleFilter::GrayscaleFilter() : FilterBase(kInfo) {
  rIn_ = AddNewPin("R", PinKind::Input, kPlanePacket);
  gIn_ = AddNewPin("G", PinKind::Input, kPlanePacket);
  bIn_ = AddNewPin("B", PinKind::Input, kPlanePacket);
  out_pin_ = AddNewPin("Out", PinKind::Output, kPlanePacket);
}

Result GrayscaleFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native) {
    if (packet.length < static_cast<int32_t>(sizeof(GrayscaleSettings))) {
      return Fail("the settings record is too short");
    }
    std::memcpy(&settings_, packet.data, sizeof settings_);
  } else if (form == ConfigForm::Serialized) {
    ConfigReader reader(packet);
    // Each field read stops the chain at the end of the bytes.
    (void)(reader.Int32(settings_.method) && reader.Float64(settings_.r) && reader.Float64(settings_.g) &&
           reader.Float64(settings_.b));
  }
  return Ok;
}

Packet GrayscaleFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&settings_, sizeof settings_);
  ConfigWriter writer;
  writer.Int32(settings_.method);
  writer.Float64(settings_.r);
  writer.Float64(settings_.g);
  writer.Float64(settings_.b);
  return writer.ToPacket();
}

std::string GrayscaleFilter::SettingsProblem() const {
  if (settings_.method < 0 || settings_.method > 4) {
    return std::string("\"method\": the grayscale method ") + std::to_string(settings_.method) +
           " is not one of 0 to 4";
  }
  if (settings_.method == static_cast<int32_t>(GrayscaleMethod::Trilinear)) {
    const char* names[3] = {"r", "g", "b"};
    const double values[3] = {settings_.r, settings_.g, settings_.b};
    for (int i = 0; i < 3; ++i) {
      if (!std::isfinite(values[i])) {
        std::string reason = "\"";
        reason += names[i];
        reason += "\": the Trilinear weight ";
        reason += names[i];
        reason += " is not a finite number";
        return reason;
      }
    }
  }
  return "";
}

Result GrayscaleFilter::CheckInput(const Pin* pin, const Plane& plane, int32_t width, int32_t height) {
  if (plane.width != width || plane.height != height) {
    return Failf("the planes differ in size: \"%s\" is %d x %d, \"B\" is %d x %d", pin->name,
                 static_cast<int>(plane.width), static_cast<int>(plane.height), static_cast<int>(width),
                 static_cast<int>(height));
  }
  // The range is a divisor of the normalisation.
  if (!std::isfinite(plane.min) || !std::isfinite(plane.max) || !std::isfinite(plane.max - plane.min) ||
      plane.min == plane.max) {
    return Failf("plane \"%s\" has no usable value range [%g, %g]", pin->name, plane.min, plane.max);
  }
  return Ok;
}

Result GrayscaleFilter::Work() {
  if (out_pin_ != nullptr) Withdraw(out_pin_);
  out_.Release();

  const Plane* red = nullptr;
  const Plane* green = nullptr;
  const Plane* blue = nullptr;
  Result r = ReadPlane(rIn_, red);
  if (r != Ok) return r;
  if ((r = ReadPlane(gIn_, green)) != Ok) return r;
  if ((r = ReadPlane(bIn_, blue)) != Ok) return r;

  // The size is taken from the planes, the last one read wins.
  const int32_t width = blue->width;
  const int32_t height = blue->height;
  if (width == 0 || height == 0) {
    return Failf("the planes are empty (%d x %d)", static_cast<int>(width), static_cast<int>(height));
  }
  if ((r = CheckInput(rIn_, *red, width, height)) != Ok) return r;
  if ((r = CheckInput(gIn_, *green, width, height)) != Ok) return r;
  if ((r = CheckInput(bIn_, *blue, width, height)) != Ok) return r;
  if (const std::string problem = SettingsProblem(); !problem.empty()) return Fail(problem);

  const auto method = static_cast<GrayscaleMethod>(settings_.method);
  const GrayscaleWeights weights = WeightsOf(method, settings_);
  double min = 0.0;
  double max = 1.0;
  if (method != GrayscaleMethod::Maximum) WeightedRange(weights, min, max);
  if (!out_.Allocate(width, height, min, max)) {
    return Failf("cannot allocate a %d x %d plane", static_cast<int>(width), static_cast<int>(height));
  }

  const Normaliser nr(*red);
  const Normaliser ng(*green);
  const Normaliser nb(*blue);
  const double wR = weights.r;
  const double wG = weights.g;
  const double wB = weights.b;
  const double* sr = red->samples;
  const double* sg = green->samples;
  const double* sb = blue->samples;
  double* const dst = out_.Samples();

  for (int64_t row = 0; row < height; ++row) {
    if (StopRequested()) return Stopped;
    const int64_t begin = row * width;
    const int64_t end = begin + width;
    if (method == GrayscaleMethod::Maximum) {
      for (int64_t i = begin; i < end; ++i) {
        const double vr = nr.s * sr[i] + nr.o;
        const double vg = ng.s * sg[i] + ng.o;
        const double vb = nb.s * sb[i] + nb.o;
        if (vr > vg) dst[i] = vb >= vr ? vb : vr;
        else dst[i] = vg > vb ? vg : vb;
      }
    } else {
      for (int64_t i = begin; i < end; ++i) {
        dst[i] = wR * (nr.s * sr[i] + nr.o) + wG * (ng.s * sg[i] + ng.o) + wB * (nb.s * sb[i] + nb.o);
      }
    }
    ReportProgress(static_cast<double>(row) / static_cast<double>(height));
  }

  Publish(out_pin_, out_.AsPacket());
  return Ok;
}

}  // namespace vorlan
