#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "encoder_test_support.h"
#include "vorlan/config_stream.h"

namespace vorlan::collage {
namespace {

using test::Code;

struct Encoder : FractalEncoderFilter {
  Encoder() { Initialize(); }
};

TEST(FractalEncoder, PinsSettingsAndDerivedBounds) {
  Encoder f;
  ASSERT_EQ(f.pinCount, 13);
  const char* names[] = {"Cfg in", "Cfg out", "In", "HDR", "SI", "OI", "TRN", "DP", "DF", "RP", "RS", "RTD", "RTT"};
  for (int k = 0; k < 13; ++k) EXPECT_STREQ(f.pins[k]->name, names[k]);
  EXPECT_EQ(f.pins[2]->kind, static_cast<int32_t>(PinKind::Input));
  EXPECT_EQ(f.pins[12]->kind, static_cast<int32_t>(PinKind::Output));
  EXPECT_EQ(f.info.id, 130);

  const DerivedBounds b = DeriveBounds(f.Settings(), 0.0, 255.0);
  EXPECT_EQ(b.tolerance, 30.0);
  EXPECT_EQ(b.scaleMin, -1.0);
  EXPECT_EQ(b.scaleMax, 1.0);
  EXPECT_EQ(b.offsetMin, -255.0);
  EXPECT_EQ(b.offsetMax, 510.0);
  FractalEncoderSettings q;
  q.errorMode = 1;
  EXPECT_NEAR(DeriveBounds(q, 0.0, 255.0).tolerance, 12.75, 1e-5);

  // Serialized: the twenty described words and the two trailing ones; a
  // short stream changes only its leading fields.
  Packet full = f.GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(full.length, 88);
  float maxError;
  std::memcpy(&maxError, static_cast<uint8_t*>(full.data) + 4, 4);
  EXPECT_EQ(maxError, 30.0f);
  FreePacket(full);
  ConfigWriter w;
  w.Int32(1);
  w.Float32(2.5f);
  w.Int32(1);
  Packet shortStream = w.ToPacket();
  ASSERT_EQ(f.ApplyConfig(shortStream, ConfigForm::Serialized), Ok);
  FreePacket(shortStream);
  EXPECT_EQ(f.Settings().mode, 1);
  EXPECT_EQ(f.Settings().maxError, 2.5f);
  EXPECT_EQ(f.Settings().maxDiffCheck, 1);
  EXPECT_EQ(f.Settings().maxRanges, 100);
  EXPECT_EQ(f.Settings().feedback, 1);

  FractalEncoderSettings native;
  native.stepX = 7;
  native.lambda = 5.0f;
  Packet n = NativeConfigPacket(&native, sizeof native);
  ASSERT_EQ(f.ApplyConfig(n, ConfigForm::Native), Ok);
  FreePacket(n);
  EXPECT_EQ(f.Settings().stepX, 7);
  EXPECT_EQ(f.Settings().lambda, 5.0f);
  // A record from before the trailing fields still applies and leaves them.
  native.stepX = 9;
  native.lambda = 12.0f;
  ASSERT_EQ(f.ApplyConfig(MakePacket(80, PacketType::Config, &native), ConfigForm::Native), Ok);
  EXPECT_EQ(f.Settings().stepX, 9);
  EXPECT_EQ(f.Settings().lambda, 5.0f);
  EXPECT_EQ(f.ApplyConfig(MakePacket(8, PacketType::Config, &native), ConfigForm::Native), Failed)
      << "a record shorter than 80 bytes is refused";
  EXPECT_EQ(f.ApplyConfig(MakePacket(0, PacketType::Config, nullptr), ConfigForm::Serialized), Failed);
}

TEST(FractalEncoder, InputAndSettingsFailures) {
  Encoder f;
  EXPECT_EQ(f.Process(), Failed) << "nothing connected to In";
  EXPECT_EQ(f.state, FilterState::Stopped);

  vorlan::test::FakeOutput source;
  vorlan::test::Connect(f, kInPin, source.pin());
  EXPECT_EQ(f.Process(), InputNotReady);
  EXPECT_EQ(f.Process(), InputNotReady);
  EXPECT_EQ(f.state, FilterState::Running);
  DisconnectPin(f.pins[kInPin]);

  EXPECT_EQ(test::Encode(f, std::vector<double>(64, 1.0), 8, 8, 5.0, 5.0), Failed) << "lo = hi";
  EXPECT_EQ(test::Encode(f, std::vector<double>(64, NAN), 8, 8, 0.0, 1.0), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("finite"), std::string::npos);

  struct Bad {
    void (*apply)(FractalEncoderSettings&);
    const char* named;
  } cases[] = {
      {[](FractalEncoderSettings& s) { s.mode = 4; }, "mode"},
      {[](FractalEncoderSettings& s) { s.lambda = -1.0f; }, "lambda"},
      {[](FractalEncoderSettings& s) { s.maxRate = INFINITY; }, "maxRate"},
      {[](FractalEncoderSettings& s) { s.coverMode = -1; }, "coverMode"},
      {[](FractalEncoderSettings& s) { s.threadCount = 0; }, "threadCount"},
      {[](FractalEncoderSettings& s) { s.threadCount = 65; }, "threadCount"},
      {[](FractalEncoderSettings& s) { s.minRangeFactor = 4; }, "maxRangeFactor"},
      {[](FractalEncoderSettings& s) { s.minRangeFactor = 1; }, "\"minRangeFactor\" must be at least 2: with factor 1 "
                                                               "a domain is no larger than its range, so the code "
                                                               "cannot contract"},
      {[](FractalEncoderSettings& s) { s.stepY = 0; }, "stepY"},
      {[](FractalEncoderSettings& s) { s.scaleLevels = 1; }, "scaleLevels"},
      {[](FractalEncoderSettings& s) { s.maxScale = NAN; }, "maxScale"},
      {[](FractalEncoderSettings& s) { s.minRangeSize = 0; }, "minRangeSize"},
  };
  for (const Bad& bad : cases) {
    Encoder g;
    FractalEncoderSettings s;
    bad.apply(s);
    Packet p = NativeConfigPacket(&s, sizeof s);
    g.ApplyConfig(p, ConfigForm::Native);
    FreePacket(p);
    EXPECT_EQ(test::Encode(g, test::Pattern(16, 16), 16, 16, 0, 255), Failed) << bad.named;
    EXPECT_NE(std::string(g.FailureReason()).find(bad.named), std::string::npos) << g.FailureReason();
  }
}

void Apply(FractalEncoderFilter& f, const FractalEncoderSettings& s) {
  Packet p = NativeConfigPacket(&s, sizeof s);
  f.ApplyConfig(p, ConfigForm::Native);
  FreePacket(p);
}

TEST(FractalEncoder, CoverInToleranceTakesTheFirstEvaluatedCandidate) {
  // A flat 64 x 64 image, factor 1: neither the root nor its 64 x 32 halves
  // have a fitting domain, so each half is cut by columns inside Request.
  // The left quarter made current there skips its first candidate (0, 0,
  // unturned) and takes the second (turned); its sibling, made current by
  // the accepting Submit, takes its first. All in orientation (0, 0).
  // (The filter refuses factor 1 since such codes cannot contract; the
  // search itself still walks it.)
  FractalEncoderSettings s;
  s.maxError = 1e9f;
  s.minRangeFactor = s.maxRangeFactor = 1;
  s.stepX = s.stepY = 8;
  s.feedback = 0;
  const Code c = test::SearchCode(s, std::vector<double>(64 * 64, 40.0), 64, 64, 0, 255);
  EXPECT_EQ(test::ValidateCode(c), "");
  EXPECT_EQ(c.TRN(), (std::vector<int32_t>{1, 0, 1, 0}));
  EXPECT_EQ(c.DP(), std::vector<int32_t>(8, 0));
  EXPECT_EQ(c.RP(), (std::vector<int32_t>{0, 0, 32, 0, 0, 32, 32, 32}));
  EXPECT_EQ(c.RS(), std::vector<int32_t>(8, 32));
  // Pre-order: root rows at 32, top columns at 32, two leaves, bottom
  // columns at 32, two leaves (trailing zeros dropped).
  EXPECT_EQ(c.RTD(), (std::vector<int32_t>{32, 32, 0, 0, 32}));
  EXPECT_EQ(c.RTT(), (std::vector<int32_t>{0, 1, 1}));
  EXPECT_EQ(c.header.width, 64);
  EXPECT_EQ(c.header.stepX, 8);
  EXPECT_EQ(c.header.maxScale, 1.0);
  EXPECT_EQ(c.header.scaleLevels, 256);
}

TEST(FractalEncoder, SizeModeAndRangeLimits) {
  Encoder f;
  FractalEncoderSettings s;
  s.mode = 1;
  s.maxRanges = 1;
  Apply(f, s);
  ASSERT_EQ(test::Encode(f, test::Pattern(48, 48), 48, 48, 0, 255), Ok);
  Code c = test::ReadCode(f);
  EXPECT_EQ(c.SI(), std::vector<int32_t>{-1}) << "the root never has a fitting domain";
  EXPECT_EQ(c.OI(), std::vector<int32_t>{-1});
  EXPECT_EQ(c.TRN(), std::vector<int32_t>{0});
  EXPECT_EQ(c.DP(), (std::vector<int32_t>{0, 0}));
  EXPECT_TRUE(c.RTD().empty());
  EXPECT_TRUE(c.RTT().empty());

  s.maxRanges = 40;
  s.stepX = s.stepY = 4;
  Apply(f, s);
  ASSERT_EQ(test::Encode(f, test::Pattern(96, 64), 96, 64, 0, 255), Ok);
  c = test::ReadCode(f);
  EXPECT_EQ(test::ValidateCode(c), "");
  EXPECT_EQ(c.SI().size(), 40u);

  // Ranges above maxRangeSize are cut without search.
  s.mode = 0;
  s.maxRangeSize = 12;
  s.maxError = 1.0f;
  Apply(f, s);
  ASSERT_EQ(test::Encode(f, test::Pattern(64, 64), 64, 64, 0, 255), Ok);
  c = test::ReadCode(f);
  EXPECT_EQ(test::ValidateCode(c), "");
  for (size_t k = 0; k < c.RS().size(); ++k) EXPECT_LE(c.RS()[k], 12);
}

TEST(FractalEncoder, OneWorkerIsDeterministicAndTheCodeDecodes) {
  FractalEncoderSettings s;
  s.stepX = s.stepY = 8;
  s.maxError = 8.0f;
  s.maxDiffCheck = 1;
  Encoder f;
  Apply(f, s);
  vorlan::test::ProgressRecorder progress;
  progress.Attach(f);
  const auto image = test::Pattern(128, 96);
  ASSERT_EQ(test::Encode(f, image, 128, 96, 0, 255), Ok) << f.FailureReason();
  EXPECT_EQ(f.state, FilterState::Done);
  ASSERT_FALSE(progress.Values().empty());
  EXPECT_EQ(progress.Values().back(), 1.0f);
  for (size_t k = 1; k < progress.Values().size(); ++k) EXPECT_GE(progress.Values()[k], progress.Values()[k - 1]);
  const Code first = test::ReadCode(f);
  EXPECT_EQ(test::ValidateCode(first), "");
  EXPECT_GT(first.SI().size(), 4u);
  ASSERT_EQ(f.pins[1]->ready, 1) << "settings republished on Cfg out";

  Encoder g;
  Apply(g, s);
  ASSERT_EQ(test::Encode(g, image, 128, 96, 0, 255), Ok);
  EXPECT_TRUE(test::ReadCode(g) == first) << "one worker gives the same code every time";

  const double psnr = test::Psnr(test::Decode(first, 12), image, 255);
  EXPECT_GT(psnr, 28.0);

  // A new run replaces the code; Reset withdraws it.
  f.Reset();
  EXPECT_EQ(f.pins[kHeaderPin]->ready, 0);
  EXPECT_EQ(f.pins[kFirstArrayPin]->ready, 0);
}

TEST(FractalEncoder, TwoWorkersGiveAValidCodeOfTheSameQuality) {
  // camera.bmp at the settings of the example compression graph.
  const int n = 512;
  const auto image = test::Camera(n, n);
  FractalEncoderSettings s;
  s.errorMode = 1;
  s.quality = 0.96f;
  s.stepX = s.stepY = 16;
  s.minRangeFactor = s.maxRangeFactor = 2;
  s.scaleLevels = 32;
  s.offsetLevels = 128;
  s.feedback = 0;
  Encoder one;
  Apply(one, s);
  ASSERT_EQ(test::Encode(one, image, n, n, 0, 1), Ok) << one.FailureReason();
  const Code single = test::ReadCode(one);
  ASSERT_EQ(test::ValidateCode(single), "");
  const double singlePsnr = test::Psnr(test::Decode(single, 12), image, 1.0);

  s.threadCount = 2;
  Encoder two;
  Apply(two, s);
  ASSERT_EQ(test::Encode(two, image, n, n, 0, 1), Ok) << two.FailureReason();
  const Code multi = test::ReadCode(two);
  ASSERT_EQ(test::ValidateCode(multi), "");
  const double multiPsnr = test::Psnr(test::Decode(multi, 12), image, 1.0);
  EXPECT_GT(multiPsnr, singlePsnr - 0.5) << "single " << singlePsnr << " dB";
  std::printf("camera.bmp: 1 worker %zu ranges %.2f dB, 2 workers %zu ranges %.2f dB\n", single.SI().size(),
              singlePsnr, multi.SI().size(), multiPsnr);
}

TEST(FractalEncoder, StopEndsTheSearchPromptly) {
  // Best cover searches ranges whole, both workers on one range's scan; a
  // stop in the middle of a long scan must end both.
  const int n = 256;
  const auto image = test::Camera(n, n);
  FractalEncoderSettings s;
  s.errorMode = 1;
  s.quality = 0.999f;
  s.coverMode = 0;
  s.stepX = s.stepY = 1;
  s.threadCount = 2;
  Encoder f;
  Apply(f, s);

  f.Stop();
  EXPECT_EQ(test::Encode(f, image, n, n, 0, 1), Stopped) << "a stop before the run";
  f.Reset();

  Result result = Ok;
  std::thread runner([&] { result = test::Encode(f, image, n, n, 0, 1); });
  // Wait until the search runs (the machine may be busy).
  SearchSnapshot snap;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!f.Snapshot(snap) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(f.Snapshot(snap));
  EXPECT_EQ(snap.width, n);
  EXPECT_EQ(snap.domains.size(), 2u);
  const auto asked = std::chrono::steady_clock::now();
  f.Stop();
  runner.join();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
  EXPECT_EQ(result, Stopped);
  EXPECT_EQ(f.state, FilterState::Stopped);
  EXPECT_EQ(f.pins[kHeaderPin]->ready, 0);
  EXPECT_FALSE(f.Snapshot(snap)) << "run structures are gone";

  // The filter runs again after a Reset.
  f.Reset();
  s.quality = 0.9f;
  s.stepX = s.stepY = 32;
  Apply(f, s);
  EXPECT_EQ(test::Encode(f, image, n, n, 0, 1), Ok);
}

}  // namespace
}  // namespace vorlan::collage
