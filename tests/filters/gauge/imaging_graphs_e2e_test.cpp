// The example graphs run by the program itself: `vorlan --run` on the
// shared pictures, checking the grey BMP written and the PSNR lines the
// text displays received, and the pictures the display nodes leave.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/filter_harness.h"

namespace vorlan {
namespace {

const std::string kProgram = std::string(VORLAN_BUILD_DIR) + "/vorlan";

std::string Example(const std::string& name) { return std::string(VORLAN_SOURCE_DIR) + "/examples/" + name; }

// Runs the program; returns its exit code and collects stdout.
int RunProgram(const std::string& arguments, std::string& out) {
  const std::string command = "cd '" + std::string(VORLAN_BUILD_DIR) + "' && '" + kProgram + "' " + arguments;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// caption -> value from the "caption<TAB>value<TAB>type" lines.
std::map<std::string, std::string> DisplayValues(const std::string& out) {
  std::map<std::string, std::string> values;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t a = line.find('\t');
    const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    if (b != std::string::npos) values[line.substr(0, a)] = line.substr(a + 1, b - a - 1);
  }
  return values;
}

class ImagingGraphs : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kProgram)) GTEST_SKIP() << "the vorlan program is not built";
  }
};

TEST_F(ImagingGraphs, GreyBmpOfCamera) {
  const std::string dir = test::TempDir("imaging_e2e_gray");
  const std::string target = dir + "/gray.bmp";
  std::string out;
  ASSERT_EQ(RunProgram("--run '" + Example("bmp_gray.gph") + "' --path source='" + test::SharedDataPath("camera.bmp") +
                    "' --path target='" + target + "' 2>&1",
                out),
            0)
      << out;
  const auto source = test::ReadFile(test::SharedDataPath("camera.bmp"));
  const auto gray = test::ReadFile(target);
  ASSERT_EQ(gray.size(), 54u + 512 * 1536) << out;
  const size_t offset = source[10] | source[11] << 8;
  int largest = 0;
  for (size_t i = 0; i < 512 * 512; ++i) {
    const uint8_t* p = &gray[54 + 3 * i];
    ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << "pixel " << i << " is not grey";
    // camera.bmp is grey already: Y keeps each level, give or take the
    // truncation of 255 x 0.9999999999999999.
    const int diff = std::abs(int{p[1]} - int{source[offset + 3 * i + 1]});
    largest = std::max(largest, diff);
  }
  EXPECT_LE(largest, 1);
}

TEST_F(ImagingGraphs, PsnrOfAstronaut) {
  std::string out;
  ASSERT_EQ(RunProgram("--run '" + Example("psnr.gph") + "' --path source='" + test::SharedDataPath("astronaut.bmp") +
                    "' 2>&1",
                out),
            0)
      << out;
  const auto values = DisplayValues(out);
  ASSERT_EQ(values.count("self PSNR"), 1u) << out;
  EXPECT_EQ(values.at("self PSNR"), "-1.000000");
  ASSERT_EQ(values.count("gray PSNR"), 1u) << out;
  const double psnr = std::stod(values.at("gray PSNR"));
  const double rms = std::stod(values.at("gray RMS"));
  const double md = std::stod(values.at("gray MD"));
  const double ad = std::stod(values.at("gray AD"));
  // A colour picture differs from its own grey version, but not wildly.
  EXPECT_GT(psnr, 15.0);
  EXPECT_LT(psnr, 60.0);
  EXPECT_GT(rms, 0.0);
  EXPECT_LE(ad, rms);
  EXPECT_LE(rms, md);
  EXPECT_LE(md, 255.0);
}

// Width and height from a PNG's IHDR chunk; 0 x 0 for anything else.
std::pair<uint32_t, uint32_t> PngSize(const std::vector<uint8_t>& png) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (png.size() < 24 || !std::equal(kSignature, kSignature + 8, png.begin()) ||
      !std::equal(png.begin() + 12, png.begin() + 16, "IHDR")) {
    return {0, 0};
  }
  auto be32 = [&](size_t at) { return uint32_t{png[at]} << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3]; };
  return {be32(16), be32(20)};
}

TEST_F(ImagingGraphs, DisplaysOfAstronautLeaveSnapshots) {
  const std::string dir = test::TempDir("imaging_e2e_view");
  std::string out;
  ASSERT_EQ(RunProgram("--run '" + Example("view.gph") + "' --quiet --path source='" +
                           test::SharedDataPath("astronaut.bmp") + "' --snapshots '" + dir + "' 2>&1",
                       out),
            0)
      << out;
  // Node ids 3 and 5 hold the RGB display "colour" and the mono display "grey".
  for (const char* name : {"3-colour.png", "5-grey.png"}) {
    SCOPED_TRACE(name);
    const std::string path = dir + "/" + name;
    ASSERT_TRUE(std::filesystem::exists(path)) << out;
    EXPECT_EQ(PngSize(test::ReadFile(path)), std::make_pair(512u, 512u));
  }
}

}  // namespace
}  // namespace vorlan
