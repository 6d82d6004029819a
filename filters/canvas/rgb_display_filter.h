// "RGB display": up to three planes "R", "G", "B" of one size become a
// colour image, one byte per channel; an unconnected channel stays 0.
#pragma once

#include "display_filter.h"

namespace vorlan {

class RgbDisplayFilter : public ImageDisplayFilter {
 public:
  static constexpr FilterInfo kInfo{"RGB display", 1, 0, 30};

  // Pin indexes; graph files store them.
  static constexpr int32_t kRPin = 2;
  static constexpr int32_t kGPin = 3;
  static constexpr int32_t kBPin = 4;

  RgbDisplayFilter();

 protected:
  // Four passes fill bytes B, G, R and the zero byte of every pixel;
  // progress after row k (from 0) of pass j is (j * H + k) / (4 * H).
  // [worker thread]
  Result ConvertInputs() override;

 private:
  Pin* r_ = nullptr;
  Pin* g_ = nullptr;
  Pin* b_ = nullptr;
};

}  // namespace vorlan
