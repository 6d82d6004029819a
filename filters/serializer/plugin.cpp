// The serializer library: the Serializer with its settings dialog.
#include "serializer_dialog.h"
#include "serializer_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan {

class SerializerPlugin final : public SerializerFilter {
 public:
  // [ui thread, no run active] Edits a copy; OK applies it in Native form,
  // which rebuilds the numbered pins when N changes.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    SerializerDialog dialog(Settings());
    gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() != QDialog::Accepted) return Ok;
    SerializerSettings chosen = dialog.settings();
    return ApplyConfig(MakePacket(sizeof chosen, PacketType::Config, &chosen), ConfigForm::Native);
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::SerializerPlugin, "Serializer Library")
