// Decoding of the fixed-width binary stream (layout in binary_coding.h of
// the bitpack library).
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding.h"
#include "vorlan/payloads.h"

namespace vorlan {

// Decodes `length` bytes into `out`. Values the stream is too short for
// read as 0. Fails for fields wider than 32 bits and for more than
// `valueLimit` values. Never reads outside `data`.
CodingResult DecodeBinary(const uint8_t* data, size_t length, OwnedIntArray& out, const CodingTick& tick = {},
                          int64_t valueLimit = kMaxDecodedValues);

}  // namespace vorlan
