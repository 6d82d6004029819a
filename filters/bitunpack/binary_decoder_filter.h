// The binary decoder: "In" (a binary stream, any packet read as bytes) ->
// "Out" (IntArray). No settings.
#pragma once

#include "coding.h"
#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"

namespace vorlan {

class BinaryDecoderFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Binary decoder", 1, 0, 180};

  BinaryDecoderFilter();
  ~BinaryDecoderFilter();

  // Largest array a stream may ask for (the fuzz harness lowers it).
  void SetValueLimit(int64_t limit) { valueLimit_ = limit; }

 protected:
  Result Work() override;
  void ReleaseOutputs() override { output_.Release(); }

 private:
  Pin* in_ = nullptr;
  Pin* out_ = nullptr;
  OwnedIntArray output_;  // published by address until the next Process or Reset
  int64_t valueLimit_ = kMaxDecodedValues;
};

}  // namespace vorlan
