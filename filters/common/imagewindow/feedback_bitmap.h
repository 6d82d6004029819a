// The grey bitmap of the codec feedback windows and the range outlines
// drawn into it. GUI-free, so the encoder and decoder windows and their
// tests share it without a display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorlan {

// A range rectangle in bitmap pixels.
struct OutlineRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
  bool operator==(const OutlineRect&) const = default;
};

// One 32-bit pixel, 0x00RRGGBB: bytes B, G, R, 0 in memory.
constexpr uint32_t PackRgb(uint8_t r, uint8_t g, uint8_t b) {
  return (uint32_t{r} << 16) | (uint32_t{g} << 8) | uint32_t{b};
}

// A width x height grey image of 32-bit pixels, rows top to bottom.
struct FeedbackBitmap {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;

  bool Empty() const { return pixels.empty(); }
};

// Fills `bitmap` from `samples` (width x height, top row first) on the value
// range [lo, hi]: grey g = 255 (v - lo) / (hi - lo), clamped to 0..255 and
// truncated; NaN shows as 0, infinities clamp. Refuses (false, reason, the
// bitmap left as it was) lo = hi, a non-finite bound, a negative or empty
// size and null samples, and reports running out of memory.
bool BuildFeedbackBitmap(const double* samples, int32_t width, int32_t height, double lo, double hi,
                         FeedbackBitmap& bitmap, std::string& reason);

// Draws the 1-pixel closed outline (x, y) -> (x + w - 1, y) ->
// (x + w - 1, y + h - 1) -> (x, y + h - 1) -> (x, y) in `colour`, clipped to
// the bitmap. Empty rectangles draw nothing.
void DrawOutline(FeedbackBitmap& bitmap, const OutlineRect& r, uint32_t colour);

}  // namespace vorlan
