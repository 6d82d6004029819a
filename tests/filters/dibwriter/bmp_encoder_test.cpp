#include "bmp_encoder_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "bmp_decoder_filter.h"
#include "bmp_test_files.h"
#include "support/filter_harness.h"

namespace vorlan {
namespace {

int32_t Int32At(const uint8_t* p) {
  return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

struct Encoding {
  BmpEncoderFilter encoder;
  test::FakeOutput r, g, b;
  Encoding() {
    encoder.Initialize();
    test::Connect(encoder, BmpEncoderFilter::kRPin, r.pin());
    test::Connect(encoder, BmpEncoderFilter::kGPin, g.pin());
    test::Connect(encoder, BmpEncoderFilter::kBPin, b.pin());
  }
  void Feed(test::TestPlane& pr, test::TestPlane& pg, test::TestPlane& pb) {
    r.Publish(pr.AsPacket());
    g.Publish(pg.AsPacket());
    b.Publish(pb.AsPacket());
  }
  std::vector<uint8_t> Bytes() {
    const Packet& out = test::Output(encoder, BmpEncoderFilter::kOutPin);
    const auto* p = static_cast<const uint8_t*>(out.data);
    return std::vector<uint8_t>(p, p + out.length);
  }
};

void ExpectHeader(const std::vector<uint8_t>& f, int32_t width, int32_t height, int32_t stride) {
  ASSERT_GE(f.size(), 54u);
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(Int32At(&f[2]), 54 + height * stride);
  EXPECT_EQ(Int32At(&f[6]), 0) << "reserved";
  EXPECT_EQ(Int32At(&f[10]), 54);
  EXPECT_EQ(Int32At(&f[14]), 40);
  EXPECT_EQ(Int32At(&f[18]), width);
  EXPECT_EQ(Int32At(&f[22]), height);
  EXPECT_EQ(f[26] | f[27] << 8, 1);
  EXPECT_EQ(f[28] | f[29] << 8, 24);
  EXPECT_EQ(Int32At(&f[30]), 0);
  EXPECT_EQ(Int32At(&f[34]), 0) << "image size";
  EXPECT_EQ(Int32At(&f[38]), 1000);
  EXPECT_EQ(Int32At(&f[42]), 1000);
  EXPECT_EQ(Int32At(&f[46]), 0);
  EXPECT_EQ(Int32At(&f[50]), 0);
}

TEST(BmpEncoder, ThreeByTwoIsBottomUpWithZeroPadding) {
  // R counts 1..6, G = 10 x R, B = 255 - R; the top row is y = 0.
  test::TestPlane r(3, 2, 0, 255, {1, 2, 3, 4, 5, 6});
  test::TestPlane g(3, 2, 0, 255, {10, 20, 30, 40, 50, 60});
  test::TestPlane b(3, 2, 0, 255, {254, 253, 252, 251, 250, 249});
  Encoding e;
  e.Feed(r, g, b);
  ASSERT_EQ(e.encoder.Process(), Ok) << e.encoder.FailureReason();
  EXPECT_EQ(test::Output(e.encoder, 2).type, static_cast<int32_t>(PacketType::Bytes));
  const auto f = e.Bytes();
  ASSERT_EQ(f.size(), 54u + 2 * 12);
  ExpectHeader(f, 3, 2, 12);
  const std::vector<uint8_t> pixels(f.begin() + 54, f.end());
  const std::vector<uint8_t> expected = {
      251, 40, 4, 250, 50, 5, 249, 60, 6, 0, 0, 0,  // bottom row first
      254, 10, 1, 253, 20, 2, 252, 30, 3, 0, 0, 0,
  };
  EXPECT_EQ(pixels, expected);
}

TEST(BmpEncoder, WidthFiveHasStrideSixteen) {
  test::TestPlane p(5, 1, 0, 255, {1, 2, 3, 4, 5});
  Encoding e;
  e.Feed(p, p, p);
  ASSERT_EQ(e.encoder.Process(), Ok);
  const auto f = e.Bytes();
  EXPECT_EQ(f.size(), 70u);
  ExpectHeader(f, 5, 1, 16);
  EXPECT_EQ(f[54 + 14], 5);
  EXPECT_EQ(f[54 + 15], 0);
}

TEST(BmpEncoder, ScalesTheDeclaredRangeOntoBytes) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  test::TestPlane unit(8, 1, 0, 1, {0.5, 1.2, -0.1, 1.0, 0.0, nan, inf, -inf});
  test::TestPlane shifted(8, 1, -1, 1, {0, -1, 1, 0.999, -0.999, 2, -2, -1e300});
  test::TestPlane inverted(8, 1, 255, 0, {0, 255, 100, 128, 1, 254, 300, -1});
  Encoding e;
  e.Feed(unit, shifted, inverted);
  ASSERT_EQ(e.encoder.Process(), Ok) << e.encoder.FailureReason();
  const auto f = e.Bytes();
  std::vector<uint8_t> red, green, blue;
  for (int j = 0; j < 8; ++j) {
    blue.push_back(f[54 + 3 * j]);
    green.push_back(f[54 + 3 * j + 1]);
    red.push_back(f[54 + 3 * j + 2]);
  }
  EXPECT_EQ(red, (std::vector<uint8_t>{128, 255, 0, 255, 0, 0, 255, 0})) << "NaN writes 0, infinities clamp";
  EXPECT_EQ(green, (std::vector<uint8_t>{128, 0, 255, 255, 0, 255, 0, 0}));
  EXPECT_EQ(blue, (std::vector<uint8_t>{255, 0, 155, 127, 254, 1, 0, 255}));
}

// Samples a hair below and exactly at half a level: the byte is the nearest
// level, halves going up, so a written picture is not darker than its plane.
TEST(BmpEncoder, RoundsToTheNearestLevel) {
  const std::vector<double> samples = {0.4999, 0.5, 99.4999, 99.5, 99.9999, 127.5, 254.4999, 254.5};
  const std::vector<uint8_t> expected = {0, 1, 99, 100, 100, 128, 254, 255};
  test::TestPlane p(8, 1, 0, 255, samples);
  // The same levels from another declared range: [0, 510] maps x onto x / 2.
  std::vector<double> shifted;
  for (const double v : samples) shifted.push_back(2 * v);
  test::TestPlane q(8, 1, 0, 510, shifted);
  Encoding e;
  e.Feed(p, q, p);
  ASSERT_EQ(e.encoder.Process(), Ok) << e.encoder.FailureReason();
  const auto f = e.Bytes();
  for (int j = 0; j < 8; ++j) {
    EXPECT_EQ(f[54 + 3 * j], expected[j]) << "sample " << samples[j];
    EXPECT_EQ(f[54 + 3 * j + 1], expected[j]) << "sample " << shifted[j] << " of [0, 510]";
  }
}

TEST(BmpEncoder, RefusesUnusablePlanesWithAReason) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    int w2, h2;
    double min2, max2;
  };
  const Case cases[] = {
      {"min equals max", 2, 2, 5, 5},     {"other width", 3, 2, 0, 255},       {"other height", 2, 1, 0, 255},
      {"infinite max", 2, 2, 0, inf},     {"NaN min", 2, 2, std::nan(""), 1},  {"empty", 0, 0, 0, 255},
      {"range overflows", 2, 2, -1.7e308, 1.7e308},
  };
  test::TestPlane good(2, 2, 0, 255, {1, 2, 3, 4});
  for (const Case& c : cases) {
    test::TestPlane odd(c.w2, c.h2, c.min2, c.max2);
    Encoding e;
    e.Feed(good, odd, good);
    EXPECT_EQ(e.encoder.Process(), Failed) << c.what;
    EXPECT_EQ(e.encoder.state, FilterState::Stopped) << c.what;
    EXPECT_STRNE(e.encoder.FailureReason(), "") << c.what;
    EXPECT_EQ(e.encoder.pins[2]->ready, 0) << c.what;
  }
  // All three empty: the size itself is refused.
  test::TestPlane empty(0, 0, 0, 255);
  Encoding e;
  e.Feed(empty, empty, empty);
  EXPECT_EQ(e.encoder.Process(), Failed);

  // A packet that is not a plane.
  Encoding bytes;
  uint8_t raw[40] = {};
  bytes.r.Publish(MakePacket(40, PacketType::Bytes, raw));
  bytes.g.Publish(good.AsPacket());
  bytes.b.Publish(good.AsPacket());
  EXPECT_EQ(bytes.encoder.Process(), Failed);
  EXPECT_NE(std::string(bytes.encoder.FailureReason()).find("\"R\""), std::string::npos);
}

TEST(BmpEncoder, ReadsBThenGThenR) {
  test::TestPlane p(1, 1, 0, 255, {7});
  Encoding e;
  e.r.Publish(p.AsPacket());
  e.g.Publish(p.AsPacket());
  EXPECT_EQ(e.encoder.Process(), InputNotReady) << "B not yet published";
  EXPECT_EQ(e.encoder.state, FilterState::Running);
  e.b.Publish(p.AsPacket());
  EXPECT_EQ(e.encoder.Process(), Ok);
}

BmpEncoderFilter* stopTarget = nullptr;
int stopCountdown = 0;
void StopAfterSomeReports(float) {
  if (--stopCountdown == 0) stopTarget->Stop();
}

TEST(BmpEncoder, StopBetweenRowsPublishesNothing) {
  test::TestPlane p(4, 4, 0, 1, std::vector<double>(16, 0.5));
  Encoding e;
  e.Feed(p, p, p);
  stopTarget = &e.encoder;
  stopCountdown = 6;  // inside the second plane
  e.encoder.progress = &StopAfterSomeReports;
  EXPECT_EQ(e.encoder.Process(), Stopped);
  EXPECT_EQ(e.encoder.pins[2]->ready, 0);
  e.encoder.progress = nullptr;
  e.encoder.Reset();
  EXPECT_EQ(e.encoder.Process(), Ok);
}

// Decoding a real picture and encoding it again gives back its pixel bytes.
void RoundTrip(const std::string& name) {
  const auto file = test::ReadFile(test::SharedDataPath(name));
  ASSERT_GE(file.size(), 54u) << name;
  BmpDecoderFilter decoder;
  BmpEncoderFilter encoder;
  decoder.Initialize();
  encoder.Initialize();
  test::FakeOutput source;
  source.Publish(MakePacket(static_cast<int32_t>(file.size()), PacketType::Bytes, const_cast<uint8_t*>(file.data())));
  test::Connect(decoder, BmpDecoderFilter::kInPin, source.pin());
  test::Connect(decoder, BmpDecoderFilter::kRPin, encoder, BmpEncoderFilter::kRPin);
  test::Connect(decoder, BmpDecoderFilter::kGPin, encoder, BmpEncoderFilter::kGPin);
  test::Connect(decoder, BmpDecoderFilter::kBPin, encoder, BmpEncoderFilter::kBPin);
  ASSERT_EQ(test::RunFilters({&encoder, &decoder}), Ok) << decoder.FailureReason() << encoder.FailureReason();

  const int32_t width = Int32At(&file[18]);
  const int32_t height = Int32At(&file[22]);
  const int32_t offset = Int32At(&file[10]);
  ASSERT_EQ(width, 512);
  ASSERT_EQ(height, 512) << name << " is stored bottom-up";
  const Packet& out = test::Output(encoder, BmpEncoderFilter::kOutPin);
  ASSERT_EQ(out.length, 54 + 512 * 1536);
  const auto* bytes = static_cast<const uint8_t*>(out.data);
  std::vector<uint8_t> encoded(bytes, bytes + out.length);
  ExpectHeader(encoded, 512, 512, 1536);
  EXPECT_TRUE(std::equal(encoded.begin() + 54, encoded.end(), file.begin() + offset)) << name;
}

TEST(BmpRoundTrip, SharedPicturesKeepTheirPixelBytes) {
  RoundTrip("camera.bmp");
  RoundTrip("astronaut.bmp");
}

}  // namespace
}  // namespace vorlan
