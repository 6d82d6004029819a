#include "binary_decoding.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "bit_stream.h"

namespace vorlan {

CodingResult DecodeBinary(const uint8_t* data, size_t length, OwnedIntArray& out, const CodingTick& tick,
                          int64_t valueLimit, const CodingReserve& reserve) {
  out.Release();
  // Fields start at 0 and stay 0 when the stream cannot supply them.
  BitReader reader(data, length);
  uint32_t t = 0, widthByte = 0;
  (void)reader.ReadBits(32, t);
  (void)reader.ReadBits(8, widthByte);
  unsigned bits = 0;
  bool isSigned = false;
  if (!DecodeWidthByte(static_cast<uint8_t>(widthByte), bits, isSigned)) {
    return CodingResult::Fail("the binary stream has " + std::to_string(bits) + "-bit values");
  }
  if (t > valueLimit) {
    return CodingResult::Fail("the binary stream claims " + std::to_string(t) + " values, more than " +
                              std::to_string(valueLimit));
  }
  if (t > 0 && bits == 0) return CodingResult::Fail("the binary stream has 0-bit values");
  // Every value takes `bits` bits of the stream: a count the stream's own
  // length cannot back is refused before anything is allocated.
  if (uint64_t{t} * bits > reader.RemainingBits()) {
    return CodingResult::Fail("the binary stream claims " + std::to_string(t) + " values of " +
                              std::to_string(bits) + " bits, but only " + std::to_string(reader.RemainingBits()) +
                              " bits follow its header");
  }
  if (reserve && !reserve(int64_t{t} * int64_t{sizeof(int32_t)})) return CodingResult::Fail("");
  if (!out.Allocate(t)) return CodingResult::Fail("out of memory for " + std::to_string(t) + " values");
  AdviseLargeOutput(out.Values(), size_t{t} * sizeof(int32_t));

  int32_t* values = out.Values();
  const int64_t total = t;
  for (int64_t i = 0; i < total; ++i) {
    if ((i & (kCodingChunk - 1)) == kCodingChunk - 1 && tick && !tick(double(i) / total)) {
      out.Release();
      return CodingResult::Stop();
    }
    uint32_t field = 0;
    (void)reader.ReadBits(bits, field);
    values[i] = ExtendField(field, bits, isSigned);
  }
  return {};
}

}  // namespace vorlan
