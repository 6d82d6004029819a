// Untrusted binary-coder streams through the decoder filter. Whatever
// decodes is encoded again and must decode to the same array.
#include <cstdint>
#include <cstdlib>

#include "binary_coding.h"
#include "binary_decoder_filter.h"
#include "binary_decoding.h"
#include "stream_decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vorlan::fuzz::FuzzStreamDecoder<vorlan::BinaryDecoderFilter>(data, size, [](const vorlan::IntArray& decoded) {
    vorlan::BitWriter stream(64);
    if (!vorlan::EncodeBinary(decoded.values, decoded.count, stream).ok()) std::abort();
    vorlan::OwnedIntArray again;
    if (!vorlan::DecodeBinary(stream.Data(), stream.UsedBytes(), again).ok()) std::abort();
    vorlan::fuzz::CheckSameValues(decoded, again.Record());
  });
  return 0;
}
