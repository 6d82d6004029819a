#include "image_display_plugin.h"

#include <QCoreApplication>
#include <QThread>

#include "plane_pixels.h"

namespace vorlan {

namespace {

ImageWindow::ViewMode ModeOf(const ImageDisplayFilter& filter) {
  return filter.Stretch() ? ImageWindow::ViewMode::Stretch : ImageWindow::ViewMode::Fullsize;
}

}  // namespace

void ImageWindowDeleter::operator()(ImageWindow* window) const {
  if (window == nullptr) return;
  // Without an application the window system is gone; deleting a widget
  // then would crash, so the widget is left to the process exit.
  if (QCoreApplication::instance() == nullptr) return;
  if (QThread::currentThread() == window->thread()) delete window;
  else window->deleteLater();
}

ImageWindowPtr CreateDisplayWindow(ImageDisplayFilter& filter) {
  ImageWindowPtr window;
  if (!gui::GuiAvailable()) return window;
  gui::RunOnGuiThread([&] {
    window.reset(new ImageWindow(QString::fromUtf8(filter.DisplayName())));
    window->SetViewMode(ModeOf(filter));
    window->SetViewModeChosen(
        [&filter](ImageWindow::ViewMode mode) { filter.SetStretch(mode == ImageWindow::ViewMode::Stretch); });
  });
  return window;
}

void ShowDisplayWindow(ImageWindow* window, const ImageDisplayFilter& filter) {
  if (window == nullptr || filter.Pixels() == nullptr) return;
  const int width = filter.ImageWidth();
  const int height = filter.ImageHeight();
  // The window keeps its own copy: the filter's buffer goes with its next run.
  const QImage image =
      QImage(filter.Pixels(), width, height, width * kBytesPerPixel, QImage::Format_RGB32).copy();
  const QString title = QString::fromUtf8(filter.WindowTitle());
  const ImageWindow::ViewMode mode = ModeOf(filter);
  gui::RunOnGuiThread([&] {
    window->SetImage(image);
    window->setWindowTitle(title);
    window->SetViewMode(mode);
    window->ShowSizedToImage();
  });
}

void HideDisplayWindow(ImageWindow* window) {
  if (window != nullptr) gui::RunOnGuiThread([window] { window->hide(); });
}

void ClearDisplayWindow(ImageWindow* window) {
  if (window != nullptr) gui::RunOnGuiThread([window] { window->ClearImage(); });
}

void SyncDisplayWindowMode(ImageWindow* window, const ImageDisplayFilter& filter) {
  if (window == nullptr) return;
  const ImageWindow::ViewMode mode = ModeOf(filter);
  gui::RunOnGuiThread([window, mode] { window->SetViewMode(mode); });
}

}  // namespace vorlan
