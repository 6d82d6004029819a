#include "vorlan/config_stream.h"

#include <gtest/gtest.h>

namespace vorlan {
namespace {

std::vector<uint8_t> Bytes(const ConfigWriter& w) { return w.Bytes(); }

TEST(ConfigStream, TextEncodings) {
  ConfigWriter missing;
  missing.Text(std::nullopt);
  EXPECT_EQ(Bytes(missing), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));

  ConfigWriter abc;
  abc.Text(std::string("abc"));
  EXPECT_EQ(Bytes(abc), (std::vector<uint8_t>{3, 0, 0, 0, 'a', 'b', 'c'}));

  std::optional<std::string> text = "x";
  ConfigReader r(missing.Bytes().data(), missing.Bytes().size());
  ASSERT_TRUE(r.Text(text));
  EXPECT_FALSE(text.has_value());
}

TEST(ConfigStream, RoundTripOfEveryItemKind) {
  ConfigWriter w;
  w.Int32(-7);
  w.Float32(1.5f);
  w.Float64(0.299);
  w.Byte(1);
  w.Text(std::string("path/a.bmp"));
  Packet p = w.ToPacket();
  ASSERT_EQ(p.length, 4 + 4 + 8 + 1 + 4 + 10);
  EXPECT_EQ(p.type, static_cast<int32_t>(PacketType::Config));

  ConfigReader r(p);
  int32_t i = 0;
  float f = 0;
  double d = 0;
  uint8_t b = 0;
  std::optional<std::string> t;
  ASSERT_TRUE(r.Int32(i) && r.Float32(f) && r.Float64(d) && r.Byte(b) && r.Text(t));
  EXPECT_EQ(i, -7);
  EXPECT_EQ(f, 1.5f);
  EXPECT_EQ(d, 0.299);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(t, "path/a.bmp");
  EXPECT_EQ(r.Remaining(), 0u);
  EXPECT_FALSE(r.Byte(b));
  FreePacket(p);
}

TEST(ConfigStream, TruncatedAndLyingStreamsFail) {
  const uint8_t longText[] = {100, 0, 0, 0, 'a', 'b'};
  ConfigReader r(longText, sizeof longText);
  std::optional<std::string> t;
  EXPECT_FALSE(r.Text(t));
  EXPECT_FALSE(t.has_value());
  EXPECT_EQ(r.Remaining(), sizeof longText) << "a failed read consumes nothing";

  const uint8_t negative[] = {0xFE, 0xFF, 0xFF, 0xFF};
  ConfigReader n(negative, sizeof negative);
  EXPECT_FALSE(n.Text(t));

  const uint8_t three[] = {1, 2, 3};
  ConfigReader s(three, sizeof three);
  int32_t v = 0;
  EXPECT_FALSE(s.Int32(v));

  ConfigWriter empty;
  Packet p = empty.ToPacket();
  EXPECT_EQ(p.length, 0);
  EXPECT_EQ(p.data, nullptr);
}

}  // namespace
}  // namespace vorlan
