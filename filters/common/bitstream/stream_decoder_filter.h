// The shell of the Huffman and binary decoders: "In" (a stream, any packet
// read as bytes) -> "Out" (IntArray). No settings; the stream format is the
// decoding function's business.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding.h"
#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"

namespace vorlan {

using StreamDecodeFn = CodingResult (*)(const uint8_t* data, size_t length, OwnedIntArray& out,
                                        const CodingTick& tick, int64_t valueLimit,
                                        const CodingReserve& reserve);

class StreamDecoderFilter : public FilterBase {
 public:
  StreamDecoderFilter(const FilterInfo& info, StreamDecodeFn decode);
  ~StreamDecoderFilter();

  // Largest array a stream may ask for (the fuzz harnesses lower it).
  void SetValueLimit(int64_t limit) { valueLimit_ = limit; }

 protected:
  Result Work() override;
  void ReleaseOutputs() override { output_.Release(); }

 private:
  StreamDecodeFn decode_;
  Pin* in_ = nullptr;
  Pin* out_ = nullptr;
  OwnedIntArray output_;  // published by address until the next Process or Reset
  int64_t valueLimit_ = kMaxDecodedValues;
};

}  // namespace vorlan
