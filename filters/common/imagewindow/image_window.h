// A top-level window showing one RGB32 image, shared by the image displays
// and the codec feedback windows. Stretch scales the image onto the whole
// client area; Fullsize shows it 1:1 from a scroll offset the user moves by
// dragging with the left button. The right button opens the popup menu
// "Stretch", "Fullsize", separator, "Close". Closing only hides the window.
//
// Everything here runs on the user-interface thread. A filter's worker
// drives the window through gui::RunOnGuiThread.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>
#include <functional>

class QAction;
class QMenu;
class QPainter;

namespace vorlan {

class ImageWindow : public QWidget {
  Q_OBJECT

 public:
  enum class ViewMode { Fullsize = 0, Stretch = 1 };
  // Draws on the window after the image (never into it). `offset` is the
  // scroll offset of the full-size view, (0, 0) when stretched.
  using OverlayPainter = std::function<void(QPainter& painter, QPoint offset)>;

  // Hidden, 800 x 600, black background, with `title`.
  explicit ImageWindow(const QString& title, QWidget* parent = nullptr);
  ~ImageWindow() override;

  // The image to show (converted to RGB32 if needed); a null image draws
  // nothing. The scroll offset is clamped against the new size.
  void SetImage(const QImage& image);
  void ClearImage() { SetImage(QImage()); }
  const QImage& Image() const { return image_; }

  // Sets the mode and the menu's check marks; shows at the next paint.
  void SetViewMode(ViewMode mode);
  ViewMode Mode() const { return mode_; }
  QPoint ScrollOffset() const { return offset_; }
  bool Dragging() const { return dragging_; }

  void SetOverlayPainter(OverlayPainter painter) { overlay_ = std::move(painter); }
  // Windows that only scroll (the codec feedback windows) switch the popup
  // menu off.
  void SetMenuEnabled(bool enabled) { menuEnabled_ = enabled; }
  // Called when the user picks "Stretch" or "Fullsize" in the menu.
  void SetViewModeChosen(std::function<void(ViewMode)> chosen) { chosen_ = std::move(chosen); }

  // Gives the window the client size of the image, but no larger than the
  // work area of its screen less the frame; the top-left corner stays. Then
  // shows and repaints it.
  void ShowSizedToImage();

  QMenu* PopupMenu() const { return menu_; }
  QAction* StretchAction() const { return stretch_; }
  QAction* FullsizeAction() const { return fullsize_; }
  QAction* CloseAction() const { return close_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void ChooseMode(ViewMode mode);
  void ClampOffset();

  QImage image_;
  ViewMode mode_ = ViewMode::Stretch;
  QPoint offset_;
  bool dragging_ = false;
  QPoint lastMouse_;
  bool menuEnabled_ = true;
  OverlayPainter overlay_;
  std::function<void(ViewMode)> chosen_;
  QMenu* menu_ = nullptr;
  QAction* stretch_ = nullptr;
  QAction* fullsize_ = nullptr;
  QAction* close_ = nullptr;
};

}  // namespace vorlan
