// The Huffman decoder: "In" (a Huffman stream, any packet read as bytes) ->
// "Out" (IntArray). No settings.
#pragma once

#include "huffman_decoding.h"
#include "stream_decoder_filter.h"
#include "vorlan/settings_description.h"

namespace vorlan {

class HuffmanDecoderFilter : public StreamDecoderFilter {
 public:
  static constexpr FilterInfo kInfo{"Huffman decoder", 1, 0, 200};
  // Nothing to set: the settings stream is empty.
  static const SettingsDescription& DescribeSettings() { return kNoSettings; }

  HuffmanDecoderFilter() : StreamDecoderFilter(kInfo, DecodeHuffman) {}
};

}  // namespace vorlan
