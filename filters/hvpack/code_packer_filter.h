// The HV code packer: the eleven pieces of a fractal code in, one packed
// byte stream out. Pins in the HV decoder's order, so an encoder connects
// pin for pin: "HDR", "SI", "OI", "TRN", "DP", "DF", "RP", "RS", "RTD",
// "RTT", then "Out" (Bytes). The tree (RTD + RTT) is what gets coded; RP and
// RS may stay unconnected and, when connected, must agree with the tree.
// No settings.
#pragma once

#include <cstdint>
#include <vector>

#include "vorlan/filter_base.h"
#include "vorlan/settings_description.h"

namespace vorlan::hvpack {

class CodePackerFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"HV code packer", 1, 0, 1000};
  // Nothing to set: the settings stream is empty.
  static const SettingsDescription& DescribeSettings() { return kNoSettings; }

  static constexpr int32_t kHdrPin = 2;  // then SI ... RTT on 3 ... 11
  static constexpr int32_t kRpPin = 8;
  static constexpr int32_t kRsPin = 9;
  static constexpr int32_t kOutPin = 12;

  CodePackerFilter();
  ~CodePackerFilter();

  // The last packed stream (empty before a successful run).
  const std::vector<uint8_t>& Stream() const { return stream_; }

 protected:
  Result Work() override;
  void ReleaseOutputs() override;

 private:
  Pin* code_[10] = {};
  Pin* out_ = nullptr;
  std::vector<uint8_t> stream_;  // published on "Out" until the next Process or Reset
};

}  // namespace vorlan::hvpack
