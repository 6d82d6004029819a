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
    const std::optional<std::string> chosen = gui::ChooseFileToRead(Path());
    if (!chosen) return Ok;
    const char* text = chosen->c_str();
    return ApplyConfig(MakePacket(sizeof text, PacketType::Config, &text), ConfigForm::Native);
  }
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::FileInputStreamPlugin, "File Input Stream Library")
