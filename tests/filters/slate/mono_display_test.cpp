#include "mono_display_filter.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "support/filter_harness.h"
#include "vorlan/config_stream.h"

namespace vorlan {
namespace {

using test::TestPlane;

struct MonoRig {
  MonoDisplayFilter filter;
  test::FakeOutput in;
  MonoRig() {
    filter.Initialize();
    test::Connect(filter, MonoDisplayFilter::kInPin, in.pin());
  }
  Result Show(TestPlane& plane) {
    in.Publish(plane.AsPacket());
    filter.Reset();
    return filter.Process();
  }
};

TEST(MonoDisplay, ConvertsToGreyWithClamping) {
  MonoRig rig;
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  TestPlane plane(4, 2, 0.0, 1.0, {0.0, 0.5, 1.0, 0.999, -0.5, 1.5, nan, inf});
  ASSERT_EQ(rig.Show(plane), Ok) << rig.filter.FailureReason();
  ASSERT_EQ(rig.filter.ImageWidth(), 4);
  ASSERT_EQ(rig.filter.ImageHeight(), 2);
  const int expected[8] = {0, 127, 255, 254, 0, 255, 0, 255};
  for (int i = 0; i < 8; ++i) {
    const uint8_t* pixel = rig.filter.Pixels() + i * 4;
    EXPECT_EQ(pixel[0], expected[i]) << "sample " << i;
    EXPECT_EQ(pixel[1], expected[i]) << "sample " << i;
    EXPECT_EQ(pixel[2], expected[i]) << "sample " << i;
    EXPECT_EQ(pixel[3], 0) << "sample " << i;
  }
  EXPECT_EQ(rig.filter.WindowTitle(), "[4 x 2] - Mono Display");

  // An inverted range turns the image over; infinite limits stay defined.
  TestPlane inverted(2, 1, 255.0, 0.0, {0.0, 255.0});
  ASSERT_EQ(rig.Show(inverted), Ok);
  EXPECT_EQ(rig.filter.Pixels()[0], 255);
  EXPECT_EQ(rig.filter.Pixels()[4], 0);
  TestPlane open(2, 1, -inf, inf, {-inf, 3.0});
  EXPECT_EQ(rig.Show(open), Ok);
}

TEST(MonoDisplay, RefusesAFlatOrEmptyPlaneAndOtherPackets) {
  MonoRig rig;
  EXPECT_EQ(rig.filter.Process(), InputNotReady);
  TestPlane flat(2, 2, 3.0, 3.0, {3, 3, 3, 3});
  TestPlane empty(3, 0, 0.0, 1.0);
  for (TestPlane* plane : {&flat, &empty}) {
    EXPECT_EQ(rig.Show(*plane), Failed);
    EXPECT_EQ(rig.filter.state, FilterState::Stopped);
    EXPECT_STRNE(rig.filter.FailureReason(), "");
    EXPECT_EQ(rig.filter.Pixels(), nullptr);
  }
  char text[] = "x";
  rig.in.Publish(MakePacket(2, PacketType::String, text));
  rig.filter.Reset();
  EXPECT_EQ(rig.filter.Process(), Failed);

  MonoDisplayFilter unconnected;
  unconnected.Initialize();
  EXPECT_EQ(unconnected.Process(), Failed);
}

ImageDisplayFilter* gTarget = nullptr;
std::vector<float> gSeen;
void StopAfterSecondRow(float fraction) {
  gSeen.push_back(fraction);
  if (gSeen.size() == 3) gTarget->Stop();  // 0.0 of the start, rows 0 and 1
}

TEST(MonoDisplay, ReportsRowProgressPublishesSettingsAndStopsWithinOneRow) {
  MonoRig rig;
  ImageDisplaySettings record{0, "grey"};
  ASSERT_EQ(rig.filter.ApplyConfig(MakePacket(sizeof record, PacketType::Config, &record), ConfigForm::Native), Ok);
  TestPlane plane(2, 4, 0, 1, std::vector<double>(8, 0.5));
  test::ProgressRecorder progress;
  progress.Attach(rig.filter);
  ASSERT_EQ(rig.Show(plane), Ok);
  EXPECT_EQ(progress.Values(), (std::vector<float>{0.0f, 0.0f, 0.25f, 0.5f, 0.75f, 1.0f}));
  EXPECT_EQ(rig.filter.WindowTitle(), "[grey] [2 x 4] - Mono Display");
  ConfigReader reader(test::Output(rig.filter, 1));
  uint8_t flag = 9;
  std::optional<std::string> caption;
  ASSERT_TRUE(reader.Byte(flag) && reader.Text(caption));
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(caption, "grey");

  gTarget = &rig.filter;
  gSeen.clear();
  rig.filter.Reset();
  rig.filter.progress = &StopAfterSecondRow;
  EXPECT_EQ(rig.filter.Process(), Stopped);
  EXPECT_EQ(gSeen, (std::vector<float>{0.0f, 0.0f, 0.25f}));
  EXPECT_EQ(rig.filter.Pixels(), nullptr);
}

}  // namespace
}  // namespace vorlan
