// The decoder's feedback window: the image after every pass, titled with
// the pass counters, and the range outlines when "drawRanges" is set. The
// window is created hidden with the filter on the user-interface thread
// (only when the process has one) and fed from the worker thread.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "feedback_bitmap.h"
#include "gui_handoff.h"
#include "fractal_decoder_filter.h"
#include "image_display_plugin.h"

namespace vorlan::attractor {

// Outline colour of the ranges.
inline constexpr uint32_t kDecoderRangeColour = PackRgb(0, 187, 0);

// "HVD [WxH] [Ranges:n|Iteration:i|RMS:r|Progress:p%]", iteration counted
// from 1.
std::string DecoderFeedbackTitle(const FeedbackFrame& frame);

// The bitmap a refresh shows: the frame's image in grey, with the outlines
// in the range colour when `outlines` is not null. False with a reason when
// the frame cannot be shown (empty, or lo = hi).
bool BuildDecoderFeedback(const FeedbackFrame& frame, const std::vector<FractalDecoderFilter::Outline>* outlines,
                          FeedbackBitmap& bitmap, std::string& reason);

class FeedbackDecoderFilter : public FractalDecoderFilter {
 public:
  FeedbackDecoderFilter();
  ~FeedbackDecoderFilter();

  // Null without a user interface. [ui thread]
  ImageWindow* FeedbackWindow() const { return window_.get(); }

 protected:
  bool FeedbackAvailable() const override { return window_ != nullptr; }
  void FeedbackShow(bool drawRanges) override;
  void FeedbackRefresh(const FeedbackFrame& frame) override;
  void FeedbackHide() override;

 private:
  ImageWindowPtr window_;
  GuiHandoff* handoff_ = nullptr;  // a child of the window
  // Worker-thread state of the current run.
  bool drawRanges_ = false;
  bool showPending_ = false;
  FeedbackBitmap bitmap_;
};

}  // namespace vorlan::attractor
