// Decoding of the Huffman streams the encoder writes (layout in
// huffman_encoding.h of the squeeze library).
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding.h"
#include "vorlan/payloads.h"

namespace vorlan {

// Decodes `length` bytes into `out`. A stream that ends early is decoded as
// far as it goes: every field or code bit past the end reads as 0. Headers
// that cannot be decoded safely fail: W = 0, value or frequency fields wider
// than 32 bits, S = 0 with T > 0, T or S above `valueLimit`, more than
// kMaxHuffmanEntries entries. Never reads outside `data`.
CodingResult DecodeHuffman(const uint8_t* data, size_t length, OwnedIntArray& out, const CodingTick& tick = {},
                           int64_t valueLimit = kMaxDecodedValues);

}  // namespace vorlan
