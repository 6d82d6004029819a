// The Bmp Encoder Library: the encoder plus its (empty) settings box.
#include "bmp_encoder_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan {

class BmpEncoderPlugin final : public BmpEncoderFilter {
 public:
  // [ui thread]
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    return gui::ShowNothingToConfigure("BMP Encoder settings");
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::BmpEncoderPlugin, "Bmp Encoder Library")
