// The hvpack library: the HV code packer and its settings dialog.
#include <cstdlib>
#include <cstring>

#include "code_packer_filter.h"
#include "packer_dialog.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan::hvpack {

class CodePackerPlugin final : public CodePackerFilter {
 public:
  // [ui thread, no run active] Edits a copy; OK applies it, Cancel keeps
  // the settings.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    Packet current = GetConfig(ConfigForm::Native);
    if (current.data == nullptr) return OutOfMemory;
    CodePackerSettings copy;
    std::memcpy(&copy, current.data, sizeof copy);
    std::free(current.data);
    PackerDialog dialog(copy);
    gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() == QDialog::Accepted) {
      CodePackerSettings edited = dialog.Settings();
      ApplyConfig(MakePacket(sizeof edited, PacketType::Config, &edited), ConfigForm::Native);
    }
    return Ok;
  }
};

}  // namespace vorlan::hvpack

VORLAN_FILTER_LIBRARY(vorlan::hvpack::CodePackerPlugin, "HV Code Packer Library")
