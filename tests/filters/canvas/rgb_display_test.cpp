#include "rgb_display_filter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/filter_harness.h"
#include "vorlan/config_stream.h"

namespace vorlan {
namespace {

using test::FakeOutput;
using test::TestPlane;

// Byte `channel` of pixel (col, row) of the filter's image.
int PixelByte(const ImageDisplayFilter& f, int col, int row, int channel) {
  return f.Pixels()[(static_cast<size_t>(row) * f.ImageWidth() + col) * 4 + channel];
}

struct RgbRig {
  RgbDisplayFilter filter;
  FakeOutput r, g, b;
  RgbRig(bool connectR, bool connectG, bool connectB) {
    filter.Initialize();
    if (connectR) test::Connect(filter, RgbDisplayFilter::kRPin, r.pin());
    if (connectG) test::Connect(filter, RgbDisplayFilter::kGPin, g.pin());
    if (connectB) test::Connect(filter, RgbDisplayFilter::kBPin, b.pin());
  }
};

std::vector<uint8_t> Bytes(const Packet& p) {
  const auto* data = static_cast<const uint8_t*>(p.data);
  return std::vector<uint8_t>(data, data + p.length);
}

TEST(RgbDisplay, OnlyGreenConnectedGivesAGreenImage) {
  RgbRig rig(false, true, false);
  TestPlane green(3, 2, 0.0, 1.0, {0.0, 0.5, 1.0, -3.0, 7.0, 0.25});
  rig.g.Publish(green.AsPacket());
  test::ProgressRecorder progress;
  progress.Attach(rig.filter);

  ASSERT_EQ(rig.filter.Process(), Ok) << rig.filter.FailureReason();
  EXPECT_EQ(rig.filter.state, FilterState::Done);
  ASSERT_EQ(rig.filter.ImageWidth(), 3);
  ASSERT_EQ(rig.filter.ImageHeight(), 2);
  const int expectedGreen[6] = {0, 127, 255, 0, 255, 63};
  for (int i = 0; i < 6; ++i) {
    const int col = i % 3, row = i / 3;
    EXPECT_EQ(PixelByte(rig.filter, col, row, 0), 0) << i;
    EXPECT_EQ(PixelByte(rig.filter, col, row, 1), expectedGreen[i]) << i;
    EXPECT_EQ(PixelByte(rig.filter, col, row, 2), 0) << i;
    EXPECT_EQ(PixelByte(rig.filter, col, row, 3), 0) << i;
  }
  // 0.0 at the start, (j * H + k) / 4H after row k of pass j, 1.0 at the end.
  EXPECT_EQ(progress.Values(),
            (std::vector<float>{0.0f, 0.0f, 0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.75f, 0.875f, 1.0f}));
  EXPECT_EQ(rig.filter.WindowTitle(), "[3 x 2] - RGB Display");
}

TEST(RgbDisplay, ChannelsLandInTheirBytes) {
  RgbRig rig(true, true, true);
  TestPlane r(2, 1, 0.0, 255.0, {200.0, 10.0});
  TestPlane g(2, 1, -1.0, 1.0, {0.0, 1.0});
  TestPlane b(2, 1, 10.0, 20.0, {10.0, 15.0});
  rig.r.Publish(r.AsPacket());
  rig.g.Publish(g.AsPacket());
  rig.b.Publish(b.AsPacket());
  ASSERT_EQ(rig.filter.Process(), Ok) << rig.filter.FailureReason();
  const int expected[2][4] = {{0, 127, 200, 0}, {127, 255, 10, 0}};
  for (int col = 0; col < 2; ++col) {
    for (int c = 0; c < 4; ++c) EXPECT_EQ(PixelByte(rig.filter, col, 0, c), expected[col][c]) << col << "/" << c;
  }
}

TEST(RgbDisplay, RefusesInputsItCannotShowAndKeepsNoImage) {
  RgbRig rig(true, true, false);
  TestPlane r(2, 2, 0, 1, {0, 0, 0, 0});
  rig.r.Publish(r.AsPacket());
  EXPECT_EQ(rig.filter.Process(), InputNotReady) << "\"G\" has no packet yet";
  EXPECT_EQ(rig.filter.state, FilterState::Running);

  TestPlane smaller(2, 1, 0, 1, {0, 0});
  TestPlane flat(2, 2, 4, 4, {4, 4, 4, 4});
  TestPlane empty(0, 2, 0, 1);
  int32_t notAPlane = 3;
  const Packet refused[] = {smaller.AsPacket(), flat.AsPacket(), MakePacket(4, PacketType::Integer, &notAPlane)};
  for (const Packet& p : refused) {
    rig.g.Publish(p);
    rig.filter.Reset();
    EXPECT_EQ(rig.filter.Process(), Failed) << "packet type " << p.type;
    EXPECT_EQ(rig.filter.state, FilterState::Stopped);
    EXPECT_STRNE(rig.filter.FailureReason(), "");
    EXPECT_EQ(rig.filter.Pixels(), nullptr);
  }
  // The size comes from "R": an empty "R" fails even beside a good "G".
  rig.g.Publish(r.AsPacket());
  rig.r.Publish(empty.AsPacket());
  rig.filter.Reset();
  EXPECT_EQ(rig.filter.Process(), Failed);

  RgbRig none(false, false, false);
  EXPECT_EQ(none.filter.Process(), Failed);
}

// Stops the filter from inside its own progress callback at the n-th call,
// as the user-interface thread would while a row is being converted.
ImageDisplayFilter* gStopTarget = nullptr;
int gStopAt = 0;
std::vector<float> gSeen;
void StopAtCall(float fraction) {
  gSeen.push_back(fraction);
  if (static_cast<int>(gSeen.size()) == gStopAt) gStopTarget->Stop();
}

TEST(RgbDisplay, StopEndsTheRunWithinOneRow) {
  RgbRig rig(true, false, false);
  TestPlane r(8, 10, 0, 1, std::vector<double>(80, 0.5));
  rig.r.Publish(r.AsPacket());
  gStopTarget = &rig.filter;
  gSeen.clear();
  // Call 1 is the 0.0 of the start; calls 2.. follow rows. The R pass is
  // the third one, so call 2 + 2 * 10 + 3 follows row 3 of that pass.
  gStopAt = 2 + 2 * 10 + 3;
  rig.filter.progress = &StopAtCall;
  EXPECT_EQ(rig.filter.Process(), Stopped);
  EXPECT_EQ(static_cast<int>(gSeen.size()), gStopAt) << "rows were converted after the stop";
  EXPECT_EQ(rig.filter.state, FilterState::Stopped);
  EXPECT_EQ(rig.filter.Pixels(), nullptr);

  // Reset clears the request: the next run completes.
  rig.filter.progress = nullptr;
  rig.filter.Reset();
  EXPECT_EQ(rig.filter.Process(), Ok);
}

TEST(RgbDisplay, SettingsInBothForms) {
  RgbDisplayFilter f;
  Packet p = f.GetConfig(ConfigForm::Serialized);
  EXPECT_EQ(Bytes(p), (std::vector<uint8_t>{1, 0xFF, 0xFF, 0xFF, 0xFF})) << "Stretch, no caption";
  std::free(p.data);

  // Native takes a copy of the caption; any non-zero flag means Stretch.
  char caption[] = "Lena";
  ImageDisplaySettings record{0, caption};
  ASSERT_EQ(f.ApplyConfig(MakePacket(sizeof record, PacketType::Config, &record), ConfigForm::Native), Ok);
  caption[0] = 'X';
  p = f.GetConfig(ConfigForm::Serialized);
  EXPECT_EQ(Bytes(p), (std::vector<uint8_t>{0, 4, 0, 0, 0, 'L', 'e', 'n', 'a'}));
  std::free(p.data);

  // Native GetConfig points at the filter's own caption; applying it back
  // (the dialog's path) is safe.
  p = f.GetConfig(ConfigForm::Native);
  ASSERT_EQ(p.length, static_cast<int32_t>(sizeof record));
  std::memcpy(&record, p.data, sizeof record);
  EXPECT_EQ(record.caption, f.Caption()->c_str());
  record.stretch = 7;
  std::memcpy(p.data, &record, sizeof record);
  ASSERT_EQ(f.ApplyConfig(p, ConfigForm::Native), Ok);
  EXPECT_TRUE(f.Stretch());
  EXPECT_EQ(f.Caption(), "Lena");
  std::free(p.data);

  // Short streams: a missing flag gives Stretch, a cut caption gives none.
  uint8_t cut[] = {0, 9, 0, 0, 0, 'a', 'b'};
  ASSERT_EQ(f.ApplyConfig(MakePacket(sizeof cut, PacketType::Config, cut), ConfigForm::Serialized), Ok);
  EXPECT_FALSE(f.Stretch());
  EXPECT_FALSE(f.Caption().has_value());
  ASSERT_EQ(f.ApplyConfig(MakePacket(0, PacketType::Config, cut), ConfigForm::Serialized), Ok);
  EXPECT_TRUE(f.Stretch());

  // Refused: no data, a Native record too short to hold the pointer.
  EXPECT_EQ(f.ApplyConfig(MakePacket(5, PacketType::Config, nullptr), ConfigForm::Serialized), Failed);
  int32_t shortRecord = 0;
  EXPECT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, &shortRecord), ConfigForm::Native), Failed);
}

}  // namespace
}  // namespace vorlan
