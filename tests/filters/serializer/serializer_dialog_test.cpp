#include "serializer_dialog.h"

#include <gtest/gtest.h>

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

namespace vorlan {
namespace {

TEST(SerializerDialog, ShowsAndParsesThePinCount) {
  SerializerDialog dialog(SerializerSettings{2});
  EXPECT_EQ(dialog.windowTitle(), "Serializer settings");
  ASSERT_NE(dialog.findChild<QLabel*>(), nullptr);
  EXPECT_EQ(dialog.findChild<QLabel*>()->text(), "Number of input pins");
  EXPECT_EQ(dialog.pinCountEdit()->text(), "2");
  dialog.pinCountEdit()->setText(" 5 pins");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.settings().pinCount, 5);

  SerializerDialog empty(SerializerSettings{2});
  empty.pinCountEdit()->setText("none");
  empty.accept();
  EXPECT_EQ(empty.result(), QDialog::Accepted) << "text without digits gives 0 pins";
  EXPECT_EQ(empty.settings().pinCount, 0);
}

TEST(SerializerDialog, RefusesNegativeAndOversizedCounts) {
  for (const char* text : {"-1", "4097", "-99999999999"}) {
    SerializerDialog dialog(SerializerSettings{2});
    dialog.show();
    dialog.pinCountEdit()->setText(text);
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible()) << text;
    EXPECT_NE(dialog.result(), QDialog::Accepted) << text;
    EXPECT_EQ(dialog.settings().pinCount, 2) << text;
    auto* box = dialog.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr) << text;
    EXPECT_EQ(box->text(), "Number of input pins must be a number from 0 to 4096.") << "in the dialog's words";
    box->close();
  }
}

}  // namespace
}  // namespace vorlan
