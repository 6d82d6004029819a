#include "deserializer_filter.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>


namespace vorlan {
namespace {

int32_t LoadInt32(const uint8_t* at) {
  int32_t v;
  std::memcpy(&v, at, 4);
  return v;
}

constexpr int32_t kPlaneHeaderBytes = 4 + 4 + 8 + 8;

constexpr SettingField kFields[] = {
    {.identifier = "pinCount", .label = "Number of output pins", .type = kSettingInt32, .defaultValue = 2, .minimum = 0,
     .maximum = kMaxNumberedPins, .unit = "pins",
     .help = "number of numbered outputs \"1\"..\"N\"; record j of the container goes to output j"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 1, kFields};

}  // namespace

const SettingsDescription& DeserializerFilter::DescribeSettings() { return kDescription; }

DeserializerFilter::DeserializerFilter() : NumberedPinsFilter(kInfo, "In", PinKind::Input, PinKind::Output) {}

DeserializerFilter::~DeserializerFilter() = default;

Result DeserializerFilter::MakeOutput(int32_t type, const uint8_t* payload, int32_t length, int32_t number,
                                      Packet& packet) {
  Slot& slot = *slots_[number - 1];
  // Copies of numbers, arrays and planes count against the run's budget for
  // decoded data; plain bytes stay inside the container.
  if (type == static_cast<int32_t>(PacketType::IntArray) || type == static_cast<int32_t>(PacketType::Plane) ||
      type == static_cast<int32_t>(PacketType::Integer) || type == static_cast<int32_t>(PacketType::Float) ||
      type == static_cast<int32_t>(PacketType::String)) {
    char what[48];
    std::snprintf(what, sizeof what, "record %d", number);
    if (ReserveDecoded(length, length, what) != Ok) return Failed;
  }
  switch (static_cast<PacketType>(type)) {
    case PacketType::IntArray: {
      if (length % 4 != 0) return Failf("record %d holds an integer array of %d bytes", number, length);
      const int64_t count = length / 4;
      if (count > valueLimit_) return Failf("record %d holds %lld values, too many", number, (long long)count);
      if (!slot.array.Allocate(count)) return Failf("out of memory for record %d", number);
      if (count > 0) std::memcpy(slot.array.Values(), payload, static_cast<size_t>(length));
      packet = slot.array.AsPacket();
      return Ok;
    }
    case PacketType::Plane: {
      if (length < kPlaneHeaderBytes) return Failf("record %d holds a truncated plane", number);
      const int32_t width = LoadInt32(payload);
      const int32_t height = LoadInt32(payload + 4);
      const int64_t count = int64_t{width} * height;
      const int32_t sampleBytes = length - kPlaneHeaderBytes;
      if (width < 0 || height < 0 || sampleBytes % 8 != 0 || count != sampleBytes / 8) {
        return Failf("record %d holds a malformed plane", number);
      }
      if (count > valueLimit_) return Failf("record %d holds a plane of %lld samples, too many", number, (long long)count);
      double min, max;
      std::memcpy(&min, payload + 8, 8);
      std::memcpy(&max, payload + 16, 8);
      if (!slot.plane.Allocate(width, height, min, max)) return Failf("out of memory for record %d", number);
      if (count > 0) std::memcpy(slot.plane.Samples(), payload + kPlaneHeaderBytes, static_cast<size_t>(count * 8));
      packet = slot.plane.AsPacket();
      return Ok;
    }
    case PacketType::Integer:
    case PacketType::Float:
    case PacketType::String: {
      if (length == 0) {
        packet = Packet{0, type, nullptr};  // an empty packet went in
        return Ok;
      }
      const bool isString = type == static_cast<int32_t>(PacketType::String);
      const int32_t expected = type == static_cast<int32_t>(PacketType::Integer) ? 4 : 8;
      if (isString ? std::memchr(payload, 0, static_cast<size_t>(length)) == nullptr : length != expected) {
        return isString ? Failf("record %d holds a text without its terminator", number)
                        : Failf("record %d holds a %d-byte number where %d bytes belong", number, length, expected);
      }
      if (!slot.bytes.Allocate(length)) return Failf("out of memory for record %d", number);
      std::memcpy(slot.bytes.Data(), payload, static_cast<size_t>(length));
      packet = slot.bytes.AsPacket(static_cast<PacketType>(type));
      return Ok;
    }
    default:
      // Plain bytes stay where they are, inside the container.
      packet = Packet{length, type, const_cast<uint8_t*>(payload)};
      return Ok;
  }
}

Result DeserializerFilter::Work() {
  try {
    return Split();
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
}

Result DeserializerFilter::Split() {
  const int32_t n = NumberedPinCount();
  for (int32_t j = 1; j <= n; ++j) Withdraw(NumberedPin(j));
  slots_.clear();

  const uint8_t* data = nullptr;
  int32_t length = 0;
  const Result r = ReadBytes(FixedPin(), data, length);
  if (r != Ok) return r;
  if (data == nullptr) return Fail("input \"In\" received an empty packet");
  if (length < 4) return Failf("the container has %d bytes, fewer than its 4-byte record count", length);
  const int32_t count = LoadInt32(data);
  if (count < 0 || 4 + int64_t{count} * 8 > length) {
    return Failf("the container claims %d records but holds only %d bytes", count, length);
  }

  // Every record header and payload must lie inside the container.
  std::vector<int64_t> offsets;
  offsets.reserve(static_cast<size_t>(count < n ? count : n));
  int64_t at = 4;
  for (int32_t j = 1; j <= count; ++j) {
    if (at + 8 > length) return Failf("record %d runs past the end of the container", j);
    const int32_t recordLength = LoadInt32(data + at + 4);
    if (recordLength < 0 || at + 8 + recordLength > length) {
      return Failf("record %d claims %d bytes, past the end of the container", j, recordLength);
    }
    if (j <= n) offsets.push_back(at);
    at += 8 + int64_t{recordLength};
  }

  slots_.reserve(static_cast<size_t>(n));
  for (int32_t j = 0; j < n; ++j) slots_.push_back(std::make_unique<Slot>());
  std::vector<Packet> packets(static_cast<size_t>(n), Packet{0, 0, nullptr});
  const auto m = static_cast<int32_t>(offsets.size());
  for (int32_t j = 1; j <= m; ++j) {
    if (StopRequested()) return Stopped;
    const int64_t offset = offsets[j - 1];
    const Result made = MakeOutput(LoadInt32(data + offset), data + offset + 8, LoadInt32(data + offset + 4), j,
                                   packets[j - 1]);
    if (made != Ok) return made;
    ReportProgress(double(j) / m);
  }
  for (int32_t j = 1; j <= n; ++j) Publish(NumberedPin(j), packets[j - 1]);
  return Ok;
}

}  // namespace vorlan
