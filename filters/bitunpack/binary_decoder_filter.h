// The binary decoder: "In" (a binary stream, any packet read as bytes) ->
// "Out" (IntArray). No settings.
#pragma once

#include "binary_decoding.h"
#include "stream_decoder_filter.h"
#include "vorlan/settings_description.h"

namespace vorlan {

class BinaryDecoderFilter : public StreamDecoderFilter {
 public:
  static constexpr FilterInfo kInfo{"Binary decoder", 1, 0, 180};
  // Nothing to set: the settings stream is empty.
  static const SettingsDescription& DescribeSettings() { return kNoSettings; }

  BinaryDecoderFilter() : StreamDecoderFilter(kInfo, DecodeBinary) {}
};

}  // namespace vorlan
