// "HV decoder settings": the stop rule with its three values, the
// resolution factors, the three check boxes and the largest picture. The dialog edits a copy;
// the caller applies Settings() when exec() returns Accepted.
#pragma once

#include <QDialog>
#include <string>

#include "decoder_settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace vorlan::attractor {

// Edits show floats with "%f" and integers with "%i", in the C locale.
std::string FormatFloat(float value);
// The standard text-to-number conversions in the C locale, read from at
// most 1023 characters: leading blanks skipped, the longest number prefix
// taken, text without one gives 0. Integers saturate at the int32 range.
float ParseFloat(const std::string& text);
int32_t ParseInt(const std::string& text);

class AttractorDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AttractorDialog(const FractalDecoderSettings& settings, QWidget* parent = nullptr);

  // The edited record; valid after accept() closed the dialog.
  const FractalDecoderSettings& Settings() const { return settings_; }

  QRadioButton* ModeButton(int mode) const;
  QLineEdit* MaxIterationsEdit() const { return maxIterations_; }
  QLineEdit* MaxRmsErrorEdit() const { return maxRmsError_; }
  QLineEdit* QualityEdit() const { return quality_; }
  QLineEdit* ResolutionXEdit() const { return resolutionX_; }
  QLineEdit* ResolutionYEdit() const { return resolutionY_; }
  QCheckBox* PostProcessingBox() const { return postProcessing_; }
  // Which post-processing a checked "Post processing" runs: border
  // smoothing (value 1) or edge-adaptive deblocking (value 2).
  QComboBox* PostProcessingKindBox() const { return postProcessingKind_; }
  QCheckBox* FeedbackBox() const { return feedback_; }
  QCheckBox* DrawRangesBox() const { return drawRanges_; }
  QSpinBox* LargestPictureBox() const { return largestPicture_; }

 public slots:
  // Stores the checked mode (unchanged when none is checked), the parsed
  // edits and the check boxes. Values every run would refuse (resolution
  // factors below 1, a tolerance that is not a finite number) are named in
  // a message and the dialog stays open.
  void accept() override;

 private:
  void Complain(QLineEdit* edit, const QString& text);

  FractalDecoderSettings settings_;
  QButtonGroup* modes_ = nullptr;
  QLineEdit* maxIterations_ = nullptr;
  QLineEdit* maxRmsError_ = nullptr;
  QLineEdit* quality_ = nullptr;
  QLineEdit* resolutionX_ = nullptr;
  QLineEdit* resolutionY_ = nullptr;
  QCheckBox* postProcessing_ = nullptr;
  QComboBox* postProcessingKind_ = nullptr;
  QCheckBox* feedback_ = nullptr;
  QCheckBox* drawRanges_ = nullptr;
  QSpinBox* largestPicture_ = nullptr;
};

}  // namespace vorlan::attractor
