// Adaptive coding of an integer v in [0, bound] with binary decisions, most
// significant bit first. The first eight bits walk a binary tree of models
// (each prefix has its own), lower bits have one model per bit position.
// A bit the bound already decides (the prefix equals the bound's and the
// bound has a 0 there) is not coded at all, so nothing above the bound can
// be decoded. Each bit length of the bound has its own models: the same
// prefix means different things under bounds of different lengths.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <memory>

#include "range_coder.h"

namespace vorlan::codepack {

class BoundedModel {
 public:
  static constexpr int kTreeBits = 8;

  // `value` is coded by an encoder and ignored by a decoder; returns the
  // value coded or decoded, always <= bound.
  template <class Coder>
  uint32_t Code(Coder& coder, uint32_t bound, uint32_t value) {
    const int length = std::bit_width(bound);
    if (length == 0) return 0;
    BitModel* models = Row(length);
    uint32_t result = 0;
    uint32_t node = 1;
    bool tight = true;
    for (int b = length - 1; b >= 0; --b) {
      const int step = length - 1 - b;
      const int boundBit = static_cast<int>((bound >> b) & 1u);
      int bit = 0;
      if (!tight || boundBit == 1) {
        BitModel& m = step < kTreeBits ? models[node] : models[(1 << kTreeBits) + b];
        bit = coder.Bit(m, static_cast<int>((value >> b) & 1u));
        if (bit == 0) tight = false;
      }
      result = (result << 1) | static_cast<uint32_t>(bit);
      if (step < kTreeBits) node = (node << 1) | static_cast<uint32_t>(bit);
    }
    return result;
  }

 private:
  // Tree nodes 1 .. 255, then one model per low bit position 0 .. 31.
  static constexpr int kRowSize = (1 << kTreeBits) + 32;

  BitModel* Row(int length) {
    auto& row = rows_[static_cast<size_t>(length)];
    if (!row) row = std::make_unique<BitModel[]>(kRowSize);
    return row.get();
  }

  std::array<std::unique_ptr<BitModel[]>, 33> rows_;
};

}  // namespace vorlan::codepack
