// One untrusted stream through a decoder filter of the Huffman or binary
// kind ("In" -> "Out" IntArray), as a graph would feed it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vorlan/contract.h"

namespace vorlan::fuzz {

// Keeps single inputs small; the decoders' own limit is exercised all the
// same, only at a lower value. Fields a short stream lacks read as 0, so a
// few bytes can claim this many values (and a Huffman table this large): a
// low limit keeps such inputs cheap and the fuzzer fast.
inline constexpr int64_t kFuzzValueLimit = 4096;

// Decodes `data` with a fresh `Decoder` and hands a decoded array to
// `check`. A refusal without a reason, or any other result, aborts.
template <class Decoder, class Check>
void FuzzStreamDecoder(const uint8_t* data, size_t size, Check check) {
  if (size > (1u << 20)) return;
  // The stream lives in a buffer of exactly its size, so ASan sees any
  // read past the end.
  auto* copy = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
  if (size > 0) std::memcpy(copy, data, size);

  Decoder decoder;
  decoder.SetValueLimit(kFuzzValueLimit);
  decoder.Initialize();
  Pin* source = NewPin("Source", PinKind::Output);
  ConnectPins(decoder.pins[2], source);
  Publish(source, MakePacket(static_cast<int32_t>(size), PacketType::Bytes, copy));
  const Result result = decoder.Process();
  if (result == Ok) {
    check(*static_cast<const IntArray*>(decoder.pins[3]->packet.data));
  } else if (result != Failed || decoder.FailureReason()[0] == '\0') {
    std::abort();  // every refusal carries a reason
  }
  decoder.Reset();
  std::free(source->name);
  delete source;
  std::free(copy);
}

// Aborts unless `again` holds exactly the values of `decoded`.
inline void CheckSameValues(const IntArray& decoded, const IntArray& again) {
  if (again.count != decoded.count ||
      (decoded.count > 0 && std::memcmp(again.values, decoded.values, sizeof(int32_t) * decoded.count) != 0)) {
    std::abort();
  }
}

}  // namespace vorlan::fuzz
