// The HV code unpacker: a packed code in on "In" (any packet read as bytes),
// the eleven pieces of the fractal code out, in the HV decoder's pin order
// and with the encoder's packet types: "HDR" (Bytes, 48), then "SI", "OI",
// "TRN", "DP", "DF", "RP", "RS", "RTD", "RTT" (IntArray). RP and RS are
// rebuilt from the tree. A stream that is damaged, cut short or too long,
// or whose code the decoder would refuse, fails the run with a reason.
// No settings.
#pragma once

#include <cstdint>

#include "code_container.h"
#include "vorlan/filter_base.h"
#include "vorlan/settings_description.h"

namespace vorlan::hvunpack {

class CodeUnpackerFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"HV code unpacker", 1, 0, 1010};
  // Nothing to set: the settings stream is empty.
  static const SettingsDescription& DescribeSettings() { return kNoSettings; }

  static constexpr int32_t kInPin = 2;
  static constexpr int32_t kHdrPin = 3;  // then SI ... RTT on 4 ... 12

  CodeUnpackerFilter();
  ~CodeUnpackerFilter();

  const codepack::UnpackedCode& Code() const { return code_; }

 protected:
  Result Work() override;
  void ReleaseOutputs() override;

 private:
  void WithdrawCode();

  Pin* in_ = nullptr;
  Pin* codePins_[10] = {};
  // Published on the code pins until the next Process or Reset.
  codepack::UnpackedCode code_;
  IntArray records_[9] = {};
};

}  // namespace vorlan::hvunpack
