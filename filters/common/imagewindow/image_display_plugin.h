// The windowed form of an image display: ImageDisplayPlugin<RgbDisplayFilter>
// is the filter a display library exports. The window is created hidden on
// the user-interface thread with the filter (only when the process has a
// GUI), hidden at the start of every run, filled and shown at the end of a
// successful one, and destroyed with the filter.
#pragma once

#include <QImage>
#include <QString>
#include <memory>

#include "display_filter.h"
#include "display_settings_dialog.h"
#include "image_window.h"
#include "vorlan/gui/gui_support.h"
#include "vorlan/gui/setting_tooltips.h"

namespace vorlan {

// Deletes a window on the thread it belongs to.
struct ImageWindowDeleter {
  void operator()(ImageWindow* window) const;
};
using ImageWindowPtr = std::unique_ptr<ImageWindow, ImageWindowDeleter>;

// [ui thread] The hidden window of `filter`, or null without a GUI. The
// window's menu writes the chosen view mode back into the filter.
ImageWindowPtr CreateDisplayWindow(ImageDisplayFilter& filter);
// [worker thread] Hands the filter's image, title and mode to the window and
// shows it sized to the image.
void ShowDisplayWindow(ImageWindow* window, const ImageDisplayFilter& filter);
// [any thread] Hides the window / drops its image / applies the filter's
// view mode (shown at the next paint).
void HideDisplayWindow(ImageWindow* window);
void ClearDisplayWindow(ImageWindow* window);
void SyncDisplayWindowMode(ImageWindow* window, const ImageDisplayFilter& filter);

template <class Core>
class ImageDisplayPlugin final : public Core {
 public:
  ImageDisplayPlugin() : window_(CreateDisplayWindow(*this)) {}

  // [ui thread, no run active] Edits a copy of the settings; OK applies it
  // in Native form, Cancel changes nothing.
  Result Configure() override {
    if (!gui::GuiAvailable()) return this->Fail("no user interface is available to configure the filter");
    DisplaySettingsDialog dialog(QString::fromUtf8(this->DisplayName()) + QStringLiteral(" settings"),
                                 this->Stretch(), this->Caption());
    gui::ApplySettingTooltips(&dialog, Core::DescribeSettings());
    if (dialog.exec() == QDialog::Accepted) {
      ImageDisplaySettings record{dialog.Stretch() ? 1 : 0,
                                  dialog.Caption() ? dialog.Caption()->c_str() : nullptr};
      ApplyConfig(MakePacket(sizeof record, PacketType::Config, &record), ConfigForm::Native);
    }
    return Ok;
  }

  Result ApplyConfig(Packet packet, ConfigForm form) override {
    const Result result = Core::ApplyConfig(packet, form);
    SyncDisplayWindowMode(window_.get(), *this);
    return result;
  }

  // The window, null without a GUI. [ui thread]
  ImageWindow* Window() const { return window_.get(); }

 protected:
  void HideDisplay() override { HideDisplayWindow(window_.get()); }
  void ShowDisplay() override { ShowDisplayWindow(window_.get(), *this); }
  void ImageReleased() override { ClearDisplayWindow(window_.get()); }

 private:
  ImageWindowPtr window_;
};

}  // namespace vorlan
