#include "value_display_filter.h"

#include <cstdio>
#include <cstring>

#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan {

namespace {

constexpr SettingField kFields[] = {
    {.identifier = "caption", .label = "Caption :", .type = kSettingText, .unit = "",
     .help = "text put before the window title; none when empty"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 1, kFields};

}  // namespace

const SettingsDescription& ValueDisplayFilter::DescribeSettings() { return kDescription; }

std::string FormatInteger(int32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%i", static_cast<int>(value));
  return buffer;
}

std::string FormatReal(double value) {
  char buffer[64];
  const int needed = std::snprintf(buffer, sizeof buffer, "%f", value);
  if (needed < 0) return std::string();
  if (static_cast<size_t>(needed) < sizeof buffer) return std::string(buffer, static_cast<size_t>(needed));
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%f", value);
  text.resize(static_cast<size_t>(needed));
  return text;
}

ValueDisplayFilter::ValueDisplayFilter() : FilterBase(kInfo) {
  in_ = AddNewPin("In", PinKind::Input, kValuePackets);
  // 1.0 is reported by Work itself, before the display is shown.
  reportFinalProgress_ = false;
}

Result ValueDisplayFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native) {
    if (packet.length < static_cast<int32_t>(sizeof(const char*))) return Fail("the settings cell is too short");
    const char* text = nullptr;
    std::memcpy(&text, packet.data, sizeof text);
    // Copy before replacing: the cell may point at the current caption.
    std::optional<std::string> copy;
    if (text != nullptr) copy.emplace(text);
    caption_ = std::move(copy);
  } else if (form == ConfigForm::Serialized) {
    caption_.reset();
    ConfigReader reader(packet);
    std::optional<std::string> text;
    if (reader.Text(text)) caption_ = std::move(text);
  }
  return Ok;
}

Packet ValueDisplayFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) {
    const char* text = caption_ ? caption_->c_str() : nullptr;
    return NativeConfigPacket(&text, sizeof text);
  }
  ConfigWriter writer;
  writer.Text(caption_);
  return writer.ToPacket();
}

std::string ValueDisplayFilter::WindowTitle() const {
  if (caption_ && !caption_->empty()) return "[" + *caption_ + "] - Text Display";
  return "Text Display";
}

Result ValueDisplayFilter::Work() {
  HideDisplay();
  const Result read = ReadInput(in_);
  if (read == InputNotReady) return InputNotReady;
  if (read == InputNotConnected) {
    // Nothing to show is not a failure.
    text_.reset();
    typeLabel_.clear();
  } else {
    const Packet& packet = in_->packet;
    if (packet.data == nullptr) return Fail("input \"In\" received an empty packet");
    switch (static_cast<PacketType>(packet.type)) {
      case PacketType::String:
        text_ = std::string(static_cast<const char*>(packet.data));
        typeLabel_ = "String";
        break;
      case PacketType::Integer: {
        int32_t value = 0;
        std::memcpy(&value, packet.data, sizeof value);
        text_ = FormatInteger(value);
        typeLabel_ = "Integer";
        break;
      }
      case PacketType::Float: {
        double value = 0.0;
        std::memcpy(&value, packet.data, sizeof value);
        text_ = FormatReal(value);
        typeLabel_ = "Float";
        break;
      }
      default:
        return Failf("input \"In\" received a packet of type %d; only texts, integers and reals are shown",
                     static_cast<int>(packet.type));
    }
  }
  ReportProgress(1.0);
  ShowDisplay();
  return Ok;
}

}  // namespace vorlan
