#include "bmp_test_image.h"

#include <stdexcept>

#include "support/filter_harness.h"

namespace vorlan::chroma::test {

namespace {
uint32_t U32(const std::vector<uint8_t>& d, size_t at) {
  return uint32_t{d[at]} | uint32_t{d[at + 1]} << 8 | uint32_t{d[at + 2]} << 16 | uint32_t{d[at + 3]} << 24;
}
}  // namespace

RgbImage ReadBmp24(const std::string& path) {
  const std::vector<uint8_t> d = vorlan::test::ReadFile(path);
  if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') throw std::runtime_error(path + ": not a BMP");
  const uint32_t offset = U32(d, 10);
  const auto width = static_cast<int32_t>(U32(d, 18));
  const auto rawHeight = static_cast<int32_t>(U32(d, 22));
  const uint32_t bits = d[28] | d[29] << 8;
  if (bits != 24 || U32(d, 30) != 0 || width <= 0 || rawHeight == 0) {
    throw std::runtime_error(path + ": not an uncompressed 24-bit BMP");
  }
  const bool bottomUp = rawHeight > 0;
  const int32_t height = bottomUp ? rawHeight : -rawHeight;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  if (offset + stride * height > d.size()) throw std::runtime_error(path + ": truncated");

  RgbImage image;
  image.width = width;
  image.height = height;
  const size_t count = static_cast<size_t>(width) * height;
  image.r.resize(count);
  image.g.resize(count);
  image.b.resize(count);
  for (int32_t y = 0; y < height; ++y) {
    const size_t fileRow = bottomUp ? height - 1 - y : y;
    const uint8_t* p = d.data() + offset + fileRow * stride;
    for (int32_t x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x;
      image.b[i] = p[3 * x];
      image.g[i] = p[3 * x + 1];
      image.r[i] = p[3 * x + 2];
    }
  }
  return image;
}

}  // namespace vorlan::chroma::test
