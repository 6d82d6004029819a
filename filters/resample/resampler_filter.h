// "Plane resampler": one plane "In" becomes "Out", each side a whole factor
// smaller (area average) or larger (bilinear or bicubic interpolation). The
// output keeps the input's declared range. Going up, an optional plane on
// "Size" gives the output its width and height, so that a plane taken down
// from an odd size comes back to exactly that size.
#pragma once

#include <cstdint>
#include <string>

#include "plane_resampling.h"
#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"
#include "vorlan/settings_description.h"

namespace vorlan {

// The settings record, also the Native configuration form.
struct ResamplerSettings {
  int32_t factor = 2;  // kSmallestFactor to kLargestFactor
  int32_t method = 0;  // resample::Method; the method says the direction
};
static_assert(sizeof(ResamplerSettings) == 8);

class PlaneResamplerFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Plane resampler", 1, 0, 1040};

  // Pin indexes; graph files store them.
  static constexpr int32_t kInPin = 2;
  static constexpr int32_t kOutPin = 3;
  static constexpr int32_t kSizePin = 4;

  PlaneResamplerFilter();
  ~PlaneResamplerFilter();

  // Null data is refused. Native: the whole record. Serialized: factor,
  // method; a field the bytes do not reach keeps its value. Not range
  // checked here: bad settings fail the run with a reason.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  // Native: a malloc'ed copy of the record. Serialized: 8 bytes.
  Packet GetConfig(ConfigForm form) override;

  const ResamplerSettings& Settings() const { return settings_; }

  static const SettingsDescription& DescribeSettings();
  // A factor outside 2..8 or an unknown method.
  std::string SettingsProblem() const override;
  const Plane& OutputPlane() const { return out_.Record(); }

 protected:
  // [worker thread]
  Result Work() override;
  void ReleaseOutputs() override { out_.Release(); }

 private:
  ResamplerSettings settings_;
  Pin* in_ = nullptr;
  Pin* outPin_ = nullptr;
  Pin* size_ = nullptr;
  OwnedPlane out_;
};

}  // namespace vorlan
