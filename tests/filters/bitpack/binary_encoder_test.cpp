#include "binary_encoder_filter.h"

#include <gtest/gtest.h>

#include <vector>

#include "binary_coding.h"
#include "support/filter_harness.h"

namespace vorlan {
namespace {

std::vector<uint8_t> Encode(std::vector<int32_t> values) {
  BitWriter out(64);
  const CodingResult r = EncodeBinary(values.data(), static_cast<int64_t>(values.size()), out);
  EXPECT_TRUE(r.ok()) << r.reason;
  return {out.Data(), out.Data() + out.UsedBytes()};
}

TEST(BinaryEncoding, FixedWidthStreams) {
  EXPECT_EQ(Encode({5, 0, 3}), (std::vector<uint8_t>{3, 0, 0, 0, 3, 0xC5, 0x00}));
  EXPECT_EQ(Encode({}), (std::vector<uint8_t>{0, 0, 0, 0, 1}));
  EXPECT_EQ(Encode(std::vector<int32_t>(16, 0)), (std::vector<uint8_t>{16, 0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(Encode({1, 255, 3})[4], 8);
  EXPECT_EQ(Encode({1, 256, 3}).size(), 5u + 4);  // 27 bits
  // Negative values: flagged two's-complement width, low bits stored.
  EXPECT_EQ(Encode({-1, 1}), (std::vector<uint8_t>{2, 0, 0, 0, 0x82, 0x07}));
}

TEST(BinaryEncoderFilter, EncodesIntArraysOnly) {
  BinaryEncoderFilter f;
  ASSERT_EQ(f.Initialize(), Ok);
  ASSERT_EQ(f.pinCount, 4);
  EXPECT_STREQ(f.pins[2]->name, "In");
  EXPECT_STREQ(f.pins[3]->name, "Out");
  test::FakeOutput src;
  test::Connect(f, 2, src.pin());
  test::TestIntArray input({5, 0, 3});
  src.Publish(input.AsPacket());
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  const Packet& out = test::Output(f, 3);
  EXPECT_EQ(out.type, static_cast<int32_t>(PacketType::Bytes));
  ASSERT_EQ(out.length, 7);
  EXPECT_EQ(static_cast<const uint8_t*>(out.data)[5], 0xC5);
  const Packet& cfg = test::Output(f, 1);
  EXPECT_EQ(cfg.length, 0);
  EXPECT_EQ(cfg.type, static_cast<int32_t>(PacketType::Config));

  uint8_t raw[4] = {};
  src.Publish(MakePacket(4, PacketType::Integer, raw));
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("type 6"), std::string::npos);
  EXPECT_EQ(f.pins[3]->ready, 0);
}

}  // namespace
}  // namespace vorlan
