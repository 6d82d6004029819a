// The Plane Resampler Library: the filter and its settings dialog.
#include <cstdlib>
#include <cstring>

#include "resample_dialog.h"
#include "resampler_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan {

class ResamplerPlugin final : public PlaneResamplerFilter {
 public:
  // [ui thread, no run active] Edits a copy; OK applies it, Cancel keeps
  // the settings.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    Packet current = GetConfig(ConfigForm::Native);
    if (current.data == nullptr) return OutOfMemory;
    ResamplerSettings copy;
    std::memcpy(&copy, current.data, sizeof copy);
    std::free(current.data);
    ResampleDialog dialog(copy);
    gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() == QDialog::Accepted) {
      ResamplerSettings edited = dialog.Settings();
      ApplyConfig(MakePacket(sizeof edited, PacketType::Config, &edited), ConfigForm::Native);
    }
    return Ok;
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::ResamplerPlugin, "Plane Resampler Library")
