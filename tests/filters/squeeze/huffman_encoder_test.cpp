#include "huffman_encoder_filter.h"

#include <gtest/gtest.h>

#include <vector>

#include "huffman_encoding.h"
#include "support/filter_harness.h"
#include "vorlan/config_stream.h"

namespace vorlan {
namespace {

std::vector<uint8_t> Encode(std::vector<int32_t> values, int32_t w) {
  BitWriter out;
  const CodingResult r = EncodeHuffman(values.data(), static_cast<int64_t>(values.size()), w, out);
  EXPECT_TRUE(r.ok()) << r.reason;
  return {out.Data(), out.Data() + out.UsedBytes()};
}

int32_t Int32At(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24);
}

TEST(HuffmanEncoding, WorkedExampleAndTieBreaks) {
  EXPECT_EQ(Encode({5, 5, 7, 5}, 1), (std::vector<uint8_t>{0x04, 0, 0, 0, 0x02, 0, 0, 0, 0x01, 0x03, 0x02, 0xFD, 0x2D}));

  // 1, 2, 3: V = 2, F = 1; table 1 2 3, frequencies 1 1 1; codes 1 "0",
  // 2 "11", 3 "10". Bits after the header: 10 01 11 | 1 1 1 | 0 11 10.
  EXPECT_EQ(Encode({1, 2, 3}, 1), (std::vector<uint8_t>{3, 0, 0, 0, 3, 0, 0, 0, 1, 2, 1, 0xF9, 0x1D}));

  // a = 4 (x2), b = 6, c = 7: codes a "1", b "01", c "00"; V = 3, F = 2.
  // Bits: 001 011 111 | 01 10 10 | 1 01 1 00.
  EXPECT_EQ(Encode({4, 6, 4, 7}, 1), (std::vector<uint8_t>{4, 0, 0, 0, 3, 0, 0, 0, 1, 3, 2, 0xF4, 0xAD, 0x06}));
}

TEST(HuffmanEncoding, SymbolTableShapes) {
  // One distinct symbol: code length 0, no data bits.
  const std::vector<uint8_t> same = Encode(std::vector<int32_t>(1000, 9), 1);
  EXPECT_EQ(same.size(), 11u + (4 + 10 + 7) / 8);
  EXPECT_EQ(same[9], 4);    // V
  EXPECT_EQ(same[10], 10);  // F for 1000

  // Fewer values than W: one short entry of length T.
  const std::vector<uint8_t> shortInput = Encode({1, 2}, 5);
  EXPECT_EQ(Int32At(shortInput, 0), 2);
  EXPECT_EQ(Int32At(shortInput, 4), 2);
  EXPECT_EQ(shortInput[8], 5);
  EXPECT_EQ(shortInput.size(), 11u + 1);  // 2 x 2 value bits + 1 frequency bit

  // A tail that is a prefix of two entries goes to the more frequent one:
  // S stays a multiple of W.
  const std::vector<uint8_t> prefix = Encode({1, 2, 1, 3, 1, 3, 1}, 2);
  EXPECT_EQ(Int32At(prefix, 4), 4);
  // A tail matching nothing adds a short entry last.
  const std::vector<uint8_t> tail = Encode({1, 2, 1, 2, 7}, 2);
  EXPECT_EQ(Int32At(tail, 4), 3);

  // Empty input: the header alone with the current W.
  EXPECT_EQ(Encode({}, 7), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 7, 1, 1}));

  // Negative values: two's-complement fields, width byte flagged.
  EXPECT_EQ(Encode({-1, 3, -1}, 1)[9], 0x83);
  EXPECT_EQ(Encode({0, 1, 2, 3, 4}, 1)[9], 3);
}

TEST(HuffmanEncoderFilter, EncodesInputAndPublishesSettings) {
  HuffmanEncoderFilter f;
  ASSERT_EQ(f.Initialize(), Ok);
  ASSERT_EQ(f.pinCount, 4);
  EXPECT_STREQ(f.pins[2]->name, "In");
  EXPECT_STREQ(f.pins[3]->name, "Out");

  test::FakeOutput src;
  test::Connect(f, 2, src.pin());
  EXPECT_EQ(f.Process(), InputNotReady);
  test::TestIntArray input({5, 5, 7, 5});
  src.Publish(input.AsPacket());
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  const Packet& out = test::Output(f, 3);
  EXPECT_EQ(out.type, static_cast<int32_t>(PacketType::Bytes));
  ASSERT_EQ(out.length, 13);
  EXPECT_EQ(static_cast<const uint8_t*>(out.data)[12], 0x2D);
  const Packet& cfg = test::Output(f, 1);
  ASSERT_EQ(cfg.length, 4);
  EXPECT_EQ(*static_cast<const int32_t*>(cfg.data), 1);

  ASSERT_EQ(f.Reset(), Ok);
  EXPECT_EQ(f.pins[3]->ready, 0);
}

TEST(HuffmanEncoderFilter, SettingsAreAppliedButCheckedWhenRunning) {
  HuffmanEncoderFilter f;
  f.Initialize();
  ConfigWriter w;
  w.Int32(0);
  std::vector<uint8_t> zero = w.Bytes();
  EXPECT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, zero.data()), ConfigForm::Serialized), Ok);
  EXPECT_EQ(f.Settings().wordLength, 0) << "graphs holding such settings still load";
  uint8_t two[2] = {1, 2};
  EXPECT_EQ(f.ApplyConfig(MakePacket(2, PacketType::Config, two), ConfigForm::Serialized), Ok);
  EXPECT_EQ(f.Settings().wordLength, 0) << "a short stream keeps W";
  EXPECT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, nullptr), ConfigForm::Serialized), Failed);

  test::FakeOutput src;
  test::TestIntArray input({1, 2, 3});
  src.Publish(input.AsPacket());
  test::Connect(f, 2, src.pin());
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("word length"), std::string::npos) << f.FailureReason();
  EXPECT_EQ(f.state, FilterState::Stopped);

  int32_t w3 = 3;
  ASSERT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, &w3), ConfigForm::Native), Ok);
  Packet native = f.GetConfig(ConfigForm::Native);
  ASSERT_EQ(native.length, 4);
  EXPECT_EQ(*static_cast<int32_t*>(native.data), 3);
  FreePacket(native);
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  EXPECT_EQ(static_cast<const uint8_t*>(test::Output(f, 3).data)[8], 3);
  const Packet other = f.GetConfig(static_cast<ConfigForm>(5));
  EXPECT_EQ(other.length, 0);
  EXPECT_EQ(other.data, nullptr);
}

TEST(HuffmanEncoderFilter, RefusesInputsThatAreNotIntegerArrays) {
  HuffmanEncoderFilter f;
  f.Initialize();
  EXPECT_EQ(f.Process(), Failed) << "not connected";
  test::FakeOutput src;
  test::Connect(f, 2, src.pin());
  uint8_t bytes[8] = {};
  src.Publish(MakePacket(8, PacketType::Bytes, bytes));
  EXPECT_EQ(f.Process(), Failed);
  IntArray broken{-3, nullptr};
  src.Publish(MakePacket(sizeof broken, PacketType::IntArray, &broken));
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("In"), std::string::npos);
  EXPECT_EQ(f.pins[3]->ready, 0);
}

}  // namespace
}  // namespace vorlan
