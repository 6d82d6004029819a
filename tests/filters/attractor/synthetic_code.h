// Fractal codes made up for the decoder's tests: a regular HV partition
// with random transforms that all fit the image, in both geometry forms.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fractal/code_layout.h"
#include "fractal_decoder_filter.h"
#include "support/filter_harness.h"

namespace vorlan::attractor::test {

struct SyntheticCode {
  fractal::CodeHeader header{};
  std::vector<int32_t> si, oi, trn, dp, df, rp, rs, rtd, rtt;

  int32_t RangeCount() const { return static_cast<int32_t>(si.size()); }
  std::vector<uint8_t> HeaderBytes() const;
};

struct SyntheticOptions {
  int32_t width = 64;
  int32_t height = 48;
  int32_t leafSize = 8;   // cut until both sides are at most this long
  int32_t maxFactor = 2;  // shrink factors 1 .. maxFactor
  int32_t levels = 64;    // scale and offset levels
  double maxScale = 0.8;
  double blankShare = 0.1;  // share of ranges without a transform
  uint32_t seed = 1;
};

SyntheticCode MakeSyntheticCode(const SyntheticOptions& options);

// A code whose partition is given as RTD/RTT, with every range's
// transform left out (SI = OI = -1) unless filled in afterwards.
SyntheticCode MakeTreeCode(int32_t width, int32_t height, std::vector<int32_t> rtd, std::vector<int32_t> rtt,
                           int32_t rangeCount);

// Publishes a code on fake producers wired to a decoder's eleven inputs.
class CodeFeed {
 public:
  enum Geometry { kRectangles, kTree, kBoth, kNoGeometry };
  CodeFeed(const SyntheticCode& code, Geometry geometry);
  void ConnectTo(Filter& decoder);
  // Publishes everything (or everything but pin `skipPin`).
  void PublishAll(int32_t skipPin = -1);

 private:
  Geometry geometry_;
  std::vector<uint8_t> header_;
  std::vector<std::unique_ptr<vorlan::test::TestIntArray>> arrays_;  // SI .. RTT
  std::vector<std::unique_ptr<vorlan::test::FakeOutput>> outputs_;  // HDR .. RTT
};

}  // namespace vorlan::attractor::test
