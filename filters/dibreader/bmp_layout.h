// The 24-bit Windows bitmap layout shared by the Bmp decoder and encoder:
// a 14-byte file header and a 40-byte info header, then pixel rows of
// blue, green, red bytes, each row padded with zeros to a multiple of 4.
#pragma once

#include <cstdint>
#include <cstring>

namespace vorlan::bmp {

inline constexpr int64_t kHeaderSize = 54;  // file header + info header
inline constexpr int64_t kInfoHeaderSize = 40;

// Byte offsets of the header fields.
inline constexpr int64_t kSignatureAt = 0;
inline constexpr int64_t kFileSizeAt = 2;
inline constexpr int64_t kPixelOffsetAt = 10;
inline constexpr int64_t kInfoSizeAt = 14;
inline constexpr int64_t kWidthAt = 18;
inline constexpr int64_t kHeightAt = 22;  // positive: rows stored bottom-up
inline constexpr int64_t kPlanesAt = 26;
inline constexpr int64_t kBitsPerPixelAt = 28;
inline constexpr int64_t kCompressionAt = 30;
inline constexpr int64_t kImageSizeAt = 34;
inline constexpr int64_t kXPixelsPerMetreAt = 38;
inline constexpr int64_t kYPixelsPerMetreAt = 42;
inline constexpr int64_t kColoursUsedAt = 46;
inline constexpr int64_t kImportantColoursAt = 50;

inline constexpr int32_t kPixelsPerMetre = 1000;

// Bytes per stored row: three per pixel, rounded up to a multiple of 4.
constexpr int64_t RowStride(int64_t width) { return (3 * width + 3) / 4 * 4; }

inline int32_t ReadInt32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                              uint32_t{p[3]} << 24);
}

inline uint16_t ReadUint16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline void WriteInt32(uint8_t* p, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline void WriteUint16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace vorlan::bmp
