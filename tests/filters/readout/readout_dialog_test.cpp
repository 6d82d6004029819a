#include "readout_dialog.h"

#include <gtest/gtest.h>

#include <QLineEdit>

namespace vorlan {
namespace {

TEST(ReadoutDialog, EditsTheCaption) {
  ReadoutDialog dialog(std::string("PSNR"));
  EXPECT_EQ(dialog.windowTitle(), "Text Display settings");
  EXPECT_EQ(dialog.CaptionEdit()->text(), "PSNR");
  dialog.CaptionEdit()->setText("Error");
  dialog.accept();
  EXPECT_EQ(dialog.Caption(), "Error");

  ReadoutDialog cleared(std::string("PSNR"));
  cleared.CaptionEdit()->setText("");
  cleared.accept();
  EXPECT_FALSE(cleared.Caption().has_value()) << "an empty caption is none";

  ReadoutDialog cancelled(std::nullopt);
  EXPECT_EQ(cancelled.CaptionEdit()->text(), "");
  cancelled.CaptionEdit()->setText("x");
  cancelled.reject();
  EXPECT_FALSE(cancelled.Caption().has_value());

  ReadoutDialog longText(std::nullopt);
  longText.CaptionEdit()->setText(QString(300, 'a'));
  longText.accept();
  EXPECT_EQ(longText.Caption()->size(), 255u);
}

}  // namespace
}  // namespace vorlan
