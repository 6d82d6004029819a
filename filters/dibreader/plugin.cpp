// The Bmp Decoder Library: the decoder plus its (empty) settings box.
#include "bmp_decoder_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan {

class BmpDecoderPlugin final : public BmpDecoderFilter {
 public:
  // [ui thread]
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    return gui::ShowNothingToConfigure("BMP Decoder settings");
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::BmpDecoderPlugin, "Bmp Decoder Library")
