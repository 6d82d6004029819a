#include "serializer_filter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/filter_harness.h"
#include "vorlan/config_stream.h"

namespace vorlan {
namespace {

std::vector<std::string> PinNames(const Filter& f) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < f.pinCount; ++i) names.emplace_back(f.pins[i]->name);
  return names;
}

std::vector<uint8_t> Container(SerializerFilter& f) {
  const Packet& p = test::Output(f, 2);
  EXPECT_EQ(p.type, static_cast<int32_t>(PacketType::Bytes));
  const auto* b = static_cast<const uint8_t*>(p.data);
  return {b, b + p.length};
}

Packet Serialized(std::vector<uint8_t>& bytes) {
  return MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Config, bytes.data());
}

std::vector<uint8_t> PinCountStream(int32_t n) {
  ConfigWriter w;
  w.Int32(n);
  return w.Bytes();
}

TEST(Serializer, JoinsInputsIntoTheContainer) {
  SerializerFilter f;
  ASSERT_EQ(f.Initialize(), Ok);
  EXPECT_EQ(PinNames(f), (std::vector<std::string>{"Cfg in", "Cfg out", "Out", "1", "2"}));
  test::FakeOutput a, b;
  test::Connect(f, 3, a.pin());
  test::Connect(f, 4, b.pin());
  uint8_t three[3] = {1, 2, 3};
  uint8_t five[5] = {4, 5, 6, 7, 8};
  a.Publish(MakePacket(3, PacketType::Bytes, three));
  EXPECT_EQ(f.Process(), InputNotReady);
  b.Publish(MakePacket(5, PacketType::Bytes, five));
  test::ProgressRecorder progress;
  progress.Attach(f);
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  EXPECT_EQ(Container(f), (std::vector<uint8_t>{2, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0, 5, 0, 0, 0,
                                                 4, 5, 6, 7, 8}));
  EXPECT_EQ(progress.Values(), (std::vector<float>{0.0f, 0.5f, 1.0f, 1.0f}));

  // Records that hold addresses are stored by value.
  test::TestIntArray values({7, -1});
  test::TestPlane plane(1, 1, 0.0, 255.0, {2.5});
  a.Publish(values.AsPacket());
  b.Publish(plane.AsPacket());
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  const std::vector<uint8_t> c = Container(f);
  ASSERT_EQ(c.size(), 4u + 8 + 8 + 8 + 32);
  int32_t fields[4];
  std::memcpy(fields, c.data() + 4, 16);
  EXPECT_EQ(fields[0], 8);
  EXPECT_EQ(fields[1], 8);
  EXPECT_EQ(fields[2], 7);
  EXPECT_EQ(fields[3], -1);
  double sample = 0;
  std::memcpy(&sample, c.data() + c.size() - 8, 8);
  EXPECT_EQ(sample, 2.5);
}

TEST(Serializer, PinCountFollowsSettingsOnlyWhenItChanges) {
  SerializerFilter f;
  f.Initialize();
  std::vector<uint8_t> three = PinCountStream(3);
  ASSERT_EQ(f.ApplyConfig(Serialized(three), ConfigForm::Serialized), Ok);
  EXPECT_EQ(PinNames(f), (std::vector<std::string>{"Cfg in", "Cfg out", "Out", "1", "2", "3"}));
  Pin* kept = f.pins[5];
  ASSERT_EQ(f.ApplyConfig(Serialized(three), ConfigForm::Serialized), Ok);
  EXPECT_EQ(f.pins[5], kept) << "the same N keeps the pins and their connections";

  std::vector<uint8_t> negative = PinCountStream(-1);
  EXPECT_EQ(f.ApplyConfig(Serialized(negative), ConfigForm::Serialized), Failed);
  int32_t huge = kMaxSerializerPins + 1;
  EXPECT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, &huge), ConfigForm::Native), Failed);
  EXPECT_EQ(f.Settings().pinCount, 3);
  EXPECT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, nullptr), ConfigForm::Native), Failed);

  int32_t zero = 0;
  ASSERT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, &zero), ConfigForm::Native), Ok);
  EXPECT_EQ(f.pinCount, 3);
  ASSERT_EQ(f.Process(), Ok);
  EXPECT_EQ(Container(f), (std::vector<uint8_t>{0, 0, 0, 0}));
  Packet cfg = f.GetConfig(ConfigForm::Serialized);
  EXPECT_EQ(cfg.length, 4);
  FreePacket(cfg);
}

TEST(Serializer, ADifferentPinCountDuringARunFailsIt) {
  SerializerFilter f;
  f.Initialize();
  test::FakeOutput cfg, a, b;
  test::Connect(f, 0, cfg.pin());
  test::Connect(f, 3, a.pin());
  test::Connect(f, 4, b.pin());
  uint8_t byte = 1;
  a.Publish(MakePacket(1, PacketType::Bytes, &byte));
  b.Publish(MakePacket(1, PacketType::Bytes, &byte));
  std::vector<uint8_t> two = PinCountStream(2);
  cfg.Publish(Serialized(two));
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();

  std::vector<uint8_t> four = PinCountStream(4);
  cfg.Publish(Serialized(four));
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("Cfg in"), std::string::npos);
  EXPECT_EQ(f.pinCount, 5) << "pins that peers point at are not destroyed";
  EXPECT_EQ(f.pins[2]->ready, 0);
}

TEST(Serializer, RefusesInputsItCannotStore) {
  SerializerFilter f;
  f.Initialize();
  test::FakeOutput a;
  test::Connect(f, 3, a.pin());
  uint8_t byte = 1;
  a.Publish(MakePacket(1, PacketType::Bytes, &byte));
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(), "input \"2\" is not connected");

  test::FakeOutput b;
  test::Connect(f, 4, b.pin());
  b.Publish(MakePacket(6, PacketType::Bytes, nullptr));
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("without a payload"), std::string::npos);
  b.Publish(MakePacket(0, PacketType::String, nullptr));
  EXPECT_EQ(f.Process(), Ok) << "an empty packet is an empty record";
  char text[] = "ab";
  b.Publish(MakePacket(2, PacketType::String, text));
  ASSERT_EQ(f.Process(), Ok);
  const std::vector<uint8_t> c = Container(f);
  ASSERT_EQ(c.size(), 4u + 9 + 11);
  EXPECT_EQ(c.back(), 0) << "a text is stored with its terminator, whatever length it was given";
  IntArray broken{5, nullptr};
  b.Publish(MakePacket(sizeof broken, PacketType::IntArray, &broken));
  EXPECT_EQ(f.Process(), Failed);
  b.Publish(MakePacket(8, PacketType::IntArray, &byte));
  EXPECT_EQ(f.Process(), Failed) << "an IntArray packet must hold the record";
}

}  // namespace
}  // namespace vorlan
