#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "gui/collage_dialog.h"

namespace vorlan::collage {
namespace {

QLineEdit* Edit(CollageDialog& d, const char* field) { return d.findChild<QLineEdit*>(QString::fromLatin1(field)); }
QAbstractButton* Button(CollageDialog& d, const char* name) {
  return d.findChild<QAbstractButton*>(QString::fromLatin1(name));
}

TEST(CollageDialog, ShowsTheSettingsInTheirGroups) {
  FractalEncoderSettings s;
  CollageDialog d(s);
  EXPECT_EQ(d.windowTitle(), "HV encoder settings");
  QStringList groups;
  for (auto* g : d.findChildren<QGroupBox*>()) groups << g->title();
  for (const char* title : {"Compression mode", "Error mode", "Size mode settings", "Ranges", "Quantization",
                            "Search mode", "Covering mode", "Threads"}) {
    EXPECT_TRUE(groups.contains(title)) << title;
  }
  EXPECT_EQ(Edit(d, "maxError")->text(), "30.000000");
  EXPECT_EQ(Edit(d, "quality")->text(), "0.950000");
  EXPECT_EQ(Edit(d, "maxScale")->text(), "1.000000");
  EXPECT_EQ(Edit(d, "maxRanges")->text(), "100");
  EXPECT_EQ(Edit(d, "offsetLevels")->text(), "256");
  EXPECT_EQ(Edit(d, "stepY")->text(), "32");
  EXPECT_EQ(Edit(d, "threadCount")->text(), "1");
  EXPECT_TRUE(Button(d, "mode0")->isChecked());
  EXPECT_EQ(Button(d, "mode1")->text(), "Size");
  EXPECT_EQ(Button(d, "mode2")->text(), "Least error");
  EXPECT_TRUE(Button(d, "coverMode1")->isChecked());
  EXPECT_EQ(Button(d, "coverMode1")->text(), "Cover in tolerance");
  EXPECT_TRUE(Button(d, "errorMode0")->isChecked());
  EXPECT_EQ(Button(d, "errorMode0")->text(), "Absolute :");
  EXPECT_TRUE(Button(d, "searchMode0")->isChecked());
  EXPECT_EQ(Button(d, "threadPriority1")->text(), "Idle");
  EXPECT_EQ(Button(d, "maxDiffCheck")->text(), "Maximal diference checking");
  EXPECT_FALSE(Button(d, "maxDiffCheck")->isChecked());
  EXPECT_TRUE(Button(d, "feedback")->isChecked());

  // A stored value outside a radio group's values checks nothing, and OK
  // with nothing chosen leaves it, which a run would refuse.
  FractalEncoderSettings odd;
  odd.mode = 7;
  CollageDialog unknown(odd);
  EXPECT_FALSE(Button(unknown, "mode0")->isChecked());
  EXPECT_FALSE(Button(unknown, "mode1")->isChecked());
  EXPECT_FALSE(Button(unknown, "mode2")->isChecked());
  unknown.accept();
  EXPECT_NE(unknown.result(), QDialog::Accepted);
  EXPECT_TRUE(unknown.Refusal().contains("mode"));
  Button(unknown, "mode2")->setChecked(true);
  unknown.accept();
  EXPECT_EQ(unknown.result(), QDialog::Accepted);
  EXPECT_EQ(unknown.Settings().mode, 2);
}

TEST(CollageDialog, OkParsesEveryControl) {
  FractalEncoderSettings s;
  CollageDialog d(s);
  Button(d, "mode1")->setChecked(true);
  Button(d, "errorMode1")->setChecked(true);
  Button(d, "coverMode0")->setChecked(true);
  Button(d, "threadPriority1")->setChecked(true);
  Button(d, "maxDiffCheck")->setChecked(true);
  Button(d, "feedback")->setChecked(false);
  Edit(d, "maxError")->setText("12.5");
  Edit(d, "quality")->setText("  0.97xyz");  // leading blanks, trailing junk ignored
  Edit(d, "maxScale")->setText("1e0");
  Edit(d, "maxRanges")->setText("2000");
  Edit(d, "minRangeSize")->setText("2");
  Edit(d, "maxRangeSize")->setText("");  // empty text is 0: no limit
  Edit(d, "minRangeFactor")->setText("3");
  Edit(d, "maxRangeFactor")->setText("4.9");  // integers stop at the point
  Edit(d, "offsetLevels")->setText("128");
  Edit(d, "scaleLevels")->setText("64");
  Edit(d, "stepX")->setText("16");
  Edit(d, "stepY")->setText("+8");
  Edit(d, "threadCount")->setText("2");
  d.accept();
  ASSERT_EQ(d.result(), QDialog::Accepted) << d.Refusal().toStdString();
  const FractalEncoderSettings& e = d.Settings();
  EXPECT_EQ(e.mode, 1);
  EXPECT_EQ(e.errorMode, 1);
  EXPECT_EQ(e.coverMode, 0);
  EXPECT_EQ(e.threadPriority, 1);
  EXPECT_EQ(e.maxDiffCheck, 1);
  EXPECT_EQ(e.feedback, 0);
  EXPECT_EQ(e.maxError, 12.5f);
  EXPECT_EQ(e.quality, 0.97f);
  EXPECT_EQ(e.maxScale, 1.0f);
  EXPECT_EQ(e.maxRanges, 2000);
  EXPECT_EQ(e.minRangeSize, 2);
  EXPECT_EQ(e.maxRangeSize, 0);
  EXPECT_EQ(e.minRangeFactor, 3);
  EXPECT_EQ(e.maxRangeFactor, 4);
  EXPECT_EQ(e.offsetLevels, 128);
  EXPECT_EQ(e.scaleLevels, 64);
  EXPECT_EQ(e.stepX, 16);
  EXPECT_EQ(e.stepY, 8);
  EXPECT_EQ(e.threadCount, 2);
  EXPECT_EQ(e.searchMode, 0);
}

TEST(CollageDialog, RefusalListsEveryProblemAtOnce) {
  CollageDialog d{FractalEncoderSettings{}};
  Edit(d, "minRangeFactor")->setText("0");
  Edit(d, "maxRangeFactor")->setText("0");
  Edit(d, "stepY")->setText("-3");
  Edit(d, "offsetLevels")->setText("1");
  d.accept();
  ASSERT_NE(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.Refusal(), QStringLiteral("These settings cannot run:\n"
                                        "Min range factor must be at least 2: with factor 1 a domain is no larger "
                                        "than its range, so the code cannot contract.\n"
                                        "Y step must be at least 1.\n"
                                        "Offset levels must be at least 2."));
}

TEST(CollageDialog, TextARunWouldRefuseKeepsTheDialogOpen) {
  FractalEncoderSettings s;
  struct Case {
    const char* field;
    const char* text;
    const char* message;  // in the dialog's own words
  } cases[] = {{"threadCount", "abc", "Number of threads must lie in 1 ... 64."},
               {"threadCount", "65", "Number of threads must lie in 1 ... 64."},
               {"stepX", "0", "X step must be at least 1."},
               {"scaleLevels", "1", "Scale levels must be at least 2."},
               {"maxScale", "-1", "Max scale factor must be a finite value above 0."},
               {"maxScale", "nan", "Max scale factor must be a finite value above 0."},
               {"minRangeSize", "0", "Min range size must be at least 1."},
               {"maxRangeFactor", "1", "Max range factor must not be below Min range factor."},
               {"minRangeFactor", "1", "Min range factor must be at least 2: with factor 1 a domain is no larger "
                                       "than its range, so the code cannot contract."}};
  for (const Case& c : cases) {
    CollageDialog d(s);
    Edit(d, c.field)->setText(c.text);
    d.accept();
    EXPECT_NE(d.result(), QDialog::Accepted) << c.field << " = " << c.text;
    EXPECT_TRUE(d.Refusal().contains(c.message)) << d.Refusal().toStdString();
    EXPECT_EQ(d.Settings().threadCount, 1) << "the edited copy is unchanged";
  }
  EXPECT_EQ(ParseInt("99999999999"), 2147483647);
  EXPECT_EQ(ParseFloat(std::string(2000, '1')), ParseFloat(std::string(1023, '1')))
      << "only 1023 characters are read";
  EXPECT_EQ(FormatFloat(0.95f), "0.950000");
}

TEST(CollageDialog, SearchModeRadiosWriteTheirMode) {
  FractalEncoderSettings s;
  s.mode = 2;
  s.searchMode = 1;
  {
    CollageDialog d(s);
    EXPECT_TRUE(Button(d, "searchMode1")->isChecked());
    EXPECT_EQ(Button(d, "searchMode1")->text(), "Rich pool search");
    Button(d, "searchMode0")->setChecked(true);
    d.accept();
    ASSERT_EQ(d.result(), QDialog::Accepted) << d.Refusal().toStdString();
    EXPECT_EQ(d.Settings().searchMode, 0);
  }
  {
    s.searchMode = 0;
    CollageDialog d(s);
    Button(d, "searchMode1")->setChecked(true);
    d.accept();
    ASSERT_EQ(d.result(), QDialog::Accepted) << d.Refusal().toStdString();
    EXPECT_EQ(d.Settings().searchMode, 1);
  }
  {
    // Fidelity taking the first fit in tolerance cannot use it.
    s.mode = 0;
    s.coverMode = 1;
    CollageDialog d(s);
    Button(d, "searchMode1")->setChecked(true);
    d.accept();
    EXPECT_NE(d.result(), QDialog::Accepted);
    EXPECT_TRUE(d.Refusal().contains("Rich pool search")) << d.Refusal().toStdString();
  }
  // Nor can Fidelity at all either attractor search, which needs a range
  // count; Rate-distortion can.
  s.coverMode = 0;
  struct Search {
    const char* button;
    const char* label;
    int32_t value;
  };
  for (const Search& search : {Search{"searchMode2", "Attractor search", 2},
                               Search{"searchMode3", "Quick attractor search", 3}}) {
    s.mode = 0;
    CollageDialog d(s);
    EXPECT_EQ(Button(d, search.button)->text(), search.label);
    Button(d, search.button)->setChecked(true);
    d.accept();
    EXPECT_NE(d.result(), QDialog::Accepted);
    EXPECT_TRUE(d.Refusal().contains(search.label)) << d.Refusal().toStdString();
    s.mode = 3;
    CollageDialog rd(s);
    Button(rd, search.button)->setChecked(true);
    rd.accept();
    EXPECT_EQ(rd.result(), QDialog::Accepted) << rd.Refusal().toStdString();
    EXPECT_EQ(rd.Settings().searchMode, search.value);
  }
}

}  // namespace
}  // namespace vorlan::collage
