// examples/convert.gph run by the program: a PNG of each shared picture
// becomes a BMP and a PNG again, both holding the pixels of the original.
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

}  // namespace
}  // namespace vorlan
