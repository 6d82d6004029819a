// The Gain Library: the filter, its dialog, and the exported entry points.
#include <cstdlib>
#include <cstring>

#include "gain_dialog.h"
#include "gain_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace gain {

class GainPlugin final : public GainFilter {
 public:
  // [user-interface thread, no run active] The dialog edits a copy; OK
  // applies it, Cancel keeps the settings. Headless runs have no user
  // interface: then nothing is shown and the call fails.
  vorlan::Result Configure() override {
    if (!vorlan::gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    vorlan::Packet current = GetConfig(vorlan::ConfigForm::Native);
    if (current.data == nullptr) return vorlan::OutOfMemory;
    GainSettings copy;
    std::memcpy(&copy, current.data, sizeof copy);
    std::free(current.data);
    GainDialog dialog(copy);
    // Each field's help as the tooltip of the widget named by its identifier.
    vorlan::gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() == QDialog::Accepted) {
      GainSettings edited = dialog.Settings();
      ApplyConfig(vorlan::MakePacket(sizeof edited, vorlan::PacketType::Config, &edited), vorlan::ConfigForm::Native);
    }
    return vorlan::Ok;
  }
};

}  // namespace gain

// Exports GetFilterLibraryInfo, GetFilterInfo, CreateFilter, DestroyFilter,
// GetFailureReason, ReleaseConfig, SetDocumentFolder and, from
// DescribeSettings and SettingsProblem, GetSettingsDescription and
// CheckSettings for the one prototype of this library.
VORLAN_FILTER_LIBRARY(gain::GainPlugin, "Gain Library")
