// "Grayscale conversion": three planes R, G, B become one intensity plane
// "Out" by one of five methods. Inputs are normalised onto [0, 1] through
// their declared ranges; the output keeps the range its method declares.
#pragma once

#include <cstdint>
#include <string>

#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"
#include "vorlan/settings_description.h"

namespace vorlan {

enum class GrayscaleMethod : int32_t {
  Maximum = 0,
  Average = 1,
  Y = 2,
  Luminance = 3,
  Trilinear = 4,
};

// The settings record, also the Native configuration form.
struct GrayscaleSettings {
  int32_t method = 0;  // GrayscaleMethod code; others fail the run
  double r = 0.3333333333333333;  // Trilinear weights
  double g = 0.3333333333333333;
  double b = 0.3333333333333333;
};
static_assert(sizeof(GrayscaleSettings) == 32);

struct GrayscaleWeights {
  double r;
  double g;
  double b;
};

// The weights a weighted method uses; Trilinear takes them from settings.
GrayscaleWeights WeightsOf(GrayscaleMethod method, const GrayscaleSettings& settings);

// Declared output range of a weighted method: [0, max(1, sum of the
// positive weights)], the sum taken in the order R, G, B.
void WeightedRange(const GrayscaleWeights& w, double& min, double& max);

class GrayscaleFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Grayscale conversion", 1, 0, 90};

  static constexpr int32_t kRPin = 2;
  static constexpr int32_t kGPin = 3;
  static constexpr int32_t kBPin = 4;
  static constexpr int32_t kOutPin = 5;

  GrayscaleFilter();

  // Null data is refused. Native: the whole record. Serialized: method, r,
  // g, b in order; a field the bytes do not reach keeps its value. Values
  // are not range-checked here: a bad method fails the run instead, so
  // graphs holding one still load.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  // Native: a malloc'ed copy of the record (32 bytes). Serialized: 28 bytes.
  Packet GetConfig(ConfigForm form) override;

  const GrayscaleSettings& Settings() const { return settings_; }

  static const SettingsDescription& DescribeSettings();
  // A method outside 0..4, or a Trilinear weight that is not finite. The
  // run checks it once its inputs are known to be usable.
  std::string SettingsProblem() const override;
  const Plane& OutputPlane() const { return out_.Record(); }

 protected:
  // [worker thread]
  Result Work() override;
  void ReleaseOutputs() override { out_.Release(); }

 private:
  Result CheckInput(const Pin* pin, const Plane& plane, int32_t width, int32_t height);

  GrayscaleSettings settings_;
  Pin* rIn_ = nullptr;
  Pin* gIn_ = nullptr;
  Pin* bIn_ = nullptr;
  Pin* out_pin_ = nullptr;
  OwnedPlane out_;
};

}  // namespace vorlan
