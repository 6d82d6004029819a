// The Text Display Library: the filter, its display window and its settings
// dialog.
#include <QCoreApplication>
#include <QThread>
#include <memory>

#include "readout_dialog.h"
#include "readout_window.h"
#include "value_display_filter.h"
#include "vorlan/export.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan {

namespace {

// Deletes the window on its own thread; after the application is gone the
// widget is left to the process exit.
struct ReadoutWindowDeleter {
  void operator()(ReadoutWindow* window) const {
    if (window == nullptr || QCoreApplication::instance() == nullptr) return;
    if (QThread::currentThread() == window->thread()) delete window;
    else window->deleteLater();
  }
};

}  // namespace

class ValueDisplayPlugin final : public ValueDisplayFilter {
 public:
  // [ui thread] The window is created hidden, and only when there is a GUI.
  ValueDisplayPlugin() {
    if (gui::GuiAvailable()) gui::RunOnGuiThread([this] { window_.reset(new ReadoutWindow()); });
  }

  // [ui thread, no run active] OK applies the caption (empty: none).
  Result Configure() override {
    if (!gui::GuiAvailable()) return Fail("no user interface is available to configure the filter");
    ReadoutDialog dialog(Caption());
    gui::ApplySettingTooltips(&dialog, DescribeSettings());
    if (dialog.exec() == QDialog::Accepted) {
      const std::optional<std::string>& edited = dialog.Caption();
      const char* text = edited ? edited->c_str() : nullptr;
      ApplyConfig(MakePacket(sizeof text, PacketType::Config, &text), ConfigForm::Native);
    }
    return Ok;
  }

  // The window, null without a GUI. [ui thread]
  ReadoutWindow* Window() const { return window_.get(); }

 protected:
  // [worker thread]
  void HideDisplay() override {
    if (ReadoutWindow* window = window_.get()) gui::RunOnGuiThread([window] { window->hide(); });
  }
  // [worker thread]
  void ShowDisplay() override {
    ReadoutWindow* window = window_.get();
    if (window == nullptr) return;
    gui::RunOnGuiThread([&] { window->ShowValue(Text(), TypeLabel(), Caption()); });
  }

 private:
  std::unique_ptr<ReadoutWindow, ReadoutWindowDeleter> window_;
};

}  // namespace vorlan

VORLAN_FILTER_LIBRARY(vorlan::ValueDisplayPlugin, "Text Display Library")
