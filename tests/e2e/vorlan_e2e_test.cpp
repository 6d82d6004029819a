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

#include "e2e_support.h"
#include "support/filter_harness.h"

namespace {

using namespace vorlan::e2e;

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
  EXPECT_NE(o.err.find("Error on filter : target\ncannot write " + dir_ + "/no/such/folder/out.bin: the folder " +
                       dir_ + "/no/such/folder does not exist"),
            std::string::npos)
      << o.err;
}

TEST_F(E2e, AnUnwritableTargetFailsTheRunBeforeAnyWork) {
  REQUIRE_PLUGINS("intake", "picread", "luma", "collage", "squeeze", "serializer", "outlet");
  fs::create_directory(dir_ + "/taken.hvf");
  const Outcome o = Vorlan({"--run", std::string(VORLAN_SOURCE_DIR) + "/examples/compress_huffman.gph", "--path",
                            "source=" + vorlan::test::SharedDataPath("camera.bmp"), "--path",
                            "target=" + dir_ + "/taken.hvf"});
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("cannot write " + dir_ + "/taken.hvf: it is a folder"), std::string::npos) << o.err;
  EXPECT_EQ(o.err.find("HV encoder"), std::string::npos) << "the encoder never ran:\n" << o.err;
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

  o = Vorlan({"--run", dir_});
  EXPECT_EQ(o.exit, 2);
  EXPECT_NE(o.err.find(dir_ + " is a folder, not a graph file"), std::string::npos) << o.err;

  if (Have("intake") && Have("outlet")) {
    o = Vorlan({"--run", kCopyGraph, "--path", "nobody=x"});
    EXPECT_EQ(o.exit, 2);
    EXPECT_NE(o.err.find("nobody"), std::string::npos);
  }
}

TEST_F(E2e, ListVersionAndHelp) {
  Outcome o = Vorlan({"--version"});
  EXPECT_EQ(o.exit, 0);
  EXPECT_EQ(o.out, "vorlan 1.0\n");
  o = Vorlan({"--help"});
  EXPECT_EQ(o.exit, 0);
  EXPECT_NE(o.out.find("--run"), std::string::npos);
  EXPECT_NE(o.out.find("143 by SIGTERM"), std::string::npos) << o.out;
  o = Vorlan({"--list"});
  EXPECT_EQ(o.exit, 0);
  EXPECT_NE(o.out.find(" Filter prototypes.\n"), std::string::npos);
  if (Have("intake")) {
    EXPECT_NE(o.out.find("File Input Stream 1.0 [10]\tFile Input Stream Library 1.0 (intake.so)\n"),
              std::string::npos)
        << o.out;
  }
}

TEST_F(E2e, CommandLineFormsAndErrors) {
  REQUIRE_PLUGINS("intake", "outlet");
  WriteFile(dir_ + "/in.bin", {9, 8, 7});
  // --name=value forms, options before --run, and a later graph position.
  Outcome o = Vorlan({"--quiet", "--path=source=" + dir_ + "/in.bin", "--run", "--path=target=" + dir_ + "/out.bin",
                      kCopyGraph, "--snapshots=" + dir_ + "/shots", "--filters=" + dir_ + "/none"});
  ASSERT_EQ(o.exit, 0) << o.err;
  EXPECT_EQ(ReadFile(dir_ + "/out.bin"), (std::vector<uint8_t>{9, 8, 7}));

  const std::vector<std::vector<std::string>> wrong = {
      {"--bogus"},
      {"--run", kCopyGraph, "--bogus"},
      {"--run", kCopyGraph, "--path"},
      {"--run", kCopyGraph, "--path=novalue"},
      {"--run", kCopyGraph, kCopyGraph},
      {"--path", "a=b"},
      {"--quiet", kCopyGraph},
      {"--list", kCopyGraph},
      {"--list", "--run", kCopyGraph},
      {"--filters"},
      {"a.gph", "b.gph"},
      {"--version=2"},
  };
  for (const auto& args : wrong) {
    o = Vorlan(args);
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_EQ(o.exit, 2) << shown;
    EXPECT_EQ(o.err.rfind("vorlan: ", 0), 0u) << shown << o.err;
    EXPECT_NE(o.err.find("\nTry 'vorlan --help' for more information.\n"), std::string::npos) << shown;
    EXPECT_EQ(o.err.find("Usage: vorlan"), std::string::npos) << "one line and a hint, not the whole help: " << shown;
  }
  o = Vorlan({"--bogus"});
  EXPECT_NE(o.err.find("Unknown option 'bogus'."), std::string::npos) << o.err;

  for (const char* help : {"-h", "--help"}) {
    o = Vorlan({help});
    EXPECT_EQ(o.exit, 0);
    for (const char* option : {"--run", "--list", "--path <CAPTION=FILE>", "--snapshots <DIR>", "--quiet",
                               "--filters <DIR>", "--version", "130"}) {
      EXPECT_NE(o.out.find(option), std::string::npos) << option;
    }
  }
  o = Vorlan({"-v"});
  EXPECT_EQ(o.out, "vorlan 1.0\n");
}

// A library whose constructor leaves a file "marker" in the current
// directory: proof that it was dlopen'ed.
TEST_F(E2e, PluginsNeverLoadFromTheCurrentDirectory) {
  fs::create_directories(dir_ + "/filters");
  fs::copy_file(VORLAN_MARKER_PLUGIN, dir_ + "/filters/x.so");
  Outcome o = Vorlan({"--list"}, dir_);
  EXPECT_EQ(o.exit, 0);
  EXPECT_FALSE(fs::exists(dir_ + "/marker"));
  EXPECT_EQ(o.out.find("x.so"), std::string::npos) << o.out;
  o = Vorlan({"--run", dir_ + "/absent.gph"}, dir_);
  EXPECT_EQ(o.exit, 2);
  EXPECT_FALSE(fs::exists(dir_ + "/marker"));

  // Nor through a relative folder in the environment, which may have been
  // set anywhere: VORLAN_FILTER_PATH=filters, or HOME=. with the user
  // folder under it. Each is named in a warning instead.
  fs::create_directories(dir_ + "/.local/share/vorlan/filters");
  fs::copy_file(VORLAN_MARKER_PLUGIN, dir_ + "/.local/share/vorlan/filters/x.so");
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  ::setenv("VORLAN_FILTER_PATH", "filters", 1);
  ::setenv("HOME", ".", 1);
  ::unsetenv("XDG_DATA_HOME");
  o = Vorlan({"--list"}, dir_);
  const Outcome run = Vorlan({"--run", dir_ + "/absent.gph"}, dir_);
  ::setenv("HOME", home.c_str(), 1);
  ::unsetenv("VORLAN_FILTER_PATH");
  EXPECT_EQ(o.exit, 0);
  EXPECT_FALSE(fs::exists(dir_ + "/marker"));
  EXPECT_EQ(o.out.find("x.so"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("warning: HOME \".\" is ignored: it is not an absolute folder\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("warning: VORLAN_FILTER_PATH entry \"filters\" is ignored: it is not an absolute folder\n"),
            std::string::npos)
      << o.out;
  EXPECT_NE(run.err.find("warning: VORLAN_FILTER_PATH entry \"filters\" is ignored"), std::string::npos) << run.err;

  // Named on purpose, a relative folder is the user's choice.
  o = Vorlan({"--list", "--filters", "filters"}, dir_);
  EXPECT_EQ(o.exit, 0);
  EXPECT_TRUE(fs::exists(dir_ + "/marker"));
  EXPECT_NE(o.out.find("Test marker 1.0 [9301]\tTest Marker Library 1.0 (x.so)\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("  filters (--filters)\n"), std::string::npos) << o.out;
}

TEST_F(E2e, ListShowsTheSearchOrderAndWhatDidNotLoad) {
  const std::string env = dir_ + "/env";
  fs::create_directories(env);
  fs::create_directories(dir_ + "/xdg/vorlan/filters");
  WriteFile(env + "/broken.so", {'n', 'o', 't', ' ', 'E', 'L', 'F'});
  fs::copy_file(VORLAN_MARKER_PLUGIN, dir_ + "/xdg/vorlan/filters/m.so");
  // The same library again, later in the order: its id is taken.
  fs::copy_file(VORLAN_MARKER_PLUGIN, env + "/m2.so");
  ::setenv("VORLAN_FILTER_PATH", (env + "::" + dir_ + "/missing").c_str(), 1);
  const Outcome o = Vorlan({"--list", "--filters", dir_ + "/cli"}, dir_);
  ::unsetenv("VORLAN_FILTER_PATH");
  ASSERT_EQ(o.exit, 0) << o.err;
  const std::vector<std::string> order = {
      std::string("Plug-in folders, searched in this order:\n  ") + fs::canonical(VORLAN_BUILD_DIR).string() +
          "/filters (beside the program)\n",
      "  " + dir_ + "/xdg/vorlan/filters (user folder)\n",
      "  " + env + " (VORLAN_FILTER_PATH)\n",
      "  " + dir_ + "/missing (VORLAN_FILTER_PATH, absent)\n",
      "  " + dir_ + "/cli (--filters, absent)\n",
      "(m.so)\n",
      "Not loaded:\n  " + env + "/broken.so: ",
      "  " + env + "/m2.so: filter id 9301 (\"Test marker\") is already taken by \"Test marker\" of " + dir_ +
          "/xdg/vorlan/filters/m.so; one of the two needs another id (docs/filter-ids.md)\n",
      " Filter prototypes.\n"};
  size_t at = 0;
  for (const std::string& piece : order) {
    const size_t found = o.out.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << piece << "\n" << o.out;
    at = found + piece.size();
  }
  // The loader's own words for the broken file.
  EXPECT_NE(o.out.find("broken.so: " + env + "/broken.so: "), std::string::npos) << o.out;
}

TEST_F(E2e, StopSignalsEndTheRunWith128PlusTheSignalAndKeepTheTarget) {
  REQUIRE_PLUGINS("intake", "picread", "luma", "collage", "squeeze", "serializer", "outlet");
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  for (const auto& [signal, code] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}}) {
    WriteFile(dir_ + "/out.hvf", old);
    EXPECT_EQ(SignalDuringCompression(dir_, signal), code) << "signal " << signal;
    const std::string err = Slurp(dir_ + "/err.txt");
    EXPECT_NE(err.find("Stopped by signal " + std::to_string(signal)), std::string::npos) << err;
    EXPECT_EQ(ReadFile(dir_ + "/out.hvf"), old) << "the previous target survives";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 2) << "no temporary file";
  }
}

TEST_F(E2e, ARunThatCanNeverFinishFailsNamingTheWaitingFilters) {
  REQUIRE_PLUGINS("outlet");
  // target2 reads from target1's input pin, which never holds a packet, and
  // target1 from target2's.
  WriteFile(dir_ + "/wait.gph", OutputStreams(2, dir_, {{1, 2, 2, 2}, {2, 2, 1, 2}}));
  const Outcome o = Vorlan({"--run", dir_ + "/wait.gph", "--quiet"});
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("The run cannot finish"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("\"target1\" waits for \"In\" (from \"target2\" pin \"In\")"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("\"target2\" waits for \"In\" (from \"target1\" pin \"In\")"), std::string::npos) << o.err;
}

TEST_F(E2e, TheMemoryLimitReachesThePlugInsDecoders) {
  REQUIRE_PLUGINS("intake", "unsqueeze");
  // A valid 14-byte Huffman stream of 2^22 equal values: one entry, value 1
  // (1 bit), frequency 2^22 (23 bits), no code bits. 16 MiB decoded.
  std::vector<uint8_t> stream;
  PutInt32(stream, 1 << 22);
  PutInt32(stream, 1);
  stream.insert(stream.end(), {1, 1, 23, 0x01, 0x00, 0x80});
  WriteFile(dir_ + "/constant.huf", stream);
  WriteFile(dir_ + "/decode.gph", GraphFile({{10, 1, "source", PathSettings(dir_ + "/constant.huf")},
                                             {200, 2, "huffman", {}}},
                                            {{1, 2, 2, 2}}));
  Outcome o = Vorlan({"--run", dir_ + "/decode.gph", "--quiet"});
  EXPECT_EQ(o.exit, 0) << o.err;
  o = Vorlan({"--run", dir_ + "/decode.gph", "--quiet", "--memory-limit", "1M"});
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("Error on filter : huffman"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("Huffman decoder: the decoded array would take 16777216 bytes, over the memory limit of "
                       "1048576 bytes"),
            std::string::npos)
      << o.err;
  o = Vorlan({"--run", dir_ + "/decode.gph", "--memory-limit", "lots"});
  EXPECT_EQ(o.exit, 2);
  EXPECT_NE(o.err.find("--memory-limit"), std::string::npos) << o.err;
}

// The crafted inputs of the fuzz corpora, each a few bytes claiming
// gigabytes, through the example graphs at the default limit: refused
// before anything is allocated, and no target is written.
TEST_F(E2e, CraftedBombsAreRefusedAtTheDefaultLimit) {
  REQUIRE_PLUGINS("intake", "outlet", "deserializer", "unsqueeze", "hvunpack", "attractor", "dibwriter", "picread");
  const std::string corpus = std::string(VORLAN_SOURCE_DIR) + "/fuzz/";
  const std::string examples = std::string(VORLAN_SOURCE_DIR) + "/examples/";
  const std::string camera = vorlan::test::SharedDataPath("camera.bmp");
  const std::vector<std::string> decoded = {"--path", "target=" + dir_ + "/out.bmp", "--path", "original=" + camera};
  const std::vector<std::string> converted = {"--path", "bmp=" + dir_ + "/out.bmp", "--path", "png=" + dir_ + "/out.png"};
  struct Case {
    const char* graph;
    std::string source;
    const std::vector<std::string>& paths;
    const char* reason;
  };
  const Case cases[] = {
      {"decompress_huffman.gph", corpus + "deserializer/corpus/huffman_bomb_container", decoded,
       "Huffman decoder: the decoded array would take 1073741824 bytes decoded from 15 bytes of input"},
      {"decompress.gph", corpus + "hvpack/corpus/claims_11585x11585_one_range", decoded,
       "an output of 11585 x 11585 pixels is more than the largest picture of 64 megapixels"},
      {"convert.gph", corpus + "picture/corpus/flat_8192x8192.png", converted, "Image decoder: the picture would take"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--run", examples + c.graph, "--quiet", "--path", "source=" + c.source};
    args.insert(args.end(), c.paths.begin(), c.paths.end());
    const Outcome o = Vorlan(args);
    EXPECT_EQ(o.exit, 1) << c.graph << ": " << o.err;
    EXPECT_NE(o.err.find(c.reason), std::string::npos) << c.graph << ": " << o.err;
    EXPECT_FALSE(fs::exists(dir_ + "/out.bmp")) << c.graph;
  }
}

TEST_F(E2e, SnapshotsThatCannotBeWrittenFailTheRun) {
  REQUIRE_PLUGINS("intake", "picread", "luma", "canvas", "slate");
  WriteFile(dir_ + "/file", {1});
  const Outcome o = Vorlan({"--run", std::string(VORLAN_SOURCE_DIR) + "/examples/view.gph", "--quiet", "--path",
                            "source=" + vorlan::test::SharedDataPath("astronaut.bmp"), "--snapshots",
                            dir_ + "/file/shots"});
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("cannot create the snapshot folder " + dir_ + "/file/shots"), std::string::npos) << o.err;
}

TEST_F(E2e, TextDisplaysReportWhatTheyReceived) {
  REQUIRE_PLUGINS("intake", "picread", "luma", "gauge", "readout");
  const Outcome o = Vorlan({"--run", std::string(VORLAN_SOURCE_DIR) + "/examples/psnr.gph", "--quiet", "--path",
                            "source=" + vorlan::test::SharedDataPath("astronaut.bmp")});
  ASSERT_EQ(o.exit, 0) << o.err;
  EXPECT_NE(o.out.find("self PSNR\t-1.000000\tFloat\n"), std::string::npos) << o.out;
}

}  // namespace

namespace {

// The shipped copy example reads the picture beside itself and writes where
// the caller stands (its target's folder field), so it works from a folder
// the user cannot write to; --path names are the caller's too.
TEST_F(E2e, ExampleReadsBesideItselfAndWritesWhereTheCallerStands) {
  if (!Have("intake") || !Have("outlet")) GTEST_SKIP() << "file stream plug-ins not built";
  const std::string graphs = TempDir("e2e_examples");
  const std::string work = TempDir("e2e_work");
  for (const char* name : {"copy.gph", "input.bmp"})
    fs::copy_file(std::string(VORLAN_SOURCE_DIR) + "/examples/" + name, graphs + "/" + name,
                  fs::copy_options::overwrite_existing);
  fs::remove_all(graphs + "/copy.bmp");
  fs::remove_all(work + "/copy.bmp");
  fs::remove(work + "/mine.bmp");
  // A folder of the target's name beside the graph: the runner's own
  // run-start check must look where the write goes, not there.
  fs::create_directories(graphs + "/copy.bmp");
  const std::vector<uint8_t> picture = ReadFile(graphs + "/input.bmp");
  ASSERT_FALSE(picture.empty());

  Outcome o = VorlanIn(work, {"--run", graphs + "/copy.gph", "--quiet"});
  EXPECT_EQ(o.exit, 0) << o.err;
  EXPECT_EQ(ReadFile(work + "/copy.bmp"), picture);
  EXPECT_TRUE(fs::is_directory(graphs + "/copy.bmp"));

  // The run-start check of the target looks where the write goes.
  fs::remove(work + "/copy.bmp");
  fs::create_directories(work + "/copy.bmp");
  o = VorlanIn(work, {"--run", graphs + "/copy.gph", "--quiet"});
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("Error on filter : target"), std::string::npos) << o.err;

  o = VorlanIn(work, {"--run", graphs + "/copy.gph", "--quiet", "--path", "target=mine.bmp"});
  EXPECT_EQ(o.exit, 0) << o.err;
  EXPECT_EQ(ReadFile(work + "/mine.bmp"), picture);
  EXPECT_FALSE(fs::exists(graphs + "/mine.bmp"));
}

}  // namespace
