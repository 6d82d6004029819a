#include "fractal_decoder_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "synthetic_code.h"
#include "vorlan/config_stream.h"
#include "vorlan/memory_budget.h"

namespace vorlan::attractor {
namespace {

using test::CodeFeed;
using test::MakeSyntheticCode;
using test::SyntheticCode;

void Configure(FractalDecoderFilter& f, const FractalDecoderSettings& s) {
  ASSERT_EQ(f.ApplyConfig(MakePacket(sizeof s, PacketType::Config, const_cast<FractalDecoderSettings*>(&s)),
                          ConfigForm::Native),
            Ok);
}

const Plane& OutputPlane(FractalDecoderFilter& f) {
  return *static_cast<const Plane*>(f.pins[FractalDecoderFilter::kOutPin]->packet.data);
}

// One range covering the whole image, mapped from the whole image with
// scale 1/2: every pass halves the distance to the constant 2 x offset.
SyntheticCode HalvingCode() {
  SyntheticCode c;
  c.header = fractal::CodeHeader{16, 12, 0.0, 255.0, 1.0, 5, 256, 4, 4};
  c.si = {3};  // levels -1, -0.5, 0, 0.5, 1
  c.oi = {100};
  c.trn = {0};
  c.dp = {0, 0};
  c.df = {1, 1};
  c.rp = {0, 0};
  c.rs = {16, 12};
  return c;
}

TEST(FractalDecoderFilter, OnePassFromBlackGivesTheQuantisedOffsets) {
  test::SyntheticOptions o;
  const SyntheticCode code = MakeSyntheticCode(o);
  FractalDecoderFilter f;
  f.Initialize();
  ASSERT_EQ(f.pinCount, 13);
  EXPECT_STREQ(f.pins[FractalDecoderFilter::kRttPin]->name, "RTT");
  EXPECT_STREQ(f.pins[FractalDecoderFilter::kOutPin]->name, "Out");
  FractalDecoderSettings s;
  s.maxIterations = 1;
  s.postProcessing = 0;
  s.resolutionX = 2;
  s.resolutionY = 3;
  Configure(f, s);
  CodeFeed feed(code, CodeFeed::kRectangles);
  feed.ConnectTo(f);
  feed.PublishAll();
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  const Plane& out = OutputPlane(f);
  ASSERT_EQ(out.width, 2 * o.width);
  ASSERT_EQ(out.height, 3 * o.height);
  EXPECT_EQ(out.size, out.width * out.height * 8);
  EXPECT_EQ(out.min, 0.0);
  EXPECT_EQ(out.max, 255.0);

  // The offset quantiser of [0, 255] with maxScale 0.8 spans [-204, 459].
  const double step = (459.0 - -204.0) / (o.levels - 1);
  for (int32_t k = 0; k < code.RangeCount(); ++k) {
    double expected = 127.5;
    if (code.oi[k] >= 0) {
      expected = -204.0;
      for (int32_t i = 0; i < code.oi[k]; ++i) expected += step;
    }
    const int32_t x = code.rp[2 * k] * 2, y = code.rp[2 * k + 1] * 3;
    const int32_t w = code.rs[2 * k] * 2, h = code.rs[2 * k + 1] * 3;
    for (int32_t r = y; r < y + h; ++r) {
      for (int32_t c = x; c < x + w; ++c) {
        ASSERT_EQ(out.samples[r * out.width + c], expected) << "range " << k << " at " << c << "," << r;
      }
    }
  }
  EXPECT_EQ(f.PassCount(), 1);
  EXPECT_EQ(f.RangeOutlines().size(), static_cast<size_t>(code.RangeCount()));
}

// A code of a few bytes may claim any size: the output must fit the largest
// picture, and its images must be paid for by the code's arrays (times the
// graph's resolution factors) or fit the budget's shared pool; both are
// checked before any image is allocated.
TEST(FractalDecoderFilter, ClaimedSizesAreCheckedBeforeTheImagesAreAllocated) {
  const auto decode = [](const SyntheticCode& code, const FractalDecoderSettings& s, FractalDecoderFilter& f) {
    Configure(f, s);
    CodeFeed feed(code, CodeFeed::kRectangles);
    feed.ConnectTo(f);
    feed.PublishAll();
    const Result r = f.Process();
    return r == Ok ? std::string() : std::string(f.FailureReason()) + " (result " + std::to_string(r) + ")";
  };
  SyntheticCode bomb = HalvingCode();  // one range over the whole picture
  bomb.header.width = bomb.header.height = 11585;
  bomb.rs = {11585, 11585};
  FractalDecoderSettings s;
  s.maxIterations = 1;
  {
    FractalDecoderFilter f;
    EXPECT_NE(decode(bomb, s, f).find("an output of 11585 x 11585 pixels is more than the largest picture of 64 "
                                      "megapixels"),
              std::string::npos);
    EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 0);
  }
  s.maxMegapixels = 255;
  {
    FractalDecoderFilter f;
    const std::string reason = decode(bomb, s, f);
    EXPECT_NE(reason.find("the output and working images would take 2147395600 bytes decoded from 92 bytes of "
                          "input"),
              std::string::npos)
        << reason;
    EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 0);
  }
  // 2048 x 2048 from the same code fits the shared pool (64 of its 128 MiB).
  bomb.header.width = bomb.header.height = 2048;
  bomb.rs = {2048, 2048};
  {
    FractalDecoderFilter f;
    EXPECT_EQ(decode(bomb, s, f), "");
    EXPECT_EQ(OutputPlane(f).width, 2048);
    EXPECT_EQ(SharedUnbackedDecodedPool().used.load(), 2 * 2048 * 2048 * 8 - 92 * 1024);
  }
  EXPECT_EQ(SharedUnbackedDecodedPool().used.load(), 0) << "the filter returned its reservation";

  // A real code decoded 16 x 16 times larger under a 16 MiB limit (a pool
  // of 1 MiB): 12 MiB of images, paid for by 2 KiB of arrays times 256.
  SetDecodedMemoryLimit(16 << 20);
  const SyntheticCode code = MakeSyntheticCode({});
  s = {};
  s.maxIterations = 1;
  s.resolutionX = s.resolutionY = 16;
  {
    FractalDecoderFilter f;
    EXPECT_EQ(decode(code, s, f), "");
    EXPECT_EQ(SharedUnbackedDecodedPool().used.load(), 0);
  }
  SetDecodedMemoryLimit(kDefaultDecodedMemoryLimit);
}

TEST(FractalDecoderFilter, InputsFollowTheGeometryRule) {
  test::SyntheticOptions o;
  const SyntheticCode code = MakeSyntheticCode(o);
  FractalDecoderSettings s;
  s.maxIterations = 4;

  // Rectangles and tree decode to the same plane.
  FractalDecoderFilter byRects, byTree;
  Configure(byRects, s);
  Configure(byTree, s);
  CodeFeed rects(code, CodeFeed::kRectangles), tree(code, CodeFeed::kTree);
  rects.ConnectTo(byRects);
  tree.ConnectTo(byTree);
  EXPECT_EQ(byTree.Process(), InputNotReady);
  tree.PublishAll(FractalDecoderFilter::kSiPin);
  EXPECT_EQ(byTree.Process(), InputNotReady) << "SI not published yet";
  tree.PublishAll();
  rects.PublishAll();
  ASSERT_EQ(byRects.Process(), Ok) << byRects.FailureReason();
  ASSERT_EQ(byTree.Process(), Ok) << byTree.FailureReason();
  const Plane& a = OutputPlane(byRects);
  const Plane& b = OutputPlane(byTree);
  ASSERT_EQ(a.size, b.size);
  EXPECT_EQ(std::memcmp(a.samples, b.samples, a.size), 0);

  // Both geometries connected: the rectangles are awaited even when the
  // tree is ready.
  FractalDecoderFilter both;
  Configure(both, s);
  CodeFeed all(code, CodeFeed::kBoth);
  all.ConnectTo(both);
  all.PublishAll(FractalDecoderFilter::kRsPin);
  EXPECT_EQ(both.Process(), InputNotReady);

  // No geometry at all, or no header: a failure that says what is missing.
  FractalDecoderFilter none;
  CodeFeed transformsOnly(code, CodeFeed::kNoGeometry);
  transformsOnly.ConnectTo(none);
  transformsOnly.PublishAll();
  EXPECT_EQ(none.Process(), Failed);
  EXPECT_NE(std::string(none.FailureReason()).find("\"RTD\""), std::string::npos) << none.FailureReason();
  EXPECT_EQ(none.state, FilterState::Stopped);
  DisconnectPin(byRects.pins[FractalDecoderFilter::kHdrPin]);
  EXPECT_EQ(byRects.Process(), Failed);
  EXPECT_NE(std::string(byRects.FailureReason()).find("HDR"), std::string::npos);
  EXPECT_EQ(byRects.pins[FractalDecoderFilter::kOutPin]->ready, 0) << "no stale output after a failure";
}

TEST(FractalDecoderFilter, BadSettingsAndMalformedCodesFailTheRunWithAReason) {
  const SyntheticCode code = MakeSyntheticCode({});
  FractalDecoderFilter f;
  CodeFeed feed(code, CodeFeed::kTree);
  feed.ConnectTo(f);
  feed.PublishAll();
  const auto failure = [&](const FractalDecoderSettings& s) {
    Configure(f, s);
    const Result r = f.Process();
    return r == Failed ? std::string(f.FailureReason()) : "result " + std::to_string(r);
  };
  FractalDecoderSettings s;
  s.mode = 3;
  EXPECT_NE(failure(s).find("\"mode\""), std::string::npos);
  s = {};
  s.resolutionY = 0;
  EXPECT_NE(failure(s).find("\"resolutionY\""), std::string::npos);
  s = {};
  s.resolutionX = 50000;
  s.resolutionY = 50000;
  EXPECT_NE(failure(s).find("resolutionX 50000"), std::string::npos);

  SyntheticCode broken = code;
  broken.trn[0] = 9;
  FractalDecoderFilter g;
  CodeFeed bad(broken, CodeFeed::kTree);
  bad.ConnectTo(g);
  bad.PublishAll();
  EXPECT_EQ(g.Process(), Failed);
  EXPECT_NE(std::string(g.FailureReason()).find("isometry 9"), std::string::npos);
}

TEST(FractalDecoderFilter, ConvergenceModesStopWithinTheirTolerance) {
  const SyntheticCode code = HalvingCode();
  const double fixedPoint = 2 * [] {
    double level = -255.0;
    for (int i = 0; i < 100; ++i) level += 3.0;
    return level;
  }();
  struct Run {
    int32_t mode;
    float maxRmsError;
    float quality;
    double tolerance;
  };
  for (const Run& run : {Run{1, 0.5f, 0.95f, 0.5}, Run{2, 5.0f, 0.999f, (1.0 - 0.999f) * 255.0},
                         Run{1, 1000.0f, 0.95f, 1000.0}}) {
    FractalDecoderFilter f;
    FractalDecoderSettings s;
    s.mode = run.mode;
    s.maxRmsError = run.maxRmsError;
    s.quality = run.quality;
    s.postProcessing = 0;
    Configure(f, s);
    CodeFeed feed(code, CodeFeed::kRectangles);
    feed.ConnectTo(f);
    feed.PublishAll();
    ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
    EXPECT_GE(f.PassCount(), 2) << "at least two passes in mode " << run.mode;
    const Plane& out = OutputPlane(f);
    for (int32_t k = 0; k < out.width * out.height; ++k) {
      ASSERT_LE(std::fabs(out.samples[k] - fixedPoint), run.tolerance + 1e-9) << "mode " << run.mode;
    }
    EXPECT_LE(f.LastRms() * 2, run.tolerance);
  }

  // A rule that never holds ends at the pass limit, and the result says the
  // decoding did not converge.
  FractalDecoderFilter endless;
  FractalDecoderSettings s;
  s.mode = 1;
  s.maxRmsError = -1.0f;
  Configure(endless, s);
  CodeFeed feed(code, CodeFeed::kRectangles);
  feed.ConnectTo(endless);
  feed.PublishAll();
  ASSERT_EQ(endless.Process(), Failed);
  EXPECT_EQ(endless.PassCount(), FractalDecoderFilter::kMaxConvergencePasses);
  EXPECT_NE(std::string(endless.FailureReason()).find("did not converge within 1000 passes"), std::string::npos)
      << endless.FailureReason();
}

TEST(FractalDecoderFilter, ACodeThatCannotContractIsReportedAsNotConverging) {
  // Two ranges copying each other's pixels at scale +1 and -1 (factors
  // 1 x 1): the picture never settles on one attractor.
  SyntheticCode c;
  c.header = fractal::CodeHeader{16, 8, 0.0, 255.0, 1.0, 3, 256, 8, 8};
  c.si = {2, 0};  // levels -1, 0, 1 (the last one by repeated addition)
  c.oi = {100, 100};
  c.trn = {0, 0};
  c.dp = {1, 0, 0, 0};
  c.df = {1, 1, 1, 1};
  c.rp = {0, 0, 8, 0};
  c.rs = {8, 8, 8, 8};
  for (const int32_t mode : {0, 1}) {
    FractalDecoderFilter f;
    FractalDecoderSettings s;
    s.mode = mode;
    s.postProcessing = 0;
    Configure(f, s);
    CodeFeed feed(c, CodeFeed::kRectangles);
    feed.ConnectTo(f);
    feed.PublishAll();
    ASSERT_EQ(f.Process(), Failed) << "mode " << mode;
    const std::string reason = f.FailureReason();
    EXPECT_NE(reason.find("cannot contract, so its decoding does not converge: range 0"), std::string::npos) << reason;
  }
  // One pass is the offsets, defined for any code.
  {
    FractalDecoderFilter once;
    FractalDecoderSettings s;
    s.maxIterations = 1;
    Configure(once, s);
    CodeFeed feed(c, CodeFeed::kRectangles);
    feed.ConnectTo(once);
    feed.PublishAll();
    EXPECT_EQ(once.Process(), Ok) << once.FailureReason();
  }
  // A copy of a range that contracts (the second now maps the whole picture
  // at scale 0) settles with it.
  c.si[1] = 1;
  c.df = {1, 1, 2, 1};
  FractalDecoderFilter f;
  FractalDecoderSettings s;
  s.postProcessing = 0;
  Configure(f, s);
  CodeFeed feed(c, CodeFeed::kRectangles);
  feed.ConnectTo(f);
  feed.PublishAll();
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  EXPECT_DOUBLE_EQ(OutputPlane(f).samples[0], 2 * OutputPlane(f).samples[8]) << "offset plus the copied constant";
}

// Stops the run from the feedback hook of a given pass, which the decoder
// calls just before that pass writes anything.
class StoppingDecoder : public FractalDecoderFilter {
 public:
  int32_t stopAtPass = 2;
  std::vector<int32_t> framesSeen;
  bool shown = false;

 protected:
  bool FeedbackAvailable() const override { return true; }
  void FeedbackShow(bool) override { shown = true; }
  void FeedbackRefresh(const FeedbackFrame& frame) override {
    framesSeen.push_back(frame.pass);
    if (frame.pass == stopAtPass) Stop();
  }
};

TEST(FractalDecoderFilter, StopInsideAPassEndsTheRunStoppedWithoutOutput) {
  const SyntheticCode code = MakeSyntheticCode({});
  StoppingDecoder f;
  f.Initialize();
  CodeFeed feed(code, CodeFeed::kTree);
  feed.ConnectTo(f);
  feed.PublishAll();
  EXPECT_EQ(f.Process(), Stopped);
  EXPECT_EQ(f.state, FilterState::Stopped);
  EXPECT_EQ(f.PassCount(), 2);
  EXPECT_EQ(f.pins[FractalDecoderFilter::kOutPin]->ready, 0);
  EXPECT_TRUE(f.shown);
  EXPECT_EQ(f.framesSeen, (std::vector<int32_t>{0, 1, 2}));

  // Without feedback the hooks stay silent and the run completes.
  f.framesSeen.clear();
  FractalDecoderSettings s;
  s.feedback = 0;
  Configure(f, s);
  f.Reset();
  ASSERT_EQ(f.Process(), Ok);
  EXPECT_TRUE(f.framesSeen.empty());
  EXPECT_EQ(f.PassCount(), 20);
}

// The nine described fields, then the largest picture that older graphs lack.
TEST(FractalDecoderFilter, SettingsTravelAsRawFields) {
  FractalDecoderFilter f;
  FractalDecoderSettings s;
  s.mode = 2;
  s.maxRmsError = 1.25f;
  s.drawRanges = 0;
  s.maxMegapixels = 9;
  Configure(f, s);
  Packet p = f.GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(p.length, 40);
  const auto* bytes = static_cast<const uint8_t*>(p.data);
  EXPECT_EQ(bytes[0], 2);
  float rms;
  std::memcpy(&rms, bytes + 16, 4);
  EXPECT_EQ(rms, 1.25f);
  EXPECT_EQ(bytes[32], 0);
  EXPECT_EQ(bytes[36], 9);

  // A graph written before the limit existed keeps the default.
  FractalDecoderFilter older;
  ASSERT_EQ(older.ApplyConfig(MakePacket(36, PacketType::Config, p.data), ConfigForm::Serialized), Ok);
  EXPECT_EQ(older.Settings().mode, 2);
  EXPECT_EQ(older.Settings().drawRanges, 0);
  EXPECT_EQ(older.Settings().maxMegapixels, 64);

  // A short stream changes only the fields it holds.
  FractalDecoderFilter g;
  ConfigWriter w;
  w.Int32(1);
  w.Int32(4);
  Packet shortStream = w.ToPacket();
  ASSERT_EQ(g.ApplyConfig(shortStream, ConfigForm::Serialized), Ok);
  EXPECT_EQ(g.Settings().mode, 1);
  EXPECT_EQ(g.Settings().resolutionX, 4);
  EXPECT_EQ(g.Settings().resolutionY, 1);
  EXPECT_EQ(g.Settings().maxIterations, 20);
  EXPECT_EQ(g.ApplyConfig(p, ConfigForm::Serialized), Ok);
  EXPECT_EQ(g.Settings().maxRmsError, 1.25f);
  EXPECT_EQ(g.ApplyConfig(MakePacket(8, PacketType::Config, p.data), ConfigForm::Native), Failed)
      << "a Native record shorter than the settings";
  EXPECT_EQ(g.ApplyConfig(MakePacket(36, PacketType::Config, nullptr), ConfigForm::Serialized), Failed);
  std::free(p.data);
  std::free(shortStream.data);
}

}  // namespace
}  // namespace vorlan::attractor
