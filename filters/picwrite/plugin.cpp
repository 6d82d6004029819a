// The Image Encoder Library: the encoder and its settings dialog.
#include <cstdlib>
#include <cstring>

#include "picwrite_dialog.h"
#include "picture_encoder_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan {

class PictureEncoderPlugin final : public PictureEncoderFilter {
 public:
  // [ui thread, no run active] Edits a copy; OK applies it, Cancel keeps
  // the settings.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    Packet current = GetConfig(ConfigForm::Native);
    if (current.data == nullptr) return OutOfMemory;
    PictureEncoderSettings copy;
    std::memcpy(&copy, current.data, sizeof copy);
    std::free(current.data);
    PicwriteDialog dialog(copy);
    gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() == QDialog::Accepted) {
      PictureEncoderSettings edited = dialog.Settings();
      ApplyConfig(MakePacket(sizeof edited, PacketType::Config, &edited), ConfigForm::Native);
    }
    return Ok;
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::PictureEncoderPlugin, "Image Encoder Library")
