// The File Input Stream Library: the filter plus its file dialog.
#include "file_dialogs.h"
#include "file_input_stream_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan {

class FileInputStreamPlugin final : public FileInputStreamFilter {
 public:
  // [ui thread] Cancel keeps the current path.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to choose a file");
    return ChoosePath(&gui::ChooseFileToRead);
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::FileInputStreamPlugin, "File Input Stream Library")
