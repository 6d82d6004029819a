// Reads a 24-bit uncompressed BMP into three planes of 0..255 samples, top
// row first, for feeding the conversion filter real pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorlan::chroma::test {

struct RgbImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<double> r, g, b;
};

// Throws std::runtime_error when the file is not a 24-bit uncompressed BMP.
RgbImage ReadBmp24(const std::string& path);

}  // namespace vorlan::chroma::test
