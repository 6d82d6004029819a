// The PSNR Enumerator Library: the filter and its settings dialog.
#include <cstdlib>
#include <cstring>

#include "gauge_dialog.h"
#include "psnr_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan {

class PsnrPlugin final : public PsnrFilter {
 public:
  // [ui thread, no run active] OK applies the box's state, Cancel nothing.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    Packet current = GetConfig(ConfigForm::Native);
    if (current.data == nullptr) return OutOfMemory;
    int32_t prescaling = 0;
    std::memcpy(&prescaling, current.data, sizeof prescaling);
    std::free(current.data);
    GaugeDialog dialog(prescaling);
    gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() == QDialog::Accepted) {
      int32_t value = dialog.Prescaling();
      ApplyConfig(MakePacket(sizeof value, PacketType::Config, &value), ConfigForm::Native);
    }
    return Ok;
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::PsnrPlugin, "PSNR Enumerator Library")
