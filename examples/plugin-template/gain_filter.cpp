#include "gain_filter.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace gain {

using namespace vorlan;

namespace {

// One record per settings field, in the order GetConfig writes them. A
// field added later goes at the end, here as in the stream.
constexpr SettingField kFields[] = {
    {.identifier = "gain", .label = "Gain", .type = kSettingFloat64, .defaultValue = 1.0, .minimum = -HUGE_VAL,
     .maximum = HUGE_VAL, .unit = "", .help = "factor every sample is multiplied by"},
    {.identifier = "clip", .label = "Clip to the input range", .type = kSettingInt32, .flags = kSettingSwitch,
     .defaultValue = 1, .minimum = 0, .maximum = 1, .unit = "",
     .help = "clamp the results into the input plane's declared range"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 2, kFields};

}  // namespace

const SettingsDescription& GainFilter::DescribeSettings() { return kDescription; }

std::string GainFilter::SettingsProblem() const {
  // A gain of NaN or infinity would fill the plane with values no consumer can use.
  if (!std::isfinite(settings_.gain)) return "\"gain\" is not a finite number";
  return "";
}

GainFilter::GainFilter() : FilterBase(kInfo) {
  // Pin order is stored in graph files: never reorder existing pins.
  in_ = AddNewPin("In", PinKind::Input, kPlanePacket);
  outPin_ = AddNewPin("Out", PinKind::Output, kPlanePacket);
}

Result GainFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native) {
    if (packet.length < static_cast<int32_t>(sizeof(GainSettings))) return Fail("the settings record is too short");
    std::memcpy(&settings_, packet.data, sizeof settings_);
  } else {
    ConfigReader in(packet);
    (void)(in.Float64(settings_.gain) && in.Int32(settings_.clip));
  }
  return Ok;
}

Packet GainFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) {
    // Allocated here, released by this library's ReleaseConfig (std::free):
    // memory always goes back to the module that allocated it.
    void* copy = std::malloc(sizeof settings_);
    if (copy == nullptr) return MakePacket(0, PacketType::Config, nullptr);
    std::memcpy(copy, &settings_, sizeof settings_);
    return MakePacket(sizeof settings_, PacketType::Config, copy);
  }
  ConfigWriter out;
  out.Float64(settings_.gain);
  out.Int32(settings_.clip);
  return out.ToPacket();
}

Result GainFilter::Work() {
  if (const std::string problem = SettingsProblem(); !problem.empty()) return Fail(problem);
  // The input is borrowed from its producer until the producer's next
  // Reset or Process: read it, never free or keep it.
  const Plane* in = nullptr;
  const Result r = ReadPlane(in_, in);
  if (r != Ok) return r;  // InputNotReady: the runner calls again next pass
  if (!out_.Allocate(in->width, in->height, in->min, in->max)) {
    return Failf("cannot allocate a %d x %d plane", static_cast<int>(in->width), static_cast<int>(in->height));
  }
  const double lo = in->min < in->max ? in->min : in->max;
  const double hi = in->min < in->max ? in->max : in->min;
  const double g = settings_.gain;
  const bool clip = settings_.clip != 0;
  double* dst = out_.Samples();
  for (int64_t row = 0; row < in->height; ++row) {
    // Stop requests arrive from the user-interface thread at any time.
    if (StopRequested()) return Stopped;
    const double* src = in->samples + row * in->width;
    double* line = dst + row * in->width;
    for (int32_t x = 0; x < in->width; ++x) {
      double v = g * src[x];
      if (clip) v = v < lo ? lo : v > hi ? hi : v;
      line[x] = v;
    }
    ReportProgress(static_cast<double>(row + 1) / static_cast<double>(in->height));
  }
  Publish(outPin_, out_.AsPacket());
  return Ok;
}

}  // namespace gain
