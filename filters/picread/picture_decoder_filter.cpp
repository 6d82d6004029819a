#include "picture_decoder_filter.h"

#include <QImage>
#include <QImageReader>
#include <cstring>

#include "picture_decoding.h"
#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan {

namespace {

// One image row into three plane rows. Each overload matches one of the
// formats DecodePicture leaves.
void GreyRow(const uint8_t* line, int64_t width, double* r, double* g, double* b) {
  for (int64_t x = 0; x < width; ++x) r[x] = g[x] = b[x] = line[x];
}

void GreyRow(const uint16_t* line, int64_t width, double* r, double* g, double* b) {
  for (int64_t x = 0; x < width; ++x) r[x] = g[x] = b[x] = line[x];
}

void ColourRow(const QRgb* line, int64_t width, double* r, double* g, double* b) {
  for (int64_t x = 0; x < width; ++x) {
    const QRgb p = line[x];
    r[x] = qRed(p);
    g[x] = qGreen(p);
    b[x] = qBlue(p);
  }
}

void ColourRow(const QRgba64* line, int64_t width, double* r, double* g, double* b) {
  for (int64_t x = 0; x < width; ++x) {
    r[x] = line[x].red();
    g[x] = line[x].green();
    b[x] = line[x].blue();
  }
}

constexpr SettingField kFields[] = {
    {.identifier = "maxMegapixels", .label = "Largest picture:", .type = kSettingInt32, .defaultValue = 64,
     .minimum = 1, .maximum = kLargestMegapixels, .unit = "megapixels",
     .help = "pictures with more pixels than this many times 2^20 are refused before they are decoded"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 1, kFields};

}  // namespace

const SettingsDescription& PictureDecoderFilter::DescribeSettings() { return kDescription; }

std::string PictureDecoderFilter::SettingsProblem() const {
  if (settings_.maxMegapixels >= 1 && settings_.maxMegapixels <= kLargestMegapixels) return "";
  return std::string("\"maxMegapixels\": the picture size limit of ") + std::to_string(settings_.maxMegapixels) +
         " megapixels is not between 1 and " + std::to_string(kLargestMegapixels);
}

PictureDecoderFilter::PictureDecoderFilter() : FilterBase(kInfo) {
  // Qt creates its image format plug-ins on the thread that first asks for
  // them, and they belong to that thread. Created by a run's worker thread
  // they outlive it, and destroying them at exit reads that thread's freed
  // records (Qt 6.4). The first filter, made on the thread that builds the
  // graph, asks once instead.
  static const bool formatsLoaded = !QImageReader::supportedImageFormats().isEmpty();
  (void)formatsLoaded;
  in_ = AddNewPin("In", PinKind::Input, kBytesLikePackets);
  rOut_ = AddNewPin("R", PinKind::Output, kPlanePacket);
  gOut_ = AddNewPin("G", PinKind::Output, kPlanePacket);
  bOut_ = AddNewPin("B", PinKind::Output, kPlanePacket);
}

PictureDecoderFilter::~PictureDecoderFilter() { ReleaseOutputs(); }

void PictureDecoderFilter::ReleaseOutputs() {
  r_.Release();
  g_.Release();
  b_.Release();
}

Result PictureDecoderFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) {
    // Graphs saved before the filter had settings carry an empty stream.
    if (packet.length == 0 && form == ConfigForm::Serialized) return Ok;
    return Fail("the settings packet is empty");
  }
  if (form == ConfigForm::Native) {
    if (packet.length < static_cast<int32_t>(sizeof(PictureDecoderSettings))) {
      return Fail("the settings record is too short");
    }
    std::memcpy(&settings_, packet.data, sizeof settings_);
  } else if (form == ConfigForm::Serialized) {
    ConfigReader reader(packet);
    (void)reader.Int32(settings_.maxMegapixels);
  }
  return Ok;
}

Packet PictureDecoderFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&settings_, sizeof settings_);
  ConfigWriter writer;
  writer.Int32(settings_.maxMegapixels);
  return writer.ToPacket();
}

Result PictureDecoderFilter::Work() {
  if (rOut_ != nullptr) {
    Withdraw(rOut_);
    Withdraw(gOut_);
    Withdraw(bOut_);
  }
  ReleaseOutputs();

  const uint8_t* data = nullptr;
  int32_t length = 0;
  const Result read = ReadBytes(in_, data, length);
  if (read != Ok) return read;
  if (const std::string problem = SettingsProblem(); !problem.empty()) return Fail(problem);

  // The three planes and what Qt holds while it decodes are reserved from
  // the size the header claims, before anything is decoded; Qt's part goes
  // back once the planes are filled.
  DecodedPicture picture;
  std::string error;
  int64_t decodingBytes = 0;
  const auto reserve = [this, length, &decodingBytes](int64_t width, int64_t height, int64_t bytes) {
    if (ReserveDecoded(3 * width * height * int64_t{sizeof(double)} + bytes, length, "the picture") != Ok) {
      return false;
    }
    decodingBytes = bytes;
    return true;
  };
  if (!DecodePicture(data, length, int64_t{settings_.maxMegapixels} << 20, picture, error, reserve)) {
    return error.empty() ? Failed : Fail(error);  // an empty reason: ReserveDecoded gave it
  }
  if (StopRequested()) return Stopped;
  ReportProgress(0.5);

  const QImage& image = picture.image;
  const int32_t w = image.width();
  const int32_t h = image.height();
  const double max = picture.deep ? 65535.0 : 255.0;
  if (!r_.Allocate(w, h, 0.0, max) || !g_.Allocate(w, h, 0.0, max) || !b_.Allocate(w, h, 0.0, max)) {
    ReleaseOutputs();
    return Failf("cannot allocate three %d x %d planes", static_cast<int>(w), static_cast<int>(h));
  }
  double* const red = r_.Samples();
  double* const green = g_.Samples();
  double* const blue = b_.Samples();
  const QImage::Format format = image.format();
  for (int64_t y = 0; y < h; ++y) {
    if (StopRequested()) return Stopped;
    const uint8_t* line = image.constScanLine(static_cast<int>(y));
    const int64_t base = y * w;
    if (format == QImage::Format_Grayscale8) {
      GreyRow(line, w, red + base, green + base, blue + base);
    } else if (format == QImage::Format_Grayscale16) {
      GreyRow(reinterpret_cast<const uint16_t*>(line), w, red + base, green + base, blue + base);
    } else if (format == QImage::Format_RGBA64) {
      ColourRow(reinterpret_cast<const QRgba64*>(line), w, red + base, green + base, blue + base);
    } else {
      ColourRow(reinterpret_cast<const QRgb*>(line), w, red + base, green + base, blue + base);
    }
    ReportProgress(0.5 + 0.5 * static_cast<double>(y) / static_cast<double>(h));
  }

  picture.image = QImage();
  ReturnDecodedPart(decodingBytes);
  Publish(rOut_, r_.AsPacket());
  Publish(gOut_, g_.AsPacket());
  Publish(bOut_, b_.AsPacket());
  return Ok;
}

}  // namespace vorlan
