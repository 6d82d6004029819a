// The HV code packer: the eleven pieces of a fractal code in, one packed
// byte stream out. Pins in the HV decoder's order, so an encoder connects
// pin for pin: "HDR", "SI", "OI", "TRN", "DP", "DF", "RP", "RS", "RTD",
// "RTT", then "Out" (Bytes). The tree (RTD + RTT) is what gets coded; RP and
// RS may stay unconnected and, when connected, must agree with the tree.
// One setting, the format version the packer writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vorlan/filter_base.h"
#include "vorlan/settings_description.h"

namespace vorlan::hvpack {

// The settings record, also the Native configuration form. Graphs written
// before the packer had settings carry an empty stream and get version 1.
struct CodePackerSettings {
  int32_t formatVersion = 1;  // 1, or 2 (offsets predicted from the neighbouring ranges)
};
static_assert(sizeof(CodePackerSettings) == 4);

class CodePackerFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"HV code packer", 1, 0, 1000};
  static const SettingsDescription& DescribeSettings();

  // Null data is refused. Native: the whole record. Serialized: the format
  // version as int32; an empty stream keeps it. Not range-checked here: a
  // version the packer does not write fails the run.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  Packet GetConfig(ConfigForm form) override;
  std::string SettingsProblem() const override;
  const CodePackerSettings& Settings() const { return settings_; }

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
  CodePackerSettings settings_;
  Pin* code_[10] = {};
  Pin* out_ = nullptr;
  std::vector<uint8_t> stream_;  // published on "Out" until the next Process or Reset
};

}  // namespace vorlan::hvpack
