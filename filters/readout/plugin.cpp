// The Text Display Library: the filter and its settings dialog. The display
// window attaches through ValueDisplayFilter's HideDisplay/ShowDisplay.
#include "readout_dialog.h"
#include "value_display_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan {

class ValueDisplayPlugin final : public ValueDisplayFilter {
 public:
  // [ui thread, no run active] OK applies the caption (empty: none).
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    ReadoutDialog dialog(Caption());
    if (dialog.exec() == QDialog::Accepted) {
      const std::optional<std::string>& edited = dialog.Caption();
      const char* text = edited ? edited->c_str() : nullptr;
      ApplyConfig(MakePacket(sizeof text, PacketType::Config, &text), ConfigForm::Native);
    }
    return Ok;
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::ValueDisplayPlugin, "Text Display Library")
