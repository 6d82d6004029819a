// Small 24-bit BMP files built byte by byte for the decoder and encoder
// tests.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace vorlan::test {

struct Rgb {
  uint8_t r, g, b;
};

inline void PutInt32(std::vector<uint8_t>& v, size_t at, int32_t value) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
}

// A BMP of `width` x |height| pixels; pixel(x, y) with y = 0 the top row.
// Positive height stores rows bottom-up, negative top-down.
inline std::vector<uint8_t> MakeBmp(int32_t width, int32_t height, const std::function<Rgb(int, int)>& pixel,
                                    int32_t pixelOffset = 54) {
  const int rows = height < 0 ? -height : height;
  const int stride = (3 * width + 3) / 4 * 4;
  std::vector<uint8_t> file(static_cast<size_t>(pixelOffset) + static_cast<size_t>(rows) * stride, 0);
  file[0] = 'B';
  file[1] = 'M';
  PutInt32(file, 2, static_cast<int32_t>(file.size()));
  PutInt32(file, 10, pixelOffset);
  PutInt32(file, 14, 40);
  PutInt32(file, 18, width);
  PutInt32(file, 22, height);
  file[26] = 1;
  file[28] = 24;
  for (int r = 0; r < rows; ++r) {
    const int y = height > 0 ? rows - 1 - r : r;
    for (int x = 0; x < width; ++x) {
      const Rgb c = pixel(x, y);
      uint8_t* p = &file[static_cast<size_t>(pixelOffset) + static_cast<size_t>(r) * stride + 3 * x];
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
    }
  }
  return file;
}

}  // namespace vorlan::test
