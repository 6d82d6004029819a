// The program as a user runs it: `vorlan --run`, `--list`, exit codes and
// messages, with the plug-ins of the build's filters folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/filter_harness.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vorlan::test::FilterLibraryPath;
using vorlan::test::ReadFile;
using vorlan::test::TempDir;
using vorlan::test::WriteFile;

struct Outcome {
  int exit = -1;
  std::string out;
  std::string err;
};

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

class E2e : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = TempDir("e2e"); }

  // Runs the program from the build folder (whose filters/ it loads).
  Outcome Vorlan(const std::vector<std::string>& args) {
    std::string command = "cd ";
    command += Quote(VORLAN_BUILD_DIR);
    command += " && ./vorlan";
    for (const std::string& a : args) {
      command += ' ';
      command += Quote(a);
    }
    command += " >";
    command += Quote(dir_ + "/out.txt");
    command += " 2>";
    command += Quote(dir_ + "/err.txt");
    command += " </dev/null";
    const int status = std::system(command.c_str());
    Outcome o;
    o.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = Slurp(dir_ + "/out.txt");
    o.err = Slurp(dir_ + "/err.txt");
    return o;
  }

  static bool Have(const char* plugin) { return fs::exists(FilterLibraryPath(plugin)); }

  std::string dir_;
};

#define REQUIRE_PLUGINS(...)                                                             \
  for (const char* p : {__VA_ARGS__}) {                                                  \
    if (!Have(p)) GTEST_SKIP() << "plug-in " << p << " is not built (" << FilterLibraryPath(p) << ")"; \
  }

const std::string kCopyGraph = std::string(VORLAN_SOURCE_DIR) + "/examples/copy.gph";

TEST_F(E2e, CopiesAFileThroughTheCopyGraph) {
  REQUIRE_PLUGINS("intake", "outlet");
  std::vector<uint8_t> data(3 * 262144 + 1234);
  std::mt19937 rng(7);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  WriteFile(dir_ + "/in.bin", data);
  const Outcome o = Vorlan({"--run", kCopyGraph, "--path", "source=" + dir_ + "/in.bin", "--path",
                            "target=" + dir_ + "/out.bin"});
  ASSERT_EQ(o.exit, 0) << o.err;
  EXPECT_EQ(ReadFile(dir_ + "/out.bin"), data);
  // Not a terminal: plain progress lines, ending with the graph Done.
  EXPECT_NE(o.err.find("graph Done 100.00 %"), std::string::npos) << o.err;

  const Outcome quiet = Vorlan({"--run", kCopyGraph, "--quiet", "--path", "source=" + dir_ + "/in.bin", "--path",
                                "target=" + dir_ + "/out2.bin"});
  ASSERT_EQ(quiet.exit, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(ReadFile(dir_ + "/out2.bin"), data);
}

TEST_F(E2e, MissingInputFileNamesTheSourceNode) {
  REQUIRE_PLUGINS("intake", "outlet");
  const Outcome o = Vorlan({"--run", kCopyGraph, "--quiet", "--path", "source=" + dir_ + "/nothing.bin", "--path",
                            "target=" + dir_ + "/out.bin"});
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("Error on filter : source"), std::string::npos) << o.err;
}

TEST_F(E2e, MissingOutputFolderNamesTheTargetNode) {
  REQUIRE_PLUGINS("intake", "outlet");
  WriteFile(dir_ + "/in.bin", {1, 2, 3});
  const Outcome o = Vorlan({"--run", kCopyGraph, "--quiet", "--path", "source=" + dir_ + "/in.bin", "--path",
                            "target=" + dir_ + "/no/such/folder/out.bin"});
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("Error on filter : target"), std::string::npos) << o.err;
}

// A graph file of File Output Stream nodes captioned target1, target2, ...
// writing into `dir`, with the given edges.
std::vector<uint8_t> OutputStreams(int count, const std::string& dir, const std::vector<std::vector<int32_t>>& edges) {
  std::vector<uint8_t> b;
  auto put = [&](int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
  };
  put(0);
  put(0);
  put(count);
  for (int i = 1; i <= count; ++i) {
    const std::string caption = "target" + std::to_string(i);
    const std::string path = dir + "/written" + std::to_string(i) + ".bin";
    put(20);
    put(i);
    put(static_cast<int32_t>(caption.size()));
    b.insert(b.end(), caption.begin(), caption.end());
    b.push_back(0);
    put(10);
    put(10);
    put(static_cast<int32_t>(path.size() + 4));
    put(static_cast<int32_t>(path.size()));
    b.insert(b.end(), path.begin(), path.end());
  }
  put(static_cast<int32_t>(edges.size()));
  for (const auto& e : edges) {
    for (int32_t v : e) put(v);
  }
  return b;
}

TEST_F(E2e, UnconnectedInputFailsWithTheNodeCaption) {
  REQUIRE_PLUGINS("outlet");
  WriteFile(dir_ + "/lonely.gph", OutputStreams(1, dir_, {}));
  const Outcome o = Vorlan({"--run", dir_ + "/lonely.gph", "--quiet"});
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("Error on filter : target1"), std::string::npos) << o.err;
}

TEST_F(E2e, BadGraphsAndBadCommandLines) {
  WriteFile(dir_ + "/junk.gph", {1, 2, 3, 4, 5});
  Outcome o = Vorlan({"--run", dir_ + "/junk.gph"});
  EXPECT_EQ(o.exit, 2);
  EXPECT_NE(o.err.find("Failed to load graph."), std::string::npos) << o.err;

  o = Vorlan({"--run", dir_ + "/absent.gph"});
  EXPECT_EQ(o.exit, 2);
  EXPECT_NE(o.err.find("Failed to load graph."), std::string::npos);

  o = Vorlan({"--run"});
  EXPECT_EQ(o.exit, 2);

  if (Have("intake") && Have("outlet")) {
    o = Vorlan({"--run", kCopyGraph, "--path", "nobody=x"});
    EXPECT_EQ(o.exit, 2);
    EXPECT_NE(o.err.find("nobody"), std::string::npos);
  }
}

TEST_F(E2e, ListVersionAndHelp) {
  Outcome o = Vorlan({"--version"});
  EXPECT_EQ(o.exit, 0);
  EXPECT_EQ(o.out, "Vorlan Version 1.0\n");
  o = Vorlan({"--help"});
  EXPECT_EQ(o.exit, 0);
  EXPECT_NE(o.out.find("--run"), std::string::npos);
  o = Vorlan({"--list"});
  EXPECT_EQ(o.exit, 0);
  EXPECT_NE(o.out.find(" Filter prototypes.\n"), std::string::npos);
  if (Have("intake")) {
    EXPECT_NE(o.out.find("File Input Stream 1.0 [10]\tFile Input Stream Library 1.0 (intake.so)\n"),
              std::string::npos)
        << o.out;
  }
}

TEST_F(E2e, InterruptStopsTheRunAndExits130) {
  REQUIRE_PLUGINS("outlet");
  // target2 reads from target1's input pin, which never holds a packet: the
  // run waits until it is stopped.
  WriteFile(dir_ + "/wait.gph", OutputStreams(2, dir_, {{1, 2, 2, 2}, {2, 2, 1, 2}}));
  std::string command = "cd ";
  command += Quote(VORLAN_BUILD_DIR);
  command += " && exec ./vorlan --run ";
  command += Quote(dir_ + "/wait.gph");
  command += " 2>";
  command += Quote(dir_ + "/err.txt");
  command += " </dev/null";
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawnp(&pid, "sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  // Interrupt once the run is under way (its progress lines say Running).
  const auto started = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Slurp(dir_ + "/err.txt").find("Running") == std::string::npos && std::chrono::steady_clock::now() < started) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the run ended on its own: " << Slurp(dir_ + "/err.txt");
  ::kill(pid, SIGINT);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  pid_t done = 0;
  while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    FAIL() << "vorlan did not stop after SIGINT";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_NE(Slurp(dir_ + "/err.txt").find("Stopped"), std::string::npos);
}

TEST_F(E2e, TextDisplaysReportWhatTheyReceived) {
  REQUIRE_PLUGINS("intake", "dibreader", "luma", "gauge", "readout");
  const Outcome o = Vorlan({"--run", std::string(VORLAN_SOURCE_DIR) + "/examples/psnr.gph", "--quiet", "--path",
                            "source=" + vorlan::test::SharedDataPath("astronaut.bmp")});
  ASSERT_EQ(o.exit, 0) << o.err;
  EXPECT_NE(o.out.find("self PSNR\t-1.000000\tFloat\n"), std::string::npos) << o.out;
}

}  // namespace
