// The squeeze library: the Huffman encoder with its settings dialog.
#include "huffman_encoder_filter.h"
#include "squeeze_dialog.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan {

class HuffmanEncoderPlugin final : public HuffmanEncoderFilter {
 public:
  // [ui thread, no run active] Edits a copy; OK applies it in Native form.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    HuffmanEncoderDialog dialog(Settings());
    gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() != QDialog::Accepted) return Ok;
    HuffmanEncoderSettings chosen = dialog.settings();
    return ApplyConfig(MakePacket(sizeof chosen, PacketType::Config, &chosen), ConfigForm::Native);
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::HuffmanEncoderPlugin, "Huffman encoder Library")
