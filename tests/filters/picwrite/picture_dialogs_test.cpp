// The settings dialogs of the Image decoder and encoder on the offscreen
// platform.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QStandardItemModel>

#include "picread_dialog.h"
#include "picture_formats.h"
#include "picwrite_dialog.h"

namespace vorlan {
namespace {

bool ItemEnabled(QComboBox* box, int index) {
  auto* model = qobject_cast<QStandardItemModel*>(box->model());
  return model != nullptr && model->item(index)->isEnabled();
}

TEST(PictureDialogs, DecoderEditsTheLimitAndListsFormats) {
  PicreadDialog dialog(PictureDecoderSettings{64});
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Image Decoder settings"));
  EXPECT_EQ(dialog.LimitBox()->value(), 64);
  EXPECT_TRUE(dialog.FormatsLabel()->text().contains(QStringLiteral("png"))) << dialog.FormatsLabel()->text().toStdString();
  EXPECT_TRUE(dialog.FormatsLabel()->text().contains(QStringLiteral("jpeg")));
  dialog.LimitBox()->setValue(12);
  dialog.accept();
  EXPECT_EQ(dialog.Settings().maxMegapixels, 12);

  // A stored limit outside the range shows, and is stored, clamped.
  PicreadDialog odd(PictureDecoderSettings{-3});
  odd.accept();
  EXPECT_EQ(odd.Settings().maxMegapixels, 1);
}

TEST(PictureDialogs, EncoderFollowsTheChosenFormat) {
  PicwriteDialog dialog(PictureEncoderSettings{0, 75, 16});
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Image Encoder settings"));
  EXPECT_EQ(dialog.FormatBox()->count(), static_cast<int>(PictureFormats().size()));
  EXPECT_EQ(dialog.FormatBox()->currentText(), QStringLiteral("PNG"));
  EXPECT_FALSE(dialog.QualityBox()->isEnabled()) << "PNG is lossless";
  EXPECT_EQ(dialog.BitsBox()->currentData().toInt(), 16);
  EXPECT_TRUE(dialog.FormatsLabel()->text().contains(QStringLiteral("png")));

  // JPEG: quality on, 16 bits off and unselected.
  dialog.FormatBox()->setCurrentIndex(dialog.FormatBox()->findData(1));
  EXPECT_TRUE(dialog.QualityBox()->isEnabled());
  EXPECT_EQ(dialog.BitsBox()->currentData().toInt(), 8);
  EXPECT_FALSE(ItemEnabled(dialog.BitsBox(), 1));
  dialog.QualityBox()->setValue(40);
  dialog.accept();
  EXPECT_EQ(dialog.Settings().format, 1);
  EXPECT_EQ(dialog.Settings().quality, 40);
  EXPECT_EQ(dialog.Settings().bits, 8);

  // Formats without a writer here cannot be picked.
  for (const PictureFormat& f : PictureFormats()) {
    EXPECT_EQ(ItemEnabled(dialog.FormatBox(), dialog.FormatBox()->findData(f.code)), CanWrite(f)) << f.label;
  }
}

}  // namespace
}  // namespace vorlan
