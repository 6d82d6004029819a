#include "squeeze_dialog.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

namespace vorlan {
namespace {

TEST(HuffmanEncoderDialog, ShowsCurrentWordLengthAndParsesLeniently) {
  HuffmanEncoderDialog dialog(HuffmanEncoderSettings{4});
  EXPECT_EQ(dialog.windowTitle(), "Huffman encoder settings");
  ASSERT_NE(dialog.findChild<QGroupBox*>(), nullptr);
  EXPECT_EQ(dialog.findChild<QGroupBox*>()->title(), "Word length");
  ASSERT_NE(dialog.findChild<QLabel*>(), nullptr);
  EXPECT_EQ(dialog.findChild<QLabel*>()->text(), "N-grams");
  EXPECT_EQ(dialog.wordLengthEdit()->text(), "4");

  dialog.wordLengthEdit()->setText("  +12 grams");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.settings().wordLength, 12);
}

TEST(HuffmanEncoderDialog, RefusesWordLengthsTheFilterCannotUse) {
  for (const char* text : {"abc", "0", "-3", "256", "99999999999"}) {
    HuffmanEncoderDialog dialog(HuffmanEncoderSettings{4});
    dialog.show();
    dialog.wordLengthEdit()->setText(text);
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted) << text;
    EXPECT_TRUE(dialog.isVisible()) << text;
    EXPECT_EQ(dialog.settings().wordLength, 4) << text;
    EXPECT_NE(dialog.findChild<QMessageBox*>(), nullptr) << text;
  }
  HuffmanEncoderDialog dialog(HuffmanEncoderSettings{4});
  dialog.wordLengthEdit()->setText("255");
  dialog.reject();
  EXPECT_EQ(dialog.settings().wordLength, 4) << "Cancel changes nothing";
}

}  // namespace
}  // namespace vorlan
