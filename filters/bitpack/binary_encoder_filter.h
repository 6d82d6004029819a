// The binary encoder: "In" (IntArray) -> "Out" (Bytes, fixed-width stream).
// No settings.
#pragma once

#include "bit_stream.h"
#include "vorlan/filter_base.h"
#include "vorlan/settings_description.h"

namespace vorlan {

class BinaryEncoderFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Binary encoder", 1, 0, 170};
  // Nothing to set: the settings stream is empty.
  static const SettingsDescription& DescribeSettings() { return kNoSettings; }

  BinaryEncoderFilter();
  ~BinaryEncoderFilter();

 protected:
  Result Work() override;
  void ReleaseOutputs() override { stream_.Clear(); }

 private:
  Pin* in_ = nullptr;
  Pin* out_ = nullptr;
  BitWriter stream_{64};  // its buffer is the published payload
};

}  // namespace vorlan
