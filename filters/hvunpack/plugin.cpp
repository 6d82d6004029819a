// The hvunpack library: the HV code unpacker.
#include "code_unpacker_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan::hvunpack {

class CodeUnpackerPlugin final : public CodeUnpackerFilter {
 public:
  // [ui thread, no run active]
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    return gui::ShowNothingToConfigure("HV Code Unpacker settings");
  }
};

}  // namespace vorlan::hvunpack

VORLAN_FILTER_LIBRARY(vorlan::hvunpack::CodeUnpackerPlugin, "HV Code Unpacker Library")
