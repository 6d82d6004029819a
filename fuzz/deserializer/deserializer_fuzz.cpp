// Untrusted containers through the deserializer. Every published output is
// read whole, as a consumer would, so a record reaching past the container
// shows up under ASan.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "deserializer_filter.h"
#include "vorlan/config_stream.h"

namespace {

constexpr int32_t kPins = 4;
constexpr int64_t kFuzzValueLimit = int64_t{1} << 16;

volatile uint8_t sink;

void Touch(const void* bytes, int64_t length) {
  uint8_t sum = 0;
  for (int64_t i = 0; i < length; ++i) sum ^= static_cast<const uint8_t*>(bytes)[i];
  sink = sum;
}

void ReadWhole(const vorlan::Packet& p) {
  if (p.data == nullptr) {
    if (p.length != 0) std::abort();
    return;
  }
  switch (static_cast<vorlan::PacketType>(p.type)) {
    case vorlan::PacketType::IntArray: {
      const auto* a = static_cast<const vorlan::IntArray*>(p.data);
      Touch(a->values, int64_t{a->count} * 4);
      break;
    }
    case vorlan::PacketType::Plane: {
      const auto* plane = static_cast<const vorlan::Plane*>(p.data);
      if (plane->size != int64_t{plane->width} * plane->height * 8) std::abort();
      Touch(plane->samples, plane->size);
      break;
    }
    case vorlan::PacketType::String:
      if (std::strlen(static_cast<const char*>(p.data)) >= static_cast<size_t>(p.length)) std::abort();
      break;
    default:
      Touch(p.data, p.length);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  auto* copy = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
  if (size > 0) std::memcpy(copy, data, size);

  vorlan::DeserializerFilter deserializer;
  deserializer.SetValueLimit(kFuzzValueLimit);
  deserializer.Initialize();
  vorlan::ConfigWriter settings;
  settings.Int32(kPins);
  vorlan::Packet config = settings.ToPacket();
  deserializer.ApplyConfig(config, vorlan::ConfigForm::Serialized);
  vorlan::FreePacket(config);

  vorlan::Pin* source = vorlan::NewPin("Source", vorlan::PinKind::Output);
  vorlan::ConnectPins(deserializer.pins[2], source);
  vorlan::Publish(source, vorlan::MakePacket(static_cast<int32_t>(size), vorlan::PacketType::Bytes, copy));
  const vorlan::Result result = deserializer.Process();
  if (result == vorlan::Ok) {
    for (int32_t j = 0; j < kPins; ++j) ReadWhole(deserializer.pins[3 + j]->packet);
  } else if (result != vorlan::Failed || deserializer.FailureReason()[0] == '\0') {
    std::abort();
  }
  deserializer.Reset();
  std::free(source->name);
  delete source;
  std::free(copy);
  return 0;
}
