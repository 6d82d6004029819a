// Writes the crafted inputs of the reliability benches into a folder:
//
//   huffman_bomb.huf        a valid 15-byte Huffman stream of 2^28 equal
//                           values (one table entry, no code bits): 1 GiB
//   huffman_container.hvs   a serializer container of a code header and
//                           seven such streams, for decompress_huffman.gph
//   packed_11585.hvpk       a packed code with a valid checksum whose header
//                           claims 11585 x 11585 pixels, covered by one range
//   flat_8192.png           an 8192 x 8192 RGB PNG of one colour
//   large_6000.bmp          a 6000 x 6000 24-bit BMP (108 MB) of smooth gradients
//   photo_6000.jpg          the shared astronaut photo scaled to 6000 x 6000, quality 90
//   photo_2048.bmp          the same photo scaled to 2048 x 2048
//
//   make_bombs DIR [--small]     (--small: only the first three)
#include <QColor>
#include <QImage>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "code_container.h"

namespace {

void PutInt32(std::vector<uint8_t>& out, int32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> shift));
}

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::fprintf(stderr, "make_bombs: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

// T = 2^28, S = 1, W = 1, 1-bit unsigned values, 29-bit frequencies; then
// the value 1 (bit 0) and the frequency 2^28 (bits 1..29).
std::vector<uint8_t> HuffmanBomb() {
  std::vector<uint8_t> s;
  PutInt32(s, 1 << 28);
  PutInt32(s, 1);
  s.insert(s.end(), {1, 1, 29, 0x01, 0x00, 0x00, 0x20});
  return s;
}

vorlan::fractal::CodeHeader Header(int32_t width, int32_t height) {
  return vorlan::fractal::CodeHeader{width, height, 0.0, 255.0, 1.0, 32, 128, 8, 8};
}

// Count, then (type, length, bytes) per record: the header as Bytes, then
// the seven streams the example's decoders read.
std::vector<uint8_t> HuffmanContainer() {
  std::vector<uint8_t> c;
  PutInt32(c, 8);
  const vorlan::fractal::CodeHeader header = Header(512, 512);
  PutInt32(c, 0);
  PutInt32(c, vorlan::fractal::kCodeHeaderSize);
  const auto* h = reinterpret_cast<const uint8_t*>(&header);
  c.insert(c.end(), h, h + vorlan::fractal::kCodeHeaderSize);
  const std::vector<uint8_t> stream = HuffmanBomb();
  for (int i = 0; i < 7; ++i) {
    PutInt32(c, 0);
    PutInt32(c, static_cast<int32_t>(stream.size()));
    c.insert(c.end(), stream.begin(), stream.end());
  }
  return c;
}

// One range over the whole picture, its domain the picture itself.
std::vector<uint8_t> PackedBomb(int32_t side, std::string& error) {
  const vorlan::fractal::CodeHeader header = Header(side, side);
  const int32_t si[] = {16}, oi[] = {64}, trn[] = {0}, dp[] = {0, 0}, df[] = {1, 1};
  vorlan::codepack::CodeView view;
  view.header = reinterpret_cast<const uint8_t*>(&header);
  view.headerLength = vorlan::fractal::kCodeHeaderSize;
  view.si = si;
  view.oi = oi;
  view.trn = trn;
  view.dp = dp;
  view.df = df;
  std::vector<uint8_t> out;
  error = vorlan::codepack::PackCode(view, out);
  return out;
}

bool SaveImage(const QImage& image, const std::string& path, const char* format, int quality = -1) {
  if (image.save(QString::fromStdString(path), format, quality)) return true;
  std::fprintf(stderr, "make_bombs: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_bombs DIR [--small]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const bool small = argc > 2 && std::strcmp(argv[2], "--small") == 0;
  bool ok = Write(dir + "/huffman_bomb.huf", HuffmanBomb()) && Write(dir + "/huffman_container.hvs", HuffmanContainer());
  std::string error;
  const std::vector<uint8_t> packed = PackedBomb(11585, error);
  if (!error.empty()) {
    std::fprintf(stderr, "make_bombs: the packer refused the code: %s\n", error.c_str());
    return 1;
  }
  ok = Write(dir + "/packed_11585.hvpk", packed) && ok;
  if (small) return ok ? 0 : 1;

  QImage flat(8192, 8192, QImage::Format_RGB888);
  flat.fill(QColor(90, 120, 200));
  ok = SaveImage(flat, dir + "/flat_8192.png", "PNG", 0) && ok;

  QImage large(6000, 6000, QImage::Format_RGB888);
  for (int y = 0; y < 6000; ++y) {
    uint8_t* line = large.scanLine(y);
    for (int x = 0; x < 6000; ++x) {
      line[3 * x] = static_cast<uint8_t>(x * 255 / 5999);
      line[3 * x + 1] = static_cast<uint8_t>(y * 255 / 5999);
      line[3 * x + 2] = static_cast<uint8_t>((x + y) * 255 / 11998);
    }
  }
  ok = SaveImage(large, dir + "/large_6000.bmp", "BMP") && ok;

  QImage photo(QString(VORLAN_SHARED_DATA_DIR) + "/astronaut.bmp");
  if (photo.isNull()) {
    std::fprintf(stderr, "make_bombs: cannot read the shared astronaut.bmp\n");
    return 1;
  }
  const QImage medium = photo.scaled(2048, 2048, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  ok = SaveImage(medium.convertToFormat(QImage::Format_RGB888), dir + "/photo_2048.bmp", "BMP") && ok;
  photo = photo.scaled(6000, 6000, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  ok = SaveImage(photo, dir + "/photo_6000.jpg", "JPEG", 90) && ok;
  return ok ? 0 : 1;
}
