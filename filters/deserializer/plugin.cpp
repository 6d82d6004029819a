// The deserializer library: the Deserializer with its settings dialog.
#include "deserializer_dialog.h"
#include "deserializer_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan {

class DeserializerPlugin final : public DeserializerFilter {
 public:
  // [ui thread, no run active] Edits a copy; OK applies it in Native form,
  // which rebuilds the numbered pins when N changes.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    DeserializerDialog dialog(Settings());
    gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() != QDialog::Accepted) return Ok;
    DeserializerSettings chosen = dialog.settings();
    return ApplyConfig(MakePacket(sizeof chosen, PacketType::Config, &chosen), ConfigForm::Native);
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::DeserializerPlugin, "Deserializer Library")
