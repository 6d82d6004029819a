// "Mono display": one plane "In" becomes a grey image.
#pragma once

#include "display_filter.h"

namespace vorlan {

class MonoDisplayFilter : public ImageDisplayFilter {
 public:
  static constexpr FilterInfo kInfo{"Mono display", 1, 0, 60};

  // Pin index; graph files store it.
  static constexpr int32_t kInPin = 2;

  MonoDisplayFilter();

 protected:
  // One pass; progress after row k (from 0) is k / H. A plane whose minimum
  // equals its maximum, or with no samples, is refused. [worker thread]
  Result ConvertInputs() override;

 private:
  Pin* in_ = nullptr;
};

}  // namespace vorlan
