// "Bmp encoder": three planes of equal size become a 24-bit bottom-up BMP,
// each plane's declared [min, max] range scaled onto 0..255.
#pragma once

#include "nearest_level.h"
#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"
#include "vorlan/settings_description.h"

namespace vorlan {

class BmpEncoderFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Bmp encoder", 1, 0, 50};
  // Nothing to set: the settings stream is empty.
  static const SettingsDescription& DescribeSettings() { return kNoSettings; }

  // Pin indexes; graph files store them.
  static constexpr int32_t kOutPin = 2;
  static constexpr int32_t kRPin = 3;
  static constexpr int32_t kGPin = 4;
  static constexpr int32_t kBPin = 5;

  BmpEncoderFilter();

 protected:
  // [worker thread]
  Result Work() override;
  void ReleaseOutputs() override { bmp_.Release(); }

 private:
  Pin* out_ = nullptr;
  Pin* rIn_ = nullptr;
  Pin* gIn_ = nullptr;
  Pin* bIn_ = nullptr;
  OwnedBytes bmp_;
};

// One sample scaled from [min, max] onto a byte, rounded to the nearest
// level (nearest_level.h).
inline uint8_t ScaleToByte(double sample, double min, double max) {
  return static_cast<uint8_t>(NearestLevel(sample, min, max, 255));
}

}  // namespace vorlan
