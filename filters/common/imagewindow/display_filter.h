// The GUI-free part both image displays share ("RGB display", "Mono
// display"): the view-mode and caption settings, the converted image (a
// 32-bit pixel buffer, B, G, R, 0 per pixel, rows top to bottom) and the
// order of a run. A display has no data outputs; its window takes the image
// from here.
//
// A window attaches by deriving and overriding HideDisplay, ShowDisplay and
// ImageReleased. Without one (headless runs, tests) a display converts its
// input, keeps the image and ends Done.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "vorlan/filter_base.h"
#include "vorlan/settings_description.h"

namespace vorlan {

// The Native settings record of the image displays.
struct ImageDisplaySettings {
  int32_t stretch;      // 1 = Stretch, 0 = Fullsize
  const char* caption;  // NUL-terminated text, or null for none
};

class ImageDisplayFilter : public FilterBase {
 public:
  // `displayName` ("RGB Display") ends the window title; static text.
  ImageDisplayFilter(const FilterInfo& prototype, const char* displayName);

  // Null data is refused, and a Native record shorter than
  // ImageDisplaySettings. Native: non-zero stretch = Stretch; the caption is
  // copied. Serialized: flag byte (missing: Stretch), then the caption text
  // (unreadable: none). Other forms change nothing.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  // Native: a malloc'ed ImageDisplaySettings pointing at this filter's own
  // caption (not a copy). Serialized: the flag byte and the caption text.
  // Other forms: an empty packet.
  Packet GetConfig(ConfigForm form) override;

  // Read and written from both threads: the window's menu changes the mode
  // on the user-interface thread, GetConfig reads it on the worker.
  bool Stretch() const { return stretch_.load(std::memory_order_relaxed); }
  void SetStretch(bool stretch) { stretch_.store(stretch, std::memory_order_relaxed); }

  const std::optional<std::string>& Caption() const { return caption_; }
  // Both fields of both displays; every value can run.
  static const SettingsDescription& DescribeSettings();
  const char* DisplayName() const { return displayName_; }
  // "[caption] [W x H] - RGB Display" for the current image.
  std::string WindowTitle() const;

  // The converted image of the last successful run; null pixels and 0 x 0
  // before the first one, after Reset and after a failed or stopped run.
  int32_t ImageWidth() const { return width_; }
  int32_t ImageHeight() const { return height_; }
  const uint8_t* Pixels() const { return pixels_.get(); }

 protected:
  // Hides the window, drops the previous image, runs ConvertInputs, reports
  // 1.0 and shows the window. [worker thread]
  Result Work() final;

  // Reads the inputs, checks them, calls AllocateImage and fills every
  // pixel, polling StopRequested before each row and reporting progress
  // after it. Returns Ok, InputNotReady, Stopped or Failed (with a reason).
  // [worker thread]
  virtual Result ConvertInputs() = 0;

  // Allocates the W x H pixel buffer (uninitialised). Fails with a reason.
  Result AllocateImage(int32_t width, int32_t height);
  uint8_t* MutablePixels() { return pixels_.get(); }

  void ReleaseOutputs() override;

  // Window hooks: hide at the start of a run [worker thread]; show the image,
  // title and mode at its successful end [worker thread]; the image was
  // dropped by Reset or a failed run [either thread].
  virtual void HideDisplay() {}
  virtual void ShowDisplay() {}
  virtual void ImageReleased() {}

 private:
  void DropImage();

  const char* displayName_;
  std::atomic<bool> stretch_{true};
  std::optional<std::string> caption_;
  std::unique_ptr<uint8_t[]> pixels_;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

}  // namespace vorlan
