// The serializer: numbered inputs "1".."N" -> "Out" (Bytes), one container
// holding every input packet as a record.
//
// Container, little-endian int32s without padding: the record count R, then
// per record its packet type, its payload length L and L payload bytes. Plain
// payloads (Bytes, Config, String, Integer, Float, ...) are stored byte for
// byte, a String up to and including its terminator. Records that hold addresses are stored by value instead: an IntArray
// as its count x 4 value bytes (type 8), a Plane as int32 width, int32 height,
// float64 min, float64 max and the samples (type 2).
#pragma once

#include "numbered_pins_filter.h"
#include "vorlan/settings_description.h"
#include "vorlan/payloads.h"

namespace vorlan {

inline constexpr int32_t kMaxSerializerPins = kMaxNumberedPins;
using SerializerSettings = PinCountSettings;  // N numbered input pins

class SerializerFilter : public NumberedPinsFilter {
 public:
  static constexpr FilterInfo kInfo{"Serializer", 1, 0, 150};

  SerializerFilter();

  static const SettingsDescription& DescribeSettings();
  ~SerializerFilter();

 protected:
  Result Work() override;
  void ReleaseOutputs() override { container_.Release(); }

 private:
  Result Join();  // Work; allocation failures end it as "out of memory"

  OwnedBytes container_;  // the published container
};

}  // namespace vorlan
