// Untrusted Huffman streams through the decoder filter. Whatever decodes is
// encoded again, with the stream's own word length, and must decode to the
// same array.
#include <cstdint>
#include <cstdlib>

#include "huffman_decoder_filter.h"
#include "huffman_decoding.h"
#include "huffman_encoding.h"
#include "stream_decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int32_t wordLength = size > 8 && data[8] > 0 ? data[8] : 1;
  vorlan::fuzz::FuzzStreamDecoder<vorlan::HuffmanDecoderFilter>(data, size, [&](const vorlan::IntArray& decoded) {
    vorlan::BitWriter stream;
    if (!vorlan::EncodeHuffman(decoded.values, decoded.count, wordLength, stream).ok()) std::abort();
    vorlan::OwnedIntArray again;
    if (!vorlan::DecodeHuffman(stream.Data(), stream.UsedBytes(), again).ok()) std::abort();
    vorlan::fuzz::CheckSameValues(decoded, again.Record());
  });
  return 0;
}
