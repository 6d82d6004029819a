// Helpers for the encoder tests: synthetic and real grey planes, running the
// filter on a plane, and a small reference decoder that iterates a code
// straight from its arrays, to judge what a code is worth.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fractal_encoder_filter.h"
#include "search/encoder_search.h"
#include "support/filter_harness.h"

namespace vorlan::collage::test {

// A smooth pattern with edges, values in [0, 255].
std::vector<double> Pattern(int32_t w, int32_t h);
// camera.bmp as grey values in [0, 1], cropped to its top-left w x h.
std::vector<double> Camera(int32_t w, int32_t h);
// A 24-bit BMP of the shared test data as its grey Y = 0.299 R + 0.587 G +
// 0.114 B in [0, 1], cropped to its top-left w x h.
std::vector<double> Grey(const char* file, int32_t w, int32_t h);

// The code a filter published, copied out of its pins.
struct Code {
  fractal::CodeHeader header{};
  std::vector<int32_t> arrays[fractal::kCodeArrayCount];  // SI ... RTT
  const std::vector<int32_t>& SI() const { return arrays[0]; }
  const std::vector<int32_t>& OI() const { return arrays[1]; }
  const std::vector<int32_t>& TRN() const { return arrays[2]; }
  const std::vector<int32_t>& DP() const { return arrays[3]; }
  const std::vector<int32_t>& DF() const { return arrays[4]; }
  const std::vector<int32_t>& RP() const { return arrays[5]; }
  const std::vector<int32_t>& RS() const { return arrays[6]; }
  const std::vector<int32_t>& RTD() const { return arrays[7]; }
  const std::vector<int32_t>& RTT() const { return arrays[8]; }
  bool operator==(const Code& o) const;
};
Code ReadCode(FractalEncoderFilter& filter);

// An encoder ready to run, and settings applied in Native form.
struct InitializedEncoder : FractalEncoderFilter {
  InitializedEncoder() { Initialize(); }
};
void ApplySettings(FractalEncoderFilter& filter, const FractalEncoderSettings& settings);

// FNV-1a over the header bytes and every array, each array prefixed by its
// count as a little-endian word of `countBytes` (4 or 8) bytes: a pin of a
// whole code.
uint64_t CodeChecksum(const Code& code, size_t countBytes);

// Runs an initialised encoder on the plane; returns Process's result.
Result Encode(FractalEncoderFilter& filter, std::vector<double> samples, int32_t w, int32_t h, double lo,
              double hi);

// The code of the search itself (no filter, so no run-start check of the
// settings), built as the filter builds it. Failures are reported to the test.
// `rich` replaces the rich pool search's rule when given.
Code SearchCode(const FractalEncoderSettings& settings, std::vector<double> samples, int32_t w, int32_t h,
                double lo, double hi, const RichSearchRule* rich = nullptr);

// Checks that the ranges tile the image, agree with RTD/RTT and carry
// transforms whose domains lie inside the image. "" when valid.
std::string ValidateCode(const Code& code);

// Iterates the code from a black image, or from `start` (one pass from the
// source itself is the collage the search fitted); ranges without a
// transform stay 0.
std::vector<double> Decode(const Code& code, int32_t passes, const std::vector<double>* start = nullptr);
double Psnr(const std::vector<double>& a, const std::vector<double>& b, double peak);

}  // namespace vorlan::collage::test
