// The deserializer: "In" (a serializer container) -> numbered outputs
// "1".."N", record j on output j. Records beyond N are ignored; outputs
// beyond the record count publish empty packets.
//
// Bytes and Config records are published in place (pointing into the
// container, valid as long as its producer keeps it). Integer, Float and
// String records are published as aligned copies, IntArray and Plane records
// are rebuilt as records this filter owns.
#pragma once

#include <memory>
#include <vector>

#include "numbered_pins_filter.h"
#include "vorlan/settings_description.h"
#include "vorlan/payloads.h"

namespace vorlan {

inline constexpr int32_t kMaxDeserializerPins = kMaxNumberedPins;
using DeserializerSettings = PinCountSettings;  // N numbered output pins

class DeserializerFilter : public NumberedPinsFilter {
 public:
  static constexpr FilterInfo kInfo{"Deserializer", 1, 0, 160};

  DeserializerFilter();

  static const SettingsDescription& DescribeSettings();
  ~DeserializerFilter();

  // Largest array or plane a record may ask for (the fuzz harness lowers it).
  void SetValueLimit(int64_t limit) { valueLimit_ = limit; }

 protected:
  Result Work() override;
  void ReleaseOutputs() override { slots_.clear(); }
  void OnNumberedPinsRemoved() override { slots_.clear(); }

 private:
  // What one output publishes when it does not point into the container.
  struct Slot {
    OwnedBytes bytes;
    OwnedIntArray array;
    OwnedPlane plane;
  };

  Result Split();  // Work; allocation failures end it as "out of memory"
  Result MakeOutput(int32_t type, const uint8_t* payload, int32_t length, int32_t number, Packet& packet);

  std::vector<std::unique_ptr<Slot>> slots_;  // one per numbered output during a run
  int64_t valueLimit_ = int64_t{1} << 28;
};

}  // namespace vorlan
