// The HV Decoder Library: the decoder, its feedback window and its settings
// dialog.
#include <cstdlib>
#include <cstring>

#include "attractor_dialog.h"
#include "feedback_decoder_window.h"
#include "fractal_decoder_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan::attractor {

class FractalDecoderPlugin final : public FeedbackDecoderFilter {
 public:
  // [ui thread, no run active] Edits a copy; OK applies it, Cancel keeps
  // the settings.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    Packet current = GetConfig(ConfigForm::Native);
    if (current.data == nullptr) return OutOfMemory;
    FractalDecoderSettings copy;
    std::memcpy(&copy, current.data, sizeof copy);
    std::free(current.data);
    AttractorDialog dialog(copy);
    gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() == QDialog::Accepted) {
      FractalDecoderSettings edited = dialog.Settings();
      ApplyConfig(MakePacket(sizeof edited, PacketType::Config, &edited), ConfigForm::Native);
    }
    return Ok;
  }
};

}  // namespace vorlan::attractor

VORLAN_FILTER_LIBRARY(vorlan::attractor::FractalDecoderPlugin, "HV Decoder Library")
