// Binary adaptive range coder in the manner of LZMA: 32-bit range, 15-bit
// probabilities that move a 1/32 of the way towards each coded bit, carry
// propagation through a cached byte. Encoder and decoder share one calling
// shape, Bit(model, bit), so a model walk written once as a template codes
// in both directions: the encoder codes `bit` and returns it, the decoder
// ignores `bit` and returns what it read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorlan::codepack {

inline constexpr int kProbabilityBits = 15;
inline constexpr uint32_t kProbabilityOne = 1u << kProbabilityBits;
inline constexpr int kFastShift = 4;
inline constexpr int kSlowShift = 6;
inline constexpr uint32_t kTopValue = 1u << 24;

// Probability that the next bit is 0, in 1/32768, kept at two speeds: a
// fast estimate (step 1/16) that learns a fresh context and follows local
// runs, and a slow one (step 1/64) for the long-run frequency; the coder
// uses their mean. The mean stays 39/32768 away from certainty, so every
// decision costs at least 1/600 bit. Starts at even odds.
struct BitModel {
  uint16_t fast = kProbabilityOne / 2;
  uint16_t slow = kProbabilityOne / 2;

  uint32_t P() const { return (uint32_t{fast} + slow) >> 1; }
  void Update(int bit) {
    if (bit == 0) {
      fast = static_cast<uint16_t>(fast + ((kProbabilityOne - fast) >> kFastShift));
      slow = static_cast<uint16_t>(slow + ((kProbabilityOne - slow) >> kSlowShift));
    } else {
      fast = static_cast<uint16_t>(fast - (fast >> kFastShift));
      slow = static_cast<uint16_t>(slow - (slow >> kSlowShift));
    }
  }
};

class RangeEncoder {
 public:
  static constexpr bool kDecoding = false;

  explicit RangeEncoder(std::vector<uint8_t>& out) : out_(out) {}

  // The model names the field it codes next (for cost accounting only).
  template <class Field>
  void Enter(Field) {}

  int Bit(BitModel& m, int bit) {
    const uint32_t bound = (range_ >> kProbabilityBits) * m.P();
    if (bit == 0) {
      range_ = bound;
    } else {
      low_ += bound;
      range_ -= bound;
    }
    m.Update(bit);
    while (range_ < kTopValue) {
      range_ <<= 8;
      ShiftLow();
    }
    return bit;
  }

  // Writes the bytes that pin down the final interval. The decoder reads
  // exactly as many bytes as this produced and ends with a zero code.
  void Finish() {
    for (int i = 0; i < 5; ++i) ShiftLow();
  }

 private:
  void ShiftLow() {
    if (static_cast<uint32_t>(low_) < 0xFF000000u || (low_ >> 32) != 0) {
      const auto carry = static_cast<uint8_t>(low_ >> 32);
      uint8_t byte = cache_;
      do {
        out_.push_back(static_cast<uint8_t>(byte + carry));
        byte = 0xFF;
      } while (--cacheSize_ != 0);
      cache_ = static_cast<uint8_t>(low_ >> 24);
    }
    ++cacheSize_;
    low_ = (low_ & 0x00FFFFFFu) << 8;
  }

  std::vector<uint8_t>& out_;
  uint64_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  uint8_t cache_ = 0;
  uint64_t cacheSize_ = 1;
};

// Reads what RangeEncoder wrote. Past the end of its input it reads zero
// bytes and remembers that it ran over; callers check Overrun() often
// enough that a short stream cannot make them loop for long.
class RangeDecoder {
 public:
  static constexpr bool kDecoding = true;

  RangeDecoder(const uint8_t* data, size_t length) : at_(data), end_(data + length) {
    // The encoder's first byte is its initial cache, always 0.
    leadingByteOk_ = Next() == 0;
    for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | Next();
  }

  template <class Field>
  void Enter(Field) {}

  int Bit(BitModel& m, int /*ignored*/) {
    const uint32_t bound = (range_ >> kProbabilityBits) * m.P();
    int bit;
    if (code_ < bound) {
      range_ = bound;
      bit = 0;
    } else {
      code_ -= bound;
      range_ -= bound;
      bit = 1;
    }
    m.Update(bit);
    while (range_ < kTopValue) {
      range_ <<= 8;
      code_ = (code_ << 8) | Next();
    }
    return bit;
  }

  bool Overrun() const { return overrun_; }
  bool LeadingByteOk() const { return leadingByteOk_; }
  // True when every input byte was read, none beyond, and the code ended
  // where the encoder's did.
  bool FinishedCleanly() const { return !overrun_ && at_ == end_ && code_ == 0; }

 private:
  uint32_t Next() {
    if (at_ == end_) {
      overrun_ = true;
      return 0;
    }
    return *at_++;
  }

  const uint8_t* at_;
  const uint8_t* end_;
  uint32_t code_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  bool overrun_ = false;
  bool leadingByteOk_ = true;
};

}  // namespace vorlan::codepack
