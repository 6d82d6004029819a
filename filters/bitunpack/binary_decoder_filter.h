// The binary decoder: "In" (a binary stream, any packet read as bytes) ->
// "Out" (IntArray). No settings.
#pragma once

#include "binary_decoding.h"
#include "stream_decoder_filter.h"

namespace vorlan {

class BinaryDecoderFilter : public StreamDecoderFilter {
 public:
  static constexpr FilterInfo kInfo{"Binary decoder", 1, 0, 180};

  BinaryDecoderFilter() : StreamDecoderFilter(kInfo, DecodeBinary) {}
};

}  // namespace vorlan
