#include "vorlan/filter_base.h"

#include <gtest/gtest.h>

#include "support/filter_harness.h"
#include "vorlan/config_stream.h"
#include "vorlan/payloads.h"

namespace vorlan {
namespace {

// Doubles an int32 setting-free input: In (Integer) -> Out (Integer).
class Doubler : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Doubler", 1, 0, 999};
  Doubler() : FilterBase(kInfo) {
    in = AddNewPin("In", PinKind::Input);
    out = AddNewPin("Out", PinKind::Output);
  }
  Result ApplyConfig(Packet packet, ConfigForm) override {
    ConfigReader r(packet);
    return r.Int32(factor) ? Ok : Failed;
  }
  Packet GetConfig(ConfigForm) override {
    ConfigWriter w;
    w.Int32(factor);
    return w.ToPacket();
  }
  Pin* in;
  Pin* out;
  int32_t factor = 2;
  int32_t value = 0;
  bool stopInWork = false;

 protected:
  Result Work() override {
    Packet p{};
    const Result r = ReadTyped(in, PacketType::Integer, p);
    if (r != Ok) return r;
    if (stopInWork) {
      Stop();
      if (StopRequested()) return Stopped;
    }
    value = *static_cast<const int32_t*>(p.data) * factor;
    Publish(out, MakePacket(4, PacketType::Integer, &value));
    return Ok;
  }
};

TEST(FilterBase, ConstructionAndLifecycle) {
  Doubler f;
  ASSERT_EQ(f.pinCount, 4);
  EXPECT_STREQ(f.pins[0]->name, "Cfg in");
  EXPECT_EQ(f.pins[1]->kind, static_cast<int32_t>(PinKind::ConfigOut));
  EXPECT_EQ(f.state, FilterState::None);
  EXPECT_EQ(f.Initialize(), Ok);
  EXPECT_EQ(f.state, FilterState::Ready);
  EXPECT_EQ(f.Configure(), Failed) << "no GUI in tests";
  EXPECT_EQ(f.Deinitialize(), Ok);
  EXPECT_EQ(f.state, FilterState::None);
}

TEST(FilterBase, ProcessWaitsForInputThenPublishesOutputAndSettings) {
  Doubler f;
  f.Initialize();
  test::FakeOutput src;
  test::Connect(f, 2, src.pin());
  test::ProgressRecorder progress;
  progress.Attach(f);

  EXPECT_EQ(f.Process(), InputNotReady);
  EXPECT_EQ(f.state, FilterState::Running);
  EXPECT_EQ(f.out->ready, 0);

  int32_t twenty = 20;
  src.Publish(MakePacket(4, PacketType::Integer, &twenty));
  ASSERT_EQ(f.Process(), Ok);
  EXPECT_EQ(f.state, FilterState::Done);
  EXPECT_EQ(*static_cast<int32_t*>(f.out->packet.data), 40);
  ASSERT_EQ(f.pins[1]->ready, 1);
  EXPECT_EQ(f.pins[1]->packet.length, 4);
  EXPECT_EQ(progress.Values().back(), 1.0f);

  // A second successful Process replaces (and frees) the settings packet.
  ASSERT_EQ(f.Process(), Ok);
  EXPECT_EQ(f.Reset(), Ok);
  EXPECT_EQ(f.out->ready, 0);
  EXPECT_EQ(f.pins[1]->packet.data, nullptr);
  EXPECT_EQ(f.state, FilterState::Ready);
}

TEST(FilterBase, StopRequestIsTakenOnceAndStopInWorkReleasesOutputs) {
  Doubler f;
  f.Initialize();
  test::FakeOutput src;
  int32_t one = 1;
  src.Publish(MakePacket(4, PacketType::Integer, &one));
  test::Connect(f, 2, src.pin());

  f.Stop();
  EXPECT_EQ(f.Process(), Stopped);
  EXPECT_EQ(f.state, FilterState::Stopped);
  EXPECT_EQ(f.Process(), Ok) << "the request was cleared by the first call";

  f.stopInWork = true;
  EXPECT_EQ(f.Process(), Stopped);
  EXPECT_EQ(f.out->ready, 0);
  EXPECT_EQ(f.Process(), Stopped) << "a request arriving during Work is not cleared by Work";
}

TEST(FilterBase, TypedInputFailuresCarryReasons) {
  Doubler f;
  f.Initialize();
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(), "input \"In\" is not connected");
  EXPECT_EQ(f.state, FilterState::Stopped);

  test::FakeOutput src;
  double d = 1;
  src.Publish(MakePacket(8, PacketType::Float, &d));
  test::Connect(f, 2, src.pin());
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("type 7"), std::string::npos);
}

TEST(FilterBase, ConfigInAppliesSettingsDuringRun) {
  Doubler f;
  f.Initialize();
  test::FakeOutput src, cfg;
  int32_t three = 3;
  src.Publish(MakePacket(4, PacketType::Integer, &three));
  ConfigWriter w;
  w.Int32(5);
  std::vector<uint8_t> bytes = w.Bytes();
  cfg.Publish(MakePacket(4, PacketType::Config, bytes.data()));
  test::Connect(f, 2, src.pin());
  test::Connect(f, 0, cfg.pin());
  ASSERT_EQ(f.Process(), Ok);
  EXPECT_EQ(f.value, 15);
}

TEST(Payloads, OwnedPlaneChecksSizes) {
  OwnedPlane p;
  EXPECT_TRUE(p.Empty());
  EXPECT_EQ(p.Record().max, 1.0);
  ASSERT_TRUE(p.Allocate(3, 2, 0, 255));
  EXPECT_EQ(p.Record().size, 48);
  EXPECT_FALSE(p.Allocate(70000, 70000, 0, 1)) << "over the int32 byte count";
  EXPECT_TRUE(p.Empty());
}

}  // namespace
}  // namespace vorlan
