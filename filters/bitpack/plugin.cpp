// The bitpack library: the binary encoder.
#include "binary_encoder_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan {

class BinaryEncoderPlugin final : public BinaryEncoderFilter {
 public:
  // [ui thread, no run active]
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    return gui::ShowNothingToConfigure("Binary Encoder settings");
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::BinaryEncoderPlugin, "Binary encoder Library")
