// The bitunpack library: the binary decoder.
#include "binary_decoder_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan {

class BinaryDecoderPlugin final : public BinaryDecoderFilter {
 public:
  // [ui thread, no run active]
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    return gui::ShowNothingToConfigure("Binary Decoder settings");
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::BinaryDecoderPlugin, "Binary decoder Library")
