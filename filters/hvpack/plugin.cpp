// The hvpack library: the HV code packer.
#include "code_packer_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan::hvpack {

class CodePackerPlugin final : public CodePackerFilter {
 public:
  // [ui thread, no run active]
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    return gui::ShowNothingToConfigure("HV Code Packer settings");
  }
};

}  // namespace vorlan::hvpack

VORLAN_FILTER_LIBRARY(vorlan::hvpack::CodePackerPlugin, "HV Code Packer Library")
