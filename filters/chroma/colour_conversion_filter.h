// "RGB conversion": converts R, G, B planes into another colour space or
// back. The conversion code is the filter's whole setting and decides its
// data pins: "R", "G", "B" first, then the colour-space planes, inputs or
// outputs depending on the direction.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "conversion_codes.h"
#include "conversion_plan.h"
#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"
#include "vorlan/settings_description.h"

namespace vorlan::chroma {

class ColourConversionFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"RGB conversion", 1, 0, 80};

  ColourConversionFilter();
  ~ColourConversionFilter();

  // [ui thread] The code as one int32 in either form. Refuses a missing or
  // short payload and codes outside 0-25, changing nothing. Otherwise the
  // data pins are rebuilt (also for an unchanged code): pins of the old set
  // are destroyed, so the host re-validates its edges afterwards.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  // A malloc'ed int32 holding the code; the caller frees it.
  Packet GetConfig(ConfigForm form) override;

  int32_t Conversion() const { return conversion_; }

  static const SettingsDescription& DescribeSettings();
  // ApplyConfig refuses unknown codes, so this holds for every filter.
  std::string SettingsProblem() const override;
  const std::vector<Pin*>& InputPins() const { return inputPins_; }
  const std::vector<Pin*>& OutputPins() const { return outputPins_; }

 protected:
  // [worker thread]
  Result Work() override;
  // A code arriving on "Cfg in" may repeat the current one; a different code
  // would need other pins, which cannot change while the graph runs.
  Result ApplyRunConfig(Packet packet) override;
  void ReleaseOutputs() override;

 private:
  Result BuildPins();
  Result ReadInputs(std::array<const Plane*, kMaxPlanes>& planes);
  Result Convert(const ConversionPlan& plan, const std::array<const Plane*, kMaxPlanes>& planes);
  Result NormaliseOutputs(int32_t count);

  int32_t conversion_ = 0;
  std::vector<Pin*> inputPins_;   // borrowed from `pins`, in creation order
  std::vector<Pin*> outputPins_;  // borrowed from `pins`, in creation order
  std::array<OwnedPlane, kMaxPlanes> outputPlanes_;
};

}  // namespace vorlan::chroma
