#include "feedback_bitmap.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "plane_pixels.h"

namespace vorlan {

bool BuildFeedbackBitmap(const double* samples, int32_t width, int32_t height, double lo, double hi,
                         FeedbackBitmap& bitmap, std::string& reason) {
  if (width <= 0 || height <= 0 || samples == nullptr) {
    reason = "the image to show is empty";
    return false;
  }
  if (!std::isfinite(lo) || !std::isfinite(hi)) {
    reason = "the image's value range is not finite";
    return false;
  }
  if (lo == hi) {
    reason = "the image's value range is empty (lo = hi)";
    return false;
  }
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  try {
    bitmap.pixels.resize(count);
  } catch (const std::bad_alloc&) {
    reason = "out of memory for the feedback bitmap";
    return false;
  }
  bitmap.width = width;
  bitmap.height = height;
  for (size_t k = 0; k < count; ++k) {
    const uint8_t g = SampleToByte(samples[k], lo, hi);
    bitmap.pixels[k] = PackRgb(g, g, g);
  }
  return true;
}

void DrawOutline(FeedbackBitmap& bitmap, const OutlineRect& r, uint32_t colour) {
  if (r.width <= 0 || r.height <= 0 || bitmap.Empty()) return;
  const int64_t x0 = r.x, y0 = r.y;
  const int64_t x1 = x0 + r.width - 1, y1 = y0 + r.height - 1;
  const int64_t w = bitmap.width, h = bitmap.height;
  auto row = [&](int64_t y) {
    if (y < 0 || y >= h) return;
    const int64_t from = std::max<int64_t>(x0, 0), to = std::min<int64_t>(x1, w - 1);
    for (int64_t x = from; x <= to; ++x) bitmap.pixels[static_cast<size_t>(y * w + x)] = colour;
  };
  auto column = [&](int64_t x) {
    if (x < 0 || x >= w) return;
    const int64_t from = std::max<int64_t>(y0, 0), to = std::min<int64_t>(y1, h - 1);
    for (int64_t y = from; y <= to; ++y) bitmap.pixels[static_cast<size_t>(y * w + x)] = colour;
  };
  row(y0);
  row(y1);
  column(x0);
  column(x1);
}

}  // namespace vorlan
