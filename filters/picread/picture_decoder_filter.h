// "Image decoder": a picture file held in a packet (PNG, JPEG, PGM/PPM,
// TIFF, WebP, BMP and whatever else Qt reads here) becomes three planes R,
// G, B, top row first, with the pins of the Bmp decoder so it can take its
// place in any graph. 8-bit pictures give planes declared [0, 255], deeper
// ones [0, 65535]; grey pictures give three equal planes; alpha is dropped.
#pragma once

#include <cstdint>
#include <string>

#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"
#include "vorlan/settings_description.h"

namespace vorlan {

// The settings record, also the Native configuration form.
struct PictureDecoderSettings {
  // Largest picture accepted, in megapixels (2^20 pixels); 1 to 255.
  int32_t maxMegapixels = 64;
};
static_assert(sizeof(PictureDecoderSettings) == 4);

// Three float64 planes must each fit an int32 byte count.
inline constexpr int32_t kLargestMegapixels = 255;

class PictureDecoderFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Image decoder", 1, 0, 1020};

  // Pin indexes, those of the Bmp decoder; graph files store them.
  static constexpr int32_t kInPin = 2;
  static constexpr int32_t kRPin = 3;
  static constexpr int32_t kGPin = 4;
  static constexpr int32_t kBPin = 5;

  PictureDecoderFilter();
  ~PictureDecoderFilter();

  // Null data is refused. Native: the whole record. Serialized: the limit;
  // an empty stream (older graphs) keeps the current value. Not range
  // checked here: a bad limit fails the run with a reason.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  // Native: a malloc'ed copy of the record. Serialized: 4 bytes.
  Packet GetConfig(ConfigForm form) override;

  const PictureDecoderSettings& Settings() const { return settings_; }

  static const SettingsDescription& DescribeSettings();
  // A limit outside 1..kLargestMegapixels; the run checks it once "In" has
  // a packet.
  std::string SettingsProblem() const override;
  const Plane& RPlane() const { return r_.Record(); }
  const Plane& GPlane() const { return g_.Record(); }
  const Plane& BPlane() const { return b_.Record(); }

 protected:
  // [worker thread] The input's type is not examined: its bytes are taken
  // as a picture file and never read beyond its length.
  Result Work() override;
  void ReleaseOutputs() override;

 private:
  PictureDecoderSettings settings_;
  Pin* in_ = nullptr;
  Pin* rOut_ = nullptr;
  Pin* gOut_ = nullptr;
  Pin* bOut_ = nullptr;
  OwnedPlane r_;
  OwnedPlane g_;
  OwnedPlane b_;
};

}  // namespace vorlan
