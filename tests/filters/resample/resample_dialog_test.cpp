#include "resample_dialog.h"

#include <gtest/gtest.h>

#include <QRadioButton>
#include <QSpinBox>

namespace vorlan {
namespace {

TEST(ResampleDialog, ShowsAndStoresTheSettings) {
  ResampleDialog dialog(ResamplerSettings{4, 2});
  EXPECT_EQ(dialog.windowTitle(), "Plane Resampler settings");
  EXPECT_EQ(dialog.FactorBox()->value(), 4);
  for (int m = 0; m < 3; ++m) EXPECT_EQ(dialog.MethodButton(m)->isChecked(), m == 2);
  EXPECT_EQ(dialog.MethodButton(0)->text(), "Area average (down)");
  dialog.FactorBox()->setValue(2);
  dialog.MethodButton(1)->setChecked(true);
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Settings().factor, 2);
  EXPECT_EQ(dialog.Settings().method, 1);

  // A method the dialog does not know stays when no button is checked; the
  // factor box only offers what runs.
  ResampleDialog unknown(ResamplerSettings{20, 7});
  for (int m = 0; m < 3; ++m) EXPECT_FALSE(unknown.MethodButton(m)->isChecked());
  EXPECT_EQ(unknown.FactorBox()->maximum(), 8);
  unknown.accept();
  EXPECT_EQ(unknown.Settings().method, 7);
  EXPECT_EQ(unknown.Settings().factor, 8);
}

}  // namespace
}  // namespace vorlan
