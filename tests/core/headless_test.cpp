// The headless runner over an in-process library of stand-in filters that
// carry the display and file-stream filter ids.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/graph_file.h"
#include "core_fixture.h"
#include "headless/display_report.h"
#include "headless/command_line.h"
#include "headless/headless_runner.h"
#include "headless/progress_printer.h"
#include "vorlan/filter_base.h"

namespace vorlan::host::test {
namespace {

// Publishes a 2 x 2 plane 0, 0.5 / 1, NaN with range 0..1 on "P".
class PlaneSource final : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Plane source", 1, 0, 9500};
  PlaneSource() : FilterBase(kInfo) { out_ = AddNewPin("P", PinKind::Output); }

 protected:
  Result Work() override {
    plane_ = Plane{2, 2, 0.0, 1.0, 32, samples_};
    Publish(out_, MakePacket(sizeof(Plane), PacketType::Plane, &plane_));
    return Ok;
  }

 private:
  Pin* out_;
  double samples_[4] = {0.0, 0.5, 1.0, std::nan("")};
  Plane plane_{};
};

// Publishes an Integer -5, a Float 28.13 and a String "a\tb".
class ValueSource final : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Value source", 1, 0, 9501};
  ValueSource() : FilterBase(kInfo) {
    AddNewPin("I", PinKind::Output);
    AddNewPin("F", PinKind::Output);
    AddNewPin("S", PinKind::Output);
  }

 protected:
  Result Work() override {
    Publish(pins[2], MakePacket(4, PacketType::Integer, &i_));
    Publish(pins[3], MakePacket(8, PacketType::Float, &f_));
    Publish(pins[4], MakePacket(4, PacketType::String, s_));
    return Ok;
  }

 private:
  int32_t i_ = -5;
  double f_ = 28.13;
  char s_[4] = "a\tb";
};

// Stand-ins for the display filters: their pins, and a Work that accepts
// whatever arrived (or nothing).
template <int32_t Id, int Inputs>
class FakeDisplay final : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{Id == 30 ? "RGB display" : Id == 60 ? "Mono display" : "Text display", 1, 0, Id};
  FakeDisplay() : FilterBase(kInfo) {
    const char* names[3] = {Inputs == 3 ? "R" : "In", "G", "B"};
    for (int i = 0; i < Inputs; ++i) AddNewPin(names[i], PinKind::Input);
  }

 protected:
  Result Work() override {
    for (int32_t i = 2; i < pinCount; ++i) {
      if (ReadInput(pins[i]) == InputNotReady) return InputNotReady;
    }
    return Ok;
  }
};

// A file stream stand-in (id 10) with its one text setting.
class FakeStream final : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"File Input Stream", 1, 0, 10};
  FakeStream() : FilterBase(kInfo) { AddNewPin("Out", PinKind::Output); }
  Result ApplyConfig(Packet packet, ConfigForm form) override {
    if (form != ConfigForm::Serialized) return Ok;
    ConfigReader in(packet);
    std::optional<std::string> p;
    if (!in.Text(p)) return Fail("malformed settings");
    path = p;
    return Ok;
  }
  Packet GetConfig(ConfigForm) override {
    ConfigWriter out;
    out.Text(path);
    return out.ToPacket();
  }
  std::optional<std::string> path;

 protected:
  Result Work() override { return path ? Ok : Fail("no path"); }
};

using Rgb = FakeDisplay<30, 3>;
using Mono = FakeDisplay<60, 1>;
using Text = FakeDisplay<70, 1>;

FilterLibraryInfo LibInfo() { return {"Stand-in Library", 1, 0, 6}; }
FilterInfo Info(int32_t i) {
  switch (i) {
    case 0: return PlaneSource::kInfo;
    case 1: return ValueSource::kInfo;
    case 2: return Rgb::kInfo;
    case 3: return Mono::kInfo;
    case 4: return Text::kInfo;
    case 5: return FakeStream::kInfo;
    default: return {"", 0, 0, 0};
  }
}
Filter* Create(int32_t i) {
  switch (i) {
    case 0: return new PlaneSource();
    case 1: return new ValueSource();
    case 2: return new Rgb();
    case 3: return new Mono();
    case 4: return new Text();
    case 5: return new FakeStream();
    default: return nullptr;
  }
}
void Destroy(Filter* f, int32_t i) {
  if (f == nullptr) return;
  switch (i) {
    case 0: delete static_cast<PlaneSource*>(f); break;
    case 1: delete static_cast<ValueSource*>(f); break;
    case 2: delete static_cast<Rgb*>(f); break;
    case 3: delete static_cast<Mono*>(f); break;
    case 4: delete static_cast<Text*>(f); break;
    case 5: delete static_cast<FakeStream*>(f); break;
    default: break;
  }
}
const char* Reason(Filter* f) { return static_cast<FilterBase*>(f)->FailureReason(); }
void Release(Packet p) { std::free(p.data); }

const Registry& StandIns() {
  static const Registry* registry = [] {
    auto* r = new Registry();
    r->AddLibrary("standins.so", nullptr, LibraryEntryPoints{LibInfo, Info, Create, Destroy, Reason, Release});
    return r;
  }();
  return *registry;
}

std::string Slurp(std::FILE* f) {
  std::rewind(f);
  std::string s;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
  return s;
}

TEST(DisplayReport, SampleConversion) {
  EXPECT_EQ(SampleToByte(0.0, 0.0, 1.0), 0);
  EXPECT_EQ(SampleToByte(0.5, 0.0, 1.0), 127);
  EXPECT_EQ(SampleToByte(1.0, 0.0, 1.0), 255);
  EXPECT_EQ(SampleToByte(-3.0, 0.0, 1.0), 0);
  EXPECT_EQ(SampleToByte(7.0, 0.0, 1.0), 255);
  EXPECT_EQ(SampleToByte(std::nan(""), 0.0, 1.0), 0);
  EXPECT_EQ(SampleToByte(200.0, 0.0, 255.0), 200);
  EXPECT_EQ(SampleToByte(5.0, 5.0, 5.0), 0);  // no range
  EXPECT_EQ(SampleToByte(INFINITY, 0.0, 1.0), 255);
}

TEST(DisplayReport, ValuesAsTheTextDisplayShowsThem) {
  std::string v, t;
  int32_t i = -5;
  ASSERT_TRUE(FormatDisplayValue(MakePacket(4, PacketType::Integer, &i), v, t));
  EXPECT_EQ(v, "-5");
  EXPECT_EQ(t, "Integer");
  double d = 28.13;
  ASSERT_TRUE(FormatDisplayValue(MakePacket(8, PacketType::Float, &d), v, t));
  EXPECT_EQ(v, "28.130000");
  EXPECT_EQ(t, "Float");
  d = 1e300;
  ASSERT_TRUE(FormatDisplayValue(MakePacket(8, PacketType::Float, &d), v, t));
  EXPECT_EQ(v.size(), 308u);
  char s[] = "abc";
  ASSERT_TRUE(FormatDisplayValue(MakePacket(3, PacketType::String, s), v, t));
  EXPECT_EQ(v, "abc");
  EXPECT_EQ(t, "String");
  EXPECT_FALSE(FormatDisplayValue(MakePacket(4, PacketType::Plane, s), v, t));
}

TEST(DisplayReport, SnapshotNamesStayInsideTheFolder) {
  EXPECT_EQ(SafeFileName("../../etc/passwd"), ".._.._etc_passwd");
  EXPECT_EQ(SafeFileName("R G\xC3\xA9"), "R_G__");
  EXPECT_EQ(SafeFileName(std::string(100, 'x')).size(), 64u);
}

class Headless : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(StandIns().PrototypeCount(), 6);
    dir_ = vorlan::test::TempDir("headless");
    out_ = std::tmpfile();
    err_ = std::tmpfile();
  }
  void TearDown() override {
    std::fclose(out_);
    std::fclose(err_);
  }
  FilterNode& Add(int32_t filterId, const std::string& caption) {
    FilterNode& n = AddNode(doc_, filterId);
    doc_.SetCaption(n, caption);
    return n;
  }
  int Run(RunOptions options) {
    std::string error;
    EXPECT_TRUE(SaveGraphFile(doc_, dir_ + "/g.gph", error)) << error;
    options.graph = dir_ + "/g.gph";
    options.quiet = true;
    return RunGraph(StandIns(), options, out_, err_);
  }

  FixedTextMeasure measure_;
  GraphDocument doc_{StandIns(), measure_};
  std::string dir_;
  std::FILE* out_ = nullptr;
  std::FILE* err_ = nullptr;
};

TEST_F(Headless, TextDisplaysArePrintedAfterADoneRun) {
  FilterNode& values = Add(9501, "values");
  FilterNode& a = Add(70, "int");
  FilterNode& b = Add(70, "real");
  FilterNode& c = Add(70, "tab\there");
  Add(70, "unconnected");
  doc_.InsertEdge(values.nodeId, 2, a.nodeId, 2);
  doc_.InsertEdge(values.nodeId, 3, b.nodeId, 2);
  doc_.InsertEdge(values.nodeId, 4, c.nodeId, 2);
  EXPECT_EQ(Run({}), kExitDone) << Slurp(err_);
  EXPECT_EQ(Slurp(out_),
            "int\t-5\tInteger\n"
            "real\t28.130000\tFloat\n"
            "tab\\there\ta\\tb\tString\n"
            "unconnected\t\t\n");
}

TEST_F(Headless, SnapshotsOfRgbAndMonoDisplays) {
  FilterNode& src = Add(9500, "planes");
  FilterNode& rgb = Add(30, "../colour");
  FilterNode& mono = Add(60, "grey");
  Add(60, "empty");
  doc_.InsertEdge(src.nodeId, 2, rgb.nodeId, 3);  // only G is connected
  doc_.InsertEdge(src.nodeId, 2, mono.nodeId, 2);
  RunOptions options;
  options.snapshots = dir_ + "/shots";
  ASSERT_EQ(Run(options), kExitDone) << Slurp(err_);

  QImage colour(QString::fromStdString(dir_ + "/shots/2-.._colour.png"));
  ASSERT_FALSE(colour.isNull());
  ASSERT_EQ(colour.size(), QSize(2, 2));
  EXPECT_EQ(colour.pixel(1, 0), qRgb(0, 127, 0));
  EXPECT_EQ(colour.pixel(0, 1), qRgb(0, 255, 0));
  EXPECT_EQ(colour.pixel(1, 1), qRgb(0, 0, 0));  // NaN
  QImage grey(QString::fromStdString(dir_ + "/shots/3-grey.png"));
  ASSERT_FALSE(grey.isNull());
  EXPECT_EQ(grey.pixel(0, 1), qRgb(255, 255, 255));
  // The display that received nothing is reported, not written.
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/shots/4-empty.png"));
  EXPECT_NE(Slurp(err_).find("display \"empty\""), std::string::npos);
}

TEST_F(Headless, SnapshotsThatCannotBeWrittenFailTheRun) {
  FilterNode& src = Add(9500, "planes");
  FilterNode& mono = Add(60, "grey");
  doc_.InsertEdge(src.nodeId, 2, mono.nodeId, 2);
  RunOptions options;
  std::filesystem::create_directories(dir_ + "/shots/2-grey.png");  // a folder where the file goes
  options.snapshots = dir_ + "/shots";
  EXPECT_EQ(Run(options), kExitFailed);
  EXPECT_NE(Slurp(err_).find("display \"grey\" (node 2): cannot write " + dir_ + "/shots/2-grey.png"),
            std::string::npos)
      << Slurp(err_);
}

TEST_F(Headless, PathsAreSetByCaption) {
  FilterNode& s = Add(10, "source");
  RunOptions options;
  options.paths.emplace_back("source", "/tmp/a.bin");
  EXPECT_EQ(Run(options), kExitDone) << Slurp(err_);

  std::string error;
  // A relative name on the command line is the caller's: taken from the
  // current folder, not from the graph's.
  doc_.folder = "/somewhere/else";
  EXPECT_TRUE(SetStreamPath(doc_, "source", "b.bin", error)) << error;
  EXPECT_EQ(static_cast<FakeStream*>(static_cast<FilterBase*>(s.filter))->path,
            (std::filesystem::current_path() / "b.bin").string());
  EXPECT_TRUE(SetStreamPath(doc_, "source", "/tmp/b.bin", error)) << error;
  EXPECT_EQ(static_cast<FakeStream*>(static_cast<FilterBase*>(s.filter))->path, "/tmp/b.bin");
  EXPECT_FALSE(SetStreamPath(doc_, "target", "c.bin", error));
  EXPECT_NE(error.find("target"), std::string::npos);
  Add(70, "display");
  EXPECT_FALSE(SetStreamPath(doc_, "display", "c.bin", error)) << "only file streams take paths";

  options.paths = {{"nobody", "x"}};
  EXPECT_EQ(Run(options), kExitBadGraph);
}

TEST_F(Headless, FailuresAndBadGraphs) {
  Add(10, "source");  // no path: fails
  EXPECT_EQ(Run({}), kExitFailed);
  EXPECT_NE(Slurp(err_).find("Error on filter : source\nno path"), std::string::npos);

  RunOptions options;
  options.graph = dir_ + "/missing.gph";
  EXPECT_EQ(RunGraph(StandIns(), options, out_, err_), kExitBadGraph);
  EXPECT_NE(Slurp(err_).find("Failed to load graph."), std::string::npos);

  // A folder given as the graph says so (it used to read as "too large").
  options.graph = dir_;
  EXPECT_EQ(RunGraph(StandIns(), options, out_, err_), kExitBadGraph);
  EXPECT_NE(Slurp(err_).find(dir_ + " is a folder, not a graph file"), std::string::npos) << Slurp(err_);
}

TEST(HeadlessOptions, Parsing) {
  RunOptions o;
  std::string error;
  const char* args[] = {"g.gph", "--path", "source=a=b", "--snapshots", "out", "--quiet"};
  ASSERT_TRUE(ParseRunOptions(6, const_cast<char**>(args), o, error)) << error;
  EXPECT_EQ(o.graph, "g.gph");
  ASSERT_EQ(o.paths.size(), 1u);
  EXPECT_EQ(o.paths[0].first, "source");
  EXPECT_EQ(o.paths[0].second, "a=b");
  EXPECT_EQ(o.snapshots, "out");
  EXPECT_TRUE(o.quiet);
  const char* limit[] = {"g.gph", "--memory-limit", "512M"};
  RunOptions limited;
  ASSERT_TRUE(ParseRunOptions(3, const_cast<char**>(limit), limited, error)) << error;
  EXPECT_EQ(limited.memoryLimit, int64_t{512} << 20);
  int64_t bytes = 0;
  EXPECT_TRUE(ParseByteCount("1048576", bytes));
  EXPECT_EQ(bytes, 1048576);
  EXPECT_TRUE(ParseByteCount("2G", bytes));
  EXPECT_EQ(bytes, int64_t{2} << 30);
  EXPECT_TRUE(ParseByteCount("64kB", bytes));
  EXPECT_EQ(bytes, 65536);
  for (const char* text : {"", "0", "-1", "1T", "1.5G", "G", "99999999999999999999", "2000000G"}) {
    EXPECT_FALSE(ParseByteCount(text, bytes)) << text;
  }
  for (std::vector<const char*> bad : {std::vector<const char*>{}, {"g", "--path"}, {"g", "--path", "=x"},
                                       {"g", "h"}, {"g", "--bogus"}, {"g", "--memory-limit", "x"}}) {
    RunOptions r;
    EXPECT_FALSE(ParseRunOptions(static_cast<int>(bad.size()), const_cast<char**>(bad.data()), r, error));
  }
}

TEST(HeadlessOptions, CommandLineModes) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"vorlan", "--filters", "a", "--filters=b", "g.gph"}, line, error)) << error;
  EXPECT_EQ(line.mode, CommandLine::Mode::Editor);
  EXPECT_EQ(line.graph, "g.gph");
  EXPECT_EQ(line.filterFolders, (std::vector<std::string>{"a", "b"}));

  ASSERT_TRUE(ParseCommandLine({"vorlan", "--filters", "x", "--run", "g.gph", "--path=c=d"}, line, error)) << error;
  EXPECT_EQ(line.mode, CommandLine::Mode::Run);
  EXPECT_EQ(line.run.graph, "g.gph");
  EXPECT_EQ(line.run.filterFolders, (std::vector<std::string>{"x"}));
  ASSERT_EQ(line.run.paths.size(), 1u);
  EXPECT_EQ(line.run.paths[0], std::make_pair(std::string("c"), std::string("d")));

  // "--" ends the options: a graph whose name starts with a dash.
  ASSERT_TRUE(ParseCommandLine({"vorlan", "--run", "--", "-odd.gph"}, line, error)) << error;
  EXPECT_EQ(line.run.graph, "-odd.gph");

  ASSERT_TRUE(ParseCommandLine({"vorlan"}, line, error));
  EXPECT_EQ(line.mode, CommandLine::Mode::Editor);
  EXPECT_EQ(line.graph, "");
  ASSERT_TRUE(ParseCommandLine({"vorlan", "--list", "--filters", "f"}, line, error));
  EXPECT_EQ(line.mode, CommandLine::Mode::List);
  // Help wins over everything else on the line, as Qt programs do it.
  ASSERT_TRUE(ParseCommandLine({"vorlan", "--run", "--help"}, line, error));
  EXPECT_EQ(line.mode, CommandLine::Mode::Help);

  EXPECT_FALSE(ParseCommandLine({"vorlan", "--filters="}, line, error));
  EXPECT_EQ(error, "--filters needs a folder");
}

TEST(HeadlessProgress, DurationFormat) {
  EXPECT_EQ(FormatHms(0), "00:00:00");
  EXPECT_EQ(FormatHms(3725.9), "01:02:05");
  EXPECT_EQ(FormatHms(-4), "00:00:00");
  EXPECT_EQ(FormatHms(NAN), "00:00:00");
}

TEST(HeadlessList, PrototypeLines) {
  std::FILE* out = std::tmpfile();
  ListPrototypes(StandIns(), out);
  const std::string text = Slurp(out);
  std::fclose(out);
  EXPECT_EQ(text.rfind("Plane source 1.0 [9500]\tStand-in Library 1.0 (standins.so)\n", 0), 0u) << text;
  EXPECT_NE(text.find("Loaded 1 Libraries with 6 Filter prototypes.\n"), std::string::npos);
}

}  // namespace
}  // namespace vorlan::host::test
