#include "chroma_dialog.h"

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

#include "colour_conversion_filter.h"
#include "support/filter_harness.h"

namespace vorlan::chroma {
namespace {

TEST(ChromaDialog, LaysOutThirteenRowsOfTwoExclusiveButtons) {
  ChromaDialog dialog(20);
  EXPECT_EQ(dialog.windowTitle(), "RGB Conversion settings");
  const auto* box = dialog.findChild<QGroupBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->title(), "Conversion");
  QStringList labels;
  for (const QLabel* label : box->findChildren<QLabel*>()) labels << label->text();
  EXPECT_EQ(labels.join('|'),
            "RGB->|->RGB|HSV (HSB)|HLS|HSI|YUV (PAL)|YUV (SECAM)|YIQ|YCbCr|YCC (Kodak)|CMY|CMYK|CIE XYZ|CIE Lab|CIE Luv");
  EXPECT_EQ(box->findChildren<QRadioButton*>().size(), kConversionCount);

  for (int32_t code = 0; code < kConversionCount; ++code) {
    EXPECT_EQ(dialog.Button(code)->isChecked(), code == 20) << code;
  }
  dialog.Button(23)->click();
  EXPECT_FALSE(dialog.Button(20)->isChecked()) << "one group for all 26 buttons";
  EXPECT_EQ(dialog.Button(8)->objectName(), "conversion1013");

  ChromaDialog unknown(99);
  for (int32_t code = 0; code < kConversionCount; ++code) EXPECT_FALSE(unknown.Button(code)->isChecked());
  unknown.accept();
  EXPECT_EQ(unknown.Code(), 99) << "OK without a checked button keeps the code";
}

TEST(ChromaDialog, OkAppliesTheCheckedCodeAndCancelChangesNothing) {
  ColourConversionFilter f;
  int32_t six = 6;
  ASSERT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, &six), ConfigForm::Native), Ok);

  int32_t opened = -1;
  auto pick = [&opened](int32_t code, bool ok) {
    return [&opened, code, ok](ChromaDialog& dialog) {
      opened = dialog.Code();
      dialog.Button(code)->click();
      if (ok) {
        dialog.accept();
      } else {
        dialog.reject();
      }
      return dialog.result();
    };
  };
  ASSERT_EQ(ConfigureConversion(f, pick(13, false)), Ok);
  EXPECT_EQ(opened, 6);
  EXPECT_EQ(f.Conversion(), 6);
  EXPECT_STREQ(f.pins[5]->name, "Y");

  ASSERT_EQ(ConfigureConversion(f, pick(13, true)), Ok);
  EXPECT_EQ(f.Conversion(), 13);
  ASSERT_EQ(f.pinCount, 9);
  EXPECT_EQ(f.pins[2]->kind, static_cast<int32_t>(PinKind::Output));
  EXPECT_STREQ(f.pins[8]->name, "K");

  // Pins are rebuilt even when OK confirms the unchanged code: the old,
  // connected ones are gone and the new ones are unconnected.
  vorlan::test::FakeOutput upstream;
  ASSERT_EQ(ConnectPins(f.pins[5], upstream.pin()), Ok);
  ASSERT_EQ(ConfigureConversion(f, pick(13, true)), Ok);
  EXPECT_EQ(opened, 13);
  ASSERT_EQ(f.pinCount, 9);
  EXPECT_EQ(f.pins[5]->connected, 0);
}

}  // namespace
}  // namespace vorlan::chroma
