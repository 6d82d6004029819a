// Bit streams numbered least significant bit first: bit k of a stream is bit
// (k mod 8) of byte k / 8. A little-endian int32 written through them lands
// least significant bit first. Shared by the Huffman and binary coders.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vorlan {

static_assert(std::endian::native == std::endian::little, "streams are read and written as little-endian words");

class BitWriter {
 public:
  // The buffer grows in multiples of `growthStep` bytes.
  explicit BitWriter(size_t growthStep = 32) : step_(growthStep == 0 ? 1 : growthStep) {}

  // Appends the first `bits` bits of `source`, LSB-first, byte after byte.
  void Write(const void* source, uint64_t bits);

  // Appends the low `bits` bits of `value` (bits <= 57, higher bits ignored).
  void WriteBits(uint64_t value, unsigned bits) {
    if (bits == 0) {
      SetUsed();
      return;
    }
    const uint64_t byte = position_ >> 3;
    const unsigned shift = static_cast<unsigned>(position_ & 7);
    EnsureCapacity(byte + 8);
    uint64_t word;
    std::memcpy(&word, buffer_.data() + byte, 8);
    // Keeps the bits below the write position and clears everything above
    // the new end, so a write after a seek truncates the stream there.
    word &= (uint64_t{1} << shift) - 1;
    word |= (value & ((uint64_t{1} << bits) - 1)) << shift;
    std::memcpy(buffer_.data() + byte, &word, 8);
    position_ += bits;
    SetUsed();
  }

  // Moves the write position to bit `bit`; false (nothing changes) when it
  // lies beyond the used length.
  bool Seek(uint64_t bit) {
    if (bit > used_ * 8) return false;
    position_ = bit;
    return true;
  }

  // Makes room for `bytes` used bytes at once (one allocation for a stream
  // whose size is known in advance).
  void Reserve(uint64_t bytes) { EnsureCapacity(bytes + 8); }

  const uint8_t* Data() const { return buffer_.data(); }
  uint8_t* Data() { return buffer_.data(); }
  uint64_t UsedBytes() const { return used_; }
  uint64_t BitPosition() const { return position_; }

  // Frees the buffer and starts over.
  void Clear() {
    std::vector<uint8_t>().swap(buffer_);
    position_ = 0;
    used_ = 0;
  }

 private:
  void SetUsed() { used_ = (position_ + 7) >> 3; }
  void EnsureCapacity(uint64_t bytes);

  std::vector<uint8_t> buffer_;  // bytes past `used_` are scratch
  uint64_t position_ = 0;        // next bit to write
  uint64_t used_ = 0;            // bytes holding at least one written bit
  size_t step_;
};

// Reads a caller-owned buffer; never reads outside it.
class BitReader {
 public:
  BitReader() = default;
  BitReader(const uint8_t* data, size_t length) { Attach(data, length); }

  void Attach(const uint8_t* data, size_t length) {
    data_ = data;
    length_ = length;
    position_ = 0;
  }

  // Takes the next `bits` bits into `destination`, whole bytes first, the
  // last bits % 8 into the low bits of the next byte (its higher bits become
  // 0, bytes beyond stay untouched). A read that needs any bit beyond the
  // end fails and changes neither the destination nor the position.
  bool Read(void* destination, uint64_t bits);

  // The next `bits` bits (bits <= 32) as a number; false as for Read.
  bool ReadBits(unsigned bits, uint32_t& value) {
    if (bits > RemainingBits()) return false;
    value = static_cast<uint32_t>(PeekBits(bits));
    position_ += bits;
    return true;
  }

  // The next `bits` bits (bits <= 57) without moving; bits past the end of
  // the buffer read as 0.
  uint64_t PeekBits(unsigned bits) const {
    if (bits == 0) return 0;
    const uint64_t byte = position_ >> 3;
    const unsigned shift = static_cast<unsigned>(position_ & 7);
    uint64_t word = 0;
    if (byte + 8 <= length_) {
      std::memcpy(&word, data_ + byte, 8);
    } else if (byte < length_) {
      std::memcpy(&word, data_ + byte, length_ - byte);
    }
    return (word >> shift) & ((uint64_t{1} << bits) - 1);
  }

  // Moves on by `bits`, stopping at the end of the buffer.
  void Skip(uint64_t bits) {
    const uint64_t left = RemainingBits();
    position_ += bits < left ? bits : left;
  }

  uint64_t RemainingBits() const { return uint64_t{length_} * 8 - position_; }
  uint64_t BitPosition() const { return position_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t length_ = 0;
  uint64_t position_ = 0;
};

// Widths of the value fields in the Huffman and binary streams.
//
// Arrays without negative values store each value as an unsigned field of
// the largest bit length of any value (0 counts as 1 bit). An array holding a
// negative value stores two's-complement fields of the smallest width that
// holds every value, and marks the width byte with kSignedWidthFlag so the
// decoder sign-extends.
inline constexpr uint8_t kSignedWidthFlag = 0x80;

// The width byte for `count` values (1 for an empty array).
uint8_t ValueWidthByte(const int32_t* values, int64_t count);

// Bits per field of a width byte and whether fields are sign-extended;
// false when the width is above 32.
bool DecodeWidthByte(uint8_t widthByte, unsigned& bits, bool& isSigned);

// A field of `bits` bits back to its value.
inline int32_t ExtendField(uint32_t field, unsigned bits, bool isSigned) {
  if (!isSigned || bits == 0 || bits >= 32) return static_cast<int32_t>(field);
  const unsigned shift = 32 - bits;
  return static_cast<int32_t>(field << shift) >> shift;
}

// Bit length of m, with the bit length of 0 taken as 1.
inline unsigned BitLength(uint64_t m) { return m == 0 ? 1u : static_cast<unsigned>(std::bit_width(m)); }

}  // namespace vorlan
