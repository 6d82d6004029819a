// Serialized settings: the ConfigStream byte layout shared by every filter
// kind and stored inside graph files. All values are little-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vorlan/contract.h"

namespace vorlan {

// Appends items; the buffer always holds exactly the bytes written.
class ConfigWriter {
 public:
  void Int32(int32_t value);
  void Float32(float value);  // raw IEEE single bit pattern
  void Float64(double value);  // raw IEEE double bit pattern
  void Byte(uint8_t value);
  // int32 length, then the characters without terminator; a missing text is
  // written as length -1 and no characters.
  void Text(const std::optional<std::string>& text);

  const std::vector<uint8_t>& Bytes() const { return bytes_; }

  // A Config packet holding a malloc'ed copy the caller owns; an empty
  // stream gives {0, Config, null}; {0, 0, null} when memory runs out.
  Packet ToPacket() const;

 private:
  std::vector<uint8_t> bytes_;
};

// Reads items back in order; every read fails without consuming anything
// when fewer bytes remain than it needs. The payload must outlive the reader.
class ConfigReader {
 public:
  ConfigReader(const void* data, size_t length);
  explicit ConfigReader(const Packet& packet);

  [[nodiscard]] bool Int32(int32_t& value);
  [[nodiscard]] bool Float32(float& value);
  [[nodiscard]] bool Float64(double& value);
  [[nodiscard]] bool Byte(uint8_t& value);
  // Length -1 yields a missing text (nullopt).
  [[nodiscard]] bool Text(std::optional<std::string>& text);

  size_t Remaining() const { return length_ - cursor_; }

 private:
  bool Take(void* out, size_t n);

  const uint8_t* data_;
  size_t length_;
  size_t cursor_ = 0;
};

// A malloc'ed copy of a settings record for the Native form.
Packet NativeConfigPacket(const void* record, size_t size);

}  // namespace vorlan
