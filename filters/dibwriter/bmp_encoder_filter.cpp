#include "bmp_encoder_filter.h"

#include <cmath>
#include <cstring>

#include "bmp_layout.h"
#include "vorlan/pin_types.h"

namespace vorlan {

BmpEncoderFilter::BmpEncoderFilter() : FilterBase(kInfo) {
  out_ = AddNewPin("Out", PinKind::Output, kBytesPacket);
  rIn_ = AddNewPin("R", PinKind::Input, kPlanePacket);
  gIn_ = AddNewPin("G", PinKind::Input, kPlanePacket);
  bIn_ = AddNewPin("B", PinKind::Input, kPlanePacket);
}

Result BmpEncoderFilter::Work() {
  if (out_ != nullptr) Withdraw(out_);
  bmp_.Release();

  // Read in the order B, G, R; planes[k] is the k-th byte of a pixel.
  const Plane* planes[3] = {nullptr, nullptr, nullptr};
  Pin* inputs[3] = {bIn_, gIn_, rIn_};
  for (int k = 0; k < 3; ++k) {
    const Result r = ReadPlane(inputs[k], planes[k]);
    if (r != Ok) return r;
  }
  const int32_t w = planes[2]->width;
  const int32_t h = planes[2]->height;
  if (w == 0 || h == 0) return Failf("the planes are empty (%d x %d)", static_cast<int>(w), static_cast<int>(h));
  for (int k = 0; k < 3; ++k) {
    const Plane& p = *planes[k];
    if (p.width != w || p.height != h) {
      return Failf("the planes differ in size: \"%s\" is %d x %d, \"R\" is %d x %d", inputs[k]->name,
                   static_cast<int>(p.width), static_cast<int>(p.height), static_cast<int>(w),
                   static_cast<int>(h));
    }
    if (!std::isfinite(p.min) || !std::isfinite(p.max) || !std::isfinite(p.max - p.min) || p.min == p.max) {
      return Failf("plane \"%s\" has no usable value range [%g, %g]", inputs[k]->name, p.min, p.max);
    }
  }

  const int64_t stride = bmp::RowStride(w);
  const int64_t total = bmp::kHeaderSize + int64_t{h} * stride;
  if (total > kMaxPacketLength) {
    return Failf("a %d x %d BMP would exceed the largest packet", static_cast<int>(w), static_cast<int>(h));
  }
  if (!bmp_.Allocate(total)) return Failf("cannot allocate %lld bytes for the BMP", static_cast<long long>(total));
  uint8_t* const file = bmp_.Data();
  std::memset(file, 0, static_cast<size_t>(total));
  file[0] = 'B';
  file[1] = 'M';
  bmp::WriteInt32(file + bmp::kFileSizeAt, static_cast<int32_t>(total));
  bmp::WriteInt32(file + bmp::kPixelOffsetAt, static_cast<int32_t>(bmp::kHeaderSize));
  bmp::WriteInt32(file + bmp::kInfoSizeAt, static_cast<int32_t>(bmp::kInfoHeaderSize));
  bmp::WriteInt32(file + bmp::kWidthAt, w);
  bmp::WriteInt32(file + bmp::kHeightAt, h);
  bmp::WriteUint16(file + bmp::kPlanesAt, 1);
  bmp::WriteUint16(file + bmp::kBitsPerPixelAt, 24);
  bmp::WriteInt32(file + bmp::kXPixelsPerMetreAt, bmp::kPixelsPerMetre);
  bmp::WriteInt32(file + bmp::kYPixelsPerMetreAt, bmp::kPixelsPerMetre);
  // Compression, image size and colour counts stay 0.

  for (int k = 0; k < 3; ++k) {
    const Plane& p = *planes[k];
    // Locals: the byte stores below could alias the record otherwise.
    const double min = p.min;
    const double max = p.max;
    for (int64_t r = 0; r < h; ++r) {
      if (StopRequested()) return Stopped;
      // BMP row 0 is the bottom of the image.
      const double* sample = p.samples + (h - 1 - r) * int64_t{w};
      uint8_t* byte = file + bmp::kHeaderSize + r * stride + k;
      for (int64_t j = 0; j < w; ++j, byte += 3) *byte = ScaleToByte(sample[j], min, max);
      ReportProgress(static_cast<double>(k * int64_t{h} + r) / (3.0 * h));
    }
  }

  Publish(out_, bmp_.AsPacket());
  return Ok;
}

}  // namespace vorlan
