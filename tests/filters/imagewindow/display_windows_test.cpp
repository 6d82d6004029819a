// The display filters with their windows, as the editor runs them: created
// on the user-interface thread, Process called on a worker thread while this
// thread keeps processing events.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QScreen>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "bmp_decoder_filter.h"
#include "image_display_plugin.h"
#include "mono_display_filter.h"
#include "plane_pixels.h"
#include "rgb_display_filter.h"
#include "support/filter_harness.h"

namespace vorlan {
namespace {

using RgbDisplay = ImageDisplayPlugin<RgbDisplayFilter>;
using MonoDisplay = ImageDisplayPlugin<MonoDisplayFilter>;

// Runs filter.Process() on a worker thread and pumps this thread's events
// until it returns, as the host's runner does.
Result ProcessOnWorker(Filter& filter) {
  std::atomic<bool> done{false};
  Result result = Failed;
  std::thread worker([&] {
    result = static_cast<Result>(filter.Process());
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  QCoreApplication::processEvents();
  return result;
}

// The expected window content: the filter's pixel buffer as an image.
QImage Expected(const ImageDisplayFilter& f) {
  return QImage(f.Pixels(), f.ImageWidth(), f.ImageHeight(), f.ImageWidth() * 4, QImage::Format_RGB32)
      .copy();
}

QImage Grab(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Pixels equal ignoring the unused fourth byte.
bool SameRgb(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return false;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if ((a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF)) return false;
    }
  }
  return true;
}

// astronaut.bmp decoded into R, G and B planes.
struct Astronaut {
  BmpDecoderFilter decoder;
  test::FakeOutput file;
  std::vector<uint8_t> bytes = test::ReadFile(test::SharedDataPath("astronaut.bmp"));
  Astronaut() {
    decoder.Initialize();
    test::Connect(decoder, BmpDecoderFilter::kInPin, file.pin());
    file.Publish(MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Bytes, bytes.data()));
    EXPECT_EQ(decoder.Process(), Ok) << decoder.FailureReason();
  }
};

TEST(RgbDisplayWindow, ShowsTheImageAfterARunAndAgainAfterClosing) {
  Astronaut source;
  RgbDisplay display;
  ImageWindow* window = display.Window();
  ASSERT_NE(window, nullptr) << "a display created with a GUI gets its window";
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "RGB Display");

  display.Initialize();
  test::Connect(source.decoder, BmpDecoderFilter::kRPin, display, RgbDisplayFilter::kRPin);
  test::Connect(source.decoder, BmpDecoderFilter::kGPin, display, RgbDisplayFilter::kGPin);
  test::Connect(source.decoder, BmpDecoderFilter::kBPin, display, RgbDisplayFilter::kBPin);
  ImageDisplaySettings settings{1, "astronaut"};
  display.ApplyConfig(MakePacket(sizeof settings, PacketType::Config, &settings), ConfigForm::Native);

  ASSERT_EQ(ProcessOnWorker(display), Ok) << display.FailureReason();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "[astronaut] [512 x 512] - RGB Display");
  EXPECT_EQ(window->size(), QSize(512, 512));
  const QImage shot = Grab(*window);
  EXPECT_TRUE(SameRgb(shot, Expected(display)));
  // And against the planes themselves, at a middle pixel.
  const int64_t at = 200 * 512 + 300;
  const Plane& red = source.decoder.RPlane();
  EXPECT_EQ(qRed(shot.pixel(300, 200)), SampleToByte(red.samples[at], red.min, red.max));

  if (const char* dir = std::getenv("VORLAN_DOC_IMAGES")) {
    // The manual's picture: the client area under a plain title bar.
    const int bar = 28;
    QImage picture(shot.width() + 2, shot.height() + bar + 1, QImage::Format_RGB32);
    picture.fill(QColor(60, 60, 60));
    QPainter painter(&picture);
    painter.fillRect(QRect(1, 1, shot.width(), bar - 2), QColor(225, 225, 225));
    painter.setPen(Qt::black);
    painter.drawText(QRect(10, 1, shot.width() - 20, bar - 2), Qt::AlignVCenter | Qt::AlignLeft,
                     window->windowTitle());
    painter.drawImage(QPoint(1, bar), shot);
    painter.end();
    EXPECT_TRUE(picture.save(QDir(QString::fromLocal8Bit(dir)).filePath(QStringLiteral("rgb_display.png"))));
  }

  // The user closes it; the next run shows it again.
  window->close();
  EXPECT_FALSE(window->isVisible());
  display.Reset();
  ASSERT_EQ(ProcessOnWorker(display), Ok);
  EXPECT_TRUE(window->isVisible());

  // A failed run leaves it hidden.
  test::TestPlane small(3, 3, 0, 1, std::vector<double>(9, 0.0));
  test::FakeOutput other;
  other.Publish(small.AsPacket());
  test::Connect(display, RgbDisplayFilter::kGPin, other.pin());
  display.Reset();
  EXPECT_EQ(ProcessOnWorker(display), Failed);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(display.state, FilterState::Stopped);
}

TEST(RgbDisplayWindow, MenuChoiceBecomesTheSettingAndSettingsReachTheWindow) {
  RgbDisplay display;
  ImageWindow* window = display.Window();
  ASSERT_NE(window, nullptr);
  window->FullsizeAction()->trigger();
  EXPECT_FALSE(display.Stretch());
  Packet serialized = display.GetConfig(ConfigForm::Serialized);
  ASSERT_GE(serialized.length, 1);
  EXPECT_EQ(static_cast<uint8_t*>(serialized.data)[0], 0);
  std::free(serialized.data);

  ImageDisplaySettings settings{1, nullptr};
  display.ApplyConfig(MakePacket(sizeof settings, PacketType::Config, &settings), ConfigForm::Native);
  EXPECT_EQ(window->Mode(), ImageWindow::ViewMode::Stretch);
  EXPECT_TRUE(window->StretchAction()->isChecked());
}

TEST(MonoDisplayWindow, ShowsTheGreyImageSizedToThePlane) {
  MonoDisplay display;
  ImageWindow* window = display.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), "Mono Display");
  std::vector<double> samples(64 * 40);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<double>(i % 64) * 4.0 - 10.0;
  test::TestPlane plane(64, 40, 0.0, 255.0, samples);
  test::FakeOutput in;
  in.Publish(plane.AsPacket());
  display.Initialize();
  test::Connect(display, MonoDisplayFilter::kInPin, in.pin());

  ASSERT_EQ(ProcessOnWorker(display), Ok) << display.FailureReason();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "[64 x 40] - Mono Display");
  // A plane narrower than the title is shown magnified by a whole factor,
  // wide enough for the title, each sample a square of whole pixels.
  const int factor = window->width() / 64;
  EXPECT_GT(factor, 1);
  EXPECT_EQ(window->size(), QSize(64 * factor, 40 * factor));
  EXPECT_GE(window->width(), window->fontMetrics().horizontalAdvance(window->windowTitle()));
  const QImage shot = Grab(*window);
  EXPECT_TRUE(SameRgb(shot, Expected(display).scaled(window->size())));
  EXPECT_EQ(shot.pixel(0, 0) & 0xFFFFFF, 0u);                            // -10 clamps to black
  EXPECT_EQ(shot.pixel(10 * factor, 5 * factor) & 0xFFFFFF, 0x1E1E1Eu);  // 30 on 0..255
  EXPECT_EQ(shot.pixel(64 * factor - 1, 40 * factor - 1) & 0xFFFFFF, 0xF2F2F2u);  // 242

  // Reset drops the image: a shown window then draws nothing.
  display.Reset();
  EXPECT_TRUE(window->Image().isNull());
  window->hide();
}

// The text display as the editor loads it: through its plug-in library.
class TextDisplayPlugin {
 public:
  TextDisplayPlugin() {
    handle_ = test::OpenFilterLibrary("readout");
    if (handle_ == nullptr) return;
    create_ = reinterpret_cast<Filter* (*)(int32_t)>(dlsym(handle_, "CreateFilter"));
    destroy_ = reinterpret_cast<void (*)(Filter*, int32_t)>(dlsym(handle_, "DestroyFilter"));
  }
  ~TextDisplayPlugin() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  bool Loaded() const { return create_ != nullptr && destroy_ != nullptr; }
  Filter* Create() { return create_(0); }
  void Destroy(Filter* f) { destroy_(f, 0); }

 private:
  void* handle_ = nullptr;
  Filter* (*create_)(int32_t) = nullptr;
  void (*destroy_)(Filter*, int32_t) = nullptr;
};

TEST(TextDisplayWindow, ShowsTheValueItsTypeAndTheCaption) {
  TextDisplayPlugin library;
  ASSERT_TRUE(library.Loaded()) << dlerror();
  const QWidgetList before = QApplication::topLevelWidgets();
  Filter* display = library.Create();
  ASSERT_NE(display, nullptr);
  QWidget* window = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!before.contains(w)) window = w;
  }
  ASSERT_NE(window, nullptr) << "the text display creates its window with the filter";
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "Text Display");
  auto* text = window->findChild<QLineEdit*>();
  ASSERT_NE(text, nullptr);

  test::FakeOutput in;
  double psnr = 28.13;
  in.Publish(MakePacket(8, PacketType::Float, &psnr));
  display->Initialize();
  test::Connect(*display, 2, in.pin());
  // Beside the editor's window when there is one, never off the screen.
  QMainWindow editor;
  editor.setGeometry(200, 150, 300, 200);
  editor.show();
  ASSERT_EQ(ProcessOnWorker(*display), Ok);
  EXPECT_TRUE(window->isVisible());
  const QRect work = window->screen()->availableGeometry();
  EXPECT_TRUE(work.contains(window->frameGeometry()));
  EXPECT_LT((window->frameGeometry().topLeft() - editor.frameGeometry().topLeft()).manhattanLength(), 400);
  editor.hide();
  EXPECT_EQ(text->text(), "28.130000");
  bool typeShown = false;
  for (const QLabel* label : window->findChildren<QLabel*>()) typeShown |= label->text() == "Float";
  EXPECT_TRUE(typeShown);
  EXPECT_EQ(window->windowTitle(), "Text Display");

  // "Close" and the close command hide; the next run, with a caption and a
  // huge real, shows it again.
  QPushButton* close = window->findChild<QPushButton*>();
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close->text(), "Close");
  close->click();
  EXPECT_FALSE(window->isVisible());
  window->show();
  window->close();
  EXPECT_FALSE(window->isVisible());
  const char* caption = "PSNR";
  display->ApplyConfig(MakePacket(sizeof caption, PacketType::Config, &caption), ConfigForm::Native);
  psnr = -1e300;
  display->Reset();
  ASSERT_EQ(ProcessOnWorker(*display), Ok);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "[PSNR] - Text Display");
  EXPECT_EQ(text->text(), "-1e+300");

  // A wrong packet type fails and leaves the window hidden.
  test::TestPlane plane(1, 1, 0, 1, {0.0});
  in.Publish(plane.AsPacket());
  display->Reset();
  EXPECT_EQ(ProcessOnWorker(*display), Failed);
  EXPECT_FALSE(window->isVisible());

  library.Destroy(display);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(QApplication::topLevelWidgets().contains(window)) << "the window goes with its filter";
}

}  // namespace
}  // namespace vorlan
