#include "psnr_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "support/filter_harness.h"
#include "vorlan/config_stream.h"

namespace vorlan {
namespace {

struct Comparison {
  PsnrFilter filter;
  test::FakeOutput first, second;
  Comparison() {
    filter.Initialize();
    test::Connect(filter, PsnrFilter::kIn1Pin, first.pin());
    test::Connect(filter, PsnrFilter::kIn2Pin, second.pin());
  }
  void Prescale(int32_t on) {
    ASSERT_EQ(filter.ApplyConfig(MakePacket(4, PacketType::Config, &on), ConfigForm::Native), Ok);
  }
  Result Run(test::TestPlane& a, test::TestPlane& b) {
    first.Publish(a.AsPacket());
    second.Publish(b.AsPacket());
    return filter.Process();
  }
  double Published(int32_t pin) {
    const Packet& p = test::Output(filter, pin);
    EXPECT_EQ(p.type, static_cast<int32_t>(PacketType::Float));
    EXPECT_EQ(p.length, 8);
    return *static_cast<const double*>(p.data);
  }
};

std::vector<double> Picture(int count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> value(0, 245);
  std::vector<double> v(count);
  for (double& x : v) x = value(random);
  return v;
}

TEST(Psnr, ResultsReadMinusOneBeforeTheFirstRun) {
  PsnrFilter f;
  EXPECT_EQ(f.Results().psnr, -1.0);
  EXPECT_EQ(f.Results().rms, -1.0);
  EXPECT_EQ(f.Results().md, -1.0);
  EXPECT_EQ(f.Results().ad, -1.0);
}

TEST(Psnr, IdenticalPlanesHaveNoError) {
  auto samples = Picture(64, 1);
  test::TestPlane a(8, 8, 0, 255, samples), b(8, 8, 0, 255, samples);
  Comparison c;
  test::ProgressRecorder progress;
  progress.Attach(c.filter);
  ASSERT_EQ(c.Run(a, b), Ok) << c.filter.FailureReason();
  EXPECT_EQ(c.filter.state, FilterState::Done);
  EXPECT_EQ(c.Published(PsnrFilter::kPsnrPin), -1.0);
  EXPECT_EQ(c.Published(PsnrFilter::kRmsPin), 0.0);
  EXPECT_EQ(c.Published(PsnrFilter::kMdPin), 0.0);
  EXPECT_EQ(c.Published(PsnrFilter::kAdPin), 0.0);
  EXPECT_EQ(progress.Values(), std::vector<float>{0.0f}) << "only the start is reported";
  EXPECT_EQ(test::Output(c.filter, PsnrFilter::kAdPin).data, &c.filter.Results().ad);
}

TEST(Psnr, ConstantOffsetOfTenGives28Decibels) {
  auto base = Picture(12 * 7, 2);
  std::vector<double> higher;
  for (double v : base) higher.push_back(v + 10);
  test::TestPlane a(12, 7, 0, 255, higher), b(12, 7, 0, 255, base);
  Comparison c;
  ASSERT_EQ(c.Run(a, b), Ok);
  EXPECT_DOUBLE_EQ(c.filter.Results().md, 10.0);
  EXPECT_DOUBLE_EQ(c.filter.Results().ad, 10.0);
  EXPECT_DOUBLE_EQ(c.filter.Results().rms, 10.0);
  EXPECT_DOUBLE_EQ(c.filter.Results().psnr, 20.0 * std::log10(25.5));
  EXPECT_NEAR(c.filter.Results().psnr, 28.13, 0.005);
}

TEST(Psnr, MixedErrorsAndThePeakOfTheWiderRange) {
  test::TestPlane a(2, 2, 0, 1, {0, 0, 0, 0}), b(2, 2, 0, 4, {1, -1, 3, 0});
  Comparison c;
  ASSERT_EQ(c.Run(a, b), Ok);
  EXPECT_DOUBLE_EQ(c.filter.Results().md, 3.0);
  EXPECT_DOUBLE_EQ(c.filter.Results().ad, 5.0 / 4);
  EXPECT_DOUBLE_EQ(c.filter.Results().rms, std::sqrt(11.0 / 4));
  EXPECT_DOUBLE_EQ(c.filter.Results().psnr, 20.0 * std::log10(4.0 / std::sqrt(11.0 / 4)));
}

TEST(Psnr, PrescalingMapsTheSecondRangeOntoTheFirst) {
  auto base = Picture(30, 3);
  std::vector<double> doubled;
  for (double v : base) doubled.push_back(2 * v);
  test::TestPlane a(5, 6, 0, 255, base), b(5, 6, 0, 510, doubled);
  {
    Comparison c;
    ASSERT_EQ(c.Run(a, b), Ok);
    double mean = 0, squares = 0, largest = 0;
    for (double v : base) {
      mean += v / 30;
      squares += v * v / 30;
      largest = std::max(largest, v);
    }
    EXPECT_DOUBLE_EQ(c.filter.Results().md, largest) << "without prescaling d equals a";
    EXPECT_DOUBLE_EQ(c.filter.Results().ad, mean);
    EXPECT_DOUBLE_EQ(c.filter.Results().psnr, 20 * std::log10(510 / std::sqrt(squares)));
  }
  {
    Comparison c;
    c.Prescale(1);
    ASSERT_EQ(c.Run(a, b), Ok);
    EXPECT_EQ(c.filter.Results().rms, 0.0);
    EXPECT_EQ(c.filter.Results().psnr, -1.0);
  }
  {
    // A shifted range: B in [100, 200] holding a's picture moved by 100
    // and scaled by 100/255.
    std::vector<double> moved;
    for (double v : base) moved.push_back(100 + v * 100 / 255);
    test::TestPlane shifted(5, 6, 100, 200, moved);
    Comparison c;
    c.Prescale(7);  // any nonzero value is on
    ASSERT_EQ(c.Run(a, shifted), Ok);
    EXPECT_LT(c.filter.Results().md, 1e-9);
  }
}

TEST(Psnr, FailuresKeepTheResults) {
  auto samples = Picture(6, 4);
  test::TestPlane a(3, 2, 0, 255, samples), b(3, 2, 0, 255, Picture(6, 5));
  Comparison c;
  ASSERT_EQ(c.Run(a, b), Ok);
  const PsnrResults before = c.filter.Results();

  test::TestPlane wider(2, 3, 0, 255, samples), empty(0, 0, 0, 255), flat(3, 2, 9, 9, samples);
  EXPECT_EQ(c.Run(a, wider), Failed);
  EXPECT_EQ(c.filter.state, FilterState::Stopped);
  EXPECT_NE(std::string(c.filter.FailureReason()).find("differ"), std::string::npos);
  EXPECT_EQ(c.filter.Results().psnr, before.psnr);
  EXPECT_EQ(c.filter.Results().rms, before.rms);
  EXPECT_EQ(c.filter.Results().md, before.md);
  EXPECT_EQ(c.filter.Results().ad, before.ad);
  EXPECT_EQ(c.Run(empty, empty), Failed);
  EXPECT_NE(std::string(c.filter.FailureReason()).find("empty"), std::string::npos);
  EXPECT_EQ(c.Run(a, flat), Ok) << "a flat range is fine without prescaling";
  c.Prescale(1);
  const PsnrResults flatResults = c.filter.Results();
  EXPECT_EQ(c.Run(a, flat), Failed);
  EXPECT_NE(std::string(c.filter.FailureReason()).find("In2"), std::string::npos);
  EXPECT_EQ(c.filter.Results().ad, flatResults.ad);
  EXPECT_EQ(c.filter.Results().psnr, flatResults.psnr);
  for (int pin = 4; pin < 8; ++pin) EXPECT_EQ(c.filter.pins[pin]->ready, 0);

  uint8_t raw[40] = {};
  c.second.Publish(MakePacket(40, PacketType::Bytes, raw));
  c.first.Publish(a.AsPacket());
  EXPECT_EQ(c.filter.Process(), Failed) << "In2 is not a plane";
}

PsnrFilter* stopTarget = nullptr;
void StopAtStart(float) { stopTarget->Stop(); }

TEST(Psnr, StopDuringTheComparison) {
  test::TestPlane a(4, 4, 0, 255, Picture(16, 6)), b(4, 4, 0, 255, Picture(16, 7));
  Comparison c;
  ASSERT_EQ(c.Run(a, b), Ok);
  const double ad = c.filter.Results().ad;
  ASSERT_GT(ad, 0.0);
  c.filter.Reset();
  stopTarget = &c.filter;
  c.filter.progress = &StopAtStart;
  EXPECT_EQ(c.Run(a, b), Stopped);
  EXPECT_EQ(c.filter.state, FilterState::Stopped);
  EXPECT_EQ(c.filter.Results().psnr, -1.0);
  EXPECT_EQ(c.filter.Results().rms, -1.0);
  EXPECT_EQ(c.filter.Results().md, -1.0);
  EXPECT_EQ(c.filter.Results().ad, ad);
  EXPECT_EQ(c.filter.pins[PsnrFilter::kPsnrPin]->ready, 0);
}

TEST(Psnr, SettingsForms) {
  PsnrFilter f;
  ConfigWriter w;
  w.Int32(1);
  Packet on = w.ToPacket();
  ASSERT_EQ(f.ApplyConfig(on, ConfigForm::Serialized), Ok);
  EXPECT_EQ(f.Prescaling(), 1);
  uint8_t three[3] = {0, 0, 0};
  EXPECT_EQ(f.ApplyConfig(MakePacket(3, PacketType::Config, three), ConfigForm::Serialized), Ok);
  EXPECT_EQ(f.Prescaling(), 1) << "too few bytes leave the flag";
  EXPECT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, nullptr), ConfigForm::Serialized), Failed);
  Packet out = f.GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(out.length, 4);
  EXPECT_EQ(std::memcmp(out.data, "\x01\0\0\0", 4), 0);
  Packet native = f.GetConfig(ConfigForm::Native);
  ASSERT_EQ(native.length, 4);
  EXPECT_EQ(*static_cast<int32_t*>(native.data), 1);
  std::free(on.data);
  std::free(out.data);
  std::free(native.data);
}

}  // namespace
}  // namespace vorlan
