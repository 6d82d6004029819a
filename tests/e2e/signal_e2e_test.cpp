// Stopping signals that reach `vorlan --run` at a precise moment: while the
// graph loads, and as the last filter finishes. The hook plug-in holds the
// program at that moment and announces it with a file, so the signal lands
// there however loaded the machine is.
#include <nlohmann/json.hpp>

#include "e2e_support.h"

namespace {

using namespace vorlan::e2e;
using Json = nlohmann::json;

constexpr int32_t kLoadHookId = 9311;
constexpr int32_t kEndHookId = 9312;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Runs `vorlan --run ARGS` (the hook folder added), waits until `announce`
// exists, sends `signal` and returns the exit status (-1 when the program
// did not end within 20 s of the signal, -2 when it never announced).
int RunAndSignalAt(const std::string& dir, const std::vector<std::string>& args, const std::string& announce,
                   int signal) {
  std::string command = "exec " + Quote(std::string(VORLAN_BUILD_DIR) + "/vorlan") + " --run";
  for (const std::string& a : args) command += ' ' + Quote(a);
  command += " --filters " + Quote(VORLAN_HOOK_FOLDER) + " --quiet >" + Quote(dir + "/out.txt") + " 2>" +
             Quote(dir + "/err.txt") + " </dev/null";
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  if (::posix_spawnp(&pid, "sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -3;
  int status = 0;
  const auto announced = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(announce) && std::chrono::steady_clock::now() < announced) {
    if (::waitpid(pid, &status, WNOHANG) != 0) {
      ADD_FAILURE() << "ended before the hook was reached: " << Slurp(dir + "/err.txt");
      return -2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const bool reached = fs::exists(announce);
  ::kill(pid, reached ? signal : SIGKILL);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  pid_t done = 0;
  while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
  }
  if (!reached) return -2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -4;
}

Json ReadJson(const std::string& path) {
  const std::string text = Slurp(path);
  Json parsed = Json::parse(text, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << path << ":\n" << text;
  return parsed;
}

// A graph of a hundred thousand nodes, held halfway through its load: the
// SIGTERM ends the program with 143 and says so, at once without a report
// and at the loader's next look with one (which records the interruption).
TEST_F(E2e, ASignalWhileTheGraphLoadsEndsTheProgram) {
  REQUIRE_PLUGINS("luma");
  std::vector<uint8_t> grey;  // Grayscale conversion settings: method Y, three weights
  PutInt32(grey, 2);
  for (int i = 0; i < 3; ++i) {
    const double third = 1.0 / 3;
    const auto* b = reinterpret_cast<const uint8_t*>(&third);
    grey.insert(grey.end(), b, b + 8);
  }
  const std::string announce = dir_ + "/loading";
  std::vector<NodeRecord> nodes;
  for (int32_t i = 1; i <= 100000; ++i) {
    if (i == 50000) {
      nodes.push_back({kLoadHookId, i, "hook", Bytes(announce)});
    } else {
      nodes.push_back({90, i, "g", grey});
    }
  }
  WriteFile(dir_ + "/large.gph", GraphFile(nodes, {}));
  nodes.clear();

  const std::string report = dir_ + "/report.json";
  for (const bool withReport : {false, true}) {
    SCOPED_TRACE(withReport ? "with --report" : "without a report");
    fs::remove(announce);
    std::vector<std::string> args = {dir_ + "/large.gph"};
    if (withReport) args.insert(args.end(), {"--report", report});
    EXPECT_EQ(RunAndSignalAt(dir_, args, announce, SIGTERM), 143);
    EXPECT_EQ(Slurp(dir_ + "/err.txt"), "Interrupted while loading the graph.\n");
  }
  const Json r = ReadJson(report);
  EXPECT_EQ(r["exitCode"], 143);
  EXPECT_EQ(r["outcome"], "Interrupted while loading the graph.");
  EXPECT_TRUE(r["nodes"].empty());
}

// The signal comes when every output is written and the last filter is
// finishing: nothing is left to stop, so the run is Done, exit 0, and the
// report says so. The hook is first in node order and finishes in the second
// pass, after the other filters, so the runner must also see that nothing is
// left before it looks at the stop request.
TEST_F(E2e, ASignalAsTheRunFinishesLeavesItDone) {
  REQUIRE_PLUGINS("intake", "outlet");
  const std::string announce = dir_ + "/finishing", source = dir_ + "/in.bin", target = dir_ + "/copy.bin";
  WriteFile(source, Bytes("every byte arrives"));
  WriteFile(dir_ + "/copy.gph", GraphFile({{kEndHookId, 1, "hook", Bytes(announce)},
                                           {10, 2, "source", PathSettings(source)},
                                           {20, 3, "target", PathSettings(target)}},
                                          {{2, 2, 3, 2}}));
  const std::string report = dir_ + "/report.json";
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    fs::remove(announce);
    fs::remove(target);
    EXPECT_EQ(RunAndSignalAt(dir_, {dir_ + "/copy.gph", "--report", report}, announce, signal), 0)
        << Slurp(dir_ + "/err.txt");
    EXPECT_EQ(Slurp(dir_ + "/err.txt").find("Stopped"), std::string::npos) << Slurp(dir_ + "/err.txt");
    EXPECT_EQ(Slurp(target), "every byte arrives");
    const Json r = ReadJson(report);
    EXPECT_EQ(r["exitCode"], 0);
    EXPECT_EQ(r["outcome"], "Done");
    for (const Json& n : r["nodes"]) {
      EXPECT_EQ(n["result"], "Ok") << n["caption"];
      if (n["caption"] == "target") {
        EXPECT_EQ(n["files"][0]["role"], "written");
      }
    }
  }
}

}  // namespace
