// The fractal code travels as eleven pieces on pins of the same names: a
// 48-byte header and ten int32 arrays. Ranges are numbered in pre-order of
// the partition tree; "RTD"/"RTT" hold the tree, "RP"/"RS" the same ranges
// as rectangles.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fractal/range_tree.h"

namespace vorlan::fractal {

// The "HDR" payload, little-endian, fields contiguous.
struct CodeHeader {
  int32_t width;     // image width in pixels
  int32_t height;    // image height
  double lo;         // value range of the encoded plane
  double hi;
  double maxScale;   // largest absolute scale, widened from float32
  int32_t scaleLevels;
  int32_t offsetLevels;
  int32_t stepX;     // domain grid step; "DP" counts in these steps
  int32_t stepY;
};

inline constexpr int32_t kCodeHeaderSize = 48;
static_assert(std::endian::native == std::endian::little, "the header is read in place");
static_assert(sizeof(CodeHeader) == kCodeHeaderSize && offsetof(CodeHeader, lo) == 8 &&
              offsetof(CodeHeader, hi) == 16 && offsetof(CodeHeader, maxScale) == 24 &&
              offsetof(CodeHeader, scaleLevels) == 32 && offsetof(CodeHeader, offsetLevels) == 36 &&
              offsetof(CodeHeader, stepX) == 40 && offsetof(CodeHeader, stepY) == 44);

// Names of the code's pins, in pin order on both filters.
inline constexpr const char* kCodePinNames[11] = {"HDR", "SI", "OI", "TRN", "DP", "DF",
                                                  "RP",  "RS", "RTD", "RTT", nullptr};
inline constexpr int32_t kCodeArrayCount = 9;  // SI ... RTT

// Bounds of the offset quantiser: the largest and smallest value
// scale*D + o can need for D and the target in [lo, hi], |scale| <= maxScale.
inline double OffsetMax(double lo, double hi, double maxScale) {
  const double a = hi + maxScale * hi;
  const double b = hi - maxScale * lo;
  return a > b ? a : b;
}
inline double OffsetMin(double lo, double hi, double maxScale) {
  const double a = lo - maxScale * hi;
  const double b = lo + maxScale * lo;
  return a < b ? a : b;
}

// A range rectangle rebuilt from the code.
struct RangeRect {
  int32_t x, y, width, height;
};

// Rebuilds the partition of a width x height image from "RTD" (split
// positions in pre-order, 0 for a leaf, trailing zeros dropped) and "RTT"
// (directions of the internal nodes in pre-order). Refuses positions
// outside the node, unknown directions and a short "RTT" with a reason.
[[nodiscard]] bool RebuildTree(RangeTree& tree, int32_t width, int32_t height, const int32_t* rtd,
                               int32_t rtdCount, const int32_t* rtt, int32_t rttCount,
                               std::string& reason);

// The ranges of a rebuilt tree, numbered as in the code.
std::vector<RangeRect> RangesOf(const RangeTree& tree);

}  // namespace vorlan::fractal
