// Decoding of the Huffman streams the encoder writes (layout in
// huffman_encoding.h of the squeeze library).
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding.h"
#include "vorlan/payloads.h"

namespace vorlan {

// Decodes `length` bytes into `out`. A stream whose data ends early is
// decoded as far as it goes: every code bit past the end reads as 0. Headers
// the encoder cannot have written fail: W = 0, value or frequency fields of 0
// or more than 32 bits, S = 0 with T > 0, S > T, a short entry that is not the
// tail of T mod W values, T or S above `valueLimit`, more than
// kMaxHuffmanEntries entries, and a table or frequencies cut short. `reserve`
// is asked for the output's bytes before they are allocated. Never reads
// outside `data`.
CodingResult DecodeHuffman(const uint8_t* data, size_t length, OwnedIntArray& out, const CodingTick& tick = {},
                           int64_t valueLimit = kMaxDecodedValues, const CodingReserve& reserve = {});

}  // namespace vorlan
