// Random damage to valid codes: the decoder either decodes or refuses with a
// reason, and never reads outside what it was given (run under ASan).
#include <gtest/gtest.h>

#include <random>

#include "fractal_decoder_filter.h"
#include "synthetic_code.h"

namespace vorlan::attractor {
namespace {

using test::CodeFeed;
using test::SyntheticCode;

int32_t Mutate(std::mt19937& rng, int32_t value) {
  switch (rng() % 6) {
    case 0: return value + 1;
    case 1: return value - 1;
    case 2: return -value;
    case 3: return static_cast<int32_t>(rng());
    case 4: return static_cast<int32_t>(rng() % 70) - 3;
    default: return 0;
  }
}

TEST(DecoderRobustness, DamagedCodesDecodeOrFailWithAReason) {
  std::mt19937 rng(2024);
  int decoded = 0, refused = 0;
  for (int trial = 0; trial < 1500; ++trial) {
    test::SyntheticOptions o;
    o.width = 8 + static_cast<int32_t>(rng() % 40);
    o.height = 8 + static_cast<int32_t>(rng() % 40);
    o.leafSize = 2 + static_cast<int32_t>(rng() % 8);
    o.maxFactor = 1 + static_cast<int32_t>(rng() % 3);
    o.seed = rng();
    SyntheticCode code = MakeSyntheticCode(o);
    std::vector<std::vector<int32_t>*> arrays = {&code.si, &code.oi, &code.trn, &code.dp, &code.df,
                                                 &code.rp, &code.rs, &code.rtd, &code.rtt};
    const int damage = 1 + static_cast<int>(rng() % 4);
    for (int d = 0; d < damage; ++d) {
      std::vector<int32_t>& a = *arrays[rng() % arrays.size()];
      const uint32_t what = rng() % 10;
      if (what == 0 && !a.empty()) {
        a.pop_back();
      } else if (what == 1) {
        a.push_back(Mutate(rng, 1));
      } else if (what == 2) {
        int32_t* fields[] = {&code.header.width, &code.header.height, &code.header.scaleLevels,
                             &code.header.offsetLevels, &code.header.stepX, &code.header.stepY};
        int32_t& f = *fields[rng() % 6];
        f = Mutate(rng, f);
      } else if (!a.empty()) {
        int32_t& v = a[rng() % a.size()];
        v = Mutate(rng, v);
      }
    }
    FractalDecoderFilter f;
    FractalDecoderSettings s;
    s.maxIterations = 2;
    s.mode = static_cast<int32_t>(rng() % 3);
    s.resolutionX = 1 + static_cast<int32_t>(rng() % 2);
    s.resolutionY = 1 + static_cast<int32_t>(rng() % 2);
    ASSERT_EQ(f.ApplyConfig(MakePacket(sizeof s, PacketType::Config, &s), ConfigForm::Native), Ok);
    CodeFeed feed(code, rng() % 2 ? CodeFeed::kRectangles : CodeFeed::kTree);
    feed.ConnectTo(f);
    feed.PublishAll();
    const Result r = f.Process();
    if (r == Ok) {
      ++decoded;
      const auto* out = static_cast<const Plane*>(f.pins[FractalDecoderFilter::kOutPin]->packet.data);
      ASSERT_NE(out, nullptr);
      ASSERT_EQ(out->width, code.header.width * s.resolutionX);
    } else {
      ++refused;
      ASSERT_EQ(r, Failed) << "trial " << trial;
      ASSERT_STRNE(f.FailureReason(), "") << "trial " << trial;
    }
  }
  // Both outcomes must occur, or the damage is not reaching the checks.
  EXPECT_GT(decoded, 50);
  EXPECT_GT(refused, 500);
}

}  // namespace
}  // namespace vorlan::attractor
