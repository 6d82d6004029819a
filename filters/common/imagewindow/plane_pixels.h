// Planes become 32-bit pixels: four bytes B, G, R, 0 per pixel, rows top to
// bottom, the byte order of a QImage::Format_RGB32 image on little-endian
// machines.
#pragma once

#include <cstdint>

#include "vorlan/contract.h"

namespace vorlan {

inline constexpr int kBytesPerPixel = 4;

// The 8-bit value of sample x on the nominal range [lo, hi]:
// 255 * (x - lo) / (hi - lo), clamped to 0..255 and truncated toward zero.
// NaN gives 0; infinities clamp. Callers make sure lo != hi.
inline uint8_t SampleToByte(double x, double lo, double hi) {
  const double v = 255.0 * (x - lo) / (hi - lo);
  if (!(v > 0.0)) return 0;  // also NaN
  if (v >= 255.0) return 255;
  return static_cast<uint8_t>(v);
}

// Writes the converted samples of `row` of `plane` into byte `channel`
// (0 = B, 1 = G, 2 = R) of each pixel of `rowPixels` (plane.width pixels).
void ConvertRowToChannel(const Plane& plane, int32_t row, int channel, uint8_t* rowPixels);

// Writes the converted samples of `row` as grey: bytes 0..2 get the value,
// byte 3 gets 0.
void ConvertRowToGrey(const Plane& plane, int32_t row, uint8_t* rowPixels);

// Sets byte `channel` of each of `count` pixels to 0.
void ClearChannel(int channel, int64_t count, uint8_t* pixels);

}  // namespace vorlan
