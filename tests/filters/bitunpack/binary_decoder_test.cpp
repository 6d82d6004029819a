#include "binary_decoder_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <vector>

#include "binary_coding.h"
#include "binary_decoding.h"
#include "binary_encoder_filter.h"
#include "support/filter_harness.h"
#include "vorlan/memory_budget.h"

namespace vorlan {
namespace {

struct Decoded {
  CodingResult result;
  std::vector<int32_t> values;
};

Decoded Decode(const std::vector<uint8_t>& stream) {
  OwnedIntArray out;
  Decoded d;
  d.result = DecodeBinary(stream.data(), stream.size(), out);
  if (d.result.ok()) d.values.assign(out.Values(), out.Values() + out.Record().count);
  return d;
}

TEST(BinaryDecoding, DecodesStreamsAndRefusesShortOnes) {
  EXPECT_EQ(Decode({3, 0, 0, 0, 3, 0xC5, 0x00}).values, (std::vector<int32_t>{5, 0, 3}));
  // A stream shorter than the values it claims is refused, not padded.
  EXPECT_EQ(Decode({3, 0, 0, 0, 3, 0xC5}).result.status, CodingStatus::Failed) << "cut inside the values";
  EXPECT_EQ(Decode({4, 0, 0, 0}).result.status, CodingStatus::Failed) << "no width byte";
  const Decoded bomb = Decode({0xFF, 0xFF, 0xFF, 0x0F, 1});
  EXPECT_NE(bomb.result.reason.find("claims 268435455 values of 1 bits, but only 0 bits"), std::string::npos)
      << bomb.result.reason;
  const Decoded empty = Decode({0, 0, 0, 0, 1});
  ASSERT_TRUE(empty.result.ok());
  EXPECT_TRUE(empty.values.empty());
  EXPECT_TRUE(Decode({}).result.ok());
  EXPECT_EQ(Decode({2, 0, 0, 0, 0x82, 0x07}).values, (std::vector<int32_t>{-1, 1}));
  EXPECT_EQ(Decode({1, 0, 0, 0, 32, 0xFF, 0xFF, 0xFF, 0xFF}).values, (std::vector<int32_t>{-1}));

  EXPECT_EQ(Decode({1, 0, 0, 0, 33}).result.status, CodingStatus::Failed);
  EXPECT_EQ(Decode({1, 0, 0, 0, 0xA1}).result.status, CodingStatus::Failed);
  const Decoded huge = Decode({0xFF, 0xFF, 0xFF, 0x7F, 1});
  EXPECT_EQ(huge.result.status, CodingStatus::Failed);
  EXPECT_NE(huge.result.reason.find("2147483647 values"), std::string::npos) << huge.result.reason;
}

TEST(BinaryRoundTrip, RandomArraysComeBackEqual) {
  std::mt19937 rng(1207);
  BinaryEncoderFilter encoder;
  BinaryDecoderFilter decoder;
  encoder.Initialize();
  decoder.Initialize();
  test::FakeOutput src;
  test::Connect(encoder, 2, src.pin());
  test::Connect(encoder, 3, decoder, 2);
  for (int64_t length : {0, 1, 3, 64, 999, 100000}) {
    for (int bits = 1; bits <= 32; bits += 5) {
      std::vector<int32_t> values(static_cast<size_t>(length));
      const uint64_t span = uint64_t{1} << bits;
      for (auto& v : values) v = static_cast<int32_t>(static_cast<int64_t>(rng() % span) - (bits % 2 ? int64_t(span / 2) : 0));
      if (length > 10 && bits == 31) values[3] = INT32_MIN;
      test::TestIntArray input(values);
      src.Publish(input.AsPacket());
      ASSERT_EQ(test::RunFilters({&encoder, &decoder}), Ok) << encoder.FailureReason() << decoder.FailureReason();
      const auto* array = static_cast<const IntArray*>(test::Output(decoder, 3).data);
      ASSERT_EQ(array->count, length);
      EXPECT_TRUE(std::equal(values.begin(), values.end(), array->values)) << length << " " << bits;
      encoder.Reset();
      decoder.Reset();
    }
  }
}

TEST(BinaryDecoderFilter, FailsWithReasons) {
  BinaryDecoderFilter f;
  f.Initialize();
  EXPECT_EQ(f.Process(), Failed);
  test::FakeOutput src;
  test::Connect(f, 2, src.pin());
  EXPECT_EQ(f.Process(), InputNotReady);
  std::vector<uint8_t> wide = {1, 0, 0, 0, 40, 0};
  src.Publish(MakePacket(6, PacketType::Bytes, wide.data()));
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("40-bit"), std::string::npos);
  src.Publish(MakePacket(0, PacketType::Bytes, nullptr));
  EXPECT_EQ(f.Process(), Failed);
  std::vector<uint8_t> good = {3, 0, 0, 0, 3, 0xC5, 0x00};
  src.Publish(MakePacket(7, PacketType::Bytes, good.data()));
  ASSERT_EQ(f.Process(), Ok);
  EXPECT_EQ(static_cast<const IntArray*>(test::Output(f, 3).data)->values[0], 5);

  // A record packet is not a stream: its bytes would be an address.
  test::TestIntArray array({1, 2, 3});
  src.Publish(array.AsPacket());
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(), "input \"In\" received an integer array where a byte stream belongs");
  test::TestPlane plane(1, 1, 0.0, 1.0, {0.5});
  src.Publish(plane.AsPacket());
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(), "input \"In\" received an image plane where a byte stream belongs");

  // The budget is asked before the output is allocated, and names the filter.
  SetDecodedMemoryLimit(12);
  src.Publish(MakePacket(7, PacketType::Bytes, good.data()));
  EXPECT_EQ(f.Process(), Ok) << "12 bytes fit after the previous output went";
  std::vector<uint8_t> four = {4, 0, 0, 0, 1, 0x0F};
  src.Publish(MakePacket(6, PacketType::Bytes, four.data()));
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(),
               "Binary decoder: the decoded array would take 16 bytes, over the memory limit of 12 bytes for "
               "decoded data (0 in use)");
  SetDecodedMemoryLimit(kDefaultDecodedMemoryLimit);
  f.Reset();
  EXPECT_EQ(f.pins[3]->ready, 0);
  EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 0) << "Reset returns the reservation";
}

}  // namespace
}  // namespace vorlan
