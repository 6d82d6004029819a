// Any bytes applied as Serialized display settings must be taken without
// reading past their end, and what the display then writes back must read
// back to the same settings.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mono_display_filter.h"
#include "rgb_display_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlan;
  if (size > 1u << 20) return 0;
  // An exact-size copy, so a read past the end is caught.
  std::vector<uint8_t> bytes(data, data + size);
  RgbDisplayFilter rgb;
  rgb.ApplyConfig(MakePacket(static_cast<int32_t>(size), PacketType::Config, bytes.empty() ? nullptr : bytes.data()),
                  ConfigForm::Serialized);
  const Packet written = rgb.GetConfig(ConfigForm::Serialized);
  MonoDisplayFilter mono;
  if (mono.ApplyConfig(written, ConfigForm::Serialized) != Ok) std::abort();
  if (mono.Stretch() != rgb.Stretch() || mono.Caption() != rgb.Caption()) std::abort();
  std::free(written.data);
  return 0;
}
