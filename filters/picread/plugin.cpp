// The Image Decoder Library: the decoder and its settings dialog.
#include <cstdlib>
#include <cstring>

#include "picread_dialog.h"
#include "picture_decoder_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan {

class PictureDecoderPlugin final : public PictureDecoderFilter {
 public:
  // [ui thread, no run active] Edits a copy; OK applies it, Cancel keeps
  // the settings.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    Packet current = GetConfig(ConfigForm::Native);
    if (current.data == nullptr) return OutOfMemory;
    PictureDecoderSettings copy;
    std::memcpy(&copy, current.data, sizeof copy);
    std::free(current.data);
    PicreadDialog dialog(copy);
    gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() == QDialog::Accepted) {
      PictureDecoderSettings edited = dialog.Settings();
      ApplyConfig(MakePacket(sizeof edited, PacketType::Config, &edited), ConfigForm::Native);
    }
    return Ok;
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::PictureDecoderPlugin, "Image Decoder Library")
