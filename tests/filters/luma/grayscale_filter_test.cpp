#include "grayscale_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "support/filter_harness.h"
#include "vorlan/config_stream.h"

namespace vorlan {
namespace {

struct Conversion {
  GrayscaleFilter filter;
  test::FakeOutput r, g, b;
  Conversion() {
    filter.Initialize();
    test::Connect(filter, GrayscaleFilter::kRPin, r.pin());
    test::Connect(filter, GrayscaleFilter::kGPin, g.pin());
    test::Connect(filter, GrayscaleFilter::kBPin, b.pin());
  }
  void Use(int32_t method, double wr = 1.0 / 3, double wg = 1.0 / 3, double wb = 1.0 / 3) {
    GrayscaleSettings s{method, wr, wg, wb};
    ASSERT_EQ(filter.ApplyConfig(MakePacket(sizeof s, PacketType::Config, &s), ConfigForm::Native), Ok);
  }
  Result Run(test::TestPlane& pr, test::TestPlane& pg, test::TestPlane& pb) {
    r.Publish(pr.AsPacket());
    g.Publish(pg.AsPacket());
    b.Publish(pb.AsPacket());
    return filter.Process();
  }
  std::vector<double> Samples() const {
    const Plane& p = filter.OutputPlane();
    return std::vector<double>(p.samples, p.samples + int64_t{p.width} * p.height);
  }
};

TEST(Grayscale, DeclaredRangesOfEveryMethod) {
  struct Case {
    int32_t method;
    double wr, wg, wb;
    double max;
  };
  const Case cases[] = {
      {0, 5, 5, 5, 1.0},    // Maximum ignores the weights
      {1, 0, 0, 0, 1.0},    // Average: three thirds sum to exactly 1
      {2, 0, 0, 0, 1.0},    // Y: 0.9999999999999999, raised to 1
      {3, 0, 0, 0, 1.0},    // Luminance: exactly 1
      {4, 2, 0, 0, 2.0},    {4, -1, 1, 1, 2.0}, {4, 0.5, 0.25, 0.25, 1.0},
      {4, -3, -3, 0, 1.0},  {4, 0.7, 0.8, 0.9, 0.7 + 0.8 + 0.9},
  };
  test::TestPlane p(2, 1, 0, 1, {0, 1});
  for (const Case& c : cases) {
    Conversion conv;
    conv.Use(c.method, c.wr, c.wg, c.wb);
    ASSERT_EQ(conv.Run(p, p, p), Ok) << conv.filter.FailureReason();
    EXPECT_EQ(conv.filter.OutputPlane().min, 0.0) << "method " << c.method;
    EXPECT_EQ(conv.filter.OutputPlane().max, c.max) << "method " << c.method << " weights " << c.wr;
  }
}

TEST(Grayscale, MethodValues) {
  // Columns: white, black, and three mixed pixels.
  test::TestPlane r(5, 1, 0, 1, {1, 0, 0.2, 0.9, 0.5});
  test::TestPlane g(5, 1, 0, 1, {1, 0, 0.6, 0.1, 0.5});
  test::TestPlane b(5, 1, 0, 1, {1, 0, 0.4, 0.3, 0.7});
  {
    Conversion c;
    c.Use(0);
    ASSERT_EQ(c.Run(r, g, b), Ok);
    EXPECT_EQ(c.Samples(), (std::vector<double>{1, 0, 0.6, 0.9, 0.7}));
  }
  {
    Conversion c;
    c.Use(2);
    ASSERT_EQ(c.Run(r, g, b), Ok);
    const auto s = c.Samples();
    EXPECT_NEAR(s[0], 1.0, 1e-15) << "white";
    EXPECT_EQ(s[1], 0.0);
    EXPECT_NEAR(s[2], 0.299 * 0.2 + 0.587 * 0.6 + 0.114 * 0.4, 1e-15);
  }
  {
    Conversion c;
    c.Use(3);
    ASSERT_EQ(c.Run(r, g, b), Ok);
    EXPECT_NEAR(c.Samples()[3], 0.27 * 0.9 + 0.67 * 0.1 + 0.06 * 0.3, 1e-15);
  }
  {
    Conversion c;  // R = G = B = x gives x
    c.Use(1);
    ASSERT_EQ(c.Run(b, b, b), Ok);
    const auto s = c.Samples();
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(s[i], b.samples[i], 1e-15);
  }
  {
    Conversion c;
    c.Use(4, 2, 0, 0);
    ASSERT_EQ(c.Run(r, g, b), Ok);
    EXPECT_EQ(c.Samples()[0], 2.0);
  }
  {
    Conversion c;  // negative weights can leave the declared range
    c.Use(4, -1, 1, 1);
    ASSERT_EQ(c.Run(r, g, b), Ok);
    EXPECT_NEAR(c.Samples()[3], -0.5, 1e-15);
  }
}

TEST(Grayscale, InputsAreNormalisedThroughTheirDeclaredRanges) {
  std::vector<double> bytes = {0, 17, 128, 255, 64, 200};
  std::vector<double> unit;
  for (double v : bytes) unit.push_back(v / 255.0);
  test::TestPlane r255(3, 2, 0, 255, bytes), r1(3, 2, 0, 1, unit);
  test::TestPlane g255(3, 2, 0, 255, {255, 0, 3, 5, 7, 9}), g1(3, 2, 0, 1, {1, 0, 3 / 255.0, 5 / 255.0, 7 / 255.0, 9 / 255.0});
  // A shifted range: [-1, 1] holding -1 .. 1.
  test::TestPlane bShift(3, 2, -1, 1, {-1, 1, 0, 0.5, -0.5, 0.25});
  test::TestPlane b1(3, 2, 0, 1, {0, 1, 0.5, 0.75, 0.25, 0.625});
  for (const int32_t method : {0, 1, 2, 3}) {
    Conversion wide, unitRange;
    wide.Use(method);
    unitRange.Use(method);
    ASSERT_EQ(wide.Run(r255, g255, bShift), Ok);
    ASSERT_EQ(unitRange.Run(r1, g1, b1), Ok);
    const auto a = wide.Samples();
    const auto u = unitRange.Samples();
    for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], u[i], 1e-14) << "method " << method << " at " << i;
  }
}

TEST(Grayscale, FailuresCarryAReasonAndPublishNothing) {
  test::TestPlane good(2, 2, 0, 255, {1, 2, 3, 4});
  test::TestPlane flat(2, 2, 7, 7, {7, 7, 7, 7});
  test::TestPlane wide(3, 2, 0, 255, {1, 2, 3, 4, 5, 6});
  test::TestPlane empty(0, 0, 0, 255);
  test::TestPlane infinite(2, 2, 0, std::numeric_limits<double>::infinity(), {1, 2, 3, 4});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    int32_t method;
    double wr;
    test::TestPlane* g;
    const char* mention;
  };
  const Case cases[] = {
      {"min equals max", 1, 0, &flat, "\"G\""},
      {"differing sizes", 1, 0, &wide, "differ"},
      {"infinite range", 1, 0, &infinite, "\"G\""},
      {"method 5", 5, 0, &good, "method"},
      {"method -1", -1, 0, &good, "method"},
      {"NaN Trilinear weight", 4, nan, &good, "weight r"},
      {"infinite Trilinear weight", 4, std::numeric_limits<double>::infinity(), &good, "weight r"},
  };
  for (const Case& c : cases) {
    Conversion conv;
    conv.Use(c.method, c.wr, 0, 0);
    EXPECT_EQ(conv.Run(good, *c.g, good), Failed) << c.what;
    EXPECT_EQ(conv.filter.state, FilterState::Stopped) << c.what;
    EXPECT_NE(std::string(conv.filter.FailureReason()).find(c.mention), std::string::npos)
        << c.what << ": " << conv.filter.FailureReason();
    EXPECT_EQ(conv.filter.pins[5]->ready, 0) << c.what;
  }
  {
    Conversion conv;
    EXPECT_EQ(conv.Run(empty, empty, empty), Failed);
  }
  {
    Conversion conv;  // a NaN weight does not matter to other methods
    conv.Use(2, nan, nan, nan);
    EXPECT_EQ(conv.Run(good, good, good), Ok);
  }
  {
    GrayscaleFilter unconnected;
    unconnected.Initialize();
    EXPECT_EQ(unconnected.Process(), Failed);
    EXPECT_NE(std::string(unconnected.FailureReason()).find("\"R\""), std::string::npos);
  }
}

TEST(Grayscale, SettingsForms) {
  GrayscaleFilter f;
  GrayscaleSettings s{4, 0.5, -0.25, 1e-300};
  ASSERT_EQ(f.ApplyConfig(MakePacket(sizeof s, PacketType::Config, &s), ConfigForm::Native), Ok);
  Packet serialized = f.GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(serialized.length, 28);
  std::vector<uint8_t> expected;
  ConfigWriter w;
  w.Int32(4);
  w.Float64(0.5);
  w.Float64(-0.25);
  w.Float64(1e-300);
  EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t*>(serialized.data), static_cast<uint8_t*>(serialized.data) + 28),
            w.Bytes());

  GrayscaleFilter copy;
  ASSERT_EQ(copy.ApplyConfig(serialized, ConfigForm::Serialized), Ok);
  EXPECT_EQ(copy.Settings().method, 4);
  EXPECT_EQ(copy.Settings().g, -0.25);
  EXPECT_EQ(copy.Settings().b, 1e-300);

  // Bytes that stop inside g keep g and b.
  GrayscaleFilter partial;
  Packet shortPacket = MakePacket(17, PacketType::Config, serialized.data);
  ASSERT_EQ(partial.ApplyConfig(shortPacket, ConfigForm::Serialized), Ok);
  EXPECT_EQ(partial.Settings().method, 4);
  EXPECT_EQ(partial.Settings().r, 0.5);
  EXPECT_EQ(partial.Settings().g, 0.3333333333333333);

  // An out-of-range method still loads; it fails only when a run starts.
  ConfigWriter bad;
  bad.Int32(9);
  Packet badPacket = bad.ToPacket();
  EXPECT_EQ(partial.ApplyConfig(badPacket, ConfigForm::Serialized), Ok);
  EXPECT_EQ(partial.Settings().method, 9);
  EXPECT_EQ(partial.ApplyConfig(MakePacket(0, PacketType::Config, nullptr), ConfigForm::Native), Failed);

  Packet native = f.GetConfig(ConfigForm::Native);
  ASSERT_EQ(native.length, 32);
  GrayscaleSettings back;
  std::memcpy(&back, native.data, sizeof back);
  EXPECT_EQ(back.method, 4);
  EXPECT_EQ(back.r, 0.5);
  std::free(native.data);
  std::free(serialized.data);
  std::free(badPacket.data);
}

GrayscaleFilter* stopTarget = nullptr;
int stopCountdown = 0;
void StopAfterSomeReports(float) {
  if (--stopCountdown == 0) stopTarget->Stop();
}

TEST(Grayscale, StopBetweenRowsAndProgress) {
  test::TestPlane p(3, 4, 0, 1, std::vector<double>(12, 0.25));
  Conversion c;
  c.Use(1);
  test::ProgressRecorder progress;
  progress.Attach(c.filter);
  ASSERT_EQ(c.Run(p, p, p), Ok);
  EXPECT_EQ(progress.Values(), (std::vector<float>{0.0f, 0.0f, 0.25f, 0.5f, 0.75f, 1.0f}));

  c.filter.Reset();
  stopTarget = &c.filter;
  stopCountdown = 3;  // after rows 0 and 1
  c.filter.progress = &StopAfterSomeReports;
  EXPECT_EQ(c.filter.Process(), Stopped);
  EXPECT_EQ(c.filter.state, FilterState::Stopped);
  EXPECT_EQ(c.filter.pins[5]->ready, 0);
  EXPECT_EQ(c.filter.OutputPlane().samples, nullptr);
}

}  // namespace
}  // namespace vorlan
