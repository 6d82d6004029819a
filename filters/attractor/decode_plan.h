// Turning the eleven pieces of a fractal code into the list of ranges the
// decoder iterates: rectangles from "RP"/"RS" or from the partition tree,
// each with its transform, scaled to the output resolution. Every value of
// the code is checked before it is used; a malformed code yields a reason.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fractal/code_layout.h"

namespace vorlan::attractor {

// Borrowed views of the code's arrays. Either the rectangles (RP + RS) or
// the tree (RTD + RTT) give the geometry; `useRectangles` says which.
struct CodeArrays {
  std::span<const int32_t> si, oi, trn, dp, df;
  bool useRectangles = false;
  std::span<const int32_t> rp, rs;
  std::span<const int32_t> rtd, rtt;
};

// One range in output pixels with its transform. A range without a
// transform (scale and offset indexes -1 in the code) is filled with
// `offset` = (lo + hi) / 2 at every pass.
struct DecoderRange {
  int32_t x = 0, y = 0, width = 0, height = 0;
  bool hasTransform = false;
  double scale = 0.0;
  double offset = 0.0;
  int32_t rotate = 0, reverseRows = 0, reverseColumns = 0;
  int32_t dx = 0, dy = 0;  // domain corner in output pixels
  int32_t domainWidth = 0, domainHeight = 0;
  int32_t fx = 1, fy = 1;  // shrink factors, never scaled
};

struct DecodePlan {
  fractal::CodeHeader header{};
  int32_t width = 0;   // output size: resolution factors x code size
  int32_t height = 0;
  std::vector<DecoderRange> ranges;
  double maxAbsScale = 0.0;  // largest |scale| over the transforms
};

// Whether a transform with these shrink factors and scale can never pull
// two pictures closer together.
inline bool NonContracting(int32_t fx, int32_t fy, double scale) {
  return fx == 1 && fy == 1 && !(std::fabs(scale) < 1.0 - 1e-9);
}

// The first range of `plan` whose pixels need not converge, -1 when every
// range does: its transform copies a domain of its own size (shrink factors
// 1 x 1) at scale +1 or -1, and that domain reaches, directly or through
// other such copies, a range that is itself such a copy (a copy of ranges
// that contract settles when they do). Takes 4 bytes per output pixel for
// a while when the plan holds such copies. May throw std::bad_alloc.
int64_t FirstNonConverging(const DecodePlan& plan);

// Reads the 48-byte header; "" or the reason it cannot be used.
std::string ParseHeader(const uint8_t* data, int32_t length, fractal::CodeHeader& header);

// Builds the plan for a code with a parsed header. Returns "" or the reason
// the code is refused. May throw std::bad_alloc.
std::string BuildDecodePlan(const fractal::CodeHeader& header, const CodeArrays& code, int32_t resolutionX,
                            int32_t resolutionY, DecodePlan& plan);

// Levels `indices` of the quantiser over [lo, hi] with `levels` levels,
// exactly as the encoder's table holds them (repeated addition of the step).
// Each index must lie in [0, levels). Needs no table of `levels` entries.
std::vector<double> QuantizerLevels(double lo, double hi, int32_t levels, const std::vector<int32_t>& indices);

}  // namespace vorlan::attractor
