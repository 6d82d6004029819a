// The encoder's feedback window: the input image with the growing
// partition. Ranges waiting on the stack and ranges accepted into the pool
// are outlined into the bitmap itself, so outlines accumulate from refresh
// to refresh; the current range and the domain each worker is trying are
// drawn on top, on the window only. The title counts stack, pool and
// progress and is refreshed every 15 ms while the workers search.
//
// Everything drawn comes from a copy of the search state taken under the
// encoder's lock (FractalEncoderFilter::Snapshot), never from the live
// stack, pool or worker candidates.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "feedback_bitmap.h"
#include "gui_handoff.h"
#include "fractal_encoder_filter.h"
#include "image_display_plugin.h"

namespace vorlan::collage {

// Pens: 1 px stack and pool outlines into the bitmap, the current range
// 2 px and the workers' domains 1 px on the window.
inline constexpr uint32_t kStackColour = PackRgb(170, 0, 0);
inline constexpr uint32_t kPoolColour = PackRgb(0, 187, 0);
inline constexpr uint32_t kCurrentColour = PackRgb(255, 255, 0);
inline constexpr uint32_t kDomainColour = PackRgb(0, 0, 255);

// "HVE [WxH] [RangeStack:s|RangePool:p|Progress:x%|CC:TRUE]" (or CC:FALSE).
std::string EncoderFeedbackTitle(int32_t width, int32_t height, const SearchSnapshot& snapshot);

// Draws the snapshot's stack, then its pool, into the bitmap.
void DrawPartition(FeedbackBitmap& bitmap, const SearchSnapshot& snapshot);

class FeedbackEncoderFilter : public FractalEncoderFilter {
 public:
  FeedbackEncoderFilter();
  ~FeedbackEncoderFilter();

  // Null without a user interface. [ui thread]
  ImageWindow* FeedbackWindow() const { return window_.get(); }
  // What the window draws on top of the bitmap. [ui thread]
  bool OverlayHasCurrent() const { return overlayHasCurrent_; }
  const std::vector<SearchRect>& OverlayDomains() const { return overlayDomains_; }

 protected:
  bool FeedbackAvailable() const override { return window_ != nullptr; }
  void FeedbackBegin(const Plane& image) override;
  void FeedbackRefresh() override;
  void FeedbackHide() override;

 private:
  void PaintOverlay(QPainter& painter, QPoint offset) const;

  ImageWindowPtr window_;
  GuiHandoff* handoff_ = nullptr;  // a child of the window
  // User-interface-thread state, changed from the worker only inside
  // gui::RunOnGuiThread calls. The window shows bitmap_ in place.
  FeedbackBitmap bitmap_;
  bool overlayHasCurrent_ = false;
  SearchRect overlayCurrent_;
  std::vector<SearchRect> overlayDomains_;
};

}  // namespace vorlan::collage
