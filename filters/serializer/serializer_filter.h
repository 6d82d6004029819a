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

#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"

namespace vorlan {

// Numbered pins are built one by one, so their number is bounded.
inline constexpr int32_t kMaxSerializerPins = 4096;

struct SerializerSettings {
  int32_t pinCount = 2;  // N, the number of numbered input pins
};

class SerializerFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Serializer", 1, 0, 150};

  SerializerFilter();
  ~SerializerFilter();

  // Native: the settings record; Serialized: one int32 N. A negative N or
  // one above kMaxSerializerPins is refused; a new N rebuilds the numbered
  // pins (the host drops edges to vanished pins), the same N keeps them.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  Packet GetConfig(ConfigForm form) override;

  const SerializerSettings& Settings() const { return settings_; }

 protected:
  Result Work() override;
  // Pins cannot be rebuilt while peers read them: a different N arriving on
  // "Cfg in" fails the run.
  Result ApplyRunConfig(Packet packet) override;
  void ReleaseOutputs() override { container_.Release(); }

 private:
  Result SetPinCount(int32_t n);
  Result Join();  // Work; allocation failures end it as "out of memory"

  static constexpr int32_t kFirstNumberedPin = 3;
  SerializerSettings settings_;
  Pin* out_ = nullptr;
  OwnedBytes container_;  // the published container
};

}  // namespace vorlan
