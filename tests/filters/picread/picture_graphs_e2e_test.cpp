// examples/convert.gph run by the program: a PNG of each shared picture
// becomes a BMP and a PNG again, both holding the pixels of the original.
// The fractal examples read the same pictures whatever their format.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QImage>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "bmp_decoder_filter.h"
#include "picture_decoder_filter.h"
#include "picture_test_support.h"

namespace vorlan {
namespace {

const std::string kProgram = std::string(VORLAN_BUILD_DIR) + "/vorlan";

int RunProgram(const std::string& arguments, std::string& out) {
  const std::string command = "cd '" + std::string(VORLAN_BUILD_DIR) + "' && '" + kProgram + "' " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

template <class Decoder>
void ExpectSamePlanes(const std::vector<uint8_t>& file, const BmpDecoderFilter& want, int32_t inPin, const char* what) {
  test::BytesRun<Decoder> got(file, inPin);
  ASSERT_EQ(got.filter.Process(), Ok) << what << ": " << got.filter.FailureReason();
  const Plane* a[3] = {&got.filter.RPlane(), &got.filter.GPlane(), &got.filter.BPlane()};
  const Plane* b[3] = {&want.RPlane(), &want.GPlane(), &want.BPlane()};
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(a[k]->width, b[k]->width) << what;
    ASSERT_EQ(a[k]->height, b[k]->height) << what;
    EXPECT_EQ(std::memcmp(a[k]->samples, b[k]->samples, static_cast<size_t>(b[k]->size)), 0) << what << " plane " << k;
  }
}

TEST(PictureGraphs, ConvertPngToBmpAndBack) {
  if (!std::filesystem::exists(kProgram)) GTEST_SKIP() << "the vorlan program is not built";
  const std::string dir = test::TempDir("picture_graphs");
  for (const char* name : {"camera.bmp", "astronaut.bmp"}) {
    const auto original = test::ReadFile(test::SharedDataPath(name));
    ASSERT_FALSE(original.empty()) << name;
    test::BytesRun<BmpDecoderFilter> reference(original, BmpDecoderFilter::kInPin);
    ASSERT_EQ(reference.filter.Process(), Ok);

    QImage image;
    ASSERT_TRUE(image.loadFromData(original.data(), static_cast<int>(original.size()), "BMP"));
    const std::string png = dir + "/input.png";
    test::WriteFile(png, test::WriteWithQt(image, "png"));
    const std::string bmpOut = dir + "/output.bmp";
    const std::string pngOut = dir + "/output.png";
    std::filesystem::remove(bmpOut);
    std::filesystem::remove(pngOut);

    std::string out;
    ASSERT_EQ(RunProgram("--run '" + std::string(VORLAN_SOURCE_DIR) + "/examples/convert.gph' --quiet --path source='" +
                             png + "' --path bmp='" + bmpOut + "' --path png='" + pngOut + "'",
                         out),
              0)
        << out;
    ExpectSamePlanes<BmpDecoderFilter>(test::ReadFile(bmpOut), reference.filter, BmpDecoderFilter::kInPin, name);
    ExpectSamePlanes<PictureDecoderFilter>(test::ReadFile(pngOut), reference.filter, PictureDecoderFilter::kInPin, name);
  }

  // A damaged picture ends the run with the decoder's reason.
  test::WriteFile(dir + "/bad.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0});
  std::string out;
  EXPECT_NE(RunProgram("--run '" + std::string(VORLAN_SOURCE_DIR) + "/examples/convert.gph' --quiet --path source='" +
                           dir + "/bad.png' --path bmp='" + dir + "/x.bmp' --path png='" + dir + "/x.png'",
                       out),
            0);
  EXPECT_NE(out.find("PNG"), std::string::npos) << out;
}

double ShownPsnr(const std::string& out) {
  const auto at = out.find("PSNR\t");
  return at == std::string::npos ? -1.0 : std::strtod(out.c_str() + at + 5, nullptr);
}

// compress.gph and decompress.gph take a PNG and an 8-bit BMP as they take
// a 24-bit BMP: the same picture gives the same code and the same PSNR.
TEST(PictureGraphs, FractalExamplesReadPngAndEightBitBmp) {
  if (!std::filesystem::exists(kProgram)) GTEST_SKIP() << "the vorlan program is not built";
  for (const char* p : {"intake", "outlet", "picread", "luma", "collage", "hvpack", "hvunpack", "attractor",
                        "dibwriter", "gauge", "readout"}) {
    if (!std::filesystem::exists(test::FilterLibraryPath(p))) GTEST_SKIP() << "plug-in " << p << " is not built";
  }
  const std::string dir = test::TempDir("picture_examples");
  const std::string examples = std::string(VORLAN_SOURCE_DIR) + "/examples/";
  const auto original = test::ReadFile(examples + "input.bmp");
  QImage colour;
  ASSERT_TRUE(colour.loadFromData(original.data(), static_cast<int>(original.size()), "BMP"));
  QImage grey = colour.convertToFormat(QImage::Format_Grayscale8);
  QImage indexed(grey.width(), grey.height(), QImage::Format_Indexed8);
  QList<QRgb> table;
  for (int v = 0; v < 256; ++v) table.append(qRgb(v, v, v));
  indexed.setColorTable(table);
  for (int y = 0; y < grey.height(); ++y) {
    std::memcpy(indexed.scanLine(y), grey.constScanLine(y), static_cast<size_t>(grey.width()));
  }
  const std::vector<uint8_t> eightBit = test::WriteWithQt(indexed, "bmp");
  ASSERT_GE(eightBit.size(), 30u);
  ASSERT_EQ(eightBit[28], 8) << "Qt writes the indexed picture as an 8-bit BMP";

  struct Source {
    std::string name;
    std::vector<uint8_t> bytes;
  };
  const Source sources[] = {{"colour.bmp", original},
                            {"colour.png", test::WriteWithQt(colour, "png")},
                            {"grey24.bmp", test::WriteWithQt(grey.convertToFormat(QImage::Format_RGB888), "bmp")},
                            {"grey8.bmp", eightBit}};
  std::vector<std::vector<uint8_t>> codes;
  std::vector<double> psnrs;
  for (const Source& s : sources) {
    SCOPED_TRACE(s.name);
    const std::string in = dir + "/" + s.name, code = dir + "/" + s.name + ".hvf";
    test::WriteFile(in, s.bytes);
    std::string out;
    ASSERT_EQ(RunProgram("--run '" + examples + "compress.gph' --quiet --path source='" + in + "' --path target='" +
                             code + "' --set encoder.maxRanges=300 --set encoder.threadCount=1",
                         out),
              0)
        << out;
    out.clear();
    ASSERT_EQ(RunProgram("--run '" + examples + "decompress.gph' --quiet --path source='" + code +
                             "' --path target='" + dir + "/decoded.bmp' --path original='" + in + "'",
                         out),
              0)
        << out;
    codes.push_back(test::ReadFile(code));
    psnrs.push_back(ShownPsnr(out));
    EXPECT_GT(psnrs.back(), 24.0) << out;
  }
  EXPECT_EQ(codes[1], codes[0]) << "a PNG of the picture gives the code of its BMP";
  EXPECT_EQ(psnrs[1], psnrs[0]);
  EXPECT_EQ(codes[3], codes[2]) << "an 8-bit BMP gives the code of the 24-bit one";
  EXPECT_EQ(psnrs[3], psnrs[2]);
}

}  // namespace
}  // namespace vorlan
