#include "rgb_display_filter.h"

#include "plane_pixels.h"
#include "vorlan/pin_types.h"

namespace vorlan {

RgbDisplayFilter::RgbDisplayFilter() : ImageDisplayFilter(kInfo, "RGB Display") {
  r_ = AddNewPin("R", PinKind::Input, kPlanePacket);
  g_ = AddNewPin("G", PinKind::Input, kPlanePacket);
  b_ = AddNewPin("B", PinKind::Input, kPlanePacket);
}

Result RgbDisplayFilter::ConvertInputs() {
  // Channels in pixel byte order: B, G, R. Null for an unconnected pin.
  Pin* const pins[3] = {b_, g_, r_};
  const Plane* planes[3] = {nullptr, nullptr, nullptr};
  for (int c = 0; c < 3; ++c) {
    const Result read = ReadInput(pins[c]);
    if (read == InputNotConnected) continue;
    if (read == InputNotReady) return InputNotReady;
    const Result plane = ReadPlane(pins[c], planes[c]);
    if (plane != Ok) return plane;
  }

  // The size comes from the last present plane in the order B, G, R.
  const Plane* sizing = nullptr;
  for (const Plane* p : planes) {
    if (p != nullptr) sizing = p;
  }
  if (sizing == nullptr) return Fail("none of \"R\", \"G\" and \"B\" is connected");
  const int32_t width = sizing->width;
  const int32_t height = sizing->height;
  if (width == 0 || height == 0) return Failf("the planes are empty (%d x %d)", width, height);
  for (int c = 0; c < 3; ++c) {
    const Plane* p = planes[c];
    if (p == nullptr) continue;
    if (p->width != width || p->height != height) {
      return Failf("plane \"%s\" is %d x %d where %d x %d was expected", pins[c]->name, p->width, p->height,
                   width, height);
    }
    if (p->min == p->max) {
      return Failf("plane \"%s\" has an empty value range (minimum = maximum = %g)", pins[c]->name, p->min);
    }
  }

  const Result allocated = AllocateImage(width, height);
  if (allocated != Ok) return allocated;
  uint8_t* pixels = MutablePixels();
  const int64_t rowBytes = int64_t{width} * kBytesPerPixel;
  const double total = 4.0 * height;
  for (int pass = 0; pass < 4; ++pass) {
    const Plane* plane = pass < 3 ? planes[pass] : nullptr;
    if (plane == nullptr) {
      // An absent channel and the fourth byte are 0; no stop check here,
      // the pass is a plain fill.
      for (int32_t row = 0; row < height; ++row) {
        ClearChannel(pass, width, pixels + row * rowBytes);
        ReportProgress((static_cast<double>(pass) * height + row) / total);
      }
      continue;
    }
    for (int32_t row = 0; row < height; ++row) {
      if (StopRequested()) return Stopped;
      ConvertRowToChannel(*plane, row, pass, pixels + row * rowBytes);
      ReportProgress((static_cast<double>(pass) * height + row) / total);
    }
  }
  return Ok;
}

}  // namespace vorlan
