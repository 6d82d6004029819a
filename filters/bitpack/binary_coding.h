// The fixed-width binary stream: T (32 bits, number of values), V (8 bits,
// bits per value; 0x80 marks two's-complement fields), then every value in V
// bits, LSB-first, padded to a byte. ceil((40 + T x V) / 8) bytes.
#pragma once

#include <cstdint>

#include "bit_stream.h"
#include "coding.h"

namespace vorlan {

// Writes the stream of `count` values into `out` (cleared first). An empty
// array gives the 5 bytes T = 0, V = 1.
CodingResult EncodeBinary(const int32_t* values, int64_t count, BitWriter& out, const CodingTick& tick = {});

}  // namespace vorlan
