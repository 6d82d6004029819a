// "Image encoder": three planes of equal size become a picture file (PNG,
// JPEG, PPM/PGM, TIFF or WebP), with the pins of the Bmp encoder. Each
// plane's declared [min, max] range is scaled onto 0..255, or 0..65535 for
// 16-bit output, exactly as the Bmp encoder scales; three equal planes are
// written as a grey picture.
#pragma once

#include <cstdint>
#include <string>

#include "nearest_level.h"
#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"
#include "vorlan/settings_description.h"

namespace vorlan {

// The settings record, also the Native configuration form.
struct PictureEncoderSettings {
  int32_t format = 0;  // PictureFormat code: 0 PNG, 1 JPEG, 2 PPM/PGM, 3 TIFF, 4 WebP
  int32_t quality = 90;  // 0..100, JPEG and WebP only
  int32_t bits = 8;  // per channel: 8, or 16 for PNG and TIFF
};
static_assert(sizeof(PictureEncoderSettings) == 12);

// One sample scaled from [min, max] onto 0..top (255 or 65535), rounded to
// the nearest level (nearest_level.h).
inline int32_t ScaleToLevel(double sample, double min, double max, double top) {
  return NearestLevel(sample, min, max, static_cast<int32_t>(top));
}

class PictureEncoderFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Image encoder", 1, 0, 1030};

  // Pin indexes, those of the Bmp encoder; graph files store them.
  static constexpr int32_t kOutPin = 2;
  static constexpr int32_t kRPin = 3;
  static constexpr int32_t kGPin = 4;
  static constexpr int32_t kBPin = 5;

  PictureEncoderFilter();

  // Null data is refused. Native: the whole record. Serialized: format,
  // quality, bits; a field the bytes do not reach keeps its value. Values
  // are not range checked here: a bad one fails the run with a reason.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  // Native: a malloc'ed copy of the record. Serialized: 12 bytes.
  Packet GetConfig(ConfigForm form) override;

  const PictureEncoderSettings& Settings() const { return settings_; }

  static const SettingsDescription& DescribeSettings();
  // An unknown format, a bit depth other than 8 or 16, 16 bits for a format
  // without them, or a quality outside 0..100 for a lossy format. Whether
  // this system has a writer for the format is the run's own check.
  std::string SettingsProblem() const override;

 protected:
  // [worker thread]
  Result Work() override;
  void ReleaseOutputs() override { file_.Release(); }

 private:
  PictureEncoderSettings settings_;
  Pin* out_ = nullptr;
  Pin* rIn_ = nullptr;
  Pin* gIn_ = nullptr;
  Pin* bIn_ = nullptr;
  OwnedBytes file_;
};

}  // namespace vorlan
