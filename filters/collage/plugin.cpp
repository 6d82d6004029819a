// The HV Encoder Library: the encoder, its feedback window and its settings
// dialog.
#include <QDialog>
#include <cstring>

#include "gui/collage_dialog.h"
#include "gui/feedback_encoder_window.h"
#include "fractal_encoder_filter.h"
#include "vorlan/config_stream.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan::collage {

class CollagePlugin final : public FeedbackEncoderFilter {
 public:
  // [ui thread, no run active] Edits a copy; OK applies it, Cancel changes nothing.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    Packet copy = GetConfig(ConfigForm::Native);
    if (copy.data == nullptr) return Fail("out of memory");
    FractalEncoderSettings settings;
    std::memcpy(&settings, copy.data, sizeof settings);
    CollageDialog dialog(settings);
    gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() == QDialog::Accepted) {
      FractalEncoderSettings edited = dialog.Settings();
      ApplyConfig(MakePacket(sizeof edited, PacketType::Config, &edited), ConfigForm::Native);
    }
    FreePacket(copy);
    return Ok;
  }
};

}  // namespace vorlan::collage

VORLAN_FILTER_LIBRARY(vorlan::collage::CollagePlugin, "HV Encoder Library")
