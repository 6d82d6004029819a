#include "vorlan/config_stream.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace vorlan {

static_assert(std::endian::native == std::endian::little,
              "ConfigStream items are copied as little-endian bytes");

void ConfigWriter::Int32(int32_t value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  bytes_.insert(bytes_.end(), p, p + sizeof value);
}

void ConfigWriter::Float32(float value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  bytes_.insert(bytes_.end(), p, p + sizeof value);
}

void ConfigWriter::Float64(double value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  bytes_.insert(bytes_.end(), p, p + sizeof value);
}

void ConfigWriter::Byte(uint8_t value) { bytes_.push_back(value); }

void ConfigWriter::Text(const std::optional<std::string>& text) {
  if (!text) {
    Int32(-1);
    return;
  }
  Int32(static_cast<int32_t>(text->size()));
  bytes_.insert(bytes_.end(), text->begin(), text->end());
}

Packet ConfigWriter::ToPacket() const {
  if (bytes_.empty()) return MakePacket(0, PacketType::Config, nullptr);
  if (bytes_.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    return Packet{0, 0, nullptr};
  }
  void* copy = std::malloc(bytes_.size());
  if (copy == nullptr) return Packet{0, 0, nullptr};
  std::memcpy(copy, bytes_.data(), bytes_.size());
  return MakePacket(static_cast<int32_t>(bytes_.size()), PacketType::Config, copy);
}

ConfigReader::ConfigReader(const void* data, size_t length)
    : data_(static_cast<const uint8_t*>(data)), length_(data == nullptr ? 0 : length) {}

ConfigReader::ConfigReader(const Packet& packet)
    : ConfigReader(packet.data, packet.length > 0 ? static_cast<size_t>(packet.length) : 0) {}

bool ConfigReader::Take(void* out, size_t n) {
  if (Remaining() < n) return false;
  if (n > 0) std::memcpy(out, data_ + cursor_, n);
  cursor_ += n;
  return true;
}

bool ConfigReader::Int32(int32_t& value) { return Take(&value, sizeof value); }
bool ConfigReader::Float32(float& value) { return Take(&value, sizeof value); }
bool ConfigReader::Float64(double& value) { return Take(&value, sizeof value); }
bool ConfigReader::Byte(uint8_t& value) { return Take(&value, sizeof value); }

bool ConfigReader::Text(std::optional<std::string>& text) {
  const size_t start = cursor_;
  int32_t length = 0;
  if (!Int32(length)) return false;
  if (length == -1) {
    text.reset();
    return true;
  }
  // The declared length is checked against what remains before anything is
  // allocated, so a corrupt stream cannot ask for gigabytes.
  if (length < 0 || static_cast<size_t>(length) > Remaining()) {
    cursor_ = start;
    return false;
  }
  text.emplace(reinterpret_cast<const char*>(data_ + cursor_), static_cast<size_t>(length));
  cursor_ += static_cast<size_t>(length);
  return true;
}

Packet NativeConfigPacket(const void* record, size_t size) {
  void* copy = std::malloc(size);
  if (copy == nullptr) return Packet{0, 0, nullptr};
  std::memcpy(copy, record, size);
  return MakePacket(static_cast<int32_t>(size), PacketType::Config, copy);
}

}  // namespace vorlan
