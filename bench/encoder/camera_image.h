// camera.bmp as the grayscale filter gives it, for the encoder benchmarks:
// one plane in [0, 1], top row first, cut to at most size x size.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorlan::bench {

struct Image {
  int32_t width = 0, height = 0;
  std::vector<double> samples;
};

inline Image LoadCamera(int32_t size = std::numeric_limits<int32_t>::max()) {
  std::ifstream in(std::string(VORLAN_SHARED_DATA_DIR) + "/camera.bmp", std::ios::binary);
  std::vector<uint8_t> bmp((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bmp.size() < 54) throw std::runtime_error("camera.bmp not found");
  auto i32 = [&](size_t at) {
    int32_t v;
    std::memcpy(&v, bmp.data() + at, 4);
    return v;
  };
  const int32_t offset = i32(10), width = i32(18), height = i32(22);
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  if (bmp.size() < offset + stride * height) throw std::runtime_error("camera.bmp truncated");
  Image img;
  img.width = std::min(size, width);
  img.height = std::min(size, height);
  img.samples.resize(static_cast<size_t>(img.width) * img.height);
  for (int32_t y = 0; y < img.height; ++y) {
    const uint8_t* row = bmp.data() + offset + stride * static_cast<size_t>(height - 1 - y);
    for (int32_t x = 0; x < img.width; ++x) {
      const uint8_t* p = row + 3 * x;
      img.samples[static_cast<size_t>(y) * img.width + x] = (0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2]) / 255.0;
    }
  }
  return img;
}

}  // namespace vorlan::bench
