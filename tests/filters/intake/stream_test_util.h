// Helpers shared by the file stream tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "path_setting_filter.h"

namespace vorlan::test {

// The ConfigStream of a path: int32 length, then the bytes.
inline std::vector<uint8_t> SerializedPath(const std::string& path) {
  std::vector<uint8_t> bytes(4 + path.size());
  const int32_t length = static_cast<int32_t>(path.size());
  std::memcpy(bytes.data(), &length, 4);
  std::memcpy(bytes.data() + 4, path.data(), path.size());
  return bytes;
}

// The same followed by the int32 folder field.
inline std::vector<uint8_t> SerializedPath(const std::string& path, int32_t folder) {
  std::vector<uint8_t> bytes = SerializedPath(path);
  bytes.resize(bytes.size() + 4);
  std::memcpy(bytes.data() + bytes.size() - 4, &folder, 4);
  return bytes;
}

inline Result ApplySerialized(PathSettingFilter& f, std::vector<uint8_t> bytes) {
  return f.ApplyConfig(MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Config, bytes.data()),
                       ConfigForm::Serialized);
}

inline Result SetPath(PathSettingFilter& f, const std::string& path) { return ApplySerialized(f, SerializedPath(path)); }

inline std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(size);
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    const uint32_t v = rng();
    std::memcpy(&bytes[i], &v, 4);
  }
  for (; i < size; ++i) bytes[i] = static_cast<uint8_t>(rng());
  return bytes;
}

}  // namespace vorlan::test
