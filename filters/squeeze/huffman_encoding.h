// Huffman coding of an integer array in symbols of W consecutive values.
//
// Stream layout, fields LSB-first without alignment: T (32 bits, number of
// values), S (32, values in the symbol table), W (8, word length), V (8, bits
// per table value; 0x80 marks two's-complement fields), F (8, bits per
// frequency), the table values of every entry in table order (S x V bits),
// the entry frequencies (N x F bits, N = ceil(S / W)), the codes of the
// symbols in input order, padding to a byte. The first floor(S / W) entries
// hold W values; a last short entry holds S mod W.
#pragma once

#include <cstdint>

#include "bit_stream.h"
#include "coding.h"

namespace vorlan {

// Byte offset where the bit-packed part of a Huffman stream begins.
inline constexpr int kHuffmanHeaderBytes = 11;

// Writes the stream of `count` values with word length `wordLength` (1..255)
// into `out`, which is cleared first. An empty array gives the header alone
// (T = 0, S = 0, V = F = 1).
CodingResult EncodeHuffman(const int32_t* values, int64_t count, int32_t wordLength, BitWriter& out,
                           const CodingTick& tick = {});

}  // namespace vorlan
