#include "serializer_filter.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>


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

constexpr SettingField kFields[] = {
    {.identifier = "pinCount", .label = "Number of input pins", .type = kSettingInt32, .defaultValue = 2, .minimum = 0,
     .maximum = kMaxNumberedPins, .unit = "pins",
     .help = "number of numbered inputs \"1\"..\"N\" joined into the container, in pin order"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 1, kFields};

}  // namespace

const SettingsDescription& SerializerFilter::DescribeSettings() { return kDescription; }

SerializerFilter::SerializerFilter() : NumberedPinsFilter(kInfo, "Out", PinKind::Output, PinKind::Input) {}

SerializerFilter::~SerializerFilter() = default;

Result SerializerFilter::Work() {
  try {
    return Join();
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
}

Result SerializerFilter::Join() {
  Withdraw(FixedPin());
  container_.Release();
  const int32_t n = NumberedPinCount();
  std::vector<RecordSource> records(static_cast<size_t>(n));
  int64_t total = 4;
  for (int32_t i = 0; i < n; ++i) {
    Pin* pin = NumberedPin(i + 1);
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
  Publish(FixedPin(), container_.AsPacket(PacketType::Bytes));
  return Ok;
}

}  // namespace vorlan
