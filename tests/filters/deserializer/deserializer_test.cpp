#include "deserializer_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "serializer_filter.h"
#include "support/filter_harness.h"
#include "vorlan/config_stream.h"
#include "vorlan/memory_budget.h"

namespace vorlan {
namespace {

// A container built record by record.
struct ContainerBytes {
  static constexpr int32_t kPayloadSize = INT32_MIN;  // the length field matches the payload
  std::vector<uint8_t> bytes{0, 0, 0, 0};
  ContainerBytes& Count(int32_t r) {
    std::memcpy(bytes.data(), &r, 4);
    return *this;
  }
  ContainerBytes& Record(int32_t type, std::vector<uint8_t> payload, int32_t length = kPayloadSize) {
    if (length == kPayloadSize) length = static_cast<int32_t>(payload.size());
    for (int32_t v : {type, length}) {
      const auto* p = reinterpret_cast<const uint8_t*>(&v);
      bytes.insert(bytes.end(), p, p + 4);
    }
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return *this;
  }
  Packet AsPacket() { return MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Bytes, bytes.data()); }
};

struct Fixture {
  explicit Fixture(int32_t n) {
    f.Initialize();
    ConfigWriter w;
    w.Int32(n);
    std::vector<uint8_t> s = w.Bytes();
    EXPECT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, s.data()), ConfigForm::Serialized), Ok);
    test::Connect(f, 2, src.pin());
  }
  Result Run(ContainerBytes& c) {
    src.Publish(c.AsPacket());
    return f.Process();
  }
  DeserializerFilter f;
  test::FakeOutput src;
};

TEST(Deserializer, SplitsRecordsOntoNumberedOutputs) {
  Fixture x(3);
  ASSERT_EQ(x.f.pinCount, 6);
  EXPECT_STREQ(x.f.pins[2]->name, "In");
  EXPECT_STREQ(x.f.pins[5]->name, "3");

  ContainerBytes c;
  c.Count(2).Record(0, {1, 2, 3}).Record(1, {4, 5, 6, 7, 8});
  ASSERT_EQ(x.Run(c), Ok) << x.f.FailureReason();
  const Packet& first = test::Output(x.f, 3);
  EXPECT_EQ(first.length, 3);
  EXPECT_EQ(first.data, c.bytes.data() + 12) << "bytes are published in place";
  EXPECT_EQ(test::Output(x.f, 4).type, 1);
  const Packet& missing = test::Output(x.f, 5);
  EXPECT_EQ(x.f.pins[5]->ready, 1);
  EXPECT_EQ(missing.length, 0);
  EXPECT_EQ(missing.data, nullptr);

  // More records than pins: the extra ones are ignored.
  Fixture one(1);
  ASSERT_EQ(one.Run(c), Ok);
  EXPECT_EQ(test::Output(one.f, 3).length, 3);

  // N = 0 publishes nothing and still ends Done.
  Fixture none(0);
  ASSERT_EQ(none.Run(c), Ok);
  EXPECT_EQ(none.f.state, FilterState::Done);
}

TEST(Deserializer, RefusesContainersThatRunPastTheirEnd) {
  const auto fails = [](ContainerBytes c, const char* what) {
    Fixture x(2);
    EXPECT_EQ(x.Run(c), Failed) << what;
    EXPECT_NE(std::string(x.f.FailureReason()), "") << what;
    EXPECT_EQ(x.f.pins[3]->ready, 0) << what;
  };
  fails(ContainerBytes{{1, 0}}, "shorter than the count");
  fails(ContainerBytes{}.Count(-1), "negative count");
  fails(ContainerBytes{}.Count(0x10000000), "count past the end");
  fails(ContainerBytes{}.Count(2).Record(0, {1, 2}), "second record missing");
  fails(ContainerBytes{}.Count(1).Record(0, {1, 2}, 3), "record length past the end");
  fails(ContainerBytes{}.Count(1).Record(0, {1, 2}, -2), "negative record length");
  fails(ContainerBytes{}.Count(3).Record(0, {}).Record(0, {}).Record(0, {1}, 0x7FFFFFF0), "bad record beyond N");
  fails(ContainerBytes{}.Count(1).Record(8, {1, 2, 3}), "integer array of 3 bytes");
  fails(ContainerBytes{}.Count(1).Record(2, std::vector<uint8_t>(24, 0x7F)), "plane of the wrong size");
  std::vector<uint8_t> hugePlane(24, 0);
  hugePlane[3] = hugePlane[7] = 0x40;  // 2^30 x 2^30 samples
  fails(ContainerBytes{}.Count(1).Record(2, hugePlane), "plane whose sample count overflows");
  fails(ContainerBytes{}.Count(1).Record(6, {1, 2}), "integer of 2 bytes");
  fails(ContainerBytes{}.Count(1).Record(7, {1, 2, 3, 4}), "float of 4 bytes");
  fails(ContainerBytes{}.Count(1).Record(5, {'a', 'b'}), "text without terminator");

  Fixture x(1);
  x.src.Publish(MakePacket(0, PacketType::Bytes, nullptr));
  EXPECT_EQ(x.f.Process(), Failed) << "null payload";
}

TEST(Deserializer, CopiesCountAgainstTheDecodedMemoryBudget) {
  std::vector<uint8_t> values(4000, 1);
  ContainerBytes c;
  c.Count(2).Record(8, values).Record(8, values);
  Fixture x(2);
  SetDecodedMemoryLimit(6000);
  EXPECT_EQ(x.Run(c), Failed);
  EXPECT_STREQ(x.f.FailureReason(),
               "Deserializer: record 2 would take 4000 bytes, over the memory limit of 6000 bytes for decoded data "
               "(4000 in use)");
  EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 0) << "a failed run returns what it reserved";
  SetDecodedMemoryLimit(8000);
  EXPECT_EQ(x.Run(c), Ok) << x.f.FailureReason();
  EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 8000);
  SetDecodedMemoryLimit(kDefaultDecodedMemoryLimit);
  x.f.Reset();
  EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 0);
}

TEST(Deserializer, ADifferentPinCountDuringARunFailsIt) {
  Fixture x(2);
  test::FakeOutput cfg;
  test::Connect(x.f, 0, cfg.pin());
  ConfigWriter w;
  w.Int32(3);
  std::vector<uint8_t> s = w.Bytes();
  cfg.Publish(MakePacket(4, PacketType::Config, s.data()));
  ContainerBytes c;
  c.Count(0);
  EXPECT_EQ(x.Run(c), Failed);
  EXPECT_EQ(x.f.pinCount, 5);
  int32_t negative = -4;
  EXPECT_EQ(x.f.ApplyConfig(MakePacket(4, PacketType::Config, &negative), ConfigForm::Native), Failed);
  EXPECT_EQ(x.f.Settings().pinCount, 2);
}

// Serializer -> deserializer returns packets equal to the inputs, whatever
// their payload type.
TEST(SerializerRoundTrip, EveryPayloadTypeComesBackEqual) {
  constexpr int32_t kPins = 8;
  SerializerFilter ser;
  DeserializerFilter des;
  for (Filter* f : {static_cast<Filter*>(&ser), static_cast<Filter*>(&des)}) {
    f->Initialize();
    int32_t n = kPins;
    ASSERT_EQ(f->ApplyConfig(MakePacket(4, PacketType::Config, &n), ConfigForm::Native), Ok);
  }
  test::Connect(ser, 2, des, 2);

  std::vector<uint8_t> bytes = {0, 255, 7};
  std::vector<uint8_t> config = {1, 0, 0, 0, 9};
  char text[] = "fractal";
  int32_t integer = -123456;
  double real = 31.25;
  test::TestIntArray array({1, -2, 3, INT32_MIN, INT32_MAX});
  test::TestPlane plane(3, 2, -1.0, 1.0, {0.5, -0.25, 1e-9, 7.0, 0.0, -1.0});
  test::TestIntArray emptyArray({});
  std::vector<Packet> inputs = {
      MakePacket(3, PacketType::Bytes, bytes.data()),
      MakePacket(5, PacketType::Config, config.data()),
      MakePacket(sizeof text, PacketType::String, text),
      MakePacket(4, PacketType::Integer, &integer),
      MakePacket(8, PacketType::Float, &real),
      array.AsPacket(),
      plane.AsPacket(),
      emptyArray.AsPacket(),
  };
  std::vector<test::FakeOutput> sources(kPins);
  for (int32_t i = 0; i < kPins; ++i) {
    test::Connect(ser, 3 + i, sources[i].pin());
    sources[i].Publish(inputs[i]);
  }
  ASSERT_EQ(test::RunFilters({&ser, &des}), Ok) << ser.FailureReason() << des.FailureReason();

  for (int32_t i = 0; i < kPins; ++i) {
    const Packet& in = inputs[i];
    const Packet& out = test::Output(des, 3 + i);
    ASSERT_EQ(out.type, in.type) << i;
    ASSERT_EQ(out.length, in.length) << i;
    if (in.type == static_cast<int32_t>(PacketType::IntArray)) {
      const auto* a = static_cast<const IntArray*>(in.data);
      const auto* b = static_cast<const IntArray*>(out.data);
      ASSERT_EQ(b->count, a->count);
      EXPECT_NE(b->values, a->values) << "rebuilt, not the producer's address";
      EXPECT_TRUE(std::equal(a->values, a->values + a->count, b->values));
    } else if (in.type == static_cast<int32_t>(PacketType::Plane)) {
      const auto* a = static_cast<const Plane*>(in.data);
      const auto* b = static_cast<const Plane*>(out.data);
      EXPECT_EQ(b->width, a->width);
      EXPECT_EQ(b->height, a->height);
      EXPECT_EQ(b->min, a->min);
      EXPECT_EQ(b->max, a->max);
      EXPECT_EQ(b->size, a->size);
      EXPECT_EQ(std::memcmp(a->samples, b->samples, a->size), 0);
    } else {
      EXPECT_EQ(std::memcmp(in.data, out.data, in.length), 0) << i;
      if (in.type != 0 && in.type != 1) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(out.data) % 8, 0u) << "aligned copy " << i;
      }
    }
  }
  EXPECT_EQ(*static_cast<const double*>(test::Output(des, 7).data), 31.25);

  ASSERT_EQ(des.Reset(), Ok);
  EXPECT_EQ(des.pins[8]->ready, 0);
}

}  // namespace
}  // namespace vorlan
