// Settings by name as a user meets them: `--inspect`, `--set`, graphs as
// text through `--convert` and `--run`, and the run report.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "e2e_support.h"

namespace {

using namespace vorlan::e2e;
using Json = nlohmann::json;

const std::string kExamples = std::string(VORLAN_SOURCE_DIR) + "/examples";
const std::string kCompress = kExamples + "/compress.gph";

Json ReadJson(const std::string& path) {
  const std::string text = Slurp(path);
  Json parsed = Json::parse(text, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << path << ":\n" << text;
  return parsed;
}

const Json* NodeNamed(const Json& report, const std::string& caption) {
  for (const Json& n : report["nodes"]) {
    if (n["caption"] == caption) return &n;
  }
  ADD_FAILURE() << "no node " << caption << " in the report";
  return nullptr;
}

TEST_F(E2e, InspectNamesPinsAndSettingsAndAgreesWithItsJson) {
  REQUIRE_PLUGINS("collage");
  Outcome o = Vorlan({"--inspect"});
  ASSERT_EQ(o.exit, 0) << o.err;
  EXPECT_NE(o.out.find("  130  HV encoder"), std::string::npos) << o.out;

  // By name, id or library, the same page.
  o = Vorlan({"--inspect", "hv ENCODER"});
  ASSERT_EQ(o.exit, 0) << o.err;
  EXPECT_EQ(Vorlan({"--inspect", "130"}).out, o.out);
  EXPECT_EQ(Vorlan({"--inspect", "collage"}).out, o.out);
  for (const char* piece : {"HV encoder (id 130, version 1.0)", "collage.so", "  2  In ", "12  RTT", "maxRanges",
                            "least_error", "1 ... 64"}) {
    EXPECT_NE(o.out.find(piece), std::string::npos) << piece << "\n" << o.out;
  }
  EXPECT_LE(std::count(o.out.begin(), o.out.end(), '\n'), 50) << "fits one screen";

  o = Vorlan({"--inspect", "130", "--json"});
  ASSERT_EQ(o.exit, 0) << o.err;
  const Json encoder = Json::parse(o.out);
  EXPECT_EQ(encoder["id"], 130);
  EXPECT_EQ(encoder["pins"].size(), 13u);
  ASSERT_EQ(encoder["settings"].size(), 22u);
  EXPECT_EQ(encoder["settings"][3]["identifier"], "maxRanges");
  EXPECT_EQ(encoder["settings"][3]["minimum"], 1);
  EXPECT_EQ(encoder["settings"][0]["choices"][2]["label"], "Least error");

  o = Vorlan({"--inspect", "--json"});
  ASSERT_EQ(o.exit, 0) << o.err;
  const Json all = Json::parse(o.out);
  bool found = false;
  for (const Json& f : all["filters"]) found = found || f == encoder;
  EXPECT_TRUE(found) << "the full listing holds the same description";

  o = Vorlan({"--inspect", "no such filter"});
  EXPECT_EQ(o.exit, 2);
  EXPECT_NE(o.err.find("130  HV encoder"), std::string::npos) << o.err;
}

TEST_F(E2e, SetChangesOneRunAndRefusesWhatIsNotValid) {
  REQUIRE_PLUGINS("intake", "picread", "luma", "collage", "hvpack", "outlet");
  const std::vector<uint8_t> graphBefore = ReadFile(kCompress);
  const std::string small = dir_ + "/small.hvc", large = dir_ + "/large.hvc";
  Outcome o = Vorlan({"--run", kCompress, "--quiet", "--path", "target=" + small, "--set", "encoder.maxRanges=40",
                      "--set", "encoder.threadCount=1"});
  ASSERT_EQ(o.exit, 0) << o.err;
  o = Vorlan({"--run", kCompress, "--quiet", "--path", "target=" + large, "--set", "encoder.maxRanges=400", "--set",
              "encoder.mode=2", "--set", "encoder.threadCount=1"});
  ASSERT_EQ(o.exit, 0) << o.err;
  EXPECT_LT(fs::file_size(small) * 3, fs::file_size(large)) << "ten times the ranges, a larger code";
  EXPECT_EQ(ReadFile(kCompress), graphBefore) << "the graph file is not changed";

  struct Refusal {
    std::string set;
    std::string says;
  };
  const std::vector<Refusal> refusals = {
      {"coder.maxRanges=5", "the captions are: \"source\""},
      {"encoder.maxrange=5", "its settings are: mode, maxError"},
      {"encoder.maxRanges=many", "not a whole number"},
      {"encoder.maxRanges=0", "at least 1"},
      {"encoder.mode=sizes", "0 = fidelity, 1 = size, 2 = least_error"},
      {"encoder.threadCount=65", "1 ... 64"},
      {"encoder.maxScale=nan", "decimal number"},
      {"encoder.minRangeFactor=4", "must not be below \"minRangeFactor\""},  // the filter's own check of the pair
      {"encoder=5", "CAPTION.FIELD=VALUE"},
  };
  for (const Refusal& r : refusals) {
    o = Vorlan({"--run", kCompress, "--quiet", "--path", "target=" + dir_ + "/never.hvc", "--set", r.set});
    EXPECT_EQ(o.exit, 2) << r.set << ": " << o.err;
    EXPECT_NE(o.err.find(r.says), std::string::npos) << r.set << ": " << o.err;
    EXPECT_FALSE(fs::exists(dir_ + "/never.hvc")) << r.set;
  }
}

TEST_F(E2e, TheReportRecordsDoneFailedStoppedAndUnloadedRuns) {
  REQUIRE_PLUGINS("intake", "picread", "luma", "collage", "hvpack", "outlet", "squeeze", "serializer");
  const std::string report = dir_ + "/report.json", target = dir_ + "/out.hvc";
  Outcome o = Vorlan({"--run", kCompress, "--quiet", "--path", "target=" + target, "--set", "encoder.maxRanges=200",
                      "--report", report});
  ASSERT_EQ(o.exit, 0) << o.err;
  Json r = ReadJson(report);
  EXPECT_EQ(r["format"], "vorlan-run-report");
  EXPECT_EQ(r["exitCode"], 0);
  EXPECT_EQ(r["outcome"], "Done");
  EXPECT_EQ(r["overrides"]["settings"][0], "encoder.maxRanges=200");
  EXPECT_EQ(r["nodes"].size(), 6u);
  if (const Json* encoder = NodeNamed(r, "encoder")) {
    EXPECT_EQ((*encoder)["state"], "Done");
    EXPECT_GT((*encoder)["processorSeconds"].get<double>(), 0.0);
    EXPECT_EQ((*encoder)["outputs"][0]["pin"], "HDR");
    EXPECT_EQ((*encoder)["outputs"][1]["count"], 200) << "SI holds one index per range";
  }
  if (const Json* packer = NodeNamed(r, "packer")) {
    EXPECT_EQ((*packer)["outputs"][0]["bytes"], fs::file_size(target));
  }
  if (const Json* out = NodeNamed(r, "target")) {
    EXPECT_EQ((*out)["files"][0]["role"], "written");
    EXPECT_EQ((*out)["files"][0]["bytes"], fs::file_size(target));
  }
  // Every packet published is of a type its pin says it carries.
  const Json listing = Json::parse(Vorlan({"--inspect", "--json"}).out);
  for (const Json& node : r["nodes"]) {
    const Json* filter = nullptr;
    for (const Json& f : listing["filters"]) {
      if (f["name"] == node["filter"]) filter = &f;
    }
    ASSERT_NE(filter, nullptr) << node["filter"];
    for (const Json& output : node["outputs"]) {
      const Json& types = (*filter)["pins"][output["index"].get<size_t>()]["types"];
      EXPECT_NE(std::find(types.begin(), types.end(), output["type"]), types.end())
          << node["caption"] << "." << output["pin"] << " published " << output["type"] << ", says " << types;
    }
  }

  // A filter that fails: the run's message and the node's reason.
  o = Vorlan({"--run", kCompress, "--quiet", "--path", "source=" + dir_ + "/missing.bmp", "--path",
              "target=" + target, "--report", report});
  EXPECT_EQ(o.exit, 1);
  r = ReadJson(report);
  EXPECT_EQ(r["exitCode"], 1);
  EXPECT_NE(r["outcome"].get<std::string>().find("Error on filter : source"), std::string::npos) << r["outcome"];
  if (const Json* source = NodeNamed(r, "source")) {
    EXPECT_EQ((*source)["state"], "Stopped");
    EXPECT_EQ((*source)["result"], "Failed");
    EXPECT_NE((*source)["failure"], "");
  }
  if (const Json* encoder = NodeNamed(r, "encoder")) {
    EXPECT_EQ((*encoder)["result"], "not run");
  }

  // A graph that does not load, and a run stopped by a signal.
  o = Vorlan({"--run", dir_ + "/absent.gph", "--report", report});
  EXPECT_EQ(o.exit, 2);
  r = ReadJson(report);
  EXPECT_EQ(r["exitCode"], 2);
  EXPECT_TRUE(r["nodes"].empty());
  EXPECT_EQ(SignalDuringCompression(dir_, SIGINT, {"--report", report}), 130);
  r = ReadJson(report);
  EXPECT_EQ(r["exitCode"], 130);
  EXPECT_EQ(r["outcome"], "Stopped by signal 2.");

  // A report that could not be written is known before any work.
  o = Vorlan({"--run", kCompress, "--quiet", "--path", "target=" + target, "--report", dir_ + "/no/such/r.json"});
  EXPECT_EQ(o.exit, 2);
  EXPECT_NE(o.err.find("--report"), std::string::npos) << o.err;
}

TEST_F(E2e, GraphsAsTextConvertBackExactlyAndRun) {
  REQUIRE_PLUGINS("intake", "picread", "luma", "collage", "hvpack", "outlet");
  for (const auto& entry : fs::directory_iterator(kExamples)) {
    if (entry.path().extension() != ".gph") continue;
    SCOPED_TRACE(entry.path().string());
    const std::string text = dir_ + "/g.vgraph.json", back = dir_ + "/g.gph";
    ASSERT_EQ(Vorlan({"--convert", entry.path().string(), text}).exit, 0);
    ASSERT_EQ(Json::parse(Slurp(text))["format"], "vorlan-graph");
    ASSERT_EQ(Vorlan({"--convert", text, back}).exit, 0);
    EXPECT_EQ(ReadFile(back), ReadFile(entry.path().string()));
  }

  // The text form runs like the graph file, whatever its name.
  const std::string text = dir_ + "/compress.txt";
  ASSERT_EQ(Vorlan({"--convert", kCompress, dir_ + "/compress.json"}).exit, 0);
  fs::rename(dir_ + "/compress.json", text);
  ASSERT_EQ(Vorlan({"--run", kCompress, "--quiet", "--path", "target=" + dir_ + "/a.hvc", "--set",
                    "encoder.threadCount=1"}).exit, 0);
  const Outcome o = Vorlan({"--run", text, "--quiet", "--path", "source=" + kExamples + "/input.bmp", "--path",
                            "target=" + dir_ + "/b.hvc", "--set", "encoder.threadCount=1"});
  ASSERT_EQ(o.exit, 0) << o.err;
  EXPECT_EQ(ReadFile(dir_ + "/a.hvc"), ReadFile(dir_ + "/b.hvc"));

  // Damaged text is refused with where it is damaged; OUT stays as it was.
  std::string damaged = Slurp(text);
  damaged.insert(damaged.find("\"nodes\""), "\"oops\" ");
  WriteFile(dir_ + "/damaged.json", std::vector<uint8_t>(damaged.begin(), damaged.end()));
  WriteFile(dir_ + "/kept.gph", {1, 2, 3});
  const Outcome bad = Vorlan({"--convert", dir_ + "/damaged.json", dir_ + "/kept.gph"});
  EXPECT_EQ(bad.exit, 2);
  EXPECT_NE(bad.err.find(", column "), std::string::npos) << bad.err;
  EXPECT_EQ(ReadFile(dir_ + "/kept.gph"), (std::vector<uint8_t>{1, 2, 3}));
  const Outcome run = Vorlan({"--run", dir_ + "/damaged.json"});
  EXPECT_EQ(run.exit, 2);
  EXPECT_NE(run.err.find("line "), std::string::npos) << run.err;
}

}  // namespace
