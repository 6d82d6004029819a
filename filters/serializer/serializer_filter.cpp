#include "serializer_filter.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "vorlan/config_stream.h"

namespace vorlan {
namespace {

// The stored form of one input: its type, the bytes it takes in the
// container and where those bytes come from.
struct RecordSource {
  int32_t type = 0;
  int64_t length = 0;
  const void* payload = nullptr;  // Bytes and friends
  const IntArray* array = nullptr;
  const Plane* plane = nullptr;
};

constexpr int64_t kPlaneHeaderBytes = 4 + 4 + 8 + 8;

uint8_t* Put(uint8_t* at, const void* bytes, size_t n) {
  if (n > 0) std::memcpy(at, bytes, n);
  return at + n;
}

}  // namespace

SerializerFilter::SerializerFilter() : FilterBase(kInfo) {
  out_ = AddNewPin("Out", PinKind::Output);
  for (int32_t i = 1; i <= settings_.pinCount; ++i) AddNewPin(std::to_string(i).c_str(), PinKind::Input);
}

SerializerFilter::~SerializerFilter() = default;

Result SerializerFilter::SetPinCount(int32_t n) {
  if (n < 0 || n > kMaxSerializerPins) {
    return Failf("the number of input pins %d is outside 0..%d", n, kMaxSerializerPins);
  }
  if (n == settings_.pinCount && pinCount == kFirstNumberedPin + n) return Ok;
  RemovePinsFrom(kFirstNumberedPin);
  settings_.pinCount = n;
  for (int32_t i = 1; i <= n; ++i) {
    if (AddNewPin(std::to_string(i).c_str(), PinKind::Input) == nullptr) return Fail("out of memory for the pins");
  }
  return Ok;
}

Result SerializerFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native) {
    if (packet.length < static_cast<int32_t>(sizeof(SerializerSettings))) {
      return Fail("the settings record is too short");
    }
    SerializerSettings s;
    std::memcpy(&s, packet.data, sizeof s);
    return SetPinCount(s.pinCount);
  }
  if (form == ConfigForm::Serialized) {
    ConfigReader reader(packet);
    int32_t n = 0;
    if (!reader.Int32(n)) return Ok;  // a short stream keeps N
    return SetPinCount(n);
  }
  return Ok;
}

Packet SerializerFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&settings_, sizeof settings_);
  if (form != ConfigForm::Serialized) return Packet{0, 0, nullptr};
  ConfigWriter writer;
  writer.Int32(settings_.pinCount);
  return writer.ToPacket();
}

Result SerializerFilter::ApplyRunConfig(Packet packet) {
  ConfigReader reader(packet);
  int32_t n = 0;
  if (!reader.Int32(n) || n < 0 || n > kMaxSerializerPins || n == settings_.pinCount) return Ok;
  return Failf("\"Cfg in\" asks for %d input pins while the graph is wired to %d; change the pin count "
               "outside a run",
               n, settings_.pinCount);
}

Result SerializerFilter::Work() {
  try {
    return Join();
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
}

Result SerializerFilter::Join() {
  Withdraw(out_);
  container_.Release();
  const int32_t n = settings_.pinCount;
  std::vector<RecordSource> records(static_cast<size_t>(n));
  int64_t total = 4;
  for (int32_t i = 0; i < n; ++i) {
    Pin* pin = pins[kFirstNumberedPin + i];
    const Result read = ReadInput(pin);
    if (read == InputNotReady) return InputNotReady;
    if (read != Ok) return Failf("input \"%s\" is not connected", pin->name);
    const Packet& p = pin->packet;
    RecordSource& rec = records[i];
    rec.type = p.type;
    if (p.type == static_cast<int32_t>(PacketType::IntArray)) {
      const Result r = ReadIntArray(pin, rec.array);
      if (r != Ok) return r;
      rec.length = int64_t{rec.array->count} * 4;
    } else if (p.type == static_cast<int32_t>(PacketType::Plane)) {
      const Result r = ReadPlane(pin, rec.plane);
      if (r != Ok) return r;
      rec.length = kPlaneHeaderBytes + int64_t{rec.plane->width} * rec.plane->height * 8;
    } else {
      if (p.length < 0 || (p.length > 0 && p.data == nullptr)) {
        return Failf("input \"%s\" received a packet of %d bytes without a payload", pin->name, p.length);
      }
      rec.length = p.length;
      rec.payload = p.data;
      // The length producers give a text is not relied on: a text is stored
      // up to and including its terminator.
      if (p.type == static_cast<int32_t>(PacketType::String) && p.data != nullptr) {
        rec.length = static_cast<int64_t>(std::strlen(static_cast<const char*>(p.data))) + 1;
      }
    }
    total += 8 + rec.length;
    if (total > kMaxPacketLength) return Fail("the container would exceed the largest packet");
  }

  if (!container_.Allocate(total)) return Fail("out of memory for the container");
  uint8_t* at = Put(container_.Data(), &n, 4);
  for (int32_t i = 0; i < n; ++i) {
    if (StopRequested()) return Stopped;
    const RecordSource& rec = records[i];
    const auto length = static_cast<int32_t>(rec.length);
    at = Put(at, &rec.type, 4);
    at = Put(at, &length, 4);
    if (rec.array != nullptr) {
      at = Put(at, rec.array->values, static_cast<size_t>(rec.length));
    } else if (rec.plane != nullptr) {
      const Plane& plane = *rec.plane;
      at = Put(at, &plane.width, 4);
      at = Put(at, &plane.height, 4);
      at = Put(at, &plane.min, 8);
      at = Put(at, &plane.max, 8);
      at = Put(at, plane.samples, static_cast<size_t>(rec.length - kPlaneHeaderBytes));
    } else {
      at = Put(at, rec.payload, static_cast<size_t>(rec.length));
    }
    ReportProgress(double(i + 1) / n);
  }
  Publish(out_, container_.AsPacket(PacketType::Bytes));
  return Ok;
}

}  // namespace vorlan
