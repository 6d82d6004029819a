#include "feedback_decoder_window.h"

#include <QImage>
#include <cstdio>

#include "vorlan/gui/gui_support.h"

namespace vorlan::attractor {

std::string DecoderFeedbackTitle(const FeedbackFrame& frame) {
  char text[256];
  std::snprintf(text, sizeof text, "HVD [%ix%i] [Ranges:%i|Iteration:%i|RMS:%f|Progress:%.2f%%]", frame.width,
                frame.height, frame.rangeCount, frame.pass + 1, frame.lastRms, frame.progress * 100.0);
  return text;
}

bool BuildDecoderFeedback(const FeedbackFrame& frame, const std::vector<FractalDecoderFilter::Outline>* outlines,
                          FeedbackBitmap& bitmap, std::string& reason) {
  if (!BuildFeedbackBitmap(frame.samples, frame.width, frame.height, frame.lo, frame.hi, bitmap, reason)) {
    return false;
  }
  if (outlines != nullptr) {
    for (const auto& r : *outlines) DrawOutline(bitmap, OutlineRect{r.x, r.y, r.width, r.height}, kDecoderRangeColour);
  }
  return true;
}

FeedbackDecoderFilter::FeedbackDecoderFilter() {
  if (!gui::GuiAvailable()) return;
  gui::RunOnGuiThread([this] {
    window_.reset(new ImageWindow(QStringLiteral("HV decoder")));
    // The feedback window always shows the image 1:1 and only scrolls.
    window_->SetViewMode(ImageWindow::ViewMode::Fullsize);
    window_->SetMenuEnabled(false);
    handoff_ = new GuiHandoff(window_.get());
  });
}

FeedbackDecoderFilter::~FeedbackDecoderFilter() = default;

void FeedbackDecoderFilter::FeedbackShow(bool drawRanges) {
  // The window is sized and shown with the first image of the run.
  drawRanges_ = drawRanges;
  showPending_ = true;
}

void FeedbackDecoderFilter::FeedbackRefresh(const FeedbackFrame& frame) {
  if (!window_) return;
  // The outlines come as a copy, so the window never reads the decoder's own.
  std::vector<Outline> outlines;
  if (drawRanges_) outlines = RangeOutlines();
  std::string reason;
  const bool built = BuildDecoderFeedback(frame, drawRanges_ ? &outlines : nullptr, bitmap_, reason);
  QImage image;
  if (built) {
    image = QImage(reinterpret_cast<const uchar*>(bitmap_.pixels.data()), bitmap_.width, bitmap_.height,
                   bitmap_.width * 4, QImage::Format_RGB32)
                .copy();
  }
  const QString title = QString::fromStdString(DecoderFeedbackTitle(frame));
  const bool show = showPending_;
  showPending_ = false;
  ImageWindow* window = window_.get();
  handoff_->Run([&] {
    if (built) window->SetImage(image);
    window->setWindowTitle(title);
    if (show) window->ShowSizedToImage();
    else window->update();
  });
}

void FeedbackDecoderFilter::FeedbackHide() {
  showPending_ = false;
  if (ImageWindow* window = window_.get()) handoff_->Run([window] { window->hide(); });
}

}  // namespace vorlan::attractor
