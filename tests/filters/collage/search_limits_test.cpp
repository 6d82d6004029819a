// Settings that would make the search grow without bound are refused when a
// run starts, and a stop ends the run even while a range walks a long way
// without finding a fitting domain.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "encoder_test_support.h"
#include "vorlan/config_stream.h"

namespace vorlan::collage {
namespace {

struct Encoder : FractalEncoderFilter {
  Encoder() { Initialize(); }
};

void Apply(FractalEncoderFilter& f, const FractalEncoderSettings& s) {
  Packet p = NativeConfigPacket(&s, sizeof s);
  f.ApplyConfig(p, ConfigForm::Native);
  FreePacket(p);
}

TEST(SearchLimits, FactorsBeyondTheImageAreRefusedWithAReason) {
  struct Case {
    int32_t minFactor, maxFactor, width, height;
    const char* says;
  } refused[] = {
      {2, 1 << 30, 64, 48, "64 x 48"},
      {70, 70, 64, 48, "must not exceed"},
      {2, 1501, 2000, 2, "spans 1500 factors"},
  };
  for (const Case& c : refused) {
    Encoder f;
    FractalEncoderSettings s;
    s.minRangeFactor = c.minFactor;
    s.maxRangeFactor = c.maxFactor;
    s.feedback = 0;
    Apply(f, s);
    EXPECT_EQ(test::Encode(f, test::Pattern(c.width, c.height), c.width, c.height, 0, 255), Failed)
        << c.maxFactor;
    const std::string reason = f.FailureReason();
    EXPECT_NE(reason.find("maxRangeFactor"), std::string::npos) << reason;
    EXPECT_NE(reason.find(c.says), std::string::npos) << reason;
  }
  // A factor as large as the image is useless but harmless, and steps beyond
  // the image only leave the first grid column and row.
  Encoder f;
  FractalEncoderSettings s;
  s.maxRangeFactor = 64;
  s.stepX = 1000;
  s.stepY = 1 << 30;
  s.feedback = 0;
  Apply(f, s);
  EXPECT_EQ(test::Encode(f, test::Pattern(64, 48), 64, 48, 0, 255), Ok) << f.FailureReason();
  EXPECT_EQ(test::ValidateCode(test::ReadCode(f)), "");
}

TEST(SearchLimits, StopEndsPreparationAndAFruitlessWalk) {
  const int32_t n = 512;
  std::vector<double> image = test::Pattern(n, n);
  FractalEncoderSettings s;
  s.minRangeFactor = 2;
  s.maxRangeFactor = 501;
  s.stepX = s.stepY = 1;
  s.feedback = 0;

  // A stop that is already set ends the preparation before any table exists.
  {
    std::atomic<bool> stop{true};
    EncoderSearch search;
    std::string reason;
    EXPECT_EQ(search.Prepare(s, image.data(), n, n, 0, 255, reason, &stop), Stopped) << reason;
  }

  // The root has no fitting domain: its walk covers every pixel position
  // with half a million factor entries each, under the lock. The stop must
  // reach it there, and the window's snapshots must not wait for the walk
  // to end; a run that ignores either does not end in any useful time.
  Encoder f;
  Apply(f, s);
  Result result = Ok;
  std::thread runner([&] { result = test::Encode(f, image, n, n, 0, 255); });
  SearchSnapshot snap;
  while (!f.Snapshot(snap)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  for (int k = 0; k < 5; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(f.Snapshot(snap));
  }
  EXPECT_TRUE(snap.hasCurrent);
  EXPECT_EQ(snap.current.width, n) << "still walking the root";
  f.Stop();
  runner.join();
  EXPECT_EQ(result, Stopped);
  EXPECT_EQ(f.state, FilterState::Stopped);
  EXPECT_EQ(f.pins[kHeaderPin]->ready, 0);
}

}  // namespace
}  // namespace vorlan::collage
