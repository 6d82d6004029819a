// The packed fractal code: the eleven pieces of an HV code in one byte
// stream, the partition tree and the transforms coded together by an
// adaptive binary range coder while the tree is walked. The layout is in
// docs/hv-code-container.md.
//
// Packing refuses a code the HV decoder would refuse (with the same kind of
// reason), so everything that packs also decodes. Unpacking treats its
// input as hostile: sizes are checked against the bytes present and the
// header's geometry before anything is allocated, and a stream that unpacks
// yields arrays that pass the decoder's code checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "fractal/code_layout.h"

namespace vorlan::codepack {

// "HVPK", then the format version: 1 codes every field from the fields
// before it, 2 also predicts each offset from the ranges coded before
// (offset_predictor.h). Both are read; 1 is written unless 2 is asked for.
inline constexpr uint8_t kMagic[4] = {'H', 'V', 'P', 'K'};
inline constexpr uint16_t kFormatVersion = 1;
inline constexpr uint16_t kLatestFormatVersion = 2;
// Magic, version, flags, code header, four counts; then the payload and a
// CRC-32.
inline constexpr size_t kFixedHeaderSize = 4 + 2 + 2 + fractal::kCodeHeaderSize + 4 * 4;
inline constexpr size_t kTrailerSize = 4;
// Every range costs the coder at least one decision and every decision at
// least 1/600 bit (see BitModel), so a payload of P bytes cannot hold more
// than 4800 P ranges. The check allows 8192 P.
inline constexpr int64_t kMaxRangesPerPayloadByte = 8192;

// A code as borrowed arrays. RP and RS are optional: when given they must
// describe the same ranges as the tree.
struct CodeView {
  const uint8_t* header = nullptr;
  int32_t headerLength = 0;
  std::span<const int32_t> si, oi, trn, dp, df;
  bool hasRp = false, hasRs = false;
  std::span<const int32_t> rp, rs;
  std::span<const int32_t> rtd, rtt;
};

// A code as the encoder publishes it: RP and RS rebuilt from the tree.
struct UnpackedCode {
  fractal::CodeHeader header{};
  std::vector<int32_t> si, oi, trn, dp, df, rp, rs, rtd, rtt;
  int32_t RangeCount() const { return static_cast<int32_t>(si.size()); }
};

// Packs `code` into `out` (replacing its contents) in format `version` (1
// or 2). Returns "" or the reason the code cannot be packed. May throw
// std::bad_alloc.
std::string PackCode(const CodeView& code, std::vector<uint8_t>& out, int version = kFormatVersion);

// Asked, once the stream's counts are checked and before the arrays are
// allocated, for the bytes they will take; false refuses the stream.
using ReserveFn = std::function<bool(int64_t bytes)>;

// Unpacks a stream written by PackCode, of either version. Returns "" or the reason the stream
// is refused. `verifyChecksum` false skips the CRC (for fuzzing the coder
// behind it). May throw std::bad_alloc.
std::string UnpackCode(const uint8_t* data, size_t length, UnpackedCode& code, bool verifyChecksum = true,
                       const ReserveFn& reserve = {});

// Ideal cost in bits of each field of `code` under the packer's model: the
// partition tree, the has-transform flags, SI, OI, TRN, DF and DP. The
// payload is within a few bytes of their sum. Returns "" or the reason the
// code cannot be packed.
struct FieldBits {
  double tree = 0, hasTransform = 0, si = 0, oi = 0, trn = 0, df = 0, dp = 0;
  double Total() const { return tree + hasTransform + si + oi + trn + df + dp; }
};
std::string MeasureFieldBits(const CodeView& code, FieldBits& bits, int version = kFormatVersion);

// The unpacked code as borrowed arrays (RP and RS included).
CodeView ViewOf(const UnpackedCode& code);

}  // namespace vorlan::codepack
