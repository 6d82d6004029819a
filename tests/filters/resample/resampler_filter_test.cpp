#include "resampler_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "support/filter_harness.h"

namespace vorlan {
namespace {

using resample::Method;

std::unique_ptr<test::TestPlane> MakePlane(int32_t w, int32_t h, const std::function<double(int, int)>& f) {
  std::vector<double> s;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) s.push_back(f(x, y));
  }
  return std::make_unique<test::TestPlane>(w, h, 0.0, 255.0, std::move(s));
}

// One resampler with "In" (and "Size" when given) fed by the test.
struct Resampling {
  PlaneResamplerFilter filter;
  test::FakeOutput in, size;
  std::vector<double> samples;

  Result Run(test::TestPlane& plane, int32_t factor, Method method, test::TestPlane* like = nullptr) {
    ResamplerSettings s{factor, static_cast<int32_t>(method)};
    EXPECT_EQ(filter.ApplyConfig(MakePacket(sizeof s, PacketType::Config, &s), ConfigForm::Native), Ok);
    filter.Initialize();
    test::Connect(filter, PlaneResamplerFilter::kInPin, in.pin());
    in.Publish(plane.AsPacket());
    if (like != nullptr) {
      test::Connect(filter, PlaneResamplerFilter::kSizePin, size.pin());
      size.Publish(like->AsPacket());
    }
    const Result r = filter.Process();
    const Plane& p = filter.OutputPlane();
    samples.assign(p.samples, p.samples + int64_t{p.width} * p.height);
    return r;
  }
};

// Down then up: the output of `down` goes into a second filter.
std::vector<double> DownUp(test::TestPlane& plane, int32_t factor, Method up, int32_t& w, int32_t& h) {
  Resampling down;
  EXPECT_EQ(down.Run(plane, factor, Method::AreaAverage), Ok) << down.filter.FailureReason();
  const Plane& small = down.filter.OutputPlane();
  test::TestPlane half(small.width, small.height, small.min, small.max, down.samples);
  Resampling back;
  EXPECT_EQ(back.Run(half, factor, up, &plane), Ok) << back.filter.FailureReason();
  w = back.filter.OutputPlane().width;
  h = back.filter.OutputPlane().height;
  return back.samples;
}

TEST(PlaneResampler, DownThenUpKeepsRampsAndSmoothPlanes) {
  for (int32_t factor : {2, 4}) {
    for (Method up : {Method::Bilinear, Method::Bicubic}) {
      SCOPED_TRACE(testing::Message() << "factor " << factor << " method " << static_cast<int>(up));
      // A ramp: averaging and centred interpolation keep it away from the
      // edges, where the repeated edge sample bends it by under one block.
      auto ramp = MakePlane(64, 48, [](int x, int y) { return 2.0 * x + 3.0 * y; });
      int32_t w = 0, h = 0;
      const std::vector<double> back = DownUp(*ramp, factor, up, w, h);
      ASSERT_EQ(w, 64);
      ASSERT_EQ(h, 48);
      double worst = 0;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const double error = std::fabs(back[static_cast<size_t>(y * w + x)] - ramp->samples[static_cast<size_t>(y * w + x)]);
          const bool inside = x >= 2 * factor && x < w - 2 * factor && y >= 2 * factor && y < h - 2 * factor;
          if (inside) {
            EXPECT_LT(error, 1e-9) << x << ", " << y;
          }
          worst = std::max(worst, error);
        }
      }
      EXPECT_LE(worst, 3.0 * factor) << "at the edges";

      // A smooth picture comes back close.
      auto smooth = MakePlane(64, 48, [](int x, int y) { return 128 + 100 * std::sin(x / 9.0) * std::cos(y / 7.0); });
      const std::vector<double> again = DownUp(*smooth, factor, up, w, h);
      double squares = 0;
      for (size_t i = 0; i < again.size(); ++i) squares += std::pow(again[i] - smooth->samples[i], 2);
      EXPECT_LT(std::sqrt(squares / static_cast<double>(again.size())), factor == 2 ? 1.5 : 5.0);
    }
  }
}

TEST(PlaneResampler, ConstantPlanesComeOutExactly) {
  for (const double value : {0.1, 0.3, 1.0 / 3.0, 254.99}) {
    for (int32_t factor : {2, 3, 4, 8}) {
      auto flat = MakePlane(7, 5, [value](int, int) { return value; });
      for (Method m : {Method::AreaAverage, Method::Bilinear, Method::Bicubic}) {
        Resampling r;
        ASSERT_EQ(r.Run(*flat, factor, m), Ok) << r.filter.FailureReason();
        for (double v : r.samples) ASSERT_EQ(v, value) << "factor " << factor << " method " << static_cast<int>(m);
      }
    }
  }
}

TEST(PlaneResampler, OddSizesKeepTheLastColumnAndRow) {
  // 5 x 3 down by 2 is 3 x 2: the last column and row average what they hold.
  auto odd = MakePlane(5, 3, [](int x, int y) { return 10.0 * y + x; });
  Resampling down;
  ASSERT_EQ(down.Run(*odd, 2, Method::AreaAverage), Ok) << down.filter.FailureReason();
  const Plane& p = down.filter.OutputPlane();
  ASSERT_EQ(p.width, 3);
  ASSERT_EQ(p.height, 2);
  EXPECT_EQ(p.min, 0.0);
  EXPECT_EQ(p.max, 255.0) << "the declared range is kept";
  const std::vector<double> want = {5.5, 7.5, 9, 20.5, 22.5, 24};
  for (size_t i = 0; i < want.size(); ++i) EXPECT_DOUBLE_EQ(down.samples[i], want[i]) << i;

  // Up again with "Size" the output is 5 x 3, not 6 x 4; without it, 6 x 4.
  test::TestPlane small(3, 2, 0, 255, down.samples);
  Resampling up;
  ASSERT_EQ(up.Run(small, 2, Method::Bicubic, odd.get()), Ok) << up.filter.FailureReason();
  EXPECT_EQ(up.filter.OutputPlane().width, 5);
  EXPECT_EQ(up.filter.OutputPlane().height, 3);
  Resampling plain;
  ASSERT_EQ(plain.Run(small, 2, Method::Bilinear), Ok);
  EXPECT_EQ(plain.filter.OutputPlane().width, 6);
  EXPECT_EQ(plain.filter.OutputPlane().height, 4);
  // A one-pixel plane goes up to a flat block.
  test::TestPlane dot(1, 1, 0, 255, {42});
  Resampling grown;
  ASSERT_EQ(grown.Run(dot, 4, Method::Bicubic), Ok);
  EXPECT_EQ(grown.samples, std::vector<double>(16, 42.0));
}

TEST(PlaneResampler, RefusesBadFactorsMethodsAndSizes) {
  auto plane = MakePlane(8, 8, [](int x, int y) { return x + y; });
  struct Case {
    int32_t factor;
    int32_t method;
    const char* says;
  };
  for (const Case& c : {Case{1, 0, "\"factor\""}, Case{9, 1, "\"factor\""}, Case{0, 2, "\"factor\""},
                        Case{2, 3, "\"method\""}, Case{2, -1, "\"method\""}}) {
    Resampling r;
    EXPECT_EQ(r.Run(*plane, c.factor, static_cast<Method>(c.method)), Failed);
    EXPECT_NE(std::string(r.filter.FailureReason()).find(c.says), std::string::npos) << r.filter.FailureReason();
    EXPECT_EQ(r.filter.OutputPlane().samples, nullptr);
  }
  // A "Size" plane the factor cannot reach: 4 x 4 up by 2 gives 7 or 8 a side.
  auto small = MakePlane(4, 4, [](int, int) { return 1.0; });
  for (const auto& [w, h] : {std::pair{9, 8}, std::pair{8, 6}, std::pair{3, 8}}) {
    auto like = MakePlane(w, h, [](int, int) { return 0.0; });
    Resampling r;
    EXPECT_EQ(r.Run(*small, 2, Method::Bilinear, like.get()), Failed) << w << " x " << h;
    EXPECT_NE(std::string(r.filter.FailureReason()).find("\"Size\""), std::string::npos) << r.filter.FailureReason();
  }
  auto seven = MakePlane(7, 8, [](int, int) { return 0.0; });
  Resampling fits;
  EXPECT_EQ(fits.Run(*small, 2, Method::Bilinear, seven.get()), Ok) << fits.filter.FailureReason();
  // Going down, "Size" must be the size the factor gives.
  Resampling down;
  EXPECT_EQ(down.Run(*plane, 2, Method::AreaAverage, seven.get()), Failed);
  // An empty plane is refused, not resampled.
  test::TestPlane empty(0, 0, 0, 1);
  Resampling none;
  EXPECT_EQ(none.Run(empty, 2, Method::AreaAverage), Failed);
}

}  // namespace
}  // namespace vorlan
