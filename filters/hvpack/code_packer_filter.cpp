#include "code_packer_filter.h"

#include <cmath>
#include <cstring>
#include <new>
#include <span>

#include "code_container.h"
#include "fractal/code_layout.h"
#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan::hvpack {

namespace {

std::span<const int32_t> View(const IntArray* array) {
  if (array == nullptr || array->count <= 0) return {};
  return {array->values, static_cast<size_t>(array->count)};
}

constexpr SettingChoice kVersions[] = {{1, "v1", "1 (every field from the fields before it)"},
                                       {2, "v2", "2 (offsets predicted from the neighbouring ranges)"}};
constexpr SettingField kFields[] = {
    {.identifier = "formatVersion", .label = "Format version", .type = kSettingChoice, .defaultValue = 1,
     .choiceCount = 2, .choices = kVersions, .unit = "",
     .help = "the packed container's format: 1 is read by every unpacker, 2 is smaller and needs an unpacker "
             "that reads version 2"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 1, kFields};

}  // namespace

const SettingsDescription& CodePackerFilter::DescribeSettings() { return kDescription; }

Result CodePackerFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr && packet.length > 0) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native) {
    if (packet.data == nullptr || packet.length < static_cast<int32_t>(sizeof(CodePackerSettings))) {
      return Fail("the settings record is too short");
    }
    std::memcpy(&settings_, packet.data, sizeof settings_);
  } else if (form == ConfigForm::Serialized && packet.data != nullptr) {
    ConfigReader reader(packet);
    (void)reader.Int32(settings_.formatVersion);
  }
  return Ok;
}

Packet CodePackerFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&settings_, sizeof settings_);
  ConfigWriter writer;
  writer.Int32(settings_.formatVersion);
  return writer.ToPacket();
}

std::string CodePackerFilter::SettingsProblem() const {
  if (settings_.formatVersion < 1 || settings_.formatVersion > codepack::kLatestFormatVersion) {
    return "\"formatVersion\": the packer writes format versions 1 and 2, not " +
           std::to_string(settings_.formatVersion);
  }
  return {};
}

CodePackerFilter::CodePackerFilter() : FilterBase(kInfo) {
  for (int i = 0; i < 10; ++i) code_[i] = AddNewPin(fractal::kCodePinNames[i], PinKind::Input, i == 0 ? kBytesLikePackets : kIntArrayPacket);
  out_ = AddNewPin("Out", PinKind::Output, kBytesPacket);
}

CodePackerFilter::~CodePackerFilter() {
  if (out_ != nullptr) Withdraw(out_);
}

void CodePackerFilter::ReleaseOutputs() {
  stream_.clear();
  stream_.shrink_to_fit();
}

Result CodePackerFilter::Work() {
  Withdraw(out_);
  ReleaseOutputs();
  if (const std::string problem = SettingsProblem(); !problem.empty()) return Fail(problem);

  codepack::CodeView code;
  Result r = ReadBytes(code_[0], code.header, code.headerLength);
  if (r != Ok) return r;
  // SI, OI, TRN, DP, DF, then the tree; RP and RS only when connected.
  const IntArray* arrays[9] = {};
  for (int i = 1; i < 10; ++i) {
    const bool optional = i + 2 == kRpPin || i + 2 == kRsPin;
    if (optional && !code_[i]->connected) continue;
    r = ReadIntArray(code_[i], arrays[i - 1]);
    if (r != Ok) return r;
  }
  code.si = View(arrays[0]);
  code.oi = View(arrays[1]);
  code.trn = View(arrays[2]);
  code.dp = View(arrays[3]);
  code.df = View(arrays[4]);
  code.hasRp = arrays[5] != nullptr;
  code.rp = View(arrays[5]);
  code.hasRs = arrays[6] != nullptr;
  code.rs = View(arrays[6]);
  code.rtd = View(arrays[7]);
  code.rtt = View(arrays[8]);

  std::string reason;
  try {
    reason = codepack::PackCode(code, stream_, settings_.formatVersion);
  } catch (const std::bad_alloc&) {
    reason = "out of memory while packing the code";
  }
  if (!reason.empty()) {
    ReleaseOutputs();
    return Fail(reason);
  }
  Publish(out_, MakePacket(static_cast<int32_t>(stream_.size()), PacketType::Bytes, stream_.data()));
  return Ok;
}

}  // namespace vorlan::hvpack
