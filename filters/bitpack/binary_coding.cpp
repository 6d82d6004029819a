#include "binary_coding.h"

#include <new>
#include <string>

#include "vorlan/payloads.h"

namespace vorlan {

CodingResult EncodeBinary(const int32_t* values, int64_t count, BitWriter& out, const CodingTick& tick) {
  out.Clear();
  if (count < 0 || count > kMaxDecodedValues) {
    return CodingResult::Fail("the array holds " + std::to_string(count) + " values, more than " +
                              std::to_string(kMaxDecodedValues));
  }
  const uint8_t widthByte = ValueWidthByte(values, count);
  const unsigned bits = widthByte & 0x7F;
  const uint64_t bytes = (40 + static_cast<uint64_t>(count) * bits + 7) / 8;
  if (bytes > static_cast<uint64_t>(kMaxPacketLength)) {
    return CodingResult::Fail("the binary stream would exceed the largest packet");
  }
  try {
    out.Reserve(bytes);
  } catch (const std::bad_alloc&) {
    out.Clear();
    return CodingResult::Fail("out of memory");
  }
  out.WriteBits(static_cast<uint32_t>(count), 32);
  out.WriteBits(widthByte, 8);
  for (int64_t i = 0; i < count; ++i) {
    if ((i & (kCodingChunk - 1)) == kCodingChunk - 1 && tick && !tick(double(i) / count)) {
      out.Clear();
      return CodingResult::Stop();
    }
    out.WriteBits(static_cast<uint32_t>(values[i]), bits);
  }
  return {};
}

}  // namespace vorlan
