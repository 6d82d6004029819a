#include "resampler_filter.h"

#include <cmath>
#include <cstring>

#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan {

namespace {

constexpr SettingChoice kMethods[] = {
    {0, "area_average", "Area average (down)"},
    {1, "bilinear", "Bilinear (up)"},
    {2, "bicubic", "Bicubic (up)"},
};

constexpr SettingField kFields[] = {
    {.identifier = "factor", .label = "Factor:", .type = kSettingInt32, .defaultValue = 2,
     .minimum = resample::kSmallestFactor, .maximum = resample::kLargestFactor, .unit = "",
     .help = "how many times smaller (down) or larger (up) each side of the plane becomes"},
    {.identifier = "method", .label = "Method", .type = kSettingChoice, .defaultValue = 0, .choiceCount = 3,
     .choices = kMethods, .unit = "",
     .help = "area average makes the plane smaller, bilinear and bicubic interpolation make it larger"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 2, kFields};

}  // namespace

const SettingsDescription& PlaneResamplerFilter::DescribeSettings() { return kDescription; }

PlaneResamplerFilter::PlaneResamplerFilter() : FilterBase(kInfo) {
  in_ = AddNewPin("In", PinKind::Input, kPlanePacket);
  outPin_ = AddNewPin("Out", PinKind::Output, kPlanePacket);
  size_ = AddNewPin("Size", PinKind::Input, kPlanePacket);
}

PlaneResamplerFilter::~PlaneResamplerFilter() { ReleaseOutputs(); }

Result PlaneResamplerFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native) {
    if (packet.length < static_cast<int32_t>(sizeof(ResamplerSettings))) {
      return Fail("the settings record is too short");
    }
    std::memcpy(&settings_, packet.data, sizeof settings_);
  } else if (form == ConfigForm::Serialized) {
    ConfigReader reader(packet);
    (void)(reader.Int32(settings_.factor) && reader.Int32(settings_.method));
  }
  return Ok;
}

Packet PlaneResamplerFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&settings_, sizeof settings_);
  ConfigWriter writer;
  writer.Int32(settings_.factor);
  writer.Int32(settings_.method);
  return writer.ToPacket();
}

std::string PlaneResamplerFilter::SettingsProblem() const {
  if (settings_.factor < resample::kSmallestFactor || settings_.factor > resample::kLargestFactor) {
    return "\"factor\": the factor " + std::to_string(settings_.factor) + " is not between " +
           std::to_string(resample::kSmallestFactor) + " and " + std::to_string(resample::kLargestFactor);
  }
  if (settings_.method < 0 || settings_.method > 2) {
    return "\"method\": the method " + std::to_string(settings_.method) +
           " is not one of 0 (area average), 1 (bilinear) and 2 (bicubic)";
  }
  return "";
}

Result PlaneResamplerFilter::Work() {
  if (outPin_ != nullptr) Withdraw(outPin_);
  out_.Release();

  const Plane* in = nullptr;
  Result r = ReadPlane(in_, in);
  if (r != Ok) return r;
  // "Size" is optional: unconnected, the factor alone gives the size.
  const Plane* like = nullptr;
  if (size_->connected != 0 && size_->peer != nullptr) {
    if ((r = ReadPlane(size_, like)) != Ok) return r;
  }
  if (const std::string problem = SettingsProblem(); !problem.empty()) return Fail(problem);
  if (in->width == 0 || in->height == 0) {
    return Failf("the plane on \"In\" is empty (%d x %d)", static_cast<int>(in->width), static_cast<int>(in->height));
  }

  const int32_t factor = settings_.factor;
  const auto method = static_cast<resample::Method>(settings_.method);
  int32_t width = 0;
  int32_t height = 0;
  if (resample::ScalesDown(method)) {
    width = resample::DownLength(in->width, factor);
    height = resample::DownLength(in->height, factor);
    if (like != nullptr && (like->width != width || like->height != height)) {
      return Failf("the plane on \"Size\" is %d x %d, but %d x %d taken down %d times is %d x %d",
                   static_cast<int>(like->width), static_cast<int>(like->height), static_cast<int>(in->width),
                   static_cast<int>(in->height), static_cast<int>(factor), static_cast<int>(width),
                   static_cast<int>(height));
    }
  } else if (like != nullptr) {
    width = like->width;
    height = like->height;
    if (!resample::UpLengthFits(in->width, width, factor) || !resample::UpLengthFits(in->height, height, factor)) {
      return Failf("the plane on \"Size\" is %d x %d, which a %d x %d plane taken up %d times cannot give",
                   static_cast<int>(width), static_cast<int>(height), static_cast<int>(in->width),
                   static_cast<int>(in->height), static_cast<int>(factor));
    }
  } else {
    if (int64_t{in->width} * factor > INT32_MAX || int64_t{in->height} * factor > INT32_MAX) {
      return Fail("the plane taken up would be too large");
    }
    width = in->width * factor;
    height = in->height * factor;
  }
  if (!out_.Allocate(width, height, in->min, in->max)) {
    return Failf("cannot allocate a %d x %d plane", static_cast<int>(width), static_cast<int>(height));
  }
  ReportProgress(0.1);
  const resample::StopPoll stop = [this] { return StopRequested(); };
  bool done = false;
  try {
    done = resample::ScalesDown(method)
               ? resample::AreaDown(in->samples, in->width, in->height, factor, out_.Samples(), stop)
               : resample::InterpolateUp(in->samples, in->width, in->height, factor, method, out_.Samples(), width,
                                         height, stop);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory while resampling");
  }
  if (!done) return Stopped;
  Publish(outPin_, out_.AsPacket());
  return Ok;
}

}  // namespace vorlan
