#include "bit_stream.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "huffman_tree.h"

namespace vorlan {
namespace {

std::vector<uint8_t> Bytes(const BitWriter& w) { return {w.Data(), w.Data() + w.UsedBytes()}; }

TEST(BitWriter, WritesLsbFirstAndSeekTruncates) {
  BitWriter w;
  const uint32_t five = 5;
  w.Write(&five, 3);       // 1 0 1
  w.WriteBits(0x3FF, 10);  // ten ones spill into the second byte
  EXPECT_EQ(Bytes(w), (std::vector<uint8_t>{0xFD, 0x1F}));
  EXPECT_EQ(w.BitPosition(), 13u);

  const uint8_t source[3] = {0xAB, 0xCD, 0x01};
  w.Write(source, 17);
  EXPECT_EQ(w.UsedBytes(), 4u);  // 30 bits

  // A seek back keeps the bits below it; the next write drops the rest.
  ASSERT_TRUE(w.Seek(2));
  w.WriteBits(0, 1);
  EXPECT_EQ(Bytes(w), (std::vector<uint8_t>{0x01}));
  EXPECT_FALSE(w.Seek(9)) << "beyond the used length";
  EXPECT_TRUE(w.Seek(8));
  EXPECT_EQ(w.BitPosition(), 8u);
}

TEST(BitReader, ReadsWithinBufferOnly) {
  const uint8_t data[2] = {0xFD, 0x2D};
  BitReader r(data, sizeof data);
  uint32_t v = 0;
  ASSERT_TRUE(r.ReadBits(3, v));
  EXPECT_EQ(v, 5u);

  // A read past the end changes neither the destination nor the position.
  uint8_t out[3] = {0x77, 0x77, 0x77};
  EXPECT_FALSE(r.Read(out, 14));
  EXPECT_EQ(out[0], 0x77);
  EXPECT_EQ(r.BitPosition(), 3u);

  // Whole bytes first, then the rest in the low bits of the next byte with
  // its high bits cleared; bytes beyond are not touched.
  ASSERT_TRUE(r.Read(out, 10));
  EXPECT_EQ(out[0], 0xBF);  // bits 3..10 of the stream
  EXPECT_EQ(out[1], 0x01);  // bits 11..12
  EXPECT_EQ(out[2], 0x77);
  EXPECT_EQ(r.RemainingBits(), 3u);
  EXPECT_EQ(r.PeekBits(8), 0x1u) << "bits past the end peek as 0";
  r.Skip(100);
  EXPECT_EQ(r.RemainingBits(), 0u);
  EXPECT_TRUE(r.ReadBits(0, v));
}

TEST(ValueWidth, UnsignedAndTwosComplementWidths) {
  auto width = [](std::vector<int32_t> v) { return ValueWidthByte(v.data(), static_cast<int64_t>(v.size())); };
  EXPECT_EQ(width({}), 1);
  EXPECT_EQ(width({0, 0, 0}), 1);
  EXPECT_EQ(width({0, 1, 2, 3, 4}), 3);
  EXPECT_EQ(width({5, 255}), 8);
  EXPECT_EQ(width({256}), 9);
  EXPECT_EQ(width({INT_MAX}), 31);
  EXPECT_EQ(width({-1}), 0x81);
  EXPECT_EQ(width({-1, 0}), 0x81);
  EXPECT_EQ(width({-1, 1}), 0x82);
  EXPECT_EQ(width({-4, 3}), 0x83);
  EXPECT_EQ(width({-5, 3}), 0x84);
  EXPECT_EQ(width({INT_MIN}), 0xA0);
  EXPECT_EQ(width({-1, INT_MAX}), 0xA0);

  unsigned bits = 0;
  bool isSigned = false;
  ASSERT_TRUE(DecodeWidthByte(0x83, bits, isSigned));
  EXPECT_EQ(bits, 3u);
  EXPECT_TRUE(isSigned);
  EXPECT_FALSE(DecodeWidthByte(33, bits, isSigned));
  EXPECT_FALSE(DecodeWidthByte(0xA1, bits, isSigned));
  EXPECT_EQ(ExtendField(0b100, 3, true), -4);
  EXPECT_EQ(ExtendField(0b011, 3, true), 3);
  EXPECT_EQ(ExtendField(0b100, 3, false), 4);
  EXPECT_EQ(ExtendField(0x80000000u, 32, true), INT_MIN);
}

// Codes as strings of branch bits, root's choice first, by sorted position.
std::vector<std::string> Codes(std::vector<uint64_t> frequencies) {
  HuffmanTree tree;
  EXPECT_TRUE(BuildHuffmanTree(frequencies.data(), static_cast<int32_t>(frequencies.size()), tree));
  std::vector<uint64_t> codes;
  std::vector<uint8_t> lengths;
  EXPECT_TRUE(LeafCodes(tree, codes, lengths));
  std::vector<std::string> out;
  for (size_t i = 0; i < codes.size(); ++i) {
    std::string s;
    for (unsigned b = 0; b < lengths[i]; ++b) s += ((codes[i] >> b) & 1) != 0 ? '1' : '0';
    out.push_back(s);
  }
  return out;
}

TEST(HuffmanTree, MergesLastTwoAndPlacesMergedNodesBehindEqualOnes) {
  EXPECT_EQ(Codes({3, 1}), (std::vector<std::string>{"1", "0"}));
  // All equal: the merged node goes behind the remaining leaf.
  EXPECT_EQ(Codes({1, 1, 1}), (std::vector<std::string>{"0", "11", "10"}));
  // a = 2, b = 1, c = 1: the merged node (2) goes behind a and becomes child 0.
  EXPECT_EQ(Codes({2, 1, 1}), (std::vector<std::string>{"1", "01", "00"}));
  EXPECT_EQ(Codes({7}), (std::vector<std::string>{""}));
  // Fibonacci weights give the deepest tree: one more bit per entry.
  const std::vector<std::string> deep = Codes({21, 13, 8, 5, 3, 2, 1, 1});
  EXPECT_EQ(deep.back().size(), 7u);
  EXPECT_EQ(deep.front().size(), 1u);

  EXPECT_EQ(SortByFrequency({1, 3, 1, 3}), (std::vector<int32_t>{1, 3, 0, 2})) << "stable, highest first";
}

}  // namespace
}  // namespace vorlan
