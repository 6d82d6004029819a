// The File Output Stream Library: the filter plus its file dialog.
#include "file_dialogs.h"
#include "file_output_stream_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan {

class FileOutputStreamPlugin final : public FileOutputStreamFilter {
 public:
  // [ui thread] Cancel keeps the current path.
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to choose a file");
    return ChoosePath(&gui::ChooseFileToWrite);
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::FileOutputStreamPlugin, "File Output Stream Library")
