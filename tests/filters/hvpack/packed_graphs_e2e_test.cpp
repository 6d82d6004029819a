// Both pairs of example graphs as a user runs them: compress.gph and
// decompress.gph with the HV code packer, compress_huffman.gph and
// decompress_huffman.gph with the Huffman encoders and the serializer.
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

// Runs this build's program from `dir` (so it loads the plug-ins beside
// itself); returns the exit code, stdout (and stderr on failure) in `out`.
int Vorlan(const std::vector<std::string>& args, const std::string& dir, std::string& out) {
  std::string command = "cd " + Quote(dir) + " && " + Quote(std::string(VORLAN_BUILD_DIR) + "/vorlan");
  for (const std::string& a : args) {
    command += ' ';
    command += Quote(a);
  }
  command += " >out.txt 2>err.txt </dev/null";
  const int status = std::system(command.c_str());
  std::stringstream text;
  text << std::ifstream(dir + "/out.txt").rdbuf();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text << std::ifstream(dir + "/err.txt").rdbuf();
  out = text.str();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct RoundTrip {
  uintmax_t bytes = 0;
  double psnr = 0;
};

RoundTrip RunPair(const std::string& suffix, const std::string& dir) {
  const std::string examples = std::string(VORLAN_SOURCE_DIR) + "/examples/";
  const std::string camera = vorlan::test::SharedDataPath("camera.bmp");
  const std::string file = dir + "/camera" + suffix + ".hvf";
  std::string out;
  RoundTrip r;
  EXPECT_EQ(Vorlan({"--run", examples + "compress" + suffix + ".gph", "--quiet", "--path", "source=" + camera,
                    "--path", "target=" + file},
                   dir, out),
            0)
      << out;
  EXPECT_EQ(Vorlan({"--run", examples + "decompress" + suffix + ".gph", "--quiet", "--path", "source=" + file,
                    "--path", "target=" + dir + "/decoded" + suffix + ".bmp", "--path", "original=" + camera},
                   dir, out),
            0)
      << out;
  r.bytes = fs::exists(file) ? fs::file_size(file) : 0;
  const auto at = out.find("PSNR\t");
  if (at != std::string::npos) r.psnr = std::strtod(out.c_str() + at + 5, nullptr);
  return r;
}

TEST(PackedGraphs, BothExamplePairsRoundTripAndThePackedFileIsSmaller) {
  const std::vector<const char*> plugins = {"intake", "outlet",    "picread",      "dibwriter", "luma",
                                            "collage", "attractor", "hvpack",      "hvunpack",  "squeeze",
                                            "unsqueeze", "serializer", "deserializer", "gauge",  "readout"};
  if (!fs::exists(std::string(VORLAN_BUILD_DIR) + "/vorlan")) GTEST_SKIP() << "the vorlan program is not built";
  for (const char* p : plugins) {
    if (!fs::exists(vorlan::test::FilterLibraryPath(p))) GTEST_SKIP() << "plug-in " << p << " is not built";
  }
  const std::string dir = vorlan::test::TempDir("packed_graphs");
  const RoundTrip packed = RunPair("", dir);
  const RoundTrip huffman = RunPair("_huffman", dir);
  const std::vector<uint8_t> head = vorlan::test::ReadFile(dir + "/camera.hvf");
  ASSERT_GE(head.size(), 4u);
  EXPECT_EQ(std::string(head.begin(), head.begin() + 4), "HVPK") << "compress.gph writes the packed code";
  EXPECT_GT(packed.psnr, 25.0);
  EXPECT_GT(huffman.psnr, 25.0);
  // The encoder runs two search threads, so the two codes may differ a
  // little; the packed form saves far more than that.
  EXPECT_LT(packed.bytes, huffman.bytes * 0.92) << packed.bytes << " vs " << huffman.bytes;
  std::printf("camera.bmp: packed %ju bytes (%.2f dB), Huffman + serializer %ju bytes (%.2f dB)\n", packed.bytes,
              packed.psnr, huffman.bytes, huffman.psnr);
}

}  // namespace
