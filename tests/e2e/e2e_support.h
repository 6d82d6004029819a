// What the end-to-end tests share: running the built program, its
// outcome, a graph file writer of their own and a run stopped by a signal.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/filter_harness.h"

extern char** environ;

namespace vorlan::e2e {

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

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class E2e : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TempDir("e2e");
    // The user's own plug-in folders stay out of the tests.
    ::setenv("XDG_DATA_HOME", (dir_ + "/xdg").c_str(), 1);
    ::unsetenv("VORLAN_FILTER_PATH");
  }

  // Runs the program (which loads the filters/ beside it) from `cwd`, the
  // build folder by default.
  Outcome Vorlan(const std::vector<std::string>& args, const std::string& cwd = VORLAN_BUILD_DIR) {
    std::string command = "cd ";
    command += Quote(cwd);
    command += " && ";
    command += Quote(std::string(VORLAN_BUILD_DIR) + "/vorlan");
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

  // Runs the program standing in `folder` (it then loads the plug-ins of
  // the filters folder beside itself).
  Outcome VorlanIn(const std::string& folder, const std::vector<std::string>& args) {
    std::string command = "cd " + Quote(folder) + " && " + Quote(std::string(VORLAN_BUILD_DIR) + "/vorlan");
    for (const std::string& a : args) command += ' ' + Quote(a);
    command += " >" + Quote(dir_ + "/out.txt") + " 2>" + Quote(dir_ + "/err.txt") + " </dev/null";
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

// One node of a graph file: filter id, node id, caption, settings bytes.
struct NodeRecord {
  int32_t filterId;
  int32_t nodeId;
  std::string caption;
  std::vector<uint8_t> settings;
};

inline void PutInt32(std::vector<uint8_t>& b, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  const uint8_t bytes[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
                            static_cast<uint8_t>(u >> 24)};
  b.insert(b.end(), bytes, bytes + 4);
}

inline std::vector<uint8_t> GraphFile(const std::vector<NodeRecord>& nodes, const std::vector<std::vector<int32_t>>& edges) {
  std::vector<uint8_t> b;
  PutInt32(b, 0);
  PutInt32(b, 0);
  PutInt32(b, static_cast<int32_t>(nodes.size()));
  for (const NodeRecord& n : nodes) {
    PutInt32(b, n.filterId);
    PutInt32(b, n.nodeId);
    PutInt32(b, static_cast<int32_t>(n.caption.size()));
    b.insert(b.end(), n.caption.begin(), n.caption.end());
    b.push_back(0);
    PutInt32(b, 10 + 100 * n.nodeId);
    PutInt32(b, 10);
    PutInt32(b, static_cast<int32_t>(n.settings.size()));
    b.insert(b.end(), n.settings.begin(), n.settings.end());
  }
  PutInt32(b, static_cast<int32_t>(edges.size()));
  for (const auto& e : edges) {
    for (int32_t v : e) PutInt32(b, v);
  }
  return b;
}

inline std::vector<uint8_t> PathSettings(const std::string& path) {
  std::vector<uint8_t> b;
  PutInt32(b, static_cast<int32_t>(path.size()));
  b.insert(b.end(), path.begin(), path.end());
  return b;
}

// Starts `vorlan --run` on the fractal compression example (with `extra`
// arguments), sends `signal` once the run is under way, and returns the exit
// status (-1 when it did not end within 20 s of the signal).
inline int SignalDuringCompression(const std::string& dir, int signal, const std::vector<std::string>& extra = {}) {
  fs::remove(dir + "/err.txt");  // the previous run's progress must not count
  std::string command = "cd ";
  command += Quote(VORLAN_BUILD_DIR);
  command += " && exec ./vorlan --run ";
  command += Quote(std::string(VORLAN_SOURCE_DIR) + "/examples/compress_huffman.gph");
  command += " --path source=" + Quote(vorlan::test::SharedDataPath("camera.bmp"));
  command += " --path target=" + Quote(dir + "/out.hvf");
  for (const std::string& a : extra) {
    command += ' ';
    command += Quote(a);
  }
  command += " 2>";
  command += Quote(dir + "/err.txt");
  command += " </dev/null";
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  if (::posix_spawnp(&pid, "sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -2;
  // Signal once the encoder is at work (its progress lines name it).
  const auto started = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Slurp(dir + "/err.txt").find("HV encoder") == std::string::npos &&
         std::chrono::steady_clock::now() < started) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  int status = 0;
  if (::waitpid(pid, &status, WNOHANG) != 0) {
    ADD_FAILURE() << "the run ended on its own: " << Slurp(dir + "/err.txt");
    return -3;
  }
  ::kill(pid, signal);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  pid_t done = 0;
  while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -4;
}

}  // namespace vorlan::e2e
