// Untrusted binary-coder streams through the decoder filter. Whatever
// decodes is encoded again and must decode to the same array.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "binary_coding.h"
#include "binary_decoder_filter.h"
#include "binary_decoding.h"

namespace {

constexpr int64_t kFuzzValueLimit = int64_t{1} << 16;

void CheckRoundTrip(const vorlan::IntArray& decoded) {
  vorlan::BitWriter stream(64);
  if (!vorlan::EncodeBinary(decoded.values, decoded.count, stream).ok()) std::abort();
  vorlan::OwnedIntArray again;
  if (!vorlan::DecodeBinary(stream.Data(), stream.UsedBytes(), again).ok()) std::abort();
  if (again.Record().count != decoded.count ||
      std::memcmp(again.Values(), decoded.values, sizeof(int32_t) * decoded.count) != 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  auto* copy = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
  if (size > 0) std::memcpy(copy, data, size);

  vorlan::BinaryDecoderFilter decoder;
  decoder.SetValueLimit(kFuzzValueLimit);
  decoder.Initialize();
  vorlan::Pin* source = vorlan::NewPin("Source", vorlan::PinKind::Output);
  vorlan::ConnectPins(decoder.pins[2], source);
  vorlan::Publish(source, vorlan::MakePacket(static_cast<int32_t>(size), vorlan::PacketType::Bytes, copy));
  const vorlan::Result result = decoder.Process();
  if (result == vorlan::Ok) {
    CheckRoundTrip(*static_cast<const vorlan::IntArray*>(decoder.pins[3]->packet.data));
  } else if (result != vorlan::Failed || decoder.FailureReason()[0] == '\0') {
    std::abort();
  }
  decoder.Reset();
  std::free(source->name);
  delete source;
  std::free(copy);
  return 0;
}
