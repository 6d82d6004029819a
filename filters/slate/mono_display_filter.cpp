#include "mono_display_filter.h"

#include "plane_pixels.h"
#include "vorlan/pin_types.h"

namespace vorlan {

MonoDisplayFilter::MonoDisplayFilter() : ImageDisplayFilter(kInfo, "Mono Display") {
  in_ = AddNewPin("In", PinKind::Input, kPlanePacket);
}

Result MonoDisplayFilter::ConvertInputs() {
  const Plane* plane = nullptr;
  const Result read = ReadPlane(in_, plane);
  if (read != Ok) return read;
  const int32_t width = plane->width;
  const int32_t height = plane->height;
  if (width == 0 || height == 0) return Failf("the plane on \"In\" is empty (%d x %d)", width, height);
  // The conversion divides by the range.
  if (plane->min == plane->max) {
    return Failf("the plane on \"In\" has an empty value range (minimum = maximum = %g)", plane->min);
  }

  const Result allocated = AllocateImage(width, height);
  if (allocated != Ok) return allocated;
  uint8_t* pixels = MutablePixels();
  const int64_t rowBytes = int64_t{width} * kBytesPerPixel;
  for (int32_t row = 0; row < height; ++row) {
    if (StopRequested()) return Stopped;
    ConvertRowToGrey(*plane, row, pixels + row * rowBytes);
    ReportProgress(static_cast<double>(row) / height);
  }
  return Ok;
}

}  // namespace vorlan
