// The search must keep choosing the same transforms however it is sped up:
// pinned checksums of the code modes 0 and 1 give on camera.bmp, and random
// small problems on which every search strategy must agree with the plain
// one.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "encoder_test_support.h"
#include "vorlan/config_stream.h"

namespace vorlan::collage {
namespace {

using test::Code;

struct Encoder : FractalEncoderFilter {
  Encoder() { Initialize(); }
};

void Apply(FractalEncoderFilter& f, const FractalEncoderSettings& s) {
  Packet p = NativeConfigPacket(&s, sizeof s);
  f.ApplyConfig(p, ConfigForm::Native);
  FreePacket(p);
}

// FNV-1a over the header bytes and every array, each prefixed by its count.
uint64_t Checksum(const Code& code) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](const void* data, size_t bytes) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t k = 0; k < bytes; ++k) {
      h ^= p[k];
      h *= 1099511628211ull;
    }
  };
  mix(&code.header, sizeof code.header);
  for (const auto& a : code.arrays) {
    const uint64_t n = a.size();
    mix(&n, sizeof n);
    mix(a.data(), a.size() * sizeof(int32_t));
  }
  return h;
}

Code EncodeCamera(const FractalEncoderSettings& s, const std::vector<double>& image, int32_t n) {
  Encoder f;
  Apply(f, s);
  EXPECT_EQ(test::Encode(f, image, n, n, 0, 1), Ok) << f.FailureReason();
  return test::ReadCode(f);
}

TEST(SearchEquivalence, FidelityAndSizeModesKeepTheirCodeOnCamera) {
  // Checksums taken from the encoder before any search acceleration; one
  // worker, so the choice between tied candidates is deterministic.
  const int32_t n = 512;
  const auto image = test::Camera(n, n);
  struct Case {
    const char* name;
    FractalEncoderSettings settings;
    uint64_t checksum;
  };
  std::vector<Case> cases(3);
  // Fidelity, best cover: every candidate of every range is fitted.
  cases[0].name = "fidelity, best cover";
  cases[0].settings.errorMode = 1;
  cases[0].settings.quality = 0.96f;
  cases[0].settings.coverMode = 0;
  cases[0].checksum = 0xbeb38921464d7d39ull;
  // Fidelity, cover in tolerance, with the largest-difference check.
  cases[1].name = "fidelity, cover in tolerance";
  cases[1].settings.errorMode = 1;
  cases[1].settings.quality = 0.95f;
  cases[1].settings.maxDiffCheck = 1;
  cases[1].settings.maxRangeFactor = 4;
  cases[1].checksum = 0x55f23b92965f357bull;
  // Size mode, coarse quantisers.
  cases[2].name = "size";
  cases[2].settings.mode = 1;
  cases[2].settings.maxRanges = 800;
  cases[2].settings.scaleLevels = 32;
  cases[2].settings.offsetLevels = 128;
  cases[2].checksum = 0xae4ea2c1b3a303a6ull;
  for (Case& c : cases) {
    c.settings.feedback = 0;
    const Code code = EncodeCamera(c.settings, image, n);
    ASSERT_EQ(test::ValidateCode(code), "") << c.name;
    std::printf("%s: %zu ranges, checksum %016" PRIx64 "\n", c.name, code.SI().size(), Checksum(code));
    EXPECT_EQ(Checksum(code), c.checksum) << c.name;
  }
}

}  // namespace
}  // namespace vorlan::collage
