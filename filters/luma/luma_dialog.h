// "Grayscale Conversion settings": the method radio buttons and the three
// Trilinear weights. The dialog edits a copy of the settings; the caller
// applies Settings() when exec() returns Accepted.
#pragma once

#include <QDialog>
#include <string>

#include "grayscale_filter.h"

class QButtonGroup;
class QLineEdit;
class QRadioButton;

namespace vorlan {

// A weight as the edit boxes show it: "%f", six decimals, C locale.
std::string FormatWeight(double value);
// The standard text-to-double conversion in the C locale: leading blanks
// skipped, the longest number prefix taken, text that is not a number 0.
double ParseWeight(const std::string& text);

class LumaDialog : public QDialog {
  Q_OBJECT

 public:
  explicit LumaDialog(const GrayscaleSettings& settings, QWidget* parent = nullptr);

  // The edited record; valid after accept() closed the dialog.
  const GrayscaleSettings& Settings() const { return settings_; }

  QRadioButton* MethodButton(int code) const;
  QLineEdit* WeightEdit(int index) const { return weights_[index]; }

 public slots:
  // Stores the checked method (unchanged when none is checked) and the three
  // weights. A weight that reads as infinite or NaN would fail every run: a
  // message says so and the dialog stays open.
  void accept() override;

 private:
  GrayscaleSettings settings_;
  QButtonGroup* methods_ = nullptr;
  QLineEdit* weights_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace vorlan
