#include "gauge_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>

namespace vorlan {
namespace {

TEST(GaugeDialog, ReflectsAndStoresPrescaling) {
  GaugeDialog off(0);
  EXPECT_EQ(off.windowTitle(), "PSNR enumerator settings");
  EXPECT_EQ(off.PrescalingBox()->text(), "Scale planes to the same range (Prescaling)");
  EXPECT_FALSE(off.PrescalingBox()->isChecked());
  off.PrescalingBox()->setChecked(true);
  off.accept();
  EXPECT_EQ(off.Prescaling(), 1);

  GaugeDialog on(5);
  EXPECT_TRUE(on.PrescalingBox()->isChecked());
  on.PrescalingBox()->setChecked(false);
  on.reject();
  EXPECT_EQ(on.Prescaling(), 5) << "Cancel stores nothing";

  GaugeDialog again(5);
  again.accept();
  EXPECT_EQ(again.Prescaling(), 1) << "OK stores 1 for a checked box";
}

}  // namespace
}  // namespace vorlan
