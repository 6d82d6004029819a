#include "numbered_pins_filter.h"

#include <cstring>
#include <string>

#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan {

NumberedPinsFilter::NumberedPinsFilter(const FilterInfo& info, const char* fixedPin, PinKind fixedKind,
                                       PinKind numberedKind)
    : FilterBase(info),
      numberedKind_(numberedKind),
      direction_(numberedKind == PinKind::Input ? "input" : "output") {
  AddNewPin(fixedPin, fixedKind, fixedKind == PinKind::Input ? kBytesLikePackets : kBytesPacket);
  AddNumberedPins();
}

NumberedPinsFilter::~NumberedPinsFilter() = default;

Result NumberedPinsFilter::AddNumberedPins() {
  for (int32_t i = 1; i <= settings_.pinCount; ++i) {
    if (AddNewPin(std::to_string(i).c_str(), numberedKind_, kAnyPacket) == nullptr) return Fail("out of memory for the pins");
  }
  return Ok;
}

std::string NumberedPinsFilter::PinCountProblem(int32_t n) const {
  if (n >= 0 && n <= kMaxNumberedPins) return "";
  std::string reason = "\"pinCount\": the number of ";
  reason += direction_;
  reason += " pins " + std::to_string(n) + " is outside 0.." + std::to_string(kMaxNumberedPins);
  return reason;
}

Result NumberedPinsFilter::SetPinCount(int32_t n) {
  if (const std::string problem = PinCountProblem(n); !problem.empty()) return Fail(problem);
  if (n == settings_.pinCount && pinCount == kFixedPin + 1 + n) return Ok;
  RemovePinsFrom(kFixedPin + 1);
  OnNumberedPinsRemoved();
  settings_.pinCount = n;
  return AddNumberedPins();
}

Result NumberedPinsFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native) {
    if (packet.length < static_cast<int32_t>(sizeof(PinCountSettings))) {
      return Fail("the settings record is too short");
    }
    PinCountSettings s;
    std::memcpy(&s, packet.data, sizeof s);
    return SetPinCount(s.pinCount);
  }
  if (form == ConfigForm::Serialized) {
    ConfigReader reader(packet);
    int32_t n = 0;
    if (!reader.Int32(n)) return Ok;
    return SetPinCount(n);
  }
  return Ok;
}

Packet NumberedPinsFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&settings_, sizeof settings_);
  if (form != ConfigForm::Serialized) return Packet{0, 0, nullptr};
  ConfigWriter writer;
  writer.Int32(settings_.pinCount);
  return writer.ToPacket();
}

Result NumberedPinsFilter::ApplyRunConfig(Packet packet) {
  ConfigReader reader(packet);
  int32_t n = 0;
  if (!reader.Int32(n) || n < 0 || n > kMaxNumberedPins || n == settings_.pinCount) return Ok;
  return Failf("\"Cfg in\" asks for %d %s pins while the graph is wired to %d; change the pin count outside a run", n,
               direction_, settings_.pinCount);
}

}  // namespace vorlan
