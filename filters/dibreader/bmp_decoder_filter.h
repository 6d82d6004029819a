// "Bmp decoder": an uncompressed 24-bit BMP held in a packet becomes three
// planes R, G, B with samples 0..255, top row first.
#pragma once

#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"
#include "vorlan/settings_description.h"

namespace vorlan {

class BmpDecoderFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Bmp decoder", 1, 0, 40};
  // Nothing to set: the settings stream is empty.
  static const SettingsDescription& DescribeSettings() { return kNoSettings; }

  // Pin indexes; graph files store them.
  static constexpr int32_t kInPin = 2;
  static constexpr int32_t kRPin = 3;
  static constexpr int32_t kGPin = 4;
  static constexpr int32_t kBPin = 5;

  BmpDecoderFilter();
  ~BmpDecoderFilter();

  const Plane& RPlane() const { return r_.Record(); }
  const Plane& GPlane() const { return g_.Record(); }
  const Plane& BPlane() const { return b_.Record(); }

 protected:
  // [worker thread] The input packet's type is not examined: its bytes are
  // taken as a BMP file and never read beyond its length.
  Result Work() override;
  void ReleaseOutputs() override;

 private:
  Pin* in_ = nullptr;
  Pin* rOut_ = nullptr;
  Pin* gOut_ = nullptr;
  Pin* bOut_ = nullptr;
  OwnedPlane r_;
  OwnedPlane g_;
  OwnedPlane b_;
};

}  // namespace vorlan
