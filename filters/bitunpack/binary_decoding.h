// Decoding of the fixed-width binary stream (layout in binary_coding.h of
// the bitpack library).
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding.h"
#include "vorlan/payloads.h"

namespace vorlan {

// Decodes `length` bytes into `out`. Fails for fields of 0 or more than 32
// bits, for more than `valueLimit` values, and for a stream too short to hold
// the values it claims. `reserve` is asked for the output's bytes before they
// are allocated. Never reads outside `data`.
CodingResult DecodeBinary(const uint8_t* data, size_t length, OwnedIntArray& out, const CodingTick& tick = {},
                          int64_t valueLimit = kMaxDecodedValues, const CodingReserve& reserve = {});

}  // namespace vorlan
