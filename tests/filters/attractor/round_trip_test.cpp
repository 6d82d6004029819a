// Encoder and decoder together on a real picture: the decoder must read
// back what the encoder meant, in every orientation and both geometries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "attractor_iteration.h"
#include "bmp_decoder_filter.h"
#include "fractal_decoder_filter.h"
#include "fractal_encoder_filter.h"
#include "support/filter_harness.h"

namespace vorlan::attractor {
namespace {

double Psnr(const double* a, const double* b, int64_t count, double peak) {
  double sum = 0;
  for (int64_t k = 0; k < count; ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
  return 20 * std::log10(peak / std::sqrt(sum / count));
}

const Plane& OutputPlane(Filter& f) {
  return *static_cast<const Plane*>(f.pins[FractalDecoderFilter::kOutPin]->packet.data);
}

TEST(RoundTrip, CameraCropDecodesCloseToTheOriginal) {
  std::vector<uint8_t> bmp = vorlan::test::ReadFile(vorlan::test::SharedDataPath("camera.bmp"));
  ASSERT_FALSE(bmp.empty());
  vorlan::test::FakeOutput file;
  file.Publish(MakePacket(static_cast<int32_t>(bmp.size()), PacketType::Bytes, bmp.data()));
  BmpDecoderFilter reader;
  vorlan::test::Connect(reader, BmpDecoderFilter::kInPin, file.pin());
  ASSERT_EQ(reader.Process(), Ok) << reader.FailureReason();

  // A 128 x 96 crop around the cameraman's head keeps the test quick.
  const Plane& g = reader.GPlane();
  const int32_t w = 128, h = 96, x0 = 192, y0 = 96;
  vorlan::test::TestPlane crop(w, h, 0.0, 255.0);
  for (int32_t r = 0; r < h; ++r) {
    std::memcpy(&crop.samples[r * w], g.samples + (y0 + r) * g.width + x0, w * sizeof(double));
  }
  vorlan::test::FakeOutput image;
  image.Publish(crop.AsPacket());

  collage::FractalEncoderFilter encoder;
  collage::FractalEncoderSettings es;
  es.errorMode = 1;
  es.quality = 0.96f;
  es.stepX = es.stepY = 8;
  es.feedback = 0;
  ASSERT_EQ(encoder.ApplyConfig(MakePacket(sizeof es, PacketType::Config, &es), ConfigForm::Native), Ok);
  vorlan::test::Connect(encoder, collage::kInPin, image.pin());
  ASSERT_EQ(encoder.Process(), Ok) << encoder.FailureReason();
  ASSERT_GT(encoder.RangeCount(), 50);

  FractalDecoderSettings ds;
  ds.feedback = 0;
  ds.postProcessing = 0;
  FractalDecoderFilter byTree, byRects;
  FractalDecoderFilter* decoders[2] = {&byTree, &byRects};
  for (FractalDecoderFilter* d : decoders) {
    ASSERT_EQ(d->ApplyConfig(MakePacket(sizeof ds, PacketType::Config, &ds), ConfigForm::Native), Ok);
    for (int32_t i = 0; i < 10; ++i) {
      const int32_t pin = FractalDecoderFilter::kHdrPin + i;
      const bool rect = pin == FractalDecoderFilter::kRpPin || pin == FractalDecoderFilter::kRsPin;
      const bool tree = pin == FractalDecoderFilter::kRtdPin || pin == FractalDecoderFilter::kRttPin;
      if ((d == &byTree && rect) || (d == &byRects && tree)) continue;
      vorlan::test::Connect(encoder, collage::kHeaderPin + i, *d, pin);
    }
    ASSERT_EQ(d->Process(), Ok) << d->FailureReason();
  }
  const Plane& a = OutputPlane(byTree);
  const Plane& b = OutputPlane(byRects);
  ASSERT_EQ(a.width, w);
  ASSERT_EQ(a.height, h);
  EXPECT_EQ(std::memcmp(a.samples, b.samples, a.size), 0) << "both geometries give the same ranges";
  const double psnr = Psnr(crop.samples.data(), a.samples, int64_t{w} * h, 255.0);

  // One pass applied to the original itself gives the collage, which the
  // encoder fitted within its tolerance of 0.04 x 255 on every range it
  // could still have cut (sides of 2 x minRangeSize).
  const auto array = [&](int32_t i) {
    const auto* r = static_cast<const IntArray*>(encoder.pins[collage::kHeaderPin + i]->packet.data);
    return std::span<const int32_t>(r->values, static_cast<size_t>(r->count));
  };
  fractal::CodeHeader header;
  std::memcpy(&header, encoder.pins[collage::kHeaderPin]->packet.data, sizeof header);
  CodeArrays code{array(1), array(2), array(3), array(4), array(5), false, {}, {}, array(8), array(9)};
  DecodePlan plan;
  ASSERT_EQ(BuildDecodePlan(header, code, 1, 1, plan), "");
  PassScratch scratch;
  scratch.Reserve(plan.ranges);
  std::vector<double> collageImage(crop.samples.size());
  ASSERT_TRUE(ApplyPass(plan.ranges, crop.samples.data(), collageImage.data(), w, scratch, [] { return false; }));
  for (const DecoderRange& r : plan.ranges) {
    if (!r.hasTransform || (r.width < 8 && r.height < 8)) continue;
    double sum = 0;
    for (int32_t i = r.y; i < r.y + r.height; ++i)
      for (int32_t j = r.x; j < r.x + r.width; ++j) sum += std::pow(collageImage[i * w + j] - crop.samples[i * w + j], 2);
    ASSERT_LE(std::sqrt(sum / (r.width * r.height)), 0.04 * 255 + 1e-6)
        << "range at " << r.x << "," << r.y << " " << r.width << "x" << r.height;
  }
  EXPECT_GT(psnr, 26.0);
  EXPECT_LT(psnr, 60.0);

  // Smoothing the seams must not make the picture worse by much, and
  // decoding at twice the size keeps the same picture on average.
  FractalDecoderFilter smooth, twice;
  FractalDecoderSettings ss = ds;
  ss.postProcessing = 1;
  FractalDecoderSettings ts = ds;
  ts.resolutionX = ts.resolutionY = 2;
  ASSERT_EQ(smooth.ApplyConfig(MakePacket(sizeof ss, PacketType::Config, &ss), ConfigForm::Native), Ok);
  ASSERT_EQ(twice.ApplyConfig(MakePacket(sizeof ts, PacketType::Config, &ts), ConfigForm::Native), Ok);
  for (FractalDecoderFilter* d : {&smooth, &twice}) {
    for (int32_t i = 0; i < 10; ++i) {
      vorlan::test::Connect(encoder, collage::kHeaderPin + i, *d, FractalDecoderFilter::kHdrPin + i);
    }
    ASSERT_EQ(d->Process(), Ok) << d->FailureReason();
  }
  EXPECT_GT(Psnr(crop.samples.data(), OutputPlane(smooth).samples, int64_t{w} * h, 255.0), psnr - 1.5);
  const Plane& big = OutputPlane(twice);
  ASSERT_EQ(big.width, 2 * w);
  std::vector<double> shrunk(static_cast<size_t>(w) * h);
  for (int32_t r = 0; r < h; ++r) {
    for (int32_t c = 0; c < w; ++c) {
      const double* p = big.samples + (2 * r) * big.width + 2 * c;
      shrunk[r * w + c] = (p[0] + p[1] + p[big.width] + p[big.width + 1]) / 4;
    }
  }
  EXPECT_GT(Psnr(crop.samples.data(), shrunk.data(), int64_t{w} * h, 255.0), psnr - 3.0);
  std::printf("crop: %d ranges, PSNR %.2f dB, collage %.2f dB\n", encoder.RangeCount(), psnr,
              Psnr(crop.samples.data(), collageImage.data(), int64_t{w} * h, 255.0));
}

}  // namespace
}  // namespace vorlan::attractor
