// The colour example graphs as a user runs them: compress_colour.gph codes
// Y and the half-size Cb and Cr, decompress_colour.gph writes a PNG and
// measures it against the source; an odd-sized picture comes back at its
// own size.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QImage>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/filter_harness.h"

namespace {

namespace fs = std::filesystem;

const std::string kProgram = std::string(VORLAN_BUILD_DIR) + "/vorlan";
const std::string kExamples = std::string(VORLAN_SOURCE_DIR) + "/examples/";

int Run(const std::string& arguments, std::string& out) {
  out.clear();
  const std::string command = "cd '" + std::string(VORLAN_BUILD_DIR) + "' && '" + kProgram + "' " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, double> Shown(const std::string& out) {
  std::map<std::string, double> values;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t a = line.find('\t');
    if (a != std::string::npos) values[line.substr(0, a)] = std::strtod(line.c_str() + a + 1, nullptr);
  }
  return values;
}

struct Trip {
  uintmax_t bytes = 0;
  double rgb = 0;  // PSNR over R, G and B
  double y = 0;
  QImage decoded;
};

Trip RoundTrip(const std::string& dir, const std::string& picture, const std::string& sets = "") {
  Trip t;
  const std::string code = dir + "/image.hvc", png = dir + "/decoded.png";
  std::string out;
  EXPECT_EQ(Run("--run '" + kExamples + "compress_colour.gph' --quiet --path source='" + picture + "' --path target='" +
                    code + "'" + sets,
                out),
            0)
      << out;
  EXPECT_EQ(Run("--run '" + kExamples + "decompress_colour.gph' --quiet --path source='" + code + "' --path target='" +
                    png + "' --path original='" + picture + "'",
                out),
            0)
      << out;
  if (!fs::exists(code) || !fs::exists(png)) return t;
  t.bytes = fs::file_size(code);
  std::map<std::string, double> v = Shown(out);
  const double mse = (std::pow(v["RMS R"], 2) + std::pow(v["RMS G"], 2) + std::pow(v["RMS B"], 2)) / 3;
  t.rgb = 20 * std::log10(255.0 / std::sqrt(mse));
  t.y = v["PSNR Y"];
  t.decoded.load(QString::fromStdString(png));
  return t;
}

class ColourGraphs : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kProgram)) GTEST_SKIP() << "the vorlan program is not built";
    for (const char* p : {"intake", "outlet", "picread", "picwrite", "chroma", "resample", "collage", "hvpack",
                          "hvunpack", "attractor", "serializer", "deserializer", "luma", "gauge", "readout"}) {
      if (!fs::exists(vorlan::test::FilterLibraryPath(p))) GTEST_SKIP() << "plug-in " << p << " is not built";
    }
    dir_ = vorlan::test::TempDir("colour_graphs");
  }
  std::string dir_;
};

TEST_F(ColourGraphs, AstronautComesBackInColour) {
  const std::string picture = vorlan::test::SharedDataPath("astronaut.bmp");
  const Trip t = RoundTrip(dir_, picture);
  ASSERT_FALSE(t.decoded.isNull());
  EXPECT_EQ(t.decoded.width(), 512);
  EXPECT_EQ(t.decoded.height(), 512);
  EXPECT_FALSE(t.decoded.isGrayscale());
  // The example's ranges give about 24 800 bytes (0.76 bpp), 33.4 dB over
  // R, G and B and 35.4 dB in Y (Least error mode gave 33.1 and 35.0 dB);
  // colour JPEG gives 31.6 and 34.2 dB at that size.
  EXPECT_LT(t.bytes, 27000u);
  EXPECT_GT(t.rgb, 33.2);
  EXPECT_GT(t.y, 35.2);
  std::printf("astronaut.bmp in colour: %ju bytes, %.3f bpp, RGB %.2f dB, Y %.2f dB\n", t.bytes,
              static_cast<double>(t.bytes) * 8 / (512 * 512), t.rgb, t.y);
}

// 75 x 49: the half-size chroma planes are 38 x 25, and "Size" brings them
// back to 75 x 49 for the conversion to RGB.
TEST_F(ColourGraphs, OddSizedPicturesKeepTheirSize) {
  QImage astronaut(QString::fromStdString(vorlan::test::SharedDataPath("astronaut.bmp")));
  ASSERT_FALSE(astronaut.isNull());
  const std::string picture = dir_ + "/odd.png";
  ASSERT_TRUE(astronaut.copy(200, 100, 75, 49).save(QString::fromStdString(picture)));
  const Trip t = RoundTrip(dir_, picture, " --set Y.maxRanges=300 --set Cb.maxRanges=60 --set Cr.maxRanges=60");
  ASSERT_FALSE(t.decoded.isNull());
  EXPECT_EQ(t.decoded.width(), 75);
  EXPECT_EQ(t.decoded.height(), 49);
  EXPECT_GT(t.rgb, 22.0);
  EXPECT_GT(t.y, 24.0);
}

}  // namespace
