// Geometry of an image view: the scroll offset of the full-size view and the
// client size a window takes for an image. Pure integer arithmetic, so the
// window and its tests share it without a display.
#pragma once

#include <algorithm>

namespace vorlan {

// One axis of the scroll offset against a client extent: never past the
// image's far edge, and never negative (the lower bound wins when the image
// is smaller than the client area).
constexpr int ClampScroll(int offset, int client, int image) {
  if (offset + client > image) offset = image - client;
  if (offset < 0) offset = 0;
  return offset;
}

// The client extent that shows `image` pixels whole, but no larger than
// `available` (the work area less the window frame), and at least 1.
constexpr int FitClient(int image, int available) { return std::max(1, std::min(image, available)); }

// The smallest whole factor that makes an image `image` pixels wide at
// least `wanted` wide (1 for images that are wide enough), at most 8.
constexpr int MagnificationFor(int image, int wanted) {
  if (image <= 0 || image >= wanted) return 1;
  return std::min(8, (wanted + image - 1) / image);
}

}  // namespace vorlan
