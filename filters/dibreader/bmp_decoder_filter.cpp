#include "bmp_decoder_filter.h"

#include <cstdlib>

#include "bmp_layout.h"
#include "vorlan/pin_types.h"

namespace vorlan {

BmpDecoderFilter::BmpDecoderFilter() : FilterBase(kInfo) {
  in_ = AddNewPin("In", PinKind::Input, kBytesLikePackets);
  rOut_ = AddNewPin("R", PinKind::Output, kPlanePacket);
  gOut_ = AddNewPin("G", PinKind::Output, kPlanePacket);
  bOut_ = AddNewPin("B", PinKind::Output, kPlanePacket);
}

BmpDecoderFilter::~BmpDecoderFilter() { ReleaseOutputs(); }

void BmpDecoderFilter::ReleaseOutputs() {
  r_.Release();
  g_.Release();
  b_.Release();
}

Result BmpDecoderFilter::Work() {
  // The planes of an earlier run go first; the records stay where they are.
  if (rOut_ != nullptr) {
    Withdraw(rOut_);
    Withdraw(gOut_);
    Withdraw(bOut_);
  }
  ReleaseOutputs();

  const uint8_t* data = nullptr;
  int32_t length = 0;
  const Result read = ReadBytes(in_, data, length);
  if (read != Ok) return read;
  if (data == nullptr) return Fail("the input holds no BMP data");
  if (length < bmp::kHeaderSize) {
    return Failf("the input is too short for a BMP header (%d of 54 bytes)", static_cast<int>(length));
  }
  if (data[0] != 'B' || data[1] != 'M') return Fail("the input is not a BMP file (no \"BM\" signature)");
  const uint16_t bits = bmp::ReadUint16(data + bmp::kBitsPerPixelAt);
  if (bits != 24) return Failf("only 24-bit BMP images are supported, this one has %u bits per pixel", bits);
  const int32_t compression = bmp::ReadInt32(data + bmp::kCompressionAt);
  if (compression != 0) return Failf("only uncompressed BMP images are supported (compression %d)", compression);

  const int64_t width = bmp::ReadInt32(data + bmp::kWidthAt);
  const int64_t height = bmp::ReadInt32(data + bmp::kHeightAt);
  const int64_t offset = bmp::ReadInt32(data + bmp::kPixelOffsetAt);
  const int64_t rows = height < 0 ? -height : height;
  if (width <= 0 || rows == 0) {
    return Failf("the BMP image has no pixels (%lld x %lld)", static_cast<long long>(width),
                 static_cast<long long>(height));
  }
  if (offset < 0) return Failf("the BMP pixel data offset %lld is negative", static_cast<long long>(offset));
  // The rows must lie inside the packet; the last one needs no padding.
  // Checked by division: rows x stride can exceed even 64 bits.
  const int64_t stride = bmp::RowStride(width);
  const int64_t rowBytes = 3 * width;
  if (offset > length || rowBytes > length - offset || rows - 1 > (length - offset - rowBytes) / stride) {
    return Failf("the BMP data is truncated: %lld x %lld pixels at offset %lld do not fit in %d bytes",
                 static_cast<long long>(width), static_cast<long long>(rows), static_cast<long long>(offset),
                 static_cast<int>(length));
  }
  const auto w = static_cast<int32_t>(width);
  const auto h = static_cast<int32_t>(rows);
  // Eight bytes a sample, against the run's budget for decoded data.
  if (ReserveDecoded(3 * width * rows * int64_t{sizeof(double)}, length, "three planes") != Ok) return Failed;
  if (!r_.Allocate(w, h, 0.0, 255.0) || !g_.Allocate(w, h, 0.0, 255.0) || !b_.Allocate(w, h, 0.0, 255.0)) {
    ReleaseOutputs();
    return Failf("cannot allocate three %d x %d planes", static_cast<int>(w), static_cast<int>(h));
  }

  double* const red = r_.Samples();
  double* const green = g_.Samples();
  double* const blue = b_.Samples();
  const bool bottomUp = height > 0;
  for (int64_t r = 0; r < rows; ++r) {
    if (StopRequested()) return Stopped;
    const uint8_t* pixel = data + offset + r * stride;
    // Plane row 0 is always the top of the image.
    const int64_t planeRow = bottomUp ? rows - 1 - r : r;
    const int64_t base = planeRow * width;
    for (int64_t j = 0; j < width; ++j, pixel += 3) {
      blue[base + j] = pixel[0];
      green[base + j] = pixel[1];
      red[base + j] = pixel[2];
    }
    ReportProgress(static_cast<double>(r) / static_cast<double>(rows));
  }

  Publish(rOut_, r_.AsPacket());
  Publish(gOut_, g_.AsPacket());
  Publish(bOut_, b_.AsPacket());
  return Ok;
}

}  // namespace vorlan
