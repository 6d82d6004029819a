#include "picture_encoder_filter.h"

#include <gtest/gtest.h>

#include <QImageWriter>
#include <cmath>
#include <cstring>
#include <limits>

#include "bmp_decoder_filter.h"
#include "picture_decoder_filter.h"
#include "picture_formats.h"
#include "picture_test_support.h"

namespace vorlan {
namespace {

using Encode = test::PlanesRun<PictureEncoderFilter>;
using Decode = test::BytesRun<PictureDecoderFilter>;

void Apply(PictureEncoderFilter& f, PictureEncoderSettings s) {
  ASSERT_EQ(f.ApplyConfig(MakePacket(sizeof s, PacketType::Config, &s), ConfigForm::Native), Ok);
}

// The shared picture read by the Bmp decoder.
struct Shared {
  explicit Shared(const char* name) : run(test::ReadFile(test::SharedDataPath(name)), BmpDecoderFilter::kInPin) {
    EXPECT_EQ(run.filter.Process(), Ok) << name;
  }
  const Plane& R() const { return run.filter.RPlane(); }
  const Plane& G() const { return run.filter.GPlane(); }
  const Plane& B() const { return run.filter.BPlane(); }
  test::BytesRun<BmpDecoderFilter> run;
};

double Psnr(const Plane& a, const Plane& b) {
  double squared = 0;
  const int64_t n = int64_t{a.width} * a.height;
  for (int64_t i = 0; i < n; ++i) squared += (a.samples[i] - b.samples[i]) * (a.samples[i] - b.samples[i]);
  return 10 * std::log10(255.0 * 255.0 / (squared / static_cast<double>(n)));
}

bool SamePlane(const Plane& a, const Plane& b) {
  return a.width == b.width && a.height == b.height && a.max == b.max &&
         std::memcmp(a.samples, b.samples, static_cast<size_t>(a.width) * a.height * sizeof(double)) == 0;
}

TEST(PictureEncoder, LosslessRoundTripsOfTheSharedPictures) {
  for (const char* name : {"astronaut.bmp", "camera.bmp"}) {
    Shared source(name);
    for (const int32_t format : {0, 2, 3}) {
      Encode enc(source.R(), source.G(), source.B(), PictureEncoderFilter::kRPin);
      Apply(enc.filter, {format, 90, 8});
      ASSERT_EQ(enc.filter.Process(), Ok) << name << " format " << format << ": " << enc.filter.FailureReason();
      const auto file = enc.Output(PictureEncoderFilter::kOutPin);
      Decode dec(file, PictureDecoderFilter::kInPin);
      ASSERT_EQ(dec.filter.Process(), Ok) << name << " format " << format << ": " << dec.filter.FailureReason();
      EXPECT_TRUE(SamePlane(dec.filter.RPlane(), source.R())) << name << " format " << format;
      EXPECT_TRUE(SamePlane(dec.filter.GPlane(), source.G())) << name << " format " << format;
      EXPECT_TRUE(SamePlane(dec.filter.BPlane(), source.B())) << name << " format " << format;
      // The grey camera is stored as one channel: PGM, grey PNG.
      const bool grey = std::string(name) == "camera.bmp";
      if (format == 2) {
        EXPECT_EQ(file[1], grey ? '5' : '6') << name;
      } else if (format == 0) {
        EXPECT_EQ(file[25], grey ? 0 : 2) << name << ": PNG colour type";
      }
    }
  }
}

TEST(PictureEncoder, LossyFormatsStayAboveAPsnrFloor) {
  Shared source("astronaut.bmp");
  for (const int32_t format : {1, 4}) {
    const PictureFormat* f = FindPictureFormat(format);
    if (!CanWrite(*f)) continue;  // WebP needs the image-formats plug-ins
    size_t sizes[2] = {0, 0};
    for (const int quality : {30, 90}) {
      Encode enc(source.R(), source.G(), source.B(), PictureEncoderFilter::kRPin);
      Apply(enc.filter, {format, quality, 8});
      ASSERT_EQ(enc.filter.Process(), Ok) << f->label << ": " << enc.filter.FailureReason();
      const auto file = enc.Output(PictureEncoderFilter::kOutPin);
      sizes[quality == 90] = file.size();
      Decode dec(file, PictureDecoderFilter::kInPin);
      ASSERT_EQ(dec.filter.Process(), Ok) << f->label << ": " << dec.filter.FailureReason();
      const double floor = quality == 90 ? 32.0 : 26.0;
      EXPECT_GT(Psnr(dec.filter.RPlane(), source.R()), floor) << f->label << " quality " << quality;
      EXPECT_GT(Psnr(dec.filter.GPlane(), source.G()), floor) << f->label << " quality " << quality;
    }
    EXPECT_LT(sizes[0], sizes[1]) << f->label << ": the quality setting must reach the writer";
  }
}

TEST(PictureEncoder, SixteenBitRoundTrip) {
  std::vector<double> values(6 * 4);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>((i * 11003 + 7) % 65536);
  std::vector<double> other(values.rbegin(), values.rend());
  test::TestPlane r(6, 4, 0.0, 65535.0, values);
  test::TestPlane g(6, 4, 0.0, 65535.0, other);
  test::TestPlane b(6, 4, 0.0, 65535.0, values);
  for (const int32_t format : {0, 3}) {
    for (const bool grey : {false, true}) {
      Encode enc(r.record, grey ? r.record : g.record, b.record, PictureEncoderFilter::kRPin);
      Apply(enc.filter, {format, 90, 16});
      ASSERT_EQ(enc.filter.Process(), Ok) << enc.filter.FailureReason();
      Decode dec(enc.Output(PictureEncoderFilter::kOutPin), PictureDecoderFilter::kInPin);
      ASSERT_EQ(dec.filter.Process(), Ok) << dec.filter.FailureReason();
      EXPECT_TRUE(SamePlane(dec.filter.RPlane(), r.record)) << format << (grey ? " grey" : " colour");
      EXPECT_TRUE(SamePlane(dec.filter.GPlane(), grey ? r.record : g.record)) << format << (grey ? " grey" : " colour");
      EXPECT_TRUE(SamePlane(dec.filter.BPlane(), b.record)) << format;
    }
  }
}

TEST(PictureEncoder, ScalesLikeTheBmpEncoder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  test::TestPlane p(5, 1, 0.0, 1.0, {0.5, 1.2, -0.1, nan, 0.999});
  Encode grey(p.record, p.record, p.record, PictureEncoderFilter::kRPin);
  Apply(grey.filter, {2, 90, 8});
  ASSERT_EQ(grey.filter.Process(), Ok) << grey.filter.FailureReason();
  const auto pgm = grey.Output(PictureEncoderFilter::kOutPin);
  ASSERT_GE(pgm.size(), 5u);
  EXPECT_EQ(std::string(pgm.begin(), pgm.begin() + 2), "P5");
  const std::vector<uint8_t> pixels(pgm.end() - 5, pgm.end());
  EXPECT_EQ(pixels, (std::vector<uint8_t>{128, 255, 0, 0, 255}));

  // A plane with its own range: [-1, 1] puts 0 at 127.5, written as 128.
  test::TestPlane q(5, 1, -1.0, 1.0, {0.0, 0.0, 0.0, 0.0, 0.0});
  Encode colour(p.record, q.record, p.record, PictureEncoderFilter::kRPin);
  Apply(colour.filter, {2, 90, 8});
  ASSERT_EQ(colour.filter.Process(), Ok);
  const auto ppm = colour.Output(PictureEncoderFilter::kOutPin);
  EXPECT_EQ(std::string(ppm.begin(), ppm.begin() + 2), "P6");
  EXPECT_EQ(ppm[ppm.size() - 15], 128);
  EXPECT_EQ(ppm[ppm.size() - 14], 128);

  // Nearest levels, halves up, at 8 and 16 bits.
  test::TestPlane halves(4, 1, 0.0, 255.0, {99.4999, 99.5, 254.4999, 254.5});
  Encode levels(halves.record, halves.record, halves.record, PictureEncoderFilter::kRPin);
  Apply(levels.filter, {2, 90, 8});
  ASSERT_EQ(levels.filter.Process(), Ok);
  const auto rounded = levels.Output(PictureEncoderFilter::kOutPin);
  EXPECT_EQ(std::vector<uint8_t>(rounded.end() - 4, rounded.end()), (std::vector<uint8_t>{99, 100, 254, 255}));
  EXPECT_EQ(ScaleToLevel(1000.4999, 0.0, 65535.0, 65535.0), 1000);
  EXPECT_EQ(ScaleToLevel(1000.5, 0.0, 65535.0, 65535.0), 1001);
  EXPECT_EQ(ScaleToLevel(65534.5, 0.0, 65535.0, 65535.0), 65535);
}

TEST(PictureEncoder, RefusesBadSettingsAndPlanesWithAReason) {
  test::TestPlane p(2, 2, 0.0, 255.0, {1, 2, 3, 4});
  test::TestPlane small(2, 1, 0.0, 255.0, {1, 2});
  test::TestPlane flat(2, 2, 5.0, 5.0, {1, 2, 3, 4});
  test::TestPlane empty(0, 0, 0.0, 1.0);
  struct Case {
    const char* what;
    const Plane* g;
    PictureEncoderSettings settings;
  };
  const Case cases[] = {
      {"unknown format", &p.record, {7, 90, 8}},
      {"negative format", &p.record, {-1, 90, 8}},
      {"16-bit JPEG", &p.record, {1, 90, 16}},
      {"16-bit PPM", &p.record, {2, 90, 16}},
      {"12 bits", &p.record, {0, 90, 12}},
      {"quality 101", &p.record, {1, 101, 8}},
      {"quality -1", &p.record, {1, -1, 8}},
      {"sizes differ", &small.record, {0, 90, 8}},
      {"min equals max", &flat.record, {0, 90, 8}},
      {"empty plane", &empty.record, {0, 90, 8}},
  };
  for (const Case& c : cases) {
    const Plane& r = c.g == &empty.record ? empty.record : p.record;
    Encode enc(r, *c.g, p.record, PictureEncoderFilter::kRPin);
    Apply(enc.filter, c.settings);
    EXPECT_EQ(enc.filter.Process(), Failed) << c.what;
    EXPECT_STRNE(enc.filter.FailureReason(), "") << c.what;
    EXPECT_EQ(enc.filter.pins[PictureEncoderFilter::kOutPin]->ready, 0) << c.what;
  }
}

TEST(PictureEncoder, SettingsStreams) {
  PictureEncoderFilter f;
  Apply(f, {3, 75, 16});
  const Packet saved = f.GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(saved.length, 12);
  const uint8_t expected[12] = {3, 0, 0, 0, 75, 0, 0, 0, 16, 0, 0, 0};
  EXPECT_EQ(std::memcmp(saved.data, expected, 12), 0);
  std::free(saved.data);

  // A shorter stream sets the fields it reaches.
  PictureEncoderFilter g;
  const uint8_t formatOnly[4] = {1, 0, 0, 0};
  ASSERT_EQ(g.ApplyConfig(MakePacket(4, PacketType::Config, const_cast<uint8_t*>(formatOnly)), ConfigForm::Serialized),
            Ok);
  EXPECT_EQ(g.Settings().format, 1);
  EXPECT_EQ(g.Settings().quality, 90);
  EXPECT_EQ(g.Settings().bits, 8);
  EXPECT_EQ(g.ApplyConfig(MakePacket(0, PacketType::Config, nullptr), ConfigForm::Native), Failed);
}

}  // namespace
}  // namespace vorlan
