// The unsqueeze library: the Huffman decoder.
#include "huffman_decoder_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan {

class HuffmanDecoderPlugin final : public HuffmanDecoderFilter {
 public:
  // [ui thread, no run active]
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    return gui::ShowNothingToConfigure("Huffman Decoder settings");
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::HuffmanDecoderPlugin, "Huffman decoder Library")
