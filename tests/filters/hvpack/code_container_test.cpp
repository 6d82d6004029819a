// The packed code on its own: the coder's building blocks, codes made up to
// reach the corners of the format, random valid trees, and streams that are
// cut, flipped or too long.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "code_container.h"
#include "crc32.h"
#include "decode_plan.h"
#include "range_coder.h"
#include "bounded_model.h"
#include "offset_predictor.h"
#include "filters/attractor/synthetic_code.h"

namespace vorlan::codepack {
namespace {

using attractor::test::SyntheticCode;

CodeView ViewOfSynthetic(const SyntheticCode& c, const std::vector<uint8_t>& header, bool withRectangles) {
  CodeView v;
  v.header = header.data();
  v.headerLength = static_cast<int32_t>(header.size());
  v.si = c.si;
  v.oi = c.oi;
  v.trn = c.trn;
  v.dp = c.dp;
  v.df = c.df;
  v.hasRp = v.hasRs = withRectangles;
  v.rp = c.rp;
  v.rs = c.rs;
  v.rtd = c.rtd;
  v.rtt = c.rtt;
  return v;
}

// Packs in `version`, unpacks and compares every array; the unpacked code
// must also be one the HV decoder accepts.
void ExpectRoundTripIn(int version, const SyntheticCode& c, const std::string& label) {
  const std::vector<uint8_t> header = c.HeaderBytes();
  std::vector<uint8_t> packed;
  ASSERT_EQ(PackCode(ViewOfSynthetic(c, header, !c.rp.empty()), packed, version), "") << label;
  ASSERT_GE(packed.size(), 6u);
  EXPECT_EQ(packed[4] | (packed[5] << 8), version) << label;
  UnpackedCode back;
  ASSERT_EQ(UnpackCode(packed.data(), packed.size(), back), "") << label;
  EXPECT_EQ(std::memcmp(&back.header, header.data(), header.size()), 0) << label;
  EXPECT_EQ(back.si, c.si) << label;
  EXPECT_EQ(back.oi, c.oi) << label;
  EXPECT_EQ(back.trn, c.trn) << label;
  EXPECT_EQ(back.dp, c.dp) << label;
  EXPECT_EQ(back.df, c.df) << label;
  EXPECT_EQ(back.rtd, c.rtd) << label;
  EXPECT_EQ(back.rtt, c.rtt) << label;
  if (!c.rp.empty()) {
    EXPECT_EQ(back.rp, c.rp) << label;
    EXPECT_EQ(back.rs, c.rs) << label;
  }
  attractor::CodeArrays arrays{back.si, back.oi, back.trn, back.dp, back.df, false, {}, {}, back.rtd, back.rtt};
  attractor::DecodePlan plan;
  EXPECT_EQ(attractor::BuildDecodePlan(back.header, arrays, 1, 1, plan), "") << label;
}

void ExpectRoundTrip(const SyntheticCode& c, const std::string& label) {
  for (int version = 1; version <= kLatestFormatVersion; ++version) {
    ExpectRoundTripIn(version, c, label + ", version " + std::to_string(version));
  }
}

TEST(RangeCoder, BitsAndBoundedValuesComeBackUnderSharedAdaptiveModels) {
  std::mt19937 rng(7);
  std::vector<int> bits(20000);
  std::vector<uint32_t> bounds(3000), values(3000);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = (rng() % 10) < (i % 3 == 0 ? 9u : 2u) ? 1 : 0;
  const uint32_t edgeBounds[] = {0, 1, 2, 3, 255, 256, 257, 65535, 0x7FFFFFFFu, 0xFFFFFFFFu};
  for (size_t i = 0; i < bounds.size(); ++i) {
    bounds[i] = i < 10 ? edgeBounds[i] : rng() >> (rng() % 32);
    const uint32_t pick = rng() % 4;  // the ends of the interval are the risky values
    values[i] = pick == 0 ? 0 : pick == 1 ? bounds[i] : (bounds[i] == 0xFFFFFFFFu ? rng() : rng() % (bounds[i] + 1));
  }
  std::vector<uint8_t> stream;
  {
    RangeEncoder encoder(stream);
    BitModel models[3];
    BoundedModel bounded;
    for (size_t i = 0; i < bits.size(); ++i) encoder.Bit(models[i % 3], bits[i]);
    for (size_t i = 0; i < bounds.size(); ++i) bounded.Code(encoder, bounds[i], values[i]);
    encoder.Finish();
  }
  // Skewed bits cost well under a bit each.
  EXPECT_LT(stream.size() * 8, bits.size() * 3 / 4 + 3000 * 33);
  RangeDecoder decoder(stream.data(), stream.size());
  BitModel models[3];
  BoundedModel bounded;
  for (size_t i = 0; i < bits.size(); ++i) ASSERT_EQ(decoder.Bit(models[i % 3], 0), bits[i]) << "bit " << i;
  for (size_t i = 0; i < bounds.size(); ++i) {
    ASSERT_EQ(bounded.Code(decoder, bounds[i], 0), values[i]) << "value " << i << " bound " << bounds[i];
  }
  EXPECT_TRUE(decoder.FinishedCleanly());

  // Whatever the bytes, a bounded value never exceeds its bound.
  std::vector<uint8_t> noise(64);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  noise[0] = 0;
  RangeDecoder fromNoise(noise.data(), noise.size());
  BoundedModel any;
  for (int i = 0; i < 200; ++i) ASSERT_LE(any.Code(fromNoise, 1000, 0), 1000u);

  // The unpacker's range-count check relies on every decision costing at
  // least 1/600 bit, however predictable.
  std::vector<uint8_t> certain;
  {
    RangeEncoder encoder(certain);
    BitModel m;
    for (int i = 0; i < 480000; ++i) encoder.Bit(m, 0);
    encoder.Finish();
  }
  EXPECT_GE(certain.size(), 100u) << "480000 certain bits must take at least 800 bits";

  const char* check = "123456789";
  EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(check), 9), 0xCBF43926u);
}

TEST(CodeContainer, SmallTreesFromTheCodeFormatRoundTrip) {
  // One range without a transform: empty RTD and RTT.
  SyntheticCode one = attractor::test::MakeTreeCode(40, 30, {}, {}, 1);
  ExpectRoundTrip(one, "one range");
  {
    std::vector<uint8_t> packed;
    const std::vector<uint8_t> header = one.HeaderBytes();
    ASSERT_EQ(PackCode(ViewOfSynthetic(one, header, false), packed), "");
    EXPECT_LT(packed.size(), 100u) << "fixed part plus a few payload bytes";
  }
  // Root cut at 128 across the rows: RTD [128], RTT [0].
  ExpectRoundTrip(attractor::test::MakeTreeCode(256, 256, {128}, {0}, 2), "one cut");
  // Columns at 100, the left part cut at 60: RTD [100, 60], RTT [1, 0].
  SyntheticCode nested = attractor::test::MakeTreeCode(200, 120, {100, 60}, {1, 0}, 3);
  ExpectRoundTrip(nested, "nested cut");
  // The same tree with its leaf zeros kept stays as long as it came.
  SyntheticCode kept = attractor::test::MakeTreeCode(200, 120, {100, 60, 0, 0, 0}, {1, 0}, 3);
  ExpectRoundTrip(kept, "untrimmed RTD");
  // Transforms on two of the three ranges; the third has none.
  nested.header.scaleLevels = nested.header.offsetLevels = 16;
  nested.header.stepX = nested.header.stepY = 4;
  nested.si = {3, -1, 15};
  nested.oi = {0, -1, 15};
  nested.trn = {4, 0, 7};
  nested.dp = {0, 0, 0, 0, 20, 5};
  nested.df = {1, 2, 0, 0, 1, 1};
  ExpectRoundTrip(nested, "some ranges without a transform");
}

// A tree cut at random places in random directions down to random depths,
// with random transforms that fit the image (some ranges without one).
SyntheticCode RandomCode(uint32_t seed) {
  std::mt19937 rng(seed);
  const auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  SyntheticCode c;
  const int32_t levels = uniform(2, 5000);
  c.header = fractal::CodeHeader{uniform(1, 400), uniform(1, 400), 0.0, 1.0, 1.5, levels, uniform(2, 300),
                                 uniform(1, 40), uniform(1, 40)};
  const int32_t minSide = uniform(1, 12);
  const double cutChance = 0.55 + 0.4 * (seed % 3) / 2.0;
  std::vector<fractal::RangeRect> pending{{0, 0, c.header.width, c.header.height}};
  while (!pending.empty()) {
    const fractal::RangeRect r = pending.back();
    pending.pop_back();
    const bool rows = r.height >= 2 * minSide, columns = r.width >= 2 * minSide;
    if ((!rows && !columns) || std::uniform_real_distribution<double>(0, 1)(rng) > cutChance) {
      c.rtd.push_back(0);
      c.rp.insert(c.rp.end(), {r.x, r.y});
      c.rs.insert(c.rs.end(), {r.width, r.height});
      const int32_t trn = uniform(0, 7);
      const int32_t baseW = (trn & 1) ? r.height : r.width, baseH = (trn & 1) ? r.width : r.height;
      if (baseW > c.header.width || baseH > c.header.height || uniform(0, 9) == 0) {
        c.si.push_back(-1), c.oi.push_back(-1), c.trn.push_back(0);
        c.dp.insert(c.dp.end(), {0, 0});
        c.df.insert(c.df.end(), {0, 0});
        continue;
      }
      const int32_t fx = uniform(1, c.header.width / baseW), fy = uniform(1, c.header.height / baseH);
      c.si.push_back(uniform(0, c.header.scaleLevels - 1));
      c.oi.push_back(uniform(0, c.header.offsetLevels - 1));
      c.trn.push_back(trn);
      c.df.insert(c.df.end(), {fx, fy});
      c.dp.insert(c.dp.end(), {uniform(0, (c.header.width - fx * baseW) / c.header.stepX),
                               uniform(0, (c.header.height - fy * baseH) / c.header.stepY)});
      continue;
    }
    const int32_t direction = rows && columns ? uniform(0, 1) : (rows ? 0 : 1);
    const int32_t side = direction == 0 ? r.height : r.width;
    const int32_t position = uniform(minSide, side - minSide);
    c.rtd.push_back(position);
    c.rtt.push_back(direction);
    fractal::RangeRect first = r, second = r;
    if (direction == 0) {
      first.height = position, second.y += position, second.height -= position;
    } else {
      first.width = position, second.x += position, second.width -= position;
    }
    pending.push_back(second);
    pending.push_back(first);
  }
  while (!c.rtd.empty() && c.rtd.back() == 0) c.rtd.pop_back();
  return c;
}

TEST(CodeContainer, RandomValidCodesRoundTrip) {
  for (uint32_t seed = 1; seed <= 60; ++seed) ExpectRoundTrip(RandomCode(seed), "random tree " + std::to_string(seed));
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    attractor::test::SyntheticOptions o;
    std::mt19937 rng(seed);
    o.width = 1 + static_cast<int32_t>(rng() % 300);
    o.height = 1 + static_cast<int32_t>(rng() % 300);
    o.leafSize = 1 + static_cast<int32_t>(rng() % 24);
    o.maxFactor = 1 + static_cast<int32_t>(rng() % 4);
    o.levels = 2 + static_cast<int32_t>(rng() % 3000);
    o.blankShare = (rng() % 4) * 0.1;
    o.seed = seed;
    ExpectRoundTrip(attractor::test::MakeSyntheticCode(o), "seed " + std::to_string(seed));
  }
}

TEST(CodeContainer, PackerRefusesCodesTheDecoderWouldRefuseOrThePackedFormCannotHold) {
  attractor::test::SyntheticOptions o;
  o.blankShare = 0.0;
  const SyntheticCode good = attractor::test::MakeSyntheticCode(o);
  const std::vector<uint8_t> header = good.HeaderBytes();
  const auto refusal = [&](SyntheticCode c, bool rectangles = true) {
    std::vector<uint8_t> packed;
    const std::vector<uint8_t> h = c.HeaderBytes();
    return PackCode(ViewOfSynthetic(c, h, rectangles), packed);
  };
  ASSERT_EQ(refusal(good), "");

  SyntheticCode c = good;
  c.si.pop_back();
  EXPECT_NE(refusal(c).find("SI holds"), std::string::npos);
  c = good;
  c.rp[2] += 1;
  EXPECT_NE(refusal(c).find("RP disagrees"), std::string::npos);
  EXPECT_EQ(refusal(c, false), "") << "unconnected RP and RS are not compared";
  c = good;
  c.rtt[0] = 2;
  EXPECT_NE(refusal(c).find("unknown cut direction"), std::string::npos);
  c = good;
  c.rtd.resize(2 * c.si.size() - 1, 0);
  c.rtd.push_back(5);
  EXPECT_NE(refusal(c).find("beyond its last range"), std::string::npos);
  c = good;
  c.si[1] = c.header.scaleLevels;
  EXPECT_NE(refusal(c).find("scale index"), std::string::npos);
  c = good;
  c.dp[0] = 1000;
  EXPECT_NE(refusal(c).find("outside the"), std::string::npos);
  c = good;
  c.si[0] = c.oi[0] = -1;
  c.trn[0] = 3;
  EXPECT_NE(refusal(c).find("no transform but nonzero"), std::string::npos);
  c = good;
  c.header.lo = std::nan("");
  EXPECT_NE(refusal(c).find("finite"), std::string::npos);

  std::vector<uint8_t> packed;
  CodeView shortHeader = ViewOfSynthetic(good, header, true);
  shortHeader.headerLength = 47;
  EXPECT_NE(PackCode(shortHeader, packed).find("\"HDR\""), std::string::npos);
}

class DamagedStreams : public testing::TestWithParam<int> {};

TEST_P(DamagedStreams, FailWithAReason) {
  attractor::test::SyntheticOptions o;
  o.width = 96;
  o.height = 80;
  o.leafSize = 6;
  const SyntheticCode code = attractor::test::MakeSyntheticCode(o);
  const std::vector<uint8_t> header = code.HeaderBytes();
  std::vector<uint8_t> packed;
  ASSERT_EQ(PackCode(ViewOfSynthetic(code, header, false), packed, GetParam()), "");
  UnpackedCode out;

  for (size_t cut = 0; cut < packed.size(); ++cut) {
    EXPECT_NE(UnpackCode(packed.data(), cut, out), "") << "cut to " << cut << " bytes";
  }
  std::vector<uint8_t> longer = packed;
  longer.push_back(0);
  EXPECT_NE(UnpackCode(longer.data(), longer.size(), out).find("after its end"), std::string::npos);

  // With the checksum every flipped bit is caught; without it the coder
  // either refuses the stream or yields a code the decoder accepts.
  size_t refusedBehindChecksum = 0;
  for (size_t bit = 0; bit < packed.size() * 8; ++bit) {
    std::vector<uint8_t> flipped = packed;
    flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    ASSERT_NE(UnpackCode(flipped.data(), flipped.size(), out), "") << "bit " << bit;
    if (UnpackCode(flipped.data(), flipped.size(), out, false) != "") {
      ++refusedBehindChecksum;
      continue;
    }
    attractor::CodeArrays arrays{out.si, out.oi, out.trn, out.dp, out.df, false, {}, {}, out.rtd, out.rtt};
    attractor::DecodePlan plan;
    ASSERT_EQ(attractor::BuildDecodePlan(out.header, arrays, 1, 1, plan), "") << "bit " << bit;
  }
  EXPECT_GT(refusedBehindChecksum, packed.size() * 2) << "the coder's own checks catch most damage";

  // Counts that the payload or the image cannot hold are refused before
  // anything is allocated, even with a valid checksum.
  const auto withCount = [&](size_t at, uint32_t value) {
    std::vector<uint8_t> edited = packed;
    std::memcpy(edited.data() + at, &value, 4);
    const uint32_t crc = Crc32(edited.data(), edited.size() - 4);
    std::memcpy(edited.data() + edited.size() - 4, &crc, 4);
    return UnpackCode(edited.data(), edited.size(), out);
  };
  EXPECT_NE(withCount(56, 2'000'000'000u).find("claims 2000000000 ranges"), std::string::npos);
  EXPECT_NE(withCount(56, 0).find("claims 0 ranges"), std::string::npos);
  EXPECT_NE(withCount(60, 1'000'000u).find("RTD entries"), std::string::npos);
  EXPECT_NE(withCount(64, 0).find("smallest range side"), std::string::npos);
  EXPECT_NE(withCount(8, 1u << 23).find("too large for one plane"), std::string::npos);

  std::vector<uint8_t> renamed = packed;
  renamed[0] = 'X';
  EXPECT_NE(UnpackCode(renamed.data(), renamed.size(), out).find("HVPK"), std::string::npos);
  std::vector<uint8_t> newer = packed;
  newer[4] = 3;
  EXPECT_NE(UnpackCode(newer.data(), newer.size(), out).find("version 3"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(CodeContainer, DamagedStreams, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int>& i) { return "Version" + std::to_string(i.param); });

// Offsets that follow the picture's local mean, as a real code's do: scale
// about 0 everywhere, so each offset is its range's mean, here a ramp over
// the picture. Version 2 predicts them from the neighbours; version 1
// cannot, and the same code stays readable in both.
TEST(CodeContainer, VersionTwoPredictsOffsetsFromTheNeighboursAndVersionOneStaysTheDefault) {
  attractor::test::SyntheticOptions o;
  o.width = 256;
  o.height = 192;
  o.leafSize = 8;
  o.levels = 128;
  o.blankShare = 0.0;
  SyntheticCode c = attractor::test::MakeSyntheticCode(o);
  c.header.lo = 0.0;
  c.header.hi = 1.0;
  c.header.maxScale = 1.0;
  c.header.scaleLevels = 32;
  c.header.offsetLevels = 128;
  std::mt19937 rng(11);
  for (size_t k = 0; k < c.si.size(); ++k) {
    const double cx = c.rp[2 * k] + c.rs[2 * k] / 2.0, cy = c.rp[2 * k + 1] + c.rs[2 * k + 1] / 2.0;
    const double mean = 0.1 + 0.8 * (cx + cy) / 448.0;  // a ramp from 0.1 to 0.9
    c.si[k] = 15 + static_cast<int32_t>(rng() % 2);  // scale levels either side of 0
    // Offsets span [-1, 2] in 127 steps.
    c.oi[k] = static_cast<int32_t>(std::lround((mean + 1.0) * 127.0 / 3.0)) + static_cast<int32_t>(rng() % 3) - 1;
  }
  const std::vector<uint8_t> header = c.HeaderBytes();
  std::vector<uint8_t> v1, v2, byDefault;
  ASSERT_EQ(PackCode(ViewOfSynthetic(c, header, true), v1, 1), "");
  ASSERT_EQ(PackCode(ViewOfSynthetic(c, header, true), v2, 2), "");
  ASSERT_EQ(PackCode(ViewOfSynthetic(c, header, true), byDefault), "");
  EXPECT_EQ(byDefault, v1) << "version 1 is written unless 2 is asked for";
  FieldBits bits1, bits2;
  ASSERT_EQ(MeasureFieldBits(ViewOfSynthetic(c, header, true), bits1, 1), "");
  ASSERT_EQ(MeasureFieldBits(ViewOfSynthetic(c, header, true), bits2, 2), "");
  EXPECT_LT(bits2.oi, 0.75 * bits1.oi) << "offsets: " << bits2.oi << " bits against " << bits1.oi;
  EXPECT_EQ(bits2.dp, bits1.dp) << "the other fields are coded as before";
  EXPECT_EQ(bits2.tree, bits1.tree);
  EXPECT_LT(v2.size(), v1.size());
  EXPECT_NEAR(8.0 * (v2.size() - kFixedHeaderSize - kTrailerSize), bits2.Total(), 64.0)
      << "the cost meter follows the coder";
  UnpackedCode back1, back2;
  ASSERT_EQ(UnpackCode(v1.data(), v1.size(), back1), "");
  ASSERT_EQ(UnpackCode(v2.data(), v2.size(), back2), "");
  EXPECT_EQ(back1.oi, c.oi);
  EXPECT_EQ(back2.oi, c.oi);
  EXPECT_EQ(back2.dp, back1.dp);

  std::vector<uint8_t> none;
  EXPECT_NE(PackCode(ViewOfSynthetic(c, header, true), none, 3).find("versions 1 to 2"), std::string::npos);
  EXPECT_TRUE(none.empty());
}

// Streams already written must keep decoding to the same code: the
// checksums of version 2 streams packed from fixed codes, on pictures
// whose prediction grids have cells of 1, 4 and 7 pixels.
TEST(CodeContainer, VersionTwoStreamsOfFixedCodesKeepTheirBytes) {
  struct Case {
    int32_t width, height, leafSize;
    uint32_t crc;
  };
  const Case cases[] = {{48, 40, 4, 2079016993u}, {256, 192, 8, 3310434291u}, {512, 384, 6, 2338924949u}};
  for (const Case& k : cases) {
    attractor::test::SyntheticOptions o;
    o.width = k.width;
    o.height = k.height;
    o.leafSize = k.leafSize;
    o.levels = 128;
    o.seed = static_cast<uint32_t>(k.width);
    const SyntheticCode c = attractor::test::MakeSyntheticCode(o);
    const std::vector<uint8_t> header = c.HeaderBytes();
    std::vector<uint8_t> packed;
    ASSERT_EQ(PackCode(ViewOfSynthetic(c, header, false), packed, 2), "");
    // The trailer holds the checksum of the bytes before it.
    EXPECT_EQ(Crc32(packed.data(), packed.size() - 4), k.crc) << k.width << " x " << k.height << ", " << packed.size()
                                                          << " bytes";
    UnpackedCode back;
    ASSERT_EQ(UnpackCode(packed.data(), packed.size(), back), "");
    EXPECT_EQ(back.oi, c.oi);
  }
}

TEST(CodeContainer, OffsetFoldingIsABijectionAroundThePrediction) {
  for (int32_t levels : {2, 3, 7, 128}) {
    for (int32_t predicted = 0; predicted < levels; ++predicted) {
      std::vector<bool> seen(static_cast<size_t>(levels), false);
      for (int32_t oi = 0; oi < levels; ++oi) {
        const uint32_t f = FoldOffset(oi, predicted, levels);
        ASSERT_LT(f, static_cast<uint32_t>(levels)) << levels << " " << predicted << " " << oi;
        ASSERT_FALSE(seen[f]) << levels << " " << predicted << " " << oi;
        seen[f] = true;
        ASSERT_EQ(UnfoldOffset(f, predicted, levels), oi);
      }
      EXPECT_EQ(FoldOffset(predicted, predicted, levels), 0u);
    }
  }
}

}  // namespace
}  // namespace vorlan::codepack
