#include "display_filter.h"

#include <cstring>
#include <new>

#include "display_text.h"
#include "plane_pixels.h"
#include "vorlan/config_stream.h"
#include "vorlan/payloads.h"

namespace vorlan {

namespace {

constexpr SettingField kFields[] = {
    {.identifier = "stretch", .label = "Stretch image", .type = kSettingFlag, .defaultValue = 1, .minimum = 0,
     .maximum = 1, .unit = "", .help = "scale the image to the window (otherwise shown full size and scrolled)"},
    {.identifier = "caption", .label = "Caption :", .type = kSettingText, .unit = "",
     .help = "text put before the window title; none when empty"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 2, kFields};

}  // namespace

const SettingsDescription& ImageDisplayFilter::DescribeSettings() { return kDescription; }

ImageDisplayFilter::ImageDisplayFilter(const FilterInfo& prototype, const char* displayName)
    : FilterBase(prototype), displayName_(displayName) {
  // 1.0 is reported by Work before the window is shown.
  reportFinalProgress_ = false;
}

Result ImageDisplayFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native) {
    if (packet.length < static_cast<int32_t>(sizeof(ImageDisplaySettings))) {
      return Fail("the settings record is too short");
    }
    ImageDisplaySettings record{};
    std::memcpy(&record, packet.data, sizeof record);
    // Copy before replacing: the record may point at the current caption.
    std::optional<std::string> copy;
    if (record.caption != nullptr) copy.emplace(record.caption);
    caption_ = std::move(copy);
    SetStretch(record.stretch != 0);
  } else if (form == ConfigForm::Serialized) {
    ConfigReader reader(packet);
    uint8_t flag = 1;
    if (!reader.Byte(flag)) flag = 1;
    SetStretch(flag != 0);
    std::optional<std::string> text;
    if (!reader.Text(text)) text.reset();
    caption_ = std::move(text);
  }
  return Ok;
}

Packet ImageDisplayFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) {
    const ImageDisplaySettings record{Stretch() ? 1 : 0, caption_ ? caption_->c_str() : nullptr};
    return NativeConfigPacket(&record, sizeof record);
  }
  if (form != ConfigForm::Serialized) return MakePacket(0, PacketType::Config, nullptr);
  ConfigWriter writer;
  writer.Byte(Stretch() ? 1 : 0);
  writer.Text(caption_);
  return writer.ToPacket();
}

std::string ImageDisplayFilter::WindowTitle() const {
  return ImageDisplayTitle(caption_, width_, height_, displayName_);
}

Result ImageDisplayFilter::Work() {
  // The window is hidden while the image is replaced, so it never paints a
  // half-built one.
  HideDisplay();
  DropImage();
  const Result converted = ConvertInputs();
  if (converted != Ok) {
    if (converted != InputNotReady) DropImage();
    return converted;
  }
  ReportProgress(1.0);
  ShowDisplay();
  return Ok;
}

Result ImageDisplayFilter::AllocateImage(int32_t width, int32_t height) {
  DropImage();
  if (width <= 0 || height <= 0) return Failf("the image is empty (%d x %d)", width, height);
  const int64_t bytes = int64_t{width} * height * kBytesPerPixel;
  if (bytes > kMaxPacketLength) return Failf("the image is too large to show (%d x %d)", width, height);
  pixels_.reset(new (std::nothrow) uint8_t[bytes]);
  if (!pixels_) return Fail("out of memory for the image");
  width_ = width;
  height_ = height;
  return Ok;
}

void ImageDisplayFilter::DropImage() {
  pixels_.reset();
  width_ = 0;
  height_ = 0;
}

void ImageDisplayFilter::ReleaseOutputs() {
  DropImage();
  ImageReleased();
}

}  // namespace vorlan
