// Feeds the HV code unpacker arbitrary bytes with the checksum test off, so
// the fuzzer reaches the range decoder and the tree walk behind it. What
// unpacks must be a code the HV decoder accepts, and packing it again in the
// stream's own format version must give the same code back; anything else
// aborts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "code_container.h"
#include "decode_plan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlan;
  // Keep the image small: a stream of a large image may legitimately unpack
  // into hundreds of millions of ranges, which is valid, only big.
  constexpr size_t kWidthAt = 8;
  if (size >= kWidthAt + 8) {
    int32_t width = 0, height = 0;
    std::memcpy(&width, data + kWidthAt, 4);
    std::memcpy(&height, data + kWidthAt + 4, 4);
    if (int64_t{width} * height > (1 << 20)) return 0;
  }
  codepack::UnpackedCode code;
  if (!codepack::UnpackCode(data, size, code, false).empty()) return 0;

  // Level tables above 2^16 entries make the decoder's check slow, not
  // different.
  if (code.header.scaleLevels <= (1 << 16) && code.header.offsetLevels <= (1 << 16)) {
    attractor::CodeArrays arrays{code.si, code.oi, code.trn, code.dp, code.df, false, {}, {}, code.rtd, code.rtt};
    attractor::DecodePlan plan;
    if (!attractor::BuildDecodePlan(code.header, arrays, 1, 1, plan).empty()) std::abort();
  }
  std::vector<uint8_t> packed;
  const int version = data[4] | (data[5] << 8);  // UnpackCode accepted it
  if (!codepack::PackCode(codepack::ViewOf(code), packed, version).empty()) std::abort();
  codepack::UnpackedCode again;
  if (!codepack::UnpackCode(packed.data(), packed.size(), again).empty()) std::abort();
  if (again.si != code.si || again.oi != code.oi || again.trn != code.trn || again.dp != code.dp ||
      again.df != code.df || again.rp != code.rp || again.rs != code.rs || again.rtd != code.rtd ||
      again.rtt != code.rtt) {
    std::abort();
  }
  return 0;
}
