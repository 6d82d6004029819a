// The encoder's and decoder's feedback windows as the editor drives them:
// the filter created on this (user-interface) thread, Process on a worker
// thread while this thread keeps dispatching events and painting.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include "encoder_test_support.h"
#include "feedback_bitmap.h"
#include "feedback_decoder_window.h"
#include "gui/feedback_encoder_window.h"
#include "support/filter_harness.h"

// Under ThreadSanitizer: Qt is not instrumented, so the allocations and
// copies it makes for a blocking queued call on both threads look like
// races. Memory calls made from inside uninstrumented libraries are left
// out; everything the windows and filters do themselves is still checked.
extern "C" __attribute__((used, visibility("default"))) const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }

namespace vorlan {
namespace {

using attractor::FeedbackDecoderFilter;
using attractor::FractalDecoderFilter;
using attractor::FractalDecoderSettings;
using collage::FeedbackEncoderFilter;
using collage::FractalEncoderSettings;

// Runs filter.Process() on a worker thread; `spin` runs on this thread
// between event batches until the worker returns.
template <class Spin>
Result ProcessOnWorker(Filter& filter, Spin spin) {
  std::atomic<bool> done{false};
  Result result = Failed;
  std::thread worker([&] {
    result = static_cast<Result>(filter.Process());
    done = true;
  });
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    spin();
  }
  worker.join();
  QCoreApplication::processEvents();
  return result;
}
Result ProcessOnWorker(Filter& filter) {
  return ProcessOnWorker(filter, [] {});
}

QImage ToImage(const FeedbackBitmap& b) {
  return QImage(reinterpret_cast<const uchar*>(b.pixels.data()), b.width, b.height, b.width * 4,
                QImage::Format_RGB32)
      .copy();
}

// The grey picture of `samples` with `outlines` in `colour`.
QImage Expected(const std::vector<double>& samples, int32_t w, int32_t h, double lo, double hi,
                const std::vector<FractalDecoderFilter::Outline>& outlines, uint32_t colour) {
  FeedbackBitmap b;
  std::string reason;
  EXPECT_TRUE(BuildFeedbackBitmap(samples.data(), w, h, lo, hi, b, reason)) << reason;
  for (const auto& r : outlines) DrawOutline(b, OutlineRect{r.x, r.y, r.width, r.height}, colour);
  return ToImage(b);
}

// Pixel-equal ignoring the unused fourth byte.
int CountDifferent(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return -1;
  int different = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) different += (a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF);
  }
  return different;
}

template <class F, class S>
void Apply(F& filter, S settings) {
  ASSERT_EQ(filter.ApplyConfig(MakePacket(sizeof settings, PacketType::Config, &settings), ConfigForm::Native),
            Ok);
}

void ConnectCode(Filter& encoder, Filter& decoder) {
  for (int32_t i = 0; i < 10; ++i) {
    test::Connect(encoder, collage::kHeaderPin + i, decoder, FractalDecoderFilter::kHdrPin + i);
  }
}

// The ranges of the code `encoder` published, as the decoder rebuilds them.
std::vector<FractalDecoderFilter::Outline> PublishedRanges(Filter& encoder) {
  FractalDecoderFilter reference;
  FractalDecoderSettings ds;
  ds.feedback = 0;
  ds.maxIterations = 1;
  EXPECT_EQ(reference.ApplyConfig(MakePacket(sizeof ds, PacketType::Config, &ds), ConfigForm::Native), Ok);
  ConnectCode(encoder, reference);
  EXPECT_EQ(reference.Process(), Ok) << reference.FailureReason();
  return reference.RangeOutlines();
}

struct EncoderRun {
  static constexpr int32_t kSide = 96;
  std::vector<double> samples = collage::test::Pattern(kSide, kSide);
  test::TestPlane plane{kSide, kSide, 0.0, 255.0, samples};
  test::FakeOutput source;
  FeedbackEncoderFilter encoder;

  explicit EncoderRun(int32_t threads) {
    FractalEncoderSettings es;
    es.errorMode = 1;
    es.quality = 0.985f;
    es.stepX = es.stepY = 4;
    es.threadCount = threads;
    es.feedback = 1;
    Apply(encoder, es);
    EXPECT_EQ(encoder.Initialize(), Ok);
    test::Connect(encoder, collage::kInPin, source.pin());
    source.Publish(plane.AsPacket());
  }
};

TEST(EncoderFeedbackWindow, EndsOnTheFinishedPartitionWithLiveTitlesOnTheWay) {
  EncoderRun run(2);
  ImageWindow* window = run.encoder.FeedbackWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("HV encoder"));

  // Painting the window the whole time, as a user watching it would.
  std::set<QString> titles;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(ProcessOnWorker(run.encoder,
                            [&] {
                              titles.insert(window->windowTitle());
                              (void)window->grab();
                            }),
            Ok)
      << run.encoder.FailureReason();
  const auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->Mode(), ImageWindow::ViewMode::Fullsize);
  const int32_t ranges = run.encoder.RangeCount();
  ASSERT_GT(ranges, 20);
  // Whether every range met the tolerance depends on the picture; the
  // counts do not.
  const QString title = window->windowTitle();
  const QString done = QStringLiteral("HVE [96x96] [RangeStack:0|RangePool:%1|Progress:100.00%|CC:").arg(ranges);
  EXPECT_TRUE(title == done + QStringLiteral("TRUE]") || title == done + QStringLiteral("FALSE]"))
      << title.toStdString();
  EXPECT_FALSE(run.encoder.OverlayHasCurrent());
  EXPECT_TRUE(run.encoder.OverlayDomains().empty());
  if (elapsed > std::chrono::milliseconds(200)) {
    int live = 0;
    for (const QString& t : titles) live += t.startsWith(QStringLiteral("HVE [96x96] [RangeStack:"));
    EXPECT_GE(live, 2) << "the title follows the search while it runs";
  }

  // Outlines drawn during the search all lie on outlines of the final
  // ranges, which are drawn last in the pool colour: the bitmap is the
  // picture with exactly the published ranges outlined.
  const QImage expected =
      Expected(run.samples, EncoderRun::kSide, EncoderRun::kSide, 0.0, 255.0, PublishedRanges(run.encoder),
               collage::kPoolColour);
  EXPECT_EQ(CountDifferent(window->Image(), expected), 0);
}

TEST(EncoderFeedbackWindow, FeedbackOffHidesTheWindowAndClosingOnlyHides) {
  EncoderRun run(1);
  ImageWindow* window = run.encoder.FeedbackWindow();
  ASSERT_EQ(ProcessOnWorker(run.encoder), Ok);
  ASSERT_TRUE(window->isVisible());
  window->close();
  EXPECT_FALSE(window->isVisible());
  run.encoder.Reset();
  run.source.Publish(run.plane.AsPacket());
  ASSERT_EQ(ProcessOnWorker(run.encoder), Ok);
  EXPECT_TRUE(window->isVisible()) << "the next run with feedback shows it again";

  FractalEncoderSettings es = run.encoder.Settings();
  es.feedback = 0;
  Apply(run.encoder, es);
  run.encoder.Reset();
  run.source.Publish(run.plane.AsPacket());
  ASSERT_EQ(ProcessOnWorker(run.encoder), Ok);
  EXPECT_FALSE(window->isVisible());
}

struct DecoderRun {
  int32_t side;
  double hi;
  test::FakeOutput source;
  collage::FractalEncoderFilter encoder;
  FeedbackDecoderFilter decoder;

  // The code of `samples` (side x side on [0, hi]), connected to the decoder.
  DecoderRun(const FractalDecoderSettings& ds, std::vector<double> samples, int32_t side_, double hi_, int32_t step)
      : side(side_), hi(hi_) {
    test::TestPlane plane(side, side, 0.0, hi, std::move(samples));
    FractalEncoderSettings es;
    es.errorMode = 1;
    es.quality = 0.97f;
    es.stepX = es.stepY = step;
    // One worker: in Fidelity mode with "Cover in tolerance" whichever worker
    // meets the tolerance first wins, so two workers give a different code
    // from run to run, and now and then one whose decode does not settle.
    es.threadCount = 1;
    es.feedback = 0;
    Apply(encoder, es);
    test::Connect(encoder, collage::kInPin, source.pin());
    source.Publish(plane.AsPacket());
    EXPECT_EQ(encoder.Process(), Ok) << encoder.FailureReason();
    Apply(decoder, ds);
    ConnectCode(encoder, decoder);
  }
  explicit DecoderRun(const FractalDecoderSettings& ds)
      : DecoderRun(ds, collage::test::Pattern(128, 128), 128, 255.0, 8) {}

  std::vector<double> Output() {
    const auto* p = static_cast<const Plane*>(test::Output(decoder, FractalDecoderFilter::kOutPin).data);
    return std::vector<double>(p->samples, p->samples + int64_t{p->width} * p->height);
  }
};

TEST(DecoderFeedbackWindow, ShowsTheDecodedImageWithItsRangesAndTitle) {
  FractalDecoderSettings ds;
  ds.maxIterations = 8;
  ds.postProcessing = 0;
  ds.feedback = 1;
  ds.drawRanges = 1;
  DecoderRun run(ds);
  ImageWindow* window = run.decoder.FeedbackWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("HV decoder"));
  ASSERT_EQ(ProcessOnWorker(run.decoder), Ok) << run.decoder.FailureReason();

  EXPECT_TRUE(window->isVisible());
  const auto outlines = run.decoder.RangeOutlines();
  ASSERT_FALSE(outlines.empty());
  // The last refresh comes after the eighth pass.
  EXPECT_EQ(window->windowTitle().toStdString(),
            QStringLiteral("HVD [128x128] [Ranges:%1|Iteration:9|RMS:-1.000000|Progress:100.00%]")
                .arg(outlines.size())
                .toStdString());
  const QImage expected = Expected(run.Output(), run.side, run.side, 0.0, run.hi, outlines,
                                   attractor::kDecoderRangeColour);
  EXPECT_EQ(CountDifferent(window->Image(), expected), 0);
  const QImage shown = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(CountDifferent(shown.copy(0, 0, run.side, run.side), expected), 0);

}

// The picture for the manual: camera.bmp decoded with its ranges drawn.
// Written only when VORLAN_SCREENSHOT_DIR names a folder.
TEST(DecoderFeedbackWindow, Screenshot) {
  const char* dir = std::getenv("VORLAN_SCREENSHOT_DIR");
  if (dir == nullptr) GTEST_SKIP() << "VORLAN_SCREENSHOT_DIR not set";
  FractalDecoderSettings ds;
  ds.maxIterations = 10;
  ds.postProcessing = 0;
  DecoderRun run(ds, collage::test::Camera(512, 512), 512, 1.0, 16);
  ASSERT_EQ(ProcessOnWorker(run.decoder), Ok) << run.decoder.FailureReason();
  ImageWindow* window = run.decoder.FeedbackWindow();
  const QImage shown = window->grab().toImage();
  EXPECT_TRUE(shown.save(QDir(QString::fromUtf8(dir)).filePath(QStringLiteral("decoder_feedback.png"))));
  std::printf("%s\n", window->windowTitle().toStdString().c_str());
}

TEST(DecoderFeedbackWindow, WithoutDrawRangesShowsThePlainImageAndFeedbackOffHides) {
  FractalDecoderSettings ds;
  ds.mode = 1;  // until the image settles
  ds.maxRmsError = 0.001f;
  ds.postProcessing = 1;
  ds.feedback = 1;
  ds.drawRanges = 0;
  DecoderRun run(ds);
  ImageWindow* window = run.decoder.FeedbackWindow();
  ASSERT_EQ(ProcessOnWorker(run.decoder), Ok) << run.decoder.FailureReason();
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("HVD [128x128] [Ranges:")));
  EXPECT_FALSE(window->windowTitle().contains(QStringLiteral("RMS:-1.000000"))) << "measured in this mode";
  EXPECT_EQ(CountDifferent(window->Image(), Expected(run.Output(), run.side, run.side, 0.0, run.hi,
                                                     {}, 0)),
            0);

  ds.feedback = 0;
  Apply(run.decoder, ds);
  run.decoder.Reset();
  ConnectCode(run.encoder, run.decoder);
  ASSERT_EQ(ProcessOnWorker(run.decoder), Ok);
  EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace vorlan
