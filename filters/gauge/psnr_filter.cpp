#include "psnr_filter.h"

#include <cmath>
#include <cstring>

#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan {

namespace {

constexpr SettingField kFields[] = {
    {.identifier = "prescaling", .label = "Scale planes to the same range (Prescaling)", .type = kSettingInt32,
     .flags = kSettingSwitch, .defaultValue = 0, .minimum = 0, .maximum = 1, .unit = "",
     .help = "map the declared value range of \"In2\" onto that of \"In1\" before comparing"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 1, kFields};

}  // namespace

const SettingsDescription& PsnrFilter::DescribeSettings() { return kDescription; }

PsnrFilter::PsnrFilter() : FilterBase(kInfo) {
  in1_ = AddNewPin("In1", PinKind::Input, kPlanePacket);
  in2_ = AddNewPin("In2", PinKind::Input, kPlanePacket);
  outs_[0] = AddNewPin("PSNR", PinKind::Output, kFloatPacket);
  outs_[1] = AddNewPin("RMS", PinKind::Output, kFloatPacket);
  outs_[2] = AddNewPin("MD", PinKind::Output, kFloatPacket);
  outs_[3] = AddNewPin("AD", PinKind::Output, kFloatPacket);
  // Only the 0.0 of the skeleton's start is reported.
  reportFinalProgress_ = false;
}

Result PsnrFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native || form == ConfigForm::Serialized) {
    ConfigReader reader(packet);
    int32_t value = 0;
    if (reader.Int32(value)) prescaling_ = value;
  }
  return Ok;
}

Packet PsnrFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&prescaling_, sizeof prescaling_);
  ConfigWriter writer;
  writer.Int32(prescaling_);
  return writer.ToPacket();
}

Result PsnrFilter::Work() {
  const Plane* a = nullptr;
  const Plane* b = nullptr;
  Result r = ReadPlane(in1_, a);
  if (r != Ok) return r;
  if ((r = ReadPlane(in2_, b)) != Ok) return r;
  if (a->width != b->width || a->height != b->height) {
    return Failf("the planes differ in size: \"In1\" is %d x %d, \"In2\" is %d x %d", static_cast<int>(a->width),
                 static_cast<int>(a->height), static_cast<int>(b->width), static_cast<int>(b->height));
  }
  if (a->width == 0 || a->height == 0) {
    return Failf("the planes are empty (%d x %d)", static_cast<int>(a->width), static_cast<int>(a->height));
  }
  if (prescaling_ != 0 &&
      (!std::isfinite(b->min) || !std::isfinite(b->max) || !std::isfinite(b->max - b->min) || b->min == b->max)) {
    return Failf("prescaling needs a usable value range on \"In2\", it declares [%g, %g]", b->min, b->max);
  }
  if ((r = Compare(*a, *b)) != Ok) return r;

  for (int i = 0; i < 4; ++i) {
    double* value = i == 0 ? &results_.psnr : i == 1 ? &results_.rms : i == 2 ? &results_.md : &results_.ad;
    Publish(outs_[i], MakePacket(sizeof(double), PacketType::Float, value));
  }
  return Ok;
}

Result PsnrFilter::Compare(const Plane& a, const Plane& b) {
  double s = 1.0;
  double o = 0.0;
  if (prescaling_ != 0) {
    // Maps B's declared range onto A's.
    s = (a.max - a.min) / (b.max - b.min);
    o = a.min - (a.max - a.min) * b.min / (b.max - b.min);
  }
  results_.psnr = -1.0;
  results_.rms = -1.0;
  results_.md = -1.0;

  const int64_t width = a.width;
  const int64_t height = a.height;
  // Sums run in double within a row and in extended precision across rows:
  // the per-pixel work stays in fast double arithmetic while a long image
  // does not lose its small differences to a large running total.
  long double sum = 0.0L;
  long double sumSquares = 0.0L;
  double largest = 0.0;
  for (int64_t row = 0; row < height; ++row) {
    if (StopRequested()) return Stopped;
    const double* pa = a.samples + row * width;
    const double* pb = b.samples + row * width;
    double rowSum = 0.0;
    double rowSquares = 0.0;
    for (int64_t j = 0; j < width; ++j) {
      const double d = std::fabs(pa[j] - (s * pb[j] + o));
      rowSum += d;
      rowSquares += d * d;
      if (d > largest) largest = d;
    }
    sum += rowSum;
    sumSquares += rowSquares;
  }

  const long double t = 1.0L / static_cast<long double>(width * height);
  results_.md = largest;
  results_.ad = static_cast<double>(sum * t);
  results_.rms = std::sqrt(static_cast<double>(sumSquares * t));
  if (results_.rms == 0.0) {
    results_.psnr = -1.0;
  } else {
    const double widthA = a.max - a.min;
    const double widthB = b.max - b.min;
    const double peak = widthA > widthB ? widthA : widthB;
    results_.psnr = 20.0 * std::log10(peak / results_.rms);
  }
  return Ok;
}

}  // namespace vorlan
