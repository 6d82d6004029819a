#include "attractor_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QSpinBox>

namespace vorlan::attractor {
namespace {

TEST(AttractorDialog, OpensWithTheCurrentSettingsFormatted) {
  FractalDecoderSettings s;
  s.mode = 1;
  s.resolutionY = 3;
  s.maxRmsError = 2.5f;
  s.drawRanges = 0;
  AttractorDialog dialog(s);
  EXPECT_EQ(dialog.windowTitle(), "HV decoder settings");
  EXPECT_FALSE(dialog.ModeButton(0)->isChecked());
  EXPECT_TRUE(dialog.ModeButton(1)->isChecked());
  EXPECT_EQ(dialog.ModeButton(2)->text(), "Quality");
  EXPECT_EQ(dialog.MaxIterationsEdit()->text(), "20");
  EXPECT_EQ(dialog.MaxRmsErrorEdit()->text(), "2.500000");
  EXPECT_EQ(dialog.QualityEdit()->text(), "0.950000");
  EXPECT_EQ(dialog.ResolutionYEdit()->text(), "3");
  EXPECT_TRUE(dialog.PostProcessingBox()->isChecked());
  EXPECT_FALSE(dialog.DrawRangesBox()->isChecked());
  EXPECT_EQ(dialog.LargestPictureBox()->value(), 64);
  EXPECT_EQ(dialog.LargestPictureBox()->maximum(), kLargestDecodedMegapixels);

  s.mode = 7;
  AttractorDialog unknown(s);
  for (int mode = 0; mode < 3; ++mode) EXPECT_FALSE(unknown.ModeButton(mode)->isChecked());
  unknown.accept();
  EXPECT_EQ(unknown.Settings().mode, 7) << "no button checked keeps the mode";
}

TEST(AttractorDialog, OkParsesTheEditsLikeTheStandardConversions) {
  AttractorDialog dialog(FractalDecoderSettings{});
  dialog.ModeButton(2)->setChecked(true);
  dialog.MaxIterationsEdit()->setText("  12abc");
  dialog.MaxRmsErrorEdit()->setText("");
  dialog.QualityEdit()->setText("0.875 dB");
  dialog.ResolutionXEdit()->setText("+2");
  dialog.ResolutionYEdit()->setText("4.9");
  dialog.PostProcessingBox()->setChecked(false);
  dialog.FeedbackBox()->setChecked(false);
  dialog.LargestPictureBox()->setValue(200);
  dialog.accept();
  ASSERT_EQ(dialog.result(), QDialog::Accepted);
  const FractalDecoderSettings& s = dialog.Settings();
  EXPECT_EQ(s.mode, 2);
  EXPECT_EQ(s.maxIterations, 12);
  EXPECT_EQ(s.maxRmsError, 0.0f) << "empty text reads as 0";
  EXPECT_EQ(s.quality, 0.875f);
  EXPECT_EQ(s.resolutionX, 2);
  EXPECT_EQ(s.resolutionY, 4);
  EXPECT_EQ(s.postProcessing, 0);
  EXPECT_EQ(s.feedback, 0);
  EXPECT_FALSE(dialog.PostProcessingKindBox()->isEnabled()) << "no kind without post-processing";
  EXPECT_EQ(s.drawRanges, 1);
  EXPECT_EQ(s.maxMegapixels, 200);
  EXPECT_EQ(ParseInt("99999999999"), 2147483647);
}

TEST(AttractorDialog, PostProcessingKindChoosesSmoothingOrDeblocking) {
  FractalDecoderSettings s;
  s.postProcessing = 2;
  AttractorDialog deblocking(s);
  EXPECT_TRUE(deblocking.PostProcessingBox()->isChecked());
  EXPECT_EQ(deblocking.PostProcessingKindBox()->currentIndex(), 1);
  deblocking.PostProcessingKindBox()->setCurrentIndex(0);
  deblocking.accept();
  EXPECT_EQ(deblocking.Settings().postProcessing, 1);

  s.postProcessing = 0;
  AttractorDialog off(s);
  EXPECT_FALSE(off.PostProcessingKindBox()->isEnabled());
  off.PostProcessingBox()->setChecked(true);
  EXPECT_TRUE(off.PostProcessingKindBox()->isEnabled());
  off.PostProcessingKindBox()->setCurrentIndex(1);
  off.accept();
  EXPECT_EQ(off.Settings().postProcessing, 2);
}

TEST(AttractorDialog, ValuesEveryRunWouldRefuseKeepTheDialogOpen) {
  for (const char* bad : {"0", "-3", "x"}) {
    FractalDecoderSettings start;
    start.resolutionX = 2;
    AttractorDialog dialog(start);
    dialog.show();
    dialog.ResolutionXEdit()->setText(bad);
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible()) << bad;
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Settings().resolutionX, 2);
    auto* box = dialog.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains("resolution factor X")) << box->text().toStdString();
  }
  AttractorDialog nan(FractalDecoderSettings{});
  nan.show();
  nan.QualityEdit()->setText("nan");
  nan.accept();
  EXPECT_TRUE(nan.isVisible());
  EXPECT_EQ(nan.Settings().quality, 0.95f);

  // Several problems are listed together, not one per OK.
  AttractorDialog several(FractalDecoderSettings{});
  several.show();
  several.ResolutionXEdit()->setText("0");
  several.ResolutionYEdit()->setText("-1");
  several.QualityEdit()->setText("inf");
  several.accept();
  auto* box = several.findChild<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text().count('\n'), 2) << box->text().toStdString();
  EXPECT_TRUE(box->text().contains("resolution factor X"));
  EXPECT_TRUE(box->text().contains("resolution factor Y"));
  EXPECT_TRUE(box->text().contains("quality"));
}

}  // namespace
}  // namespace vorlan::attractor
