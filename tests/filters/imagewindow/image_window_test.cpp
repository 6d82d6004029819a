#include "image_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "display_settings_dialog.h"
#include "vorlan/gui/gui_support.h"

namespace vorlan {
namespace {

// A w x h image whose pixel (x, y) is RGB(x, y, 7), distinct everywhere.
QImage Ramp(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, 7));
  }
  return image;
}

QImage Grab(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

void Mouse(QWidget& w, QEvent::Type type, QPoint at, Qt::MouseButton button) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
  QMouseEvent event(type, QPointF(at), QPointF(w.mapToGlobal(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(&w, &event);
}

TEST(ImageWindow, StartsHiddenAndClosingOnlyHides) {
  ImageWindow window(QStringLiteral("RGB Display"));
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.windowTitle(), "RGB Display");
  EXPECT_EQ(window.size(), QSize(800, 600));
  EXPECT_EQ(window.Mode(), ImageWindow::ViewMode::Stretch);

  window.show();
  EXPECT_FALSE(window.close());
  EXPECT_FALSE(window.isVisible());
  window.show();
  window.CloseAction()->trigger();
  EXPECT_FALSE(window.isVisible());

  const QList<QAction*> items = window.PopupMenu()->actions();
  ASSERT_EQ(items.size(), 4);
  EXPECT_EQ(items[0]->text(), "Stretch");
  EXPECT_EQ(items[1]->text(), "Fullsize");
  EXPECT_TRUE(items[2]->isSeparator());
  EXPECT_EQ(items[3]->text(), "Close");

  // The right button opens it with the current mode checked.
  window.SetViewMode(ImageWindow::ViewMode::Fullsize);
  window.show();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(window.mapToGlobal(QPoint(5, 5))),
                    Qt::RightButton, Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &press);
  EXPECT_TRUE(window.PopupMenu()->isVisible());
  EXPECT_TRUE(window.FullsizeAction()->isChecked());
  EXPECT_FALSE(window.StretchAction()->isChecked());
  window.PopupMenu()->hide();
  window.hide();
}

TEST(ImageWindow, StretchScalesTheImageOntoTheClientArea) {
  ImageWindow window(QStringLiteral("t"));
  window.SetImage(Ramp(4, 2));
  window.resize(8, 6);
  const QImage shot = Grab(window);
  ASSERT_EQ(shot.size(), QSize(8, 6));
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      EXPECT_EQ(shot.pixel(x, y) & 0xFFFFFF, qRgb(x / 2, y / 3, 7) & 0xFFFFFF) << x << "," << y;
    }
  }
}

TEST(ImageWindow, FullsizeDragsWithinTheImage) {
  ImageWindow window(QStringLiteral("t"));
  ImageWindow::ViewMode chosen = ImageWindow::ViewMode::Stretch;
  int choices = 0;
  window.SetViewModeChosen([&](ImageWindow::ViewMode mode) {
    chosen = mode;
    ++choices;
  });
  window.SetImage(Ramp(300, 200));
  window.resize(100, 100);
  window.show();  // a hidden window gets its size events only when shown
  window.FullsizeAction()->trigger();
  EXPECT_EQ(window.Mode(), ImageWindow::ViewMode::Fullsize);
  EXPECT_EQ(chosen, ImageWindow::ViewMode::Fullsize);
  EXPECT_TRUE(window.FullsizeAction()->isChecked());
  EXPECT_FALSE(window.StretchAction()->isChecked());

  Mouse(window, QEvent::MouseButtonPress, {50, 50}, Qt::LeftButton);
  Mouse(window, QEvent::MouseMove, {10, 20}, Qt::NoButton);
  EXPECT_EQ(window.ScrollOffset(), QPoint(40, 30));
  EXPECT_EQ(Grab(window).pixel(0, 0) & 0xFFFFFF, qRgb(40, 30, 7) & 0xFFFFFF);
  Mouse(window, QEvent::MouseMove, {-900, -900}, Qt::NoButton);
  EXPECT_EQ(window.ScrollOffset(), QPoint(200, 100)) << "dragged beyond the right or bottom edge";
  EXPECT_EQ(Grab(window).pixel(99, 99) & 0xFFFFFF, qRgb(299 % 256, 199, 7) & 0xFFFFFF);
  Mouse(window, QEvent::MouseMove, {900, 900}, Qt::NoButton);
  EXPECT_EQ(window.ScrollOffset(), QPoint(0, 0));
  Mouse(window, QEvent::MouseMove, {0, 0}, Qt::NoButton);
  Mouse(window, QEvent::MouseButtonRelease, {0, 0}, Qt::LeftButton);
  EXPECT_FALSE(window.Dragging());
  Mouse(window, QEvent::MouseMove, {50, 50}, Qt::NoButton);
  EXPECT_EQ(window.ScrollOffset(), QPoint(200, 100)) << "moved without the button held";

  // Growing the window pulls the offset back; an image smaller than the
  // client area stays at (0, 0).
  window.resize(250, 150);
  EXPECT_EQ(window.ScrollOffset(), QPoint(50, 50));
  window.resize(400, 300);
  EXPECT_EQ(window.ScrollOffset(), QPoint(0, 0));

  // Choosing a mode resets the offset and stops a drag.
  window.resize(100, 100);
  Mouse(window, QEvent::MouseButtonPress, {60, 60}, Qt::LeftButton);
  Mouse(window, QEvent::MouseMove, {0, 0}, Qt::NoButton);
  window.StretchAction()->trigger();
  EXPECT_EQ(window.ScrollOffset(), QPoint(0, 0));
  EXPECT_FALSE(window.Dragging());
  EXPECT_EQ(chosen, ImageWindow::ViewMode::Stretch);
  EXPECT_EQ(choices, 2);
  window.hide();
}

TEST(ImageWindow, SizesToTheImageWithinTheWorkArea) {
  ImageWindow window(QStringLiteral("t"));
  window.SetImage(Ramp(320, 240));
  window.move(0, 0);
  window.ShowSizedToImage();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.size(), QSize(320, 240));

  const QRect work = window.screen()->availableGeometry();
  window.SetImage(Ramp(work.width() + 300, work.height() + 200));
  window.ShowSizedToImage();
  const QSize frame = window.frameGeometry().size() - window.size();
  EXPECT_EQ(window.size(), work.size() - frame);
  window.hide();
}

TEST(ImageWindow, SmallImagesKeepTheirTitleAndEveryWindowStaysOnScreen) {
  const QString title = QStringLiteral("[128 x 96] - RGB Display with a long caption");
  ImageWindow window(title);
  window.SetImage(Ramp(128, 96));
  window.ShowSizedToImage();
  const int factor = window.width() / 128;
  EXPECT_GE(factor, 2);
  EXPECT_EQ(window.size(), QSize(128 * factor, 96 * factor)) << "magnified by a whole factor";
  EXPECT_GE(window.width(), window.fontMetrics().horizontalAdvance(title));
  window.hide();

  // Full size keeps the image 1:1 and widens the window only.
  ImageWindow plain(title);
  plain.SetViewMode(ImageWindow::ViewMode::Fullsize);
  plain.SetImage(Ramp(128, 96));
  plain.ShowSizedToImage();
  EXPECT_EQ(plain.height(), 96);
  EXPECT_GE(plain.width(), plain.fontMetrics().horizontalAdvance(title));
  plain.hide();

  // A window left partly off the screen comes back whole on its next show.
  const QRect work = window.screen()->availableGeometry();
  ImageWindow tall(QStringLiteral("t"));
  tall.SetImage(Ramp(200, work.height() - 20));
  tall.move(work.left() + 50, work.bottom() - 100);
  tall.ShowSizedToImage();
  EXPECT_TRUE(work.contains(tall.frameGeometry())) << "frame off the work area";
  tall.hide();
}

TEST(WindowPlacement, KeepInsideMovesAndShrinksFrames) {
  const QRect work(0, 30, 1600, 970);  // a 1000 px screen with a 30 px panel
  EXPECT_EQ(gui::KeepInside(QRect(100, 100, 400, 300), work), QRect(100, 100, 400, 300));
  EXPECT_EQ(gui::KeepInside(QRect(100, 700, 400, 600), work), QRect(100, 400, 400, 600));
  EXPECT_EQ(gui::KeepInside(QRect(-50, 0, 400, 300), work), QRect(0, 30, 400, 300));
  EXPECT_EQ(gui::KeepInside(QRect(1500, 900, 400, 300), work), QRect(1200, 700, 400, 300));
  EXPECT_EQ(gui::KeepInside(QRect(10, 10, 2000, 1200), work), work);
}

TEST(ImageWindow, OverlayDrawsOnTopWithTheScrollOffset) {
  ImageWindow window(QStringLiteral("t"));
  window.SetImage(Ramp(50, 50));
  window.resize(20, 20);
  window.SetViewMode(ImageWindow::ViewMode::Fullsize);
  QPoint seen(-1, -1);
  window.SetOverlayPainter([&](QPainter& painter, QPoint offset) {
    seen = offset;
    painter.fillRect(QRect(QPoint(30, 30) - offset, QSize(1, 1)), Qt::white);
  });
  Mouse(window, QEvent::MouseButtonPress, {15, 15}, Qt::LeftButton);
  Mouse(window, QEvent::MouseMove, {0, 0}, Qt::NoButton);
  Mouse(window, QEvent::MouseButtonRelease, {0, 0}, Qt::LeftButton);
  const QImage shot = Grab(window);
  EXPECT_EQ(seen, QPoint(15, 15));
  EXPECT_EQ(shot.pixel(15, 15) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(shot.pixel(14, 14) & 0xFFFFFF, qRgb(29, 29, 7) & 0xFFFFFF);
}

TEST(DisplaySettingsDialog, EditsStretchAndCaption) {
  {
    DisplaySettingsDialog dialog(QStringLiteral("RGB Display settings"), false, std::string("lena"));
    EXPECT_EQ(dialog.windowTitle(), "RGB Display settings");
    const auto* group = dialog.findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), "Display settings");
    EXPECT_EQ(dialog.StretchBox()->text(), "Stretch image");
    EXPECT_FALSE(dialog.StretchBox()->isChecked());
    EXPECT_EQ(dialog.CaptionEdit()->text(), "lena");
    bool labelled = false;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) labelled |= label->text() == "Caption :";
    EXPECT_TRUE(labelled);

    dialog.StretchBox()->setChecked(true);
    dialog.CaptionEdit()->clear();
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.Stretch());
    EXPECT_FALSE(dialog.Caption().has_value()) << "an empty caption means none";
  }
  {
    DisplaySettingsDialog dialog(QStringLiteral("RGB Display settings"), true, std::string("keep"));
    dialog.CaptionEdit()->setText(QStringLiteral("changed"));
    dialog.StretchBox()->setChecked(false);
    dialog.reject();
    EXPECT_TRUE(dialog.Stretch());
    EXPECT_EQ(dialog.Caption(), "keep");
  }
}

}  // namespace
}  // namespace vorlan
