// The Huffman encoder: "In" (IntArray) -> "Out" (Bytes, a Huffman stream).
// Its one setting is the word length W, the number of values per symbol.
#pragma once

#include <string>

#include "bit_stream.h"
#include "vorlan/filter_base.h"
#include "vorlan/settings_description.h"

namespace vorlan {

struct HuffmanEncoderSettings {
  int32_t wordLength = 1;  // 1..255; checked when a run starts
};

class HuffmanEncoderFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Huffman encoder", 1, 0, 190};

  HuffmanEncoderFilter();
  ~HuffmanEncoderFilter();

  // Native: the settings record; Serialized: one int32 W. Any W is taken;
  // a W outside 1..255 fails the run that uses it.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  Packet GetConfig(ConfigForm form) override;

  const HuffmanEncoderSettings& Settings() const { return settings_; }

  static const SettingsDescription& DescribeSettings();
  // A word length outside 1..255; the run checks it before reading "In".
  std::string SettingsProblem() const override;

 protected:
  Result Work() override;
  void ReleaseOutputs() override { stream_.Clear(); }

 private:
  HuffmanEncoderSettings settings_;
  Pin* in_ = nullptr;
  Pin* out_ = nullptr;
  BitWriter stream_{32};  // the published stream; ours until the next Process or Reset
};

}  // namespace vorlan
