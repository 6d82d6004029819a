// Untrusted Huffman streams through the decoder filter. Whatever decodes is
// encoded again and must decode to the same array.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "huffman_decoder_filter.h"
#include "huffman_decoding.h"
#include "huffman_encoding.h"

namespace {

// Keeps single inputs small; the decoder's own limit is exercised all the
// same, only at a lower value.
constexpr int64_t kFuzzValueLimit = int64_t{1} << 16;

void CheckRoundTrip(const vorlan::IntArray& decoded, int32_t wordLength) {
  vorlan::BitWriter stream;
  if (!vorlan::EncodeHuffman(decoded.values, decoded.count, wordLength, stream).ok()) std::abort();
  vorlan::OwnedIntArray again;
  if (!vorlan::DecodeHuffman(stream.Data(), stream.UsedBytes(), again).ok()) std::abort();
  if (again.Record().count != decoded.count ||
      std::memcmp(again.Values(), decoded.values, sizeof(int32_t) * decoded.count) != 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  // The stream lives in a buffer of exactly its size, so ASan sees any
  // read past the end.
  auto* copy = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
  if (size > 0) std::memcpy(copy, data, size);

  vorlan::HuffmanDecoderFilter decoder;
  decoder.SetValueLimit(kFuzzValueLimit);
  decoder.Initialize();
  vorlan::Pin* source = vorlan::NewPin("Source", vorlan::PinKind::Output);
  vorlan::ConnectPins(decoder.pins[2], source);
  vorlan::Publish(source, vorlan::MakePacket(static_cast<int32_t>(size), vorlan::PacketType::Bytes, copy));
  const vorlan::Result result = decoder.Process();
  if (result == vorlan::Ok) {
    const auto* decoded = static_cast<const vorlan::IntArray*>(decoder.pins[3]->packet.data);
    const int32_t w = size > 8 && data[8] > 0 ? data[8] : 1;
    if (decoded->count <= 4096) CheckRoundTrip(*decoded, w);
  } else if (result != vorlan::Failed || decoder.FailureReason()[0] == '\0') {
    std::abort();  // every refusal carries a reason
  }
  decoder.Reset();
  std::free(source->name);
  delete source;
  std::free(copy);
  return 0;
}
