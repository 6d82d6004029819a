// The fractal example graphs as a user runs them: compress camera.bmp with
// `vorlan --run examples/compress.gph`, decompress it with decompress.gph
// and check the decoded picture and the PSNR the graph reports.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/filter_harness.h"

namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs the program of this build with `args` from `dir` (so it loads the
// plug-ins beside itself); stdout into `out`.
int Vorlan(const std::vector<std::string>& args, const std::string& dir, std::string& out) {
  std::string command = "cd ";
  command += Quote(dir) + " && " + Quote(std::string(VORLAN_BUILD_DIR) + "/vorlan");
  // Appended piece by piece: GCC 12 warns (-Wrestrict, wrongly) on
  // `" " + Quote(...)` here.
  for (const std::string& a : args) {
    command += " ";
    command += Quote(a);
  }
  command += " >";
  command += Quote(dir + "/out.txt");
  command += " 2>";
  command += Quote(dir + "/err.txt");
  command += " </dev/null";
  const int status = std::system(command.c_str());
  out = Slurp(dir + "/out.txt");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += Slurp(dir + "/err.txt");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FractalGraphs, CameraSurvivesCompressAndDecompress) {
  const std::vector<const char*> plugins = {"intake",    "outlet",       "picread",   "dibwriter",
                                            "luma",      "collage",      "squeeze",   "serializer",
                                            "deserializer", "unsqueeze", "attractor", "gauge",
                                            "readout"};
  if (!fs::exists(std::string(VORLAN_BUILD_DIR) + "/vorlan")) GTEST_SKIP() << "the vorlan program is not built";
  for (const char* p : plugins) {
    if (!fs::exists(vorlan::test::FilterLibraryPath(p))) GTEST_SKIP() << "plug-in " << p << " is not built";
  }
  const std::string dir = vorlan::test::TempDir("fractal_graphs");
  const std::string examples = std::string(VORLAN_SOURCE_DIR) + "/examples/";
  const std::string camera = vorlan::test::SharedDataPath("camera.bmp");
  const std::string container = dir + "/camera.hvf";
  const std::string decoded = dir + "/camera.bmp";

  std::string out;
  ASSERT_EQ(Vorlan({"--run", examples + "compress.gph", "--quiet", "--path", "source=" + camera, "--path",
                    "target=" + container},
                   dir, out),
            0)
      << out;
  const auto size = fs::file_size(container);
  // The example graphs give about 14 180 bytes (0.43 bits per pixel) and
  // 32.2 dB; JPEG gives 30.9 dB at that size.
  EXPECT_GT(size, 1000u);
  EXPECT_LT(size, 16000u) << "about 0.49 bits per pixel at most";

  ASSERT_EQ(Vorlan({"--run", examples + "decompress.gph", "--quiet", "--path", "source=" + container, "--path",
                    "target=" + decoded, "--path", "original=" + camera},
                   dir, out),
            0)
      << out;
  const std::vector<uint8_t> bmp = vorlan::test::ReadFile(decoded);
  ASSERT_GE(bmp.size(), 54u + 512u * 512u * 3u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[18] | bmp[19] << 8, 512);

  const auto at = out.find("PSNR\t");
  ASSERT_NE(at, std::string::npos) << out;
  const double psnr = std::strtod(out.c_str() + at + 5, nullptr);
  EXPECT_GT(psnr, 32.1) << out << "Least error mode gave 32.0 dB here";
  EXPECT_LT(psnr, 60.0) << out;
  std::printf("camera.bmp: %ju bytes, %.3f bpp, PSNR %.2f dB\n", static_cast<uintmax_t>(size),
              static_cast<double>(size) * 8 / (512 * 512), psnr);
}

}  // namespace
