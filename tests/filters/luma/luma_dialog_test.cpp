#include "luma_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>

namespace vorlan {
namespace {

TEST(LumaDialog, OpensWithTheCurrentSettings) {
  LumaDialog dialog(GrayscaleSettings{3, 0.5, 0.25, -1.0 / 3});
  EXPECT_EQ(dialog.windowTitle(), "Grayscale Conversion settings");
  for (int code = 0; code < 5; ++code) EXPECT_EQ(dialog.MethodButton(code)->isChecked(), code == 3);
  EXPECT_EQ(dialog.MethodButton(4)->text(), "Trilinear ( I = r*R + g*G + b*B) (r+b+g = 1)");
  EXPECT_EQ(dialog.WeightEdit(0)->text(), "0.500000");
  EXPECT_EQ(dialog.WeightEdit(1)->text(), "0.250000");
  EXPECT_EQ(dialog.WeightEdit(2)->text(), "-0.333333");

  LumaDialog unknown(GrayscaleSettings{9, 1, 2, 3});
  for (int code = 0; code < 5; ++code) EXPECT_FALSE(unknown.MethodButton(code)->isChecked());
  unknown.accept();
  EXPECT_EQ(unknown.Settings().method, 9) << "no button checked keeps the method";
}

TEST(LumaDialog, OkStoresTheParsedValues) {
  LumaDialog dialog(GrayscaleSettings{});
  dialog.MethodButton(4)->setChecked(true);
  dialog.WeightEdit(0)->setText("  0.7");
  dialog.WeightEdit(1)->setText("0.2abc");
  dialog.WeightEdit(2)->setText("not a number");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Settings().method, 4);
  EXPECT_EQ(dialog.Settings().r, 0.7);
  EXPECT_EQ(dialog.Settings().g, 0.2);
  EXPECT_EQ(dialog.Settings().b, 0.0);

  // Confirming untouched defaults rounds the thirds to six decimals.
  LumaDialog defaults(GrayscaleSettings{});
  defaults.accept();
  EXPECT_EQ(defaults.Settings().method, 0);
  EXPECT_EQ(defaults.Settings().r, 0.333333);
  EXPECT_EQ(defaults.Settings().b, 0.333333);
}

TEST(LumaDialog, NonFiniteWeightKeepsTheDialogOpen) {
  GrayscaleSettings start{4, 0.1, 0.2, 0.7};
  LumaDialog dialog(start);
  dialog.show();
  dialog.WeightEdit(1)->setText("inf");
  dialog.WeightEdit(2)->setText("nan");
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Settings().g, 0.2);
  auto* box = dialog.findChild<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "The weight of G (\"inf\") is not a finite number.\n"
                         "The weight of B (\"nan\") is not a finite number.")
      << "every problem at once";
  box->close();
  dialog.WeightEdit(1)->setText("0.2");
  dialog.WeightEdit(2)->setText("0.7");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace vorlan
