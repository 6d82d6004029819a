#include "huffman_decoder_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <random>
#include <vector>

#include "huffman_decoding.h"
#include "huffman_encoder_filter.h"
#include "huffman_encoding.h"
#include "support/filter_harness.h"
#include "vorlan/config_stream.h"

namespace vorlan {
namespace {

struct Decoded {
  CodingResult result;
  std::vector<int32_t> values;
};

Decoded Decode(const std::vector<uint8_t>& stream, int64_t limit = kMaxDecodedValues) {
  OwnedIntArray out;
  Decoded d;
  d.result = DecodeHuffman(stream.data(), stream.size(), out, {}, limit);
  if (d.result.ok()) d.values.assign(out.Values(), out.Values() + out.Record().count);
  return d;
}

// A header T, S, W, V, F followed by `rest`.
std::vector<uint8_t> Stream(uint32_t t, uint32_t s, uint8_t w, uint8_t v, uint8_t f, std::vector<uint8_t> rest = {}) {
  std::vector<uint8_t> b;
  for (uint32_t x : {t, s})
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(x >> (8 * i)));
  b.insert(b.end(), {w, v, f});
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

TEST(HuffmanDecoding, DecodesWrittenStreamsAndRepeatsSingleEntries) {
  EXPECT_EQ(Decode(Stream(4, 2, 1, 3, 2, {0xFD, 0x2D})).values, (std::vector<int32_t>{5, 5, 7, 5}));
  // T = 5, W = 2, one entry (3, 1): no code bits, the entry repeats.
  EXPECT_EQ(Decode(Stream(5, 2, 2, 2, 1, {0x07, 0x01})).values, (std::vector<int32_t>{3, 1, 3, 1, 3}));
  // S mod W > 0: entries (1, 2) and the short (3); codes "1" and "0".
  // Bits: 10 01 11 | 1 1 | 1 0, the data decoding to 1 2 3.
  EXPECT_EQ(Decode(Stream(3, 3, 2, 2, 1, {0xF9, 0x01})).values, (std::vector<int32_t>{1, 2, 3}));
  // Cut after the frequencies: every missing code is the all-zero path.
  EXPECT_EQ(Decode(Stream(6, 2, 1, 3, 2, {0xFD, 0x0D})).values, (std::vector<int32_t>{5, 5, 7, 7, 7, 7}));
  // Header only: the empty array.
  const Decoded empty = Decode(Stream(0, 0, 9, 1, 1));
  ASSERT_TRUE(empty.result.ok());
  EXPECT_TRUE(empty.values.empty());
  // Unsigned fields come back below 2^V; flagged fields are sign-extended.
  EXPECT_EQ(Decode(Stream(1, 1, 1, 3, 1, {0x0F})).values, (std::vector<int32_t>{7}));
  EXPECT_EQ(Decode(Stream(1, 1, 1, 0x83, 1, {0x0F})).values, (std::vector<int32_t>{-1}));
}

TEST(HuffmanDecoding, RefusesHeadersThatCannotBeDecodedSafely) {
  const auto reason = [](const std::vector<uint8_t>& s, int64_t limit = kMaxDecodedValues) {
    const Decoded d = Decode(s, limit);
    EXPECT_EQ(d.result.status, CodingStatus::Failed);
    return d.result.reason;
  };
  EXPECT_NE(reason(Stream(4, 2, 0, 3, 2)).find("word length 0"), std::string::npos);
  EXPECT_NE(reason(Stream(4, 2, 1, 33, 2)).find("33-bit values"), std::string::npos);
  EXPECT_NE(reason(Stream(4, 2, 1, 0xA1, 2)).find("33-bit values"), std::string::npos);
  EXPECT_NE(reason(Stream(4, 2, 1, 3, 40)).find("frequencies"), std::string::npos);
  EXPECT_NE(reason(Stream(4, 0, 1, 3, 2)).find("empty symbol table"), std::string::npos);
  EXPECT_NE(reason(Stream(0xFFFFFFFFu, 1, 1, 1, 1)).find("4294967295 values"), std::string::npos);
  EXPECT_NE(reason(Stream(1, 0x7FFFFFFF, 1, 1, 1)).find("table"), std::string::npos);
  EXPECT_NE(reason(Stream(1, 1u << 24, 1, 1, 1)).find("symbols"), std::string::npos);
  EXPECT_FALSE(reason(Stream(1001, 1, 1, 1, 1), 1000).empty());
  // A truncated header reads as zeros: S = 0 with T = 1.
  EXPECT_EQ(Decode({1, 0, 0, 0, 1}).result.status, CodingStatus::Failed);

  // Fields the encoder never writes would decode to data nobody encoded.
  EXPECT_NE(reason(Stream(4, 2, 1, 0, 2, {0, 0})).find("0-bit values"), std::string::npos);
  EXPECT_NE(reason(Stream(4, 2, 1, 0x80, 2, {0, 0})).find("0-bit values"), std::string::npos);
  EXPECT_NE(reason(Stream(4, 2, 1, 3, 0, {0xFD, 0x2D})).find("0-bit frequencies"), std::string::npos);
  EXPECT_NE(reason(Stream(4, 5, 1, 3, 2, {0, 0, 0, 0})).find("table of 5 values for 4"), std::string::npos);
  EXPECT_NE(reason(Stream(4, 2, 255, 3, 2, {0xFD, 0x2D})).find("short entry of 2"), std::string::npos);
  // A table the stream does not hold: 2^22 one-bit values and frequencies
  // claimed by an 11-byte header.
  EXPECT_NE(reason(Stream(1u << 22, 1u << 22, 1, 1, 1)).find("follow its header"), std::string::npos);
  EXPECT_NE(reason(Stream(4, 2, 1, 3, 2, {0xFD})).find("table of 10 bits"), std::string::npos);
}

TEST(HuffmanDecoding, AskTheBudgetBeforeAllocatingTheOutput) {
  // One entry repeated 2^28 times is a valid 14-byte stream of a constant
  // array; only the budget stands between it and a 1 GiB allocation.
  const std::vector<uint8_t> constant = Stream(1u << 28, 1, 1, 1, 29, {0x01, 0x00, 0x00, 0x20});
  int64_t asked = 0;
  OwnedIntArray out;
  const CodingResult refused = DecodeHuffman(constant.data(), constant.size(), out, {}, kMaxDecodedValues,
                                             [&](int64_t bytes) {
                                               asked = bytes;
                                               return false;
                                             });
  EXPECT_EQ(refused.status, CodingStatus::Failed);
  EXPECT_EQ(asked, int64_t{4} << 28);
  EXPECT_EQ(out.Values(), nullptr);
}

TEST(HuffmanDecoding, EveryPrefixOfAStreamDecodesOrFailsCleanly) {
  std::vector<int32_t> values;
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) values.push_back(static_cast<int32_t>(rng() % 40) - 10);
  BitWriter w;
  ASSERT_TRUE(EncodeHuffman(values.data(), static_cast<int64_t>(values.size()), 3, w).ok());
  const std::vector<uint8_t> full(w.Data(), w.Data() + w.UsedBytes());
  EXPECT_EQ(Decode(full).values, values);
  for (size_t cut = 0; cut < full.size(); ++cut) {
    const Decoded d = Decode(std::vector<uint8_t>(full.begin(), full.begin() + cut));
    if (d.result.ok()) {
      EXPECT_LE(d.values.size(), values.size()) << cut;
      if (cut >= 11) {
        EXPECT_EQ(d.values.size(), values.size()) << cut;
      }
    }
  }
}

TEST(HuffmanDecoding, DegenerateTreesDecodeInTimeLinearInTheStream) {
  // 21846 entries, all values and frequencies zero (the stream ends after
  // the frequencies): the tree is one chain as deep as the table, and every code
  // past the end walks it down child 0.
  const auto start = std::chrono::steady_clock::now();
  const Decoded d = Decode(Stream(1u << 22, 65536, 3, 2, 6, std::vector<uint8_t>(32769, 0)));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(d.result.ok()) << d.result.reason;
  EXPECT_EQ(d.values.size(), size_t{1} << 22);
  EXPECT_EQ(std::count(d.values.begin(), d.values.end(), 0), 1 << 22);
  EXPECT_LT(seconds, 3.0);
}

// Encoder -> decoder through the filters' pins, as in a graph.
TEST(HuffmanRoundTrip, RandomArraysComeBackEqual) {
  std::mt19937 rng(20261207);
  HuffmanEncoderFilter encoder;
  HuffmanDecoderFilter decoder;
  encoder.Initialize();
  decoder.Initialize();
  test::FakeOutput src;
  test::Connect(encoder, 2, src.pin());
  test::Connect(encoder, 3, decoder, 2);
  const std::vector<int64_t> lengths = {0, 1, 2, 7, 255, 1000, 4097, 100000};
  for (int32_t w = 1; w <= 8; ++w) {
    for (int64_t length : lengths) {
      // Small alphabets (as in fractal codes) and wide ones, with negatives.
      const int32_t span = (length + w) % 3 == 0 ? 5 : 1 << (length % 31);
      std::vector<int32_t> values(static_cast<size_t>(length));
      for (auto& v : values) v = static_cast<int32_t>(rng() % static_cast<uint32_t>(span)) - (w % 2 == 0 ? span / 2 : 0);
      if (length > 3 && w == 3) values[1] = INT32_MIN;
      test::TestIntArray input(values);
      src.Publish(input.AsPacket());
      int32_t wl = w;
      ASSERT_EQ(encoder.ApplyConfig(MakePacket(4, PacketType::Config, &wl), ConfigForm::Native), Ok);
      ASSERT_EQ(test::RunFilters({&encoder, &decoder}), Ok) << encoder.FailureReason() << decoder.FailureReason();
      const Packet& out = test::Output(decoder, 3);
      ASSERT_EQ(out.type, static_cast<int32_t>(PacketType::IntArray));
      const auto* array = static_cast<const IntArray*>(out.data);
      ASSERT_EQ(array->count, length) << "W " << w;
      EXPECT_TRUE(std::equal(values.begin(), values.end(), array->values)) << "W " << w << " T " << length;
      encoder.Reset();
      decoder.Reset();
    }
  }
}

TEST(HuffmanDecoderFilter, FailsWithReasonsAndReleasesOutput) {
  HuffmanDecoderFilter f;
  f.Initialize();
  EXPECT_EQ(f.pinCount, 4);
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(), "input \"In\" is not connected");

  test::FakeOutput src;
  test::Connect(f, 2, src.pin());
  EXPECT_EQ(f.Process(), InputNotReady);
  std::vector<uint8_t> good = Stream(4, 2, 1, 3, 2, {0xFD, 0x2D});
  src.Publish(MakePacket(static_cast<int32_t>(good.size()), PacketType::Config, good.data()));
  ASSERT_EQ(f.Process(), Ok) << "any packet type is read as stream bytes";
  EXPECT_EQ(static_cast<const IntArray*>(test::Output(f, 3).data)->values[2], 7);

  std::vector<uint8_t> bad = Stream(4, 2, 1, 40, 2);
  src.Publish(MakePacket(static_cast<int32_t>(bad.size()), PacketType::Bytes, bad.data()));
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_EQ(f.pins[3]->ready, 0);
  EXPECT_EQ(f.state, FilterState::Stopped);
  src.Publish(MakePacket(0, PacketType::Bytes, nullptr));
  EXPECT_EQ(f.Process(), Failed) << "null payload";
}

}  // namespace
}  // namespace vorlan
