#include "gui/feedback_encoder_window.h"

#include <QImage>
#include <QPainter>
#include <QPen>
#include <cstdio>

#include "vorlan/gui/gui_support.h"

namespace vorlan::collage {

namespace {

QColor ColourOf(uint32_t rgb) { return QColor::fromRgb(static_cast<QRgb>(rgb)); }

// The outline (x, y) -> (x + w - 1, y) -> (x + w - 1, y + h - 1) ->
// (x, y + h - 1), closed, moved by -offset.
void StrokeOutline(QPainter& painter, const SearchRect& r, QPoint offset) {
  if (r.width <= 0 || r.height <= 0) return;
  const QPoint corners[4] = {QPoint(r.x, r.y) - offset, QPoint(r.x + r.width - 1, r.y) - offset,
                             QPoint(r.x + r.width - 1, r.y + r.height - 1) - offset,
                             QPoint(r.x, r.y + r.height - 1) - offset};
  painter.drawPolygon(corners, 4);
}

// The window shows the bitmap in place, without a copy; it only ever reads
// it on the user-interface thread, where the outlines are drawn as well.
QImage View(const FeedbackBitmap& bitmap) {
  if (bitmap.Empty()) return QImage();
  return QImage(reinterpret_cast<const uchar*>(bitmap.pixels.data()), bitmap.width, bitmap.height,
                bitmap.width * 4, QImage::Format_RGB32);
}

}  // namespace

std::string EncoderFeedbackTitle(int32_t width, int32_t height, const SearchSnapshot& s) {
  char text[256];
  std::snprintf(text, sizeof text, "HVE [%ix%i] [RangeStack:%i|RangePool:%i|Progress:%.2f%%|CC:%s]", width,
                height, static_cast<int>(s.stack.size()), static_cast<int>(s.pool.size()), s.progress * 100.0,
                s.coverComplete ? "TRUE" : "FALSE");
  return text;
}

void DrawPartition(FeedbackBitmap& bitmap, const SearchSnapshot& s) {
  for (const SearchRect& r : s.stack) DrawOutline(bitmap, OutlineRect{r.x, r.y, r.width, r.height}, kStackColour);
  for (const SearchRect& r : s.pool) DrawOutline(bitmap, OutlineRect{r.x, r.y, r.width, r.height}, kPoolColour);
}

FeedbackEncoderFilter::FeedbackEncoderFilter() {
  if (!gui::GuiAvailable()) return;
  gui::RunOnGuiThread([this] {
    window_.reset(new ImageWindow(QStringLiteral("HV encoder")));
    // The feedback window always shows the image 1:1 and only scrolls.
    window_->SetViewMode(ImageWindow::ViewMode::Fullsize);
    window_->SetMenuEnabled(false);
    handoff_ = new GuiHandoff(window_.get());
    window_->SetOverlayPainter([this](QPainter& painter, QPoint offset) { PaintOverlay(painter, offset); });
  });
}

FeedbackEncoderFilter::~FeedbackEncoderFilter() {
  // The window may outlive this object for a moment (deleted later on its
  // own thread); it must not keep pointing into the bitmap.
  if (ImageWindow* window = window_.get()) handoff_->Run([window] { window->ClearImage(); });
}

void FeedbackEncoderFilter::FeedbackBegin(const Plane& image) {
  if (!window_) return;
  FeedbackBitmap fresh;
  std::string reason;
  if (!BuildFeedbackBitmap(image.samples, image.width, image.height, image.min, image.max, fresh, reason)) {
    fresh = FeedbackBitmap{};
  }
  ImageWindow* window = window_.get();
  handoff_->Run([&] {
    overlayHasCurrent_ = false;
    overlayDomains_.clear();
    bitmap_ = std::move(fresh);
    window->SetImage(View(bitmap_));
    window->setWindowTitle(QStringLiteral("HV encoder"));
    window->ShowSizedToImage();
  });
}

void FeedbackEncoderFilter::FeedbackRefresh() {
  if (!window_) return;
  SearchSnapshot snapshot;
  // Without a running search (before Prepare, after release) there is no
  // stack or pool to count.
  if (!Snapshot(snapshot)) return;
  const QString title = QString::fromStdString(EncoderFeedbackTitle(snapshot.width, snapshot.height, snapshot));
  ImageWindow* window = window_.get();
  handoff_->Run([&] {
    DrawPartition(bitmap_, snapshot);
    overlayHasCurrent_ = snapshot.hasCurrent;
    overlayCurrent_ = snapshot.current;
    // Once no range is current the workers try nothing any more.
    if (snapshot.hasCurrent) overlayDomains_ = std::move(snapshot.domains);
    else overlayDomains_.clear();
    window->setWindowTitle(title);
    window->update();
  });
}

void FeedbackEncoderFilter::FeedbackHide() {
  if (ImageWindow* window = window_.get()) handoff_->Run([window] { window->hide(); });
}

void FeedbackEncoderFilter::PaintOverlay(QPainter& painter, QPoint offset) const {
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBrush(Qt::NoBrush);
  if (overlayHasCurrent_) {
    painter.setPen(QPen(ColourOf(kCurrentColour), 2));
    StrokeOutline(painter, overlayCurrent_, offset);
  }
  painter.setPen(QPen(ColourOf(kDomainColour), 1));
  for (const SearchRect& d : overlayDomains_) StrokeOutline(painter, d, offset);
}

}  // namespace vorlan::collage
