// The feedback bitmap, outlines and titles, and the filters with feedback
// on in a process without a user interface.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "feedback_bitmap.h"
#include "gui/feedback_encoder_window.h"
#include "encoder_test_support.h"
#include "support/filter_harness.h"
#include "feedback_decoder_window.h"

namespace vorlan {
namespace {

uint32_t At(const FeedbackBitmap& b, int x, int y) { return b.pixels[static_cast<size_t>(y * b.width + x)]; }
uint32_t Grey(uint8_t g) { return PackRgb(g, g, g); }

TEST(FeedbackBitmap, MapsTheValueRangeOntoGreyAndSurvivesOddSamples) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> v = {10, 20, 15, 30, nan, inf, -inf, 19.99};
  FeedbackBitmap b;
  std::string reason;
  ASSERT_TRUE(BuildFeedbackBitmap(v.data(), 4, 2, 10.0, 20.0, b, reason)) << reason;
  ASSERT_EQ(b.pixels.size(), 8u);
  EXPECT_EQ(At(b, 0, 0), Grey(0)) << "lo is black";
  EXPECT_EQ(At(b, 1, 0), Grey(255)) << "hi is white";
  EXPECT_EQ(At(b, 2, 0), Grey(127)) << "truncated, not rounded";
  EXPECT_EQ(At(b, 3, 0), Grey(255)) << "above hi clamps";
  EXPECT_EQ(At(b, 0, 1), Grey(0)) << "NaN";
  EXPECT_EQ(At(b, 1, 1), Grey(255));
  EXPECT_EQ(At(b, 2, 1), Grey(0));
  EXPECT_EQ(At(b, 3, 1), Grey(254));
  // The fourth byte of every pixel stays 0.
  for (uint32_t p : b.pixels) EXPECT_EQ(p >> 24, 0u);
}

TEST(FeedbackBitmap, RefusesWhatItCannotShowAndKeepsThePreviousPicture) {
  const std::vector<double> v(6, 1.0);
  FeedbackBitmap b;
  std::string reason;
  ASSERT_TRUE(BuildFeedbackBitmap(v.data(), 3, 2, 0.0, 2.0, b, reason));
  const FeedbackBitmap before = b;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const double* samples;
    int32_t w, h;
    double lo, hi;
  } cases[] = {{v.data(), 3, 2, 1.0, 1.0},  {v.data(), 3, 2, nan, 1.0}, {v.data(), 3, 2, 0.0, HUGE_VAL},
               {v.data(), 0, 2, 0.0, 1.0},  {v.data(), 3, -1, 0.0, 1.0}, {nullptr, 3, 2, 0.0, 1.0}};
  for (const Case& c : cases) {
    reason.clear();
    EXPECT_FALSE(BuildFeedbackBitmap(c.samples, c.w, c.h, c.lo, c.hi, b, reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(b.pixels, before.pixels);
    EXPECT_EQ(b.width, 3);
  }
}

TEST(FeedbackBitmap, OutlinesCoverExactlyTheBorderAndClipAtTheEdges) {
  const std::vector<double> v(8 * 6, 0.0);
  FeedbackBitmap b;
  std::string reason;
  ASSERT_TRUE(BuildFeedbackBitmap(v.data(), 8, 6, 0.0, 1.0, b, reason));
  const uint32_t red = PackRgb(255, 0, 0);
  DrawOutline(b, OutlineRect{1, 1, 4, 3}, red);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool inside = x >= 1 && x <= 4 && y >= 1 && y <= 3;
      const bool border = inside && (x == 1 || x == 4 || y == 1 || y == 3);
      EXPECT_EQ(At(b, x, y), border ? red : Grey(0)) << x << "," << y;
    }
  }
  // Partly or wholly outside, empty or degenerate: no write out of bounds,
  // only the visible part drawn.
  FeedbackBitmap c = b;
  DrawOutline(c, OutlineRect{6, 4, 10, 10}, red);
  EXPECT_EQ(At(c, 6, 4), red);
  EXPECT_EQ(At(c, 7, 4), red);
  EXPECT_EQ(At(c, 6, 5), red);
  EXPECT_EQ(At(c, 7, 5), Grey(0));
  FeedbackBitmap d = b;
  DrawOutline(d, OutlineRect{-100, -100, 5, 5}, red);
  DrawOutline(d, OutlineRect{2, 2, 0, 3}, red);
  DrawOutline(d, OutlineRect{2147483000, 2147483000, 2000, 2000}, red);
  EXPECT_EQ(d.pixels, b.pixels);
  DrawOutline(d, OutlineRect{7, 0, 1, 1}, red);
  EXPECT_EQ(At(d, 7, 0), red);
}

TEST(FeedbackTitles, CountTheSearchAndThePasses) {
  collage::SearchSnapshot s;
  s.stack.resize(3);
  s.pool.resize(12);
  s.progress = 0.123456;
  s.coverComplete = true;
  EXPECT_EQ(collage::EncoderFeedbackTitle(64, 32, s),
            "HVE [64x32] [RangeStack:3|RangePool:12|Progress:12.35%|CC:TRUE]");
  s.coverComplete = false;
  s.progress = 1.0;
  EXPECT_EQ(collage::EncoderFeedbackTitle(64, 32, s),
            "HVE [64x32] [RangeStack:3|RangePool:12|Progress:100.00%|CC:FALSE]");

  attractor::FeedbackFrame f;
  f.width = 256;
  f.height = 128;
  f.rangeCount = 77;
  f.pass = 0;
  f.progress = 0.5;
  EXPECT_EQ(attractor::DecoderFeedbackTitle(f), "HVD [256x128] [Ranges:77|Iteration:1|RMS:-1.000000|Progress:50.00%]");
}

TEST(FeedbackWithoutUserInterface, FeedbackOneRunsAsZero) {
  collage::FeedbackEncoderFilter encoder;
  attractor::FeedbackDecoderFilter decoder;
  EXPECT_EQ(encoder.FeedbackWindow(), nullptr);
  EXPECT_EQ(decoder.FeedbackWindow(), nullptr);
  ASSERT_EQ(encoder.Initialize(), Ok);
  ASSERT_EQ(decoder.Initialize(), Ok);
  ASSERT_EQ(encoder.Settings().feedback, 1);
  ASSERT_EQ(decoder.Settings().feedback, 1);
  ASSERT_EQ(collage::test::Encode(encoder, collage::test::Pattern(32, 32), 32, 32, 0.0, 255.0), Ok)
      << encoder.FailureReason();
  for (int32_t i = 0; i < 10; ++i) {
    test::Connect(encoder, collage::kHeaderPin + i, decoder, attractor::FractalDecoderFilter::kHdrPin + i);
  }
  EXPECT_EQ(decoder.Process(), Ok) << decoder.FailureReason();
}

}  // namespace
}  // namespace vorlan
