#include "plane_pixels.h"

namespace vorlan {

void ConvertRowToChannel(const Plane& plane, int32_t row, int channel, uint8_t* rowPixels) {
  const double* samples = plane.samples + int64_t{row} * plane.width;
  uint8_t* out = rowPixels + channel;
  for (int32_t col = 0; col < plane.width; ++col, out += kBytesPerPixel) {
    *out = SampleToByte(samples[col], plane.min, plane.max);
  }
}

void ConvertRowToGrey(const Plane& plane, int32_t row, uint8_t* rowPixels) {
  const double* samples = plane.samples + int64_t{row} * plane.width;
  uint8_t* out = rowPixels;
  for (int32_t col = 0; col < plane.width; ++col, out += kBytesPerPixel) {
    const uint8_t grey = SampleToByte(samples[col], plane.min, plane.max);
    out[0] = grey;
    out[1] = grey;
    out[2] = grey;
    out[3] = 0;
  }
}

void ClearChannel(int channel, int64_t count, uint8_t* pixels) {
  uint8_t* out = pixels + channel;
  for (int64_t i = 0; i < count; ++i, out += kBytesPerPixel) *out = 0;
}

}  // namespace vorlan
