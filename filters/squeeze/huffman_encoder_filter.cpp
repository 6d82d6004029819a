#include "huffman_encoder_filter.h"

#include "huffman_encoding.h"
#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan {

namespace {

constexpr SettingField kFields[] = {
    {.identifier = "wordLength", .label = "N-grams", .type = kSettingInt32, .defaultValue = 1, .minimum = 1,
     .maximum = 255, .unit = "values", .help = "number of consecutive values coded as one Huffman symbol"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 1, kFields};

}  // namespace

const SettingsDescription& HuffmanEncoderFilter::DescribeSettings() { return kDescription; }

std::string HuffmanEncoderFilter::SettingsProblem() const {
  if (settings_.wordLength >= 1 && settings_.wordLength <= 255) return "";
  return std::string("\"wordLength\": the word length (N-grams) ") + std::to_string(settings_.wordLength) +
         " is outside 1..255";
}

HuffmanEncoderFilter::HuffmanEncoderFilter() : FilterBase(kInfo) {
  in_ = AddNewPin("In", PinKind::Input, kIntArrayPacket);
  out_ = AddNewPin("Out", PinKind::Output, kBytesPacket);
}

HuffmanEncoderFilter::~HuffmanEncoderFilter() = default;

Result HuffmanEncoderFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native) {
    if (packet.length < static_cast<int32_t>(sizeof(HuffmanEncoderSettings))) {
      return Fail("the settings record is too short");
    }
    std::memcpy(&settings_, packet.data, sizeof settings_);
  } else if (form == ConfigForm::Serialized) {
    ConfigReader reader(packet);
    int32_t w = 0;
    if (reader.Int32(w)) settings_.wordLength = w;  // a short stream keeps W
  }
  return Ok;
}

Packet HuffmanEncoderFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&settings_, sizeof settings_);
  if (form != ConfigForm::Serialized) return Packet{0, 0, nullptr};
  ConfigWriter writer;
  writer.Int32(settings_.wordLength);
  return writer.ToPacket();
}

Result HuffmanEncoderFilter::Work() {
  Withdraw(out_);
  stream_.Clear();
  if (const std::string problem = SettingsProblem(); !problem.empty()) return Fail(problem);
  const IntArray* array = nullptr;
  const Result r = ReadIntArray(in_, array);
  if (r != Ok) return r;

  const CodingResult coded = EncodeHuffman(array->values, array->count, settings_.wordLength, stream_,
                                           [this](double fraction) {
                                             ReportProgress(fraction);
                                             return !StopRequested();
                                           });
  if (coded.status == CodingStatus::Stopped) return Stopped;
  if (coded.status == CodingStatus::Failed) return Fail(coded.reason);
  Publish(out_, MakePacket(static_cast<int32_t>(stream_.UsedBytes()), PacketType::Bytes, stream_.Data()));
  return Ok;
}

}  // namespace vorlan
