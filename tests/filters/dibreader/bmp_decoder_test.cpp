#include "bmp_decoder_filter.h"

#include <gtest/gtest.h>

#include <climits>

#include "bmp_test_files.h"
#include "support/filter_harness.h"
#include "vorlan/memory_budget.h"

namespace vorlan {
namespace {

using test::MakeBmp;
using test::Rgb;

Rgb Pattern(int x, int y) {
  return Rgb{static_cast<uint8_t>(10 * x + y), static_cast<uint8_t>(100 + x), static_cast<uint8_t>(200 + y)};
}

struct Decoding {
  BmpDecoderFilter decoder;
  test::FakeOutput source;
  std::vector<uint8_t> bytes;

  explicit Decoding(std::vector<uint8_t> file) : bytes(std::move(file)) {
    decoder.Initialize();
    test::Connect(decoder, BmpDecoderFilter::kInPin, source.pin());
    source.Publish(MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Bytes, bytes.data()));
  }
};

void ExpectPattern(const BmpDecoderFilter& d, int width, int height) {
  for (const Plane* p : {&d.RPlane(), &d.GPlane(), &d.BPlane()}) {
    ASSERT_EQ(p->width, width);
    ASSERT_EQ(p->height, height);
    EXPECT_EQ(p->min, 0.0);
    EXPECT_EQ(p->max, 255.0);
    EXPECT_EQ(p->size, width * height * 8);
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgb c = Pattern(x, y);
      const int i = y * width + x;
      EXPECT_EQ(d.RPlane().samples[i], c.r) << "x " << x << " y " << y;
      EXPECT_EQ(d.GPlane().samples[i], c.g) << "x " << x << " y " << y;
      EXPECT_EQ(d.BPlane().samples[i], c.b) << "x " << x << " y " << y;
    }
  }
}

TEST(BmpDecoder, ThreeByTwoBottomUpWithPadding) {
  auto file = MakeBmp(3, 2, Pattern);
  ASSERT_EQ(file.size(), 54u + 2 * 12) << "stride 12: 9 bytes of pixels, 3 of padding";
  // The first stored row is the bottom of the picture.
  EXPECT_EQ(file[54 + 2], Pattern(0, 1).r);
  Decoding run(file);
  test::ProgressRecorder progress;
  progress.Attach(run.decoder);
  ASSERT_EQ(run.decoder.Process(), Ok) << run.decoder.FailureReason();
  EXPECT_EQ(run.decoder.state, FilterState::Done);
  ExpectPattern(run.decoder, 3, 2);
  for (int pin = 3; pin <= 5; ++pin) {
    const Packet& out = test::Output(run.decoder, pin);
    EXPECT_EQ(out.type, static_cast<int32_t>(PacketType::Plane));
    EXPECT_EQ(out.length, static_cast<int32_t>(sizeof(Plane)));
  }
  EXPECT_EQ(test::Output(run.decoder, 3).data, &run.decoder.RPlane());
  EXPECT_EQ(progress.Values(), (std::vector<float>{0.0f, 0.0f, 0.5f, 1.0f}));
}

TEST(BmpDecoder, TopDownGivesTheSamePlanesAsBottomUp) {
  for (const int width : {1, 4, 5, 7}) {
    Decoding up(MakeBmp(width, 3, Pattern));
    Decoding down(MakeBmp(width, -3, Pattern));
    ASSERT_EQ(up.decoder.Process(), Ok);
    ASSERT_EQ(down.decoder.Process(), Ok);
    ExpectPattern(up.decoder, width, 3);
    ExpectPattern(down.decoder, width, 3);
  }
}

TEST(BmpDecoder, PixelOffsetAndUnpaddedLastRowAreHonoured) {
  // Pixel data after a gap, and the final row's padding missing: only the
  // bytes actually read have to be present.
  auto file = MakeBmp(5, 2, Pattern, 80);
  file.resize(file.size() - 1);
  Decoding run(file);
  ASSERT_EQ(run.decoder.Process(), Ok) << run.decoder.FailureReason();
  ExpectPattern(run.decoder, 5, 2);
}

TEST(BmpDecoder, RejectsMalformedFilesWithAReason) {
  const auto good = MakeBmp(4, 3, Pattern);
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> spoil;
  };
  const Case cases[] = {
      {"signature", [](auto& f) { f[1] = 'A'; }},
      {"32 bits per pixel", [](auto& f) { f[28] = 32; }},
      {"8 bits per pixel", [](auto& f) { f[28] = 8; }},
      {"RLE compression", [](auto& f) { test::PutInt32(f, 30, 1); }},
      {"shorter than the header", [](auto& f) { f.resize(53); }},
      {"empty input", [](auto& f) { f.clear(); }},
      {"truncated rows", [](auto& f) { f.resize(f.size() - 13); }},
      {"pixel offset past the end", [](auto& f) { test::PutInt32(f, 10, 1 << 30); }},
      {"negative pixel offset", [](auto& f) { test::PutInt32(f, 10, -54); }},
      {"zero width", [](auto& f) { test::PutInt32(f, 18, 0); }},
      {"negative width", [](auto& f) { test::PutInt32(f, 18, -4); }},
      {"zero height", [](auto& f) { test::PutInt32(f, 22, 0); }},
      {"huge width", [](auto& f) { test::PutInt32(f, 18, INT_MAX); }},
      {"most negative height", [](auto& f) { test::PutInt32(f, 22, INT_MIN); }},
      {"rows times stride beyond 64 bits", [](auto& f) {
         test::PutInt32(f, 18, 0x70000000);
         test::PutInt32(f, 22, -0x70000000);
       }},
      {"huge both", [](auto& f) {
         test::PutInt32(f, 18, 0x10000);
         test::PutInt32(f, 22, 0x10000);
       }},
  };
  for (const Case& c : cases) {
    auto file = good;
    c.spoil(file);
    Decoding run(file);
    EXPECT_EQ(run.decoder.Process(), Failed) << c.what;
    EXPECT_EQ(run.decoder.state, FilterState::Stopped) << c.what;
    EXPECT_STRNE(run.decoder.FailureReason(), "") << c.what;
    for (int pin = 3; pin <= 5; ++pin) EXPECT_EQ(run.decoder.pins[pin]->ready, 0) << c.what;
    EXPECT_EQ(run.decoder.RPlane().samples, nullptr) << c.what;
  }
}

TEST(BmpDecoder, InputStatesAndRepeatedRuns) {
  BmpDecoderFilter d;
  d.Initialize();
  EXPECT_EQ(d.Process(), Failed) << "not connected";
  EXPECT_NE(std::string(d.FailureReason()).find("In"), std::string::npos);

  test::FakeOutput source;
  test::Connect(d, BmpDecoderFilter::kInPin, source.pin());
  d.Reset();
  EXPECT_EQ(d.Process(), InputNotReady);
  EXPECT_EQ(d.pins[3]->ready, 0);

  auto small = MakeBmp(2, 2, Pattern);
  source.Publish(MakePacket(static_cast<int32_t>(small.size()), PacketType::Bytes, small.data()));
  ASSERT_EQ(d.Process(), Ok);
  // A second run without Reset replaces the planes; the record stays put.
  auto large = MakeBmp(6, 5, Pattern);
  source.Publish(MakePacket(static_cast<int32_t>(large.size()), PacketType::Bytes, large.data()));
  ASSERT_EQ(d.Process(), Ok);
  ExpectPattern(d, 6, 5);
  EXPECT_EQ(test::Output(d, 4).data, &d.GPlane());

  d.Reset();
  EXPECT_EQ(d.pins[3]->ready, 0);
  EXPECT_EQ(d.RPlane().samples, nullptr);
  EXPECT_EQ(d.RPlane().width, 0);
}

TEST(BmpDecoder, ThePlanesComeOutOfTheRunsBudget) {
  const auto file = MakeBmp(6, 5, Pattern);
  SetDecodedMemoryLimit(3 * 6 * 5 * 8 - 1);
  {
    Decoding run(file);
    EXPECT_EQ(run.decoder.Process(), Failed);
    EXPECT_NE(std::string(run.decoder.FailureReason()).find("Bmp decoder: three planes would take 720 bytes, over "
                                                            "the memory limit of 719 bytes"),
              std::string::npos)
        << run.decoder.FailureReason();
    EXPECT_EQ(run.decoder.RPlane().samples, nullptr);
  }
  SetDecodedMemoryLimit(3 * 6 * 5 * 8);
  {
    Decoding run(file);
    ASSERT_EQ(run.decoder.Process(), Ok) << run.decoder.FailureReason();
    EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 720);
  }
  EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 0);
  SetDecodedMemoryLimit(kDefaultDecodedMemoryLimit);
}

BmpDecoderFilter* stopTarget = nullptr;
int stopCountdown = 0;
void StopAfterSomeReports(float) {
  if (--stopCountdown == 0) stopTarget->Stop();
}

TEST(BmpDecoder, StopBetweenRowsReleasesThePlanes) {
  Decoding run(MakeBmp(3, 8, Pattern));
  stopTarget = &run.decoder;
  stopCountdown = 3;  // 0.0 at the start, then after rows 0 and 1
  run.decoder.progress = &StopAfterSomeReports;
  EXPECT_EQ(run.decoder.Process(), Stopped);
  EXPECT_EQ(run.decoder.state, FilterState::Stopped);
  EXPECT_EQ(run.decoder.pins[3]->ready, 0);
  EXPECT_EQ(run.decoder.RPlane().samples, nullptr);
  // The next run starts afresh.
  run.decoder.progress = nullptr;
  run.decoder.Reset();
  EXPECT_EQ(run.decoder.Process(), Ok);
  ExpectPattern(run.decoder, 3, 8);
}

}  // namespace
}  // namespace vorlan
