// The growth modes on a real picture: Fidelity and Size mode must keep
// producing exactly the code they always have (stored graphs rely on it),
// and Least error must give a valid code that beats Size mode at equal
// range count.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "encoder_test_support.h"
#include "vorlan/config_stream.h"

namespace vorlan::collage {
namespace {

using test::Code;

using Encoder = test::InitializedEncoder;

void Apply(FractalEncoderFilter& f, const FractalEncoderSettings& s) { test::ApplySettings(f, s); }

uint64_t Checksum(const Code& code) { return test::CodeChecksum(code, 4); }

// The example graph's search settings, one worker so the code is repeatable.
FractalEncoderSettings CameraSettings(int32_t mode) {
  FractalEncoderSettings s;
  s.mode = mode;
  s.errorMode = 1;
  s.quality = 0.96f;
  s.maxRanges = 1200;
  s.minRangeSize = 3;
  s.stepX = s.stepY = 16;
  s.minRangeFactor = s.maxRangeFactor = 2;
  s.scaleLevels = 32;
  s.offsetLevels = 128;
  s.threadCount = 1;
  s.feedback = 0;
  return s;
}

Code EncodeCamera(const FractalEncoderSettings& s) {
  const int n = 512;
  Encoder f;
  Apply(f, s);
  EXPECT_EQ(test::Encode(f, test::Camera(n, n), n, n, 0, 1), Ok) << f.FailureReason();
  return test::ReadCode(f);
}

TEST(GrowthModes, FidelityAndSizeAreUnchangedAndLeastErrorBeatsSize) {
  // Checksums of the codes these settings gave before Least error existed.
  const Code fidelity = EncodeCamera(CameraSettings(0));
  ASSERT_EQ(test::ValidateCode(fidelity), "");
  EXPECT_EQ(Checksum(fidelity), 0xa3323905ad78973full) << fidelity.SI().size() << " ranges";
  const Code size = EncodeCamera(CameraSettings(1));
  ASSERT_EQ(test::ValidateCode(size), "");
  EXPECT_EQ(size.SI().size(), 1200u);
  EXPECT_EQ(Checksum(size), 0x602fc47c60da92a2ull);

  // Same range count, so nearly the same rate: Least error must spend the
  // ranges much better.
  const Code least = EncodeCamera(CameraSettings(2));
  ASSERT_EQ(test::ValidateCode(least), "");
  EXPECT_EQ(least.SI().size(), 1200u);
  const auto image = test::Camera(512, 512);
  const double sizePsnr = test::Psnr(test::Decode(size, 12), image, 1.0);
  const double leastPsnr = test::Psnr(test::Decode(least, 12), image, 1.0);
  std::printf("camera.bmp, 1200 ranges: Size %.2f dB, Least error %.2f dB\n", sizePsnr, leastPsnr);
  EXPECT_GT(leastPsnr, sizePsnr + 1.0);
}

}  // namespace
}  // namespace vorlan::collage
