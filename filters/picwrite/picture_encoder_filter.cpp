#include "picture_encoder_filter.h"

#include <QImage>
#include <QImageWriter>
#include <cmath>
#include <cstring>

#include "picture_encoding.h"
#include "picture_formats.h"
#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan {

namespace {

// Fills the colour image row by row and tells whether every pixel came out
// grey. Pixel is uint8_t[3] (RGB888) or uint16_t[4] (RGBX64).
template <class Level, int kStep>
bool FillRow(const double* const samples[3], const double mins[3], const double maxs[3], double top, int64_t width,
             Level* line, bool grey) {
  for (int64_t x = 0; x < width; ++x) {
    Level* pixel = line + kStep * x;
    for (int k = 0; k < 3; ++k) pixel[k] = static_cast<Level>(ScaleToLevel(samples[k][x], mins[k], maxs[k], top));
    if constexpr (kStep == 4) pixel[3] = 0xFFFF;
    grey = grey && pixel[0] == pixel[1] && pixel[1] == pixel[2];
  }
  return grey;
}

// By PictureFormat code; the labels are the dialog's.
constexpr SettingChoice kFormats[] = {
    {0, "png", "PNG"}, {1, "jpeg", "JPEG"}, {2, "ppm", "PPM/PGM"}, {3, "tiff", "TIFF"}, {4, "webp", "WebP"}};
constexpr SettingChoice kBits[] = {{8, "eight", "8"}, {16, "sixteen", "16"}};

constexpr SettingField kFields[] = {
    {.identifier = "format", .label = "Format:", .type = kSettingChoice, .defaultValue = 0, .choiceCount = 5,
     .choices = kFormats, .unit = "",
     .help = "file format written; three equal planes give its grey variant (PGM for PPM)"},
    {.identifier = "quality", .label = "Quality (JPEG, WebP):", .type = kSettingInt32, .defaultValue = 90,
     .minimum = 0, .maximum = 100, .unit = "", .help = "quality of the lossy formats, 100 the best; others ignore it"},
    {.identifier = "bits", .label = "Bits per channel:", .type = kSettingChoice, .defaultValue = 8, .choiceCount = 2,
     .choices = kBits, .unit = "bits", .help = "sample depth: 16 only for PNG and TIFF"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 3, kFields};

}  // namespace

const SettingsDescription& PictureEncoderFilter::DescribeSettings() { return kDescription; }

std::string PictureEncoderFilter::SettingsProblem() const {
  const PictureFormat* format = FindPictureFormat(settings_.format);
  if (format == nullptr) {
    return std::string("\"format\": the picture format ") + std::to_string(settings_.format) + " is not one of 0 to 4";
  }
  if (settings_.bits != 8 && settings_.bits != 16) {
    return std::string("\"bits\": ") + std::to_string(settings_.bits) + " bits per channel: only 8 and 16 are written";
  }
  if (settings_.bits == 16 && !format->sixteenBits) {
    return std::string("\"bits\": ") + format->label + " stores only 8 bits per channel";
  }
  if (format->lossy && (settings_.quality < 0 || settings_.quality > 100)) {
    return std::string("\"quality\": the quality ") + std::to_string(settings_.quality) + " is not between 0 and 100";
  }
  return "";
}

PictureEncoderFilter::PictureEncoderFilter() : FilterBase(kInfo) {
  // Qt creates its image format plug-ins on the thread that first asks for
  // them, and they belong to that thread. Created by a run's worker thread
  // they outlive it, and destroying them at exit reads that thread's freed
  // records (Qt 6.4). The first filter, made on the thread that builds the
  // graph, asks once instead.
  static const bool formatsLoaded = !QImageWriter::supportedImageFormats().isEmpty();
  (void)formatsLoaded;
  out_ = AddNewPin("Out", PinKind::Output, kBytesPacket);
  rIn_ = AddNewPin("R", PinKind::Input, kPlanePacket);
  gIn_ = AddNewPin("G", PinKind::Input, kPlanePacket);
  bIn_ = AddNewPin("B", PinKind::Input, kPlanePacket);
}

Result PictureEncoderFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native) {
    if (packet.length < static_cast<int32_t>(sizeof(PictureEncoderSettings))) {
      return Fail("the settings record is too short");
    }
    std::memcpy(&settings_, packet.data, sizeof settings_);
  } else if (form == ConfigForm::Serialized) {
    ConfigReader reader(packet);
    (void)(reader.Int32(settings_.format) && reader.Int32(settings_.quality) && reader.Int32(settings_.bits));
  }
  return Ok;
}

Packet PictureEncoderFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&settings_, sizeof settings_);
  ConfigWriter writer;
  writer.Int32(settings_.format);
  writer.Int32(settings_.quality);
  writer.Int32(settings_.bits);
  return writer.ToPacket();
}

Result PictureEncoderFilter::Work() {
  if (out_ != nullptr) Withdraw(out_);
  file_.Release();

  const Plane* planes[3] = {nullptr, nullptr, nullptr};
  Pin* inputs[3] = {rIn_, gIn_, bIn_};
  for (int k = 0; k < 3; ++k) {
    const Result r = ReadPlane(inputs[k], planes[k]);
    if (r != Ok) return r;
  }

  if (const std::string problem = SettingsProblem(); !problem.empty()) return Fail(problem);
  const PictureFormat* format = FindPictureFormat(settings_.format);
  if (!CanWrite(*format)) {
    return Failf("this system has no %s writer (formats found: %s)", format->label, WritableFormats().c_str());
  }

  const int32_t w = planes[0]->width;
  const int32_t h = planes[0]->height;
  if (w <= 0 || h <= 0) return Failf("the planes are empty (%d x %d)", static_cast<int>(w), static_cast<int>(h));
  double mins[3];
  double maxs[3];
  for (int k = 0; k < 3; ++k) {
    const Plane& p = *planes[k];
    if (p.width != w || p.height != h) {
      return Failf("the planes differ in size: \"%s\" is %d x %d, \"R\" is %d x %d", inputs[k]->name,
                   static_cast<int>(p.width), static_cast<int>(p.height), static_cast<int>(w), static_cast<int>(h));
    }
    if (p.samples == nullptr || int64_t{p.size} < int64_t{w} * h * 8) {
      return Failf("plane \"%s\" holds fewer samples than %d x %d", inputs[k]->name, static_cast<int>(w),
                   static_cast<int>(h));
    }
    if (!std::isfinite(p.min) || !std::isfinite(p.max) || !std::isfinite(p.max - p.min) || p.min == p.max) {
      return Failf("plane \"%s\" has no usable value range [%g, %g]", inputs[k]->name, p.min, p.max);
    }
    mins[k] = p.min;
    maxs[k] = p.max;
  }

  const bool deep = settings_.bits == 16;
  QImage colour(w, h, deep ? QImage::Format_RGBX64 : QImage::Format_RGB888);
  if (colour.isNull()) return Failf("cannot allocate a %d x %d picture", static_cast<int>(w), static_cast<int>(h));
  const double top = deep ? 65535.0 : 255.0;
  bool grey = true;
  for (int64_t y = 0; y < h; ++y) {
    if (StopRequested()) return Stopped;
    const double* rows[3] = {planes[0]->samples + y * w, planes[1]->samples + y * w, planes[2]->samples + y * w};
    uint8_t* line = colour.scanLine(static_cast<int>(y));
    if (deep) grey = FillRow<uint16_t, 4>(rows, mins, maxs, top, w, reinterpret_cast<uint16_t*>(line), grey);
    else grey = FillRow<uint8_t, 3>(rows, mins, maxs, top, w, line, grey);
    ReportProgress(0.5 * static_cast<double>(y) / static_cast<double>(h));
  }
  // Three equal planes are written as a grey picture: a third of the data
  // and the grey variant of the format (PGM rather than PPM).
  QImage image = colour;
  if (grey) {
    image = QImage(w, h, deep ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
    if (image.isNull()) return Failf("cannot allocate a %d x %d picture", static_cast<int>(w), static_cast<int>(h));
    for (int y = 0; y < h; ++y) {
      const uint8_t* from = colour.constScanLine(y);
      uint8_t* to = image.scanLine(y);
      if (deep) {
        const auto* f = reinterpret_cast<const uint16_t*>(from);
        auto* t = reinterpret_cast<uint16_t*>(to);
        for (int x = 0; x < w; ++x) t[x] = f[4 * x];
      } else {
        for (int x = 0; x < w; ++x) to[x] = from[3 * x];
      }
    }
  }
  if (StopRequested()) return Stopped;
  ReportProgress(0.5);

  QByteArray encoded;
  std::string error;
  if (!EncodePicture(image, *format, settings_.quality, encoded, error)) return Fail(error);
  if (!file_.Allocate(encoded.size())) {
    return Failf("cannot allocate %lld bytes for the %s picture", static_cast<long long>(encoded.size()), format->label);
  }
  std::memcpy(file_.Data(), encoded.constData(), static_cast<size_t>(encoded.size()));
  Publish(out_, file_.AsPacket());
  return Ok;
}

}  // namespace vorlan
