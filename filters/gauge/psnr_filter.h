// "PSNR enumerator": compares two planes of equal size and publishes the
// peak signal-to-noise ratio and three error measures as Float packets.
#pragma once

#include <cstdint>

#include "vorlan/filter_base.h"
#include "vorlan/settings_description.h"

namespace vorlan {

// The four measures of one comparison. psnr is -1.0 for identical planes.
struct PsnrResults {
  double psnr = -1.0;  // dB against the wider declared range
  double rms = -1.0;   // root-mean-square difference
  double md = -1.0;    // largest absolute difference
  double ad = -1.0;    // mean absolute difference
};

class PsnrFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"PSNR enumerator", 1, 0, 210};

  static constexpr int32_t kIn1Pin = 2;
  static constexpr int32_t kIn2Pin = 3;
  static constexpr int32_t kPsnrPin = 4;
  static constexpr int32_t kRmsPin = 5;
  static constexpr int32_t kMdPin = 6;
  static constexpr int32_t kAdPin = 7;

  PsnrFilter();

  // The prescaling flag as one int32 in both forms; null data is refused,
  // fewer than 4 bytes leave it unchanged.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  Packet GetConfig(ConfigForm form) override;

  int32_t Prescaling() const { return prescaling_; }

  // Every prescaling value can run (non-zero is on), so SettingsProblem stays "".
  static const SettingsDescription& DescribeSettings();
  // The published values; the packets point at these fields.
  const PsnrResults& Results() const { return results_; }

 protected:
  // [worker thread]
  Result Work() override;

 private:
  Result Compare(const Plane& a, const Plane& b);

  Pin* in1_ = nullptr;
  Pin* in2_ = nullptr;
  Pin* outs_[4] = {nullptr, nullptr, nullptr, nullptr};
  PsnrResults results_;
  int32_t prescaling_ = 0;
};

}  // namespace vorlan
