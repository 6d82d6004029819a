#include "image_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "view_geometry.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan {

namespace {
constexpr int kInitialWidth = 800;
constexpr int kInitialHeight = 600;
// Room for the window manager's buttons beside the title, in pixels.
constexpr int kTitleButtonsRoom = 120;
}  // namespace

ImageWindow::ImageWindow(const QString& title, QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(title);
  setAttribute(Qt::WA_DeleteOnClose, false);
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);
  setAutoFillBackground(true);
  setCursor(Qt::ArrowCursor);
  resize(kInitialWidth, kInitialHeight);

  menu_ = new QMenu(QStringLiteral("Menu"), this);
  stretch_ = menu_->addAction(QStringLiteral("Stretch"));
  fullsize_ = menu_->addAction(QStringLiteral("Fullsize"));
  menu_->addSeparator();
  close_ = menu_->addAction(QStringLiteral("Close"));
  stretch_->setCheckable(true);
  fullsize_->setCheckable(true);
  stretch_->setChecked(true);
  connect(stretch_, &QAction::triggered, this, [this] { ChooseMode(ViewMode::Stretch); });
  connect(fullsize_, &QAction::triggered, this, [this] { ChooseMode(ViewMode::Fullsize); });
  connect(close_, &QAction::triggered, this, &QWidget::hide);
}

ImageWindow::~ImageWindow() = default;

void ImageWindow::SetImage(const QImage& image) {
  image_ = image.isNull() || image.format() == QImage::Format_RGB32 ? image
                                                                     : image.convertToFormat(QImage::Format_RGB32);
  ClampOffset();
  update();
}

void ImageWindow::SetViewMode(ViewMode mode) {
  mode_ = mode;
  stretch_->setChecked(mode == ViewMode::Stretch);
  fullsize_->setChecked(mode == ViewMode::Fullsize);
}

void ImageWindow::ChooseMode(ViewMode mode) {
  SetViewMode(mode);
  dragging_ = false;
  offset_ = QPoint(0, 0);
  update();
  if (chosen_) chosen_(mode);
}

void ImageWindow::ClampOffset() {
  offset_.setX(ClampScroll(offset_.x(), width(), image_.width()));
  offset_.setY(ClampScroll(offset_.y(), height(), image_.height()));
}

void ImageWindow::ShowSizedToImage() {
  if (!image_.isNull()) {
    const QScreen* where = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    // The title and the window's buttons need room: a small image is shown
    // magnified by a whole factor (stretched) or with a black margin (1:1).
    const int titleRoom = fontMetrics().horizontalAdvance(windowTitle()) + kTitleButtonsRoom;
    QSize client(image_.width(), image_.height());
    if (mode_ == ViewMode::Stretch) {
      const int factor = MagnificationFor(image_.width(), titleRoom);
      client *= factor;
    } else {
      client.setWidth(std::max(client.width(), titleRoom));
    }
    if (where != nullptr) {
      const QSize frame = vorlan::gui::FrameExtra(*this);
      const QRect work = where->availableGeometry();
      client = QSize(FitClient(client.width(), work.width() - frame.width()),
                     FitClient(client.height(), work.height() - frame.height()));
    }
    resize(client);
  }
  vorlan::gui::PlaceOnScreen(*this);
  show();
  update();
}

void ImageWindow::paintEvent(QPaintEvent*) {
  if (image_.isNull()) return;
  QPainter painter(this);
  QPoint offset(0, 0);
  if (mode_ == ViewMode::Stretch) {
    // No smoothing: whole pixels are repeated or dropped, as on a plain blit.
    painter.drawImage(rect(), image_);
  } else {
    offset = offset_;
    painter.drawImage(QPoint(0, 0), image_, QRect(offset_, size()));
  }
  if (overlay_) overlay_(painter, offset);
}

void ImageWindow::closeEvent(QCloseEvent* event) {
  // The window lives as long as its filter; closing only hides it.
  event->ignore();
  dragging_ = false;
  hide();
}

void ImageWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ClampOffset();
}

void ImageWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    dragging_ = true;
    lastMouse_ = event->position().toPoint();
  } else if (event->button() == Qt::RightButton && menuEnabled_) {
    SetViewMode(mode_);
    menu_->popup(event->globalPosition().toPoint());
  }
}

void ImageWindow::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  const QPoint mouse = event->position().toPoint();
  offset_ += lastMouse_ - mouse;
  ClampOffset();
  lastMouse_ = mouse;
  update();
}

void ImageWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
}

}  // namespace vorlan
