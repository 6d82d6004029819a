// The "RGB Conversion Library": the conversion filter with its settings dialog.
#include "chroma_dialog.h"
#include "colour_conversion_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan::chroma {

class ColourConversionPlugin final : public ColourConversionFilter {
 public:
  // [ui thread, no run active] The data pins follow the chosen code; the
  // host re-lays out the node and drops edges to pins that vanished.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    return ConfigureConversion(*this, [](ChromaDialog& dialog) {
      gui::ApplySettingTooltips(&dialog, DescribeSettings());
      return dialog.exec();
    });
  }
};

}  // namespace vorlan::chroma

VORLAN_FILTER_LIBRARY(vorlan::chroma::ColourConversionPlugin, "RGB Conversion Library")
