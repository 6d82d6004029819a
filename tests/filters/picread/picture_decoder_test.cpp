#include "picture_decoder_filter.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cmath>
#include <cstring>

#include "bmp_decoder_filter.h"
#include "picture_decoding.h"
#include "picture_test_support.h"
#include "vorlan/memory_budget.h"

namespace vorlan {
namespace {

using Decode = test::BytesRun<PictureDecoderFilter>;

void Put32BigEndian(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 3; i >= 0; --i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return c ^ 0xFFFFFFFFu;
}

void PutChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  Put32BigEndian(png, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  Put32BigEndian(png, Crc32(body.data(), body.size()));
}

// A well-formed PNG header claiming width x height 8-bit RGB pixels, with a
// few bytes of image data and an end chunk.
std::vector<uint8_t> ClaimingPng(uint32_t width, uint32_t height) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  Put32BigEndian(ihdr, width);
  Put32BigEndian(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  PutChunk(png, "IHDR", ihdr);
  PutChunk(png, "IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
  PutChunk(png, "IEND", {});
  return png;
}

QImage Gradient(int width, int height) {
  QImage image(width, height, QImage::Format_RGB888);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb((7 * x + y) & 255, (3 * y) & 255, (x * y) & 255));
  }
  return image;
}

void ExpectPlanesOf(const PictureDecoderFilter& d, const QImage& image, const char* what) {
  const Plane* planes[3] = {&d.RPlane(), &d.GPlane(), &d.BPlane()};
  for (const Plane* p : planes) {
    ASSERT_EQ(p->width, image.width()) << what;
    ASSERT_EQ(p->height, image.height()) << what;
    EXPECT_EQ(p->min, 0.0) << what;
    EXPECT_EQ(p->max, 255.0) << what;
  }
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);
      const int i = y * image.width() + x;
      ASSERT_EQ(planes[0]->samples[i], qRed(c)) << what << " x " << x << " y " << y;
      ASSERT_EQ(planes[1]->samples[i], qGreen(c)) << what << " x " << x << " y " << y;
      ASSERT_EQ(planes[2]->samples[i], qBlue(c)) << what << " x " << x << " y " << y;
    }
  }
}

TEST(PictureDecoder, LosslessFormatsGiveTheWrittenPixels) {
  const QImage image = Gradient(37, 21);  // odd sizes: no row happens to align
  for (const char* format : {"png", "ppm", "tiff", "bmp"}) {
    Decode run(test::WriteWithQt(image, format), PictureDecoderFilter::kInPin);
    ASSERT_FALSE(run.bytes.empty()) << format;
    ASSERT_EQ(run.filter.Process(), Ok) << format << ": " << run.filter.FailureReason();
    EXPECT_EQ(run.filter.state, FilterState::Done);
    ExpectPlanesOf(run.filter, image, format);
    EXPECT_EQ(test::Output(run.filter, PictureDecoderFilter::kGPin).data, &run.filter.GPlane());
  }
}

TEST(PictureDecoder, CameraAsPngEqualsCameraAsBmp) {
  const auto bmp = test::ReadFile(test::SharedDataPath("camera.bmp"));
  ASSERT_FALSE(bmp.empty());
  test::BytesRun<BmpDecoderFilter> reference(bmp, BmpDecoderFilter::kInPin);
  ASSERT_EQ(reference.filter.Process(), Ok);

  QImage camera;
  ASSERT_TRUE(camera.loadFromData(bmp.data(), static_cast<int>(bmp.size()), "BMP"));
  // Grey PNG (one channel) and RGB PNG of the same picture.
  for (const QImage::Format format : {QImage::Format_Grayscale8, QImage::Format_RGB888}) {
    Decode run(test::WriteWithQt(camera.convertToFormat(format), "png"), PictureDecoderFilter::kInPin);
    ASSERT_EQ(run.filter.Process(), Ok) << run.filter.FailureReason();
    const Plane* got[3] = {&run.filter.RPlane(), &run.filter.GPlane(), &run.filter.BPlane()};
    const Plane* want[3] = {&reference.filter.RPlane(), &reference.filter.GPlane(), &reference.filter.BPlane()};
    for (int k = 0; k < 3; ++k) {
      ASSERT_EQ(got[k]->width, 512);
      ASSERT_EQ(got[k]->height, 512);
      EXPECT_EQ(got[k]->max, 255.0);
      EXPECT_EQ(std::memcmp(got[k]->samples, want[k]->samples, 512 * 512 * sizeof(double)), 0)
          << "plane " << k << " of format " << static_cast<int>(format);
    }
  }
}

TEST(PictureDecoder, SixteenBitPicturesKeepTheirValues) {
  // Distinct 16-bit values per channel, including ones whose low byte is
  // not the high byte repeated (an 8-bit detour would lose them).
  QImage deep(5, 3, QImage::Format_RGBX64);
  QImage grey(5, 3, QImage::Format_Grayscale16);
  auto level = [](int x, int y, int k) { return static_cast<uint16_t>((x * 13007 + y * 4099 + k * 1237 + 1) % 65536); };
  for (int y = 0; y < 3; ++y) {
    auto* line = reinterpret_cast<QRgba64*>(deep.scanLine(y));
    auto* gline = reinterpret_cast<uint16_t*>(grey.scanLine(y));
    for (int x = 0; x < 5; ++x) {
      line[x] = QRgba64::fromRgba64(level(x, y, 0), level(x, y, 1), level(x, y, 2), 65535);
      gline[x] = level(x, y, 0);
    }
  }
  for (const char* format : {"png", "tiff"}) {
    for (const QImage* image : {&deep, &grey}) {
      Decode run(test::WriteWithQt(*image, format), PictureDecoderFilter::kInPin);
      ASSERT_EQ(run.filter.Process(), Ok) << format << ": " << run.filter.FailureReason();
      const Plane* planes[3] = {&run.filter.RPlane(), &run.filter.GPlane(), &run.filter.BPlane()};
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(planes[k]->min, 0.0);
        EXPECT_EQ(planes[k]->max, 65535.0) << format;
        for (int i = 0; i < 15; ++i) {
          const int channel = image == &grey ? 0 : k;
          ASSERT_EQ(planes[k]->samples[i], level(i % 5, i / 5, channel)) << format << " plane " << k << " i " << i;
        }
      }
    }
  }
}

TEST(PictureDecoder, JpegAndAlpha) {
  const QImage image = Gradient(64, 48);
  Decode jpeg(test::WriteWithQt(image, "jpeg", 95), PictureDecoderFilter::kInPin);
  ASSERT_EQ(jpeg.filter.Process(), Ok) << jpeg.filter.FailureReason();
  double squared = 0;
  for (int i = 0; i < 64 * 48; ++i) {
    const double d = jpeg.filter.GPlane().samples[i] - qGreen(image.pixel(i % 64, i / 64));
    squared += d * d;
  }
  const double psnr = 10 * std::log10(255.0 * 255.0 / (squared / (64 * 48)));
  EXPECT_GT(psnr, 30.0);

  // Alpha is dropped, the stored colours stay, even fully transparent ones.
  QImage translucent(3, 1, QImage::Format_ARGB32);
  translucent.setPixel(0, 0, qRgba(200, 100, 50, 0));
  translucent.setPixel(1, 0, qRgba(10, 20, 30, 128));
  translucent.setPixel(2, 0, qRgba(1, 2, 3, 255));
  Decode png(test::WriteWithQt(translucent, "png"), PictureDecoderFilter::kInPin);
  ASSERT_EQ(png.filter.Process(), Ok);
  EXPECT_EQ(png.filter.RPlane().samples[0], 200);
  EXPECT_EQ(png.filter.BPlane().samples[0], 50);
  EXPECT_EQ(png.filter.GPlane().samples[1], 20);
  EXPECT_EQ(png.filter.BPlane().samples[2], 3);
}

TEST(PictureDecoder, HostileInputFailsWithAReason) {
  const auto png = test::WriteWithQt(Gradient(40, 40), "png");
  const auto jpeg = test::WriteWithQt(Gradient(40, 40), "jpeg", 90);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* reason;  // a part of the expected reason
  };
  auto cut = [](std::vector<uint8_t> v, size_t keep) {
    v.resize(keep);
    return v;
  };
  auto damaged = png;
  for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 16; ++i) damaged[i] ^= 0x5A;
  const Case cases[] = {
      {"60000 x 60000 PNG", ClaimingPng(60000, 60000), "60000 x 60000"},
      {"2^31 - 1 square PNG", ClaimingPng(0x7FFFFFFF, 0x7FFFFFFF), ""},
      {"truncated PNG", cut(png, png.size() / 2), "PNG"},
      {"damaged PNG", damaged, "PNG"},
      {"truncated JPEG", cut(jpeg, jpeg.size() - 40), "truncated"},
      {"JPEG header only", cut(jpeg, 200), "JPEG"},
      {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, "not a picture"},
      {"empty input", {}, "no picture"},
      {"PNG signature only", cut(png, 8), ""},
  };
  for (const Case& c : cases) {
    Decode run(c.bytes, PictureDecoderFilter::kInPin);
    EXPECT_EQ(run.filter.Process(), Failed) << c.what;
    EXPECT_EQ(run.filter.state, FilterState::Stopped) << c.what;
    const std::string reason = run.filter.FailureReason();
    EXPECT_NE(reason, "") << c.what;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
    for (int pin = 3; pin <= 5; ++pin) EXPECT_EQ(run.filter.pins[pin]->ready, 0) << c.what;
    EXPECT_EQ(run.filter.RPlane().samples, nullptr) << c.what;
  }
}

TEST(PictureDecoder, SizeLimitSetting) {
  // Just over one megapixel: refused at a limit of 1, read at 2.
  const auto big = test::WriteWithQt(QImage(1025, 1024, QImage::Format_Grayscale8), "png");
  PictureDecoderSettings one{1};
  {
    Decode run(big, PictureDecoderFilter::kInPin);
    ASSERT_EQ(run.filter.ApplyConfig(MakePacket(4, PacketType::Config, &one), ConfigForm::Native), Ok);
    EXPECT_EQ(run.filter.Process(), Failed);
    EXPECT_NE(std::string(run.filter.FailureReason()).find("1025 x 1024"), std::string::npos)
        << run.filter.FailureReason();
  }
  {
    Decode run(big, PictureDecoderFilter::kInPin);
    const uint8_t two[4] = {2, 0, 0, 0};
    ASSERT_EQ(run.filter.ApplyConfig(MakePacket(4, PacketType::Config, const_cast<uint8_t*>(two)),
                                     ConfigForm::Serialized),
              Ok);
    EXPECT_EQ(run.filter.Process(), Ok) << run.filter.FailureReason();
    const Packet saved = run.filter.GetConfig(ConfigForm::Serialized);
    ASSERT_EQ(saved.length, 4);
    EXPECT_EQ(std::memcmp(saved.data, two, 4), 0);
    std::free(saved.data);
  }
  for (const int32_t bad : {0, -5, kLargestMegapixels + 1}) {
    Decode run(big, PictureDecoderFilter::kInPin);
    PictureDecoderSettings s{bad};
    run.filter.ApplyConfig(MakePacket(4, PacketType::Config, &s), ConfigForm::Native);
    EXPECT_EQ(run.filter.Process(), Failed) << bad;
  }
  // A graph saved before the setting existed holds an empty stream.
  PictureDecoderFilter fresh;
  EXPECT_EQ(fresh.ApplyConfig(MakePacket(0, PacketType::Config, nullptr), ConfigForm::Serialized), Ok);
  EXPECT_EQ(fresh.Settings().maxMegapixels, 64);
}

// The planes and Qt's decoding are reserved from the size the header claims,
// before a pixel is decoded: the claims below have no pixel data at all, so
// a decoder that reserved afterwards would fail on the missing data instead.
TEST(PictureDecoder, TheBudgetIsReservedFromTheClaimBeforeDecoding) {
  {
    Decode run(ClaimingPng(4096, 4096), PictureDecoderFilter::kInPin);
    EXPECT_EQ(run.filter.Process(), Failed);
    const std::string reason = run.filter.FailureReason();
    EXPECT_NE(reason.find("Image decoder: the picture would take"), std::string::npos) << reason;
    EXPECT_NE(reason.find("per input byte"), std::string::npos) << reason;
  }
  SetDecodedMemoryLimit(8 << 20);
  {
    Decode run(ClaimingPng(1024, 1024), PictureDecoderFilter::kInPin);
    EXPECT_EQ(run.filter.Process(), Failed);
    EXPECT_NE(std::string(run.filter.FailureReason()).find("over the memory limit of 8388608 bytes"),
              std::string::npos)
        << run.filter.FailureReason();
  }
  SetDecodedMemoryLimit(kDefaultDecodedMemoryLimit);
  EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 0);
  // Once the planes are filled, only they stay reserved.
  Decode run(test::WriteWithQt(Gradient(64, 48), "png"), PictureDecoderFilter::kInPin);
  ASSERT_EQ(run.filter.Process(), Ok) << run.filter.FailureReason();
  EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 3 * 64 * 48 * 8);
  run.filter.Reset();
  EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 0);
}

TEST(PictureDecoder, JpegEndMarkerScan) {
  auto jpeg = test::WriteWithQt(Gradient(16, 16), "jpeg", 90);
  EXPECT_TRUE(JpegHasEndMarker(jpeg.data(), static_cast<int64_t>(jpeg.size())));
  // Trailing bytes after the marker are allowed.
  jpeg.insert(jpeg.end(), {0, 0, 0});
  EXPECT_TRUE(JpegHasEndMarker(jpeg.data(), static_cast<int64_t>(jpeg.size())));
  // An FF D9 inside a segment before the scan (as in an EXIF thumbnail)
  // does not count once the scan is cut off.
  std::vector<uint8_t> tricky = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x06, 0xFF, 0xD9, 0x00, 0x00,
                                 0xFF, 0xDA, 0x00, 0x04, 0x01, 0x02, 0x12, 0x34};
  EXPECT_FALSE(JpegHasEndMarker(tricky.data(), static_cast<int64_t>(tricky.size())));
  tricky.insert(tricky.end(), {0xFF, 0xD9});
  EXPECT_TRUE(JpegHasEndMarker(tricky.data(), static_cast<int64_t>(tricky.size())));
  // A segment length running past the end.
  const uint8_t runaway[] = {0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF, 0xFF, 0xD9};
  EXPECT_FALSE(JpegHasEndMarker(runaway, sizeof runaway));
}

PictureDecoderFilter* stopTarget = nullptr;
void StopAtOnce(float) { stopTarget->Stop(); }

TEST(PictureDecoder, StopAndRepeatedRuns) {
  Decode run(test::WriteWithQt(Gradient(8, 8), "png"), PictureDecoderFilter::kInPin);
  stopTarget = &run.filter;
  run.filter.progress = &StopAtOnce;
  EXPECT_EQ(run.filter.Process(), Stopped);
  EXPECT_EQ(run.filter.pins[3]->ready, 0);
  EXPECT_EQ(run.filter.RPlane().samples, nullptr);
  run.filter.progress = nullptr;
  run.filter.Reset();
  ASSERT_EQ(run.filter.Process(), Ok);
  // A second run without Reset replaces the planes in the same records.
  const auto other = test::WriteWithQt(Gradient(3, 2), "png");
  run.source.Publish(MakePacket(static_cast<int32_t>(other.size()), PacketType::Bytes, const_cast<uint8_t*>(other.data())));
  ASSERT_EQ(run.filter.Process(), Ok);
  ExpectPlanesOf(run.filter, Gradient(3, 2), "second run");
  EXPECT_EQ(test::Output(run.filter, PictureDecoderFilter::kRPin).data, &run.filter.RPlane());
}

}  // namespace
}  // namespace vorlan
