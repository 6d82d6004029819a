#include "bit_stream.h"

#include <algorithm>

namespace vorlan {

void BitWriter::EnsureCapacity(uint64_t bytes) {
  if (buffer_.size() >= bytes) return;
  uint64_t size = std::max<uint64_t>(bytes, buffer_.size() * 2);
  size = (size + step_ - 1) / step_ * step_;
  buffer_.resize(size);
}

void BitWriter::Write(const void* source, uint64_t bits) {
  const auto* bytes = static_cast<const uint8_t*>(source);
  if (bits == 0) SetUsed();
  // 56 bits (7 whole source bytes) at a time.
  while (bits > 0) {
    const unsigned chunk = bits < 56 ? static_cast<unsigned>(bits) : 56u;
    uint64_t word = 0;
    std::memcpy(&word, bytes, (chunk + 7) / 8);
    WriteBits(word, chunk);
    bytes += 7;
    bits -= chunk;
  }
}

bool BitReader::Read(void* destination, uint64_t bits) {
  if (bits > RemainingBits()) return false;
  auto* out = static_cast<uint8_t*>(destination);
  for (; bits >= 8; bits -= 8) {
    *out++ = static_cast<uint8_t>(PeekBits(8));
    position_ += 8;
  }
  if (bits > 0) {
    *out = static_cast<uint8_t>(PeekBits(static_cast<unsigned>(bits)));
    position_ += bits;
  }
  return true;
}

uint8_t ValueWidthByte(const int32_t* values, int64_t count) {
  // v ^ (v >> 31) is v for v >= 0 and ~v = -v - 1 for v < 0; the width of
  // the OR of those is the largest width over the array.
  uint32_t magnitudes = 0;
  uint32_t signs = 0;
  for (int64_t i = 0; i < count; ++i) {
    const int32_t v = values[i];
    magnitudes |= static_cast<uint32_t>(v ^ (v >> 31));
    signs |= static_cast<uint32_t>(v);
  }
  if ((signs & 0x80000000u) == 0) return static_cast<uint8_t>(BitLength(magnitudes));
  return static_cast<uint8_t>((std::bit_width(magnitudes) + 1) | kSignedWidthFlag);
}

bool DecodeWidthByte(uint8_t widthByte, unsigned& bits, bool& isSigned) {
  isSigned = (widthByte & kSignedWidthFlag) != 0;
  bits = widthByte & ~kSignedWidthFlag & 0xFF;
  return bits <= 32;
}

}  // namespace vorlan
