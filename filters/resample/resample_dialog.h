// "Plane Resampler settings": the factor and the method. The dialog edits
// a copy of the settings; the caller applies Settings() when exec() returns
// Accepted.
#pragma once

#include <QDialog>

#include "resampler_filter.h"

class QButtonGroup;
class QRadioButton;
class QSpinBox;

namespace vorlan {

class ResampleDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ResampleDialog(const ResamplerSettings& settings, QWidget* parent = nullptr);

  const ResamplerSettings& Settings() const { return settings_; }
  QSpinBox* FactorBox() const { return factor_; }
  QRadioButton* MethodButton(int method) const;

 public slots:
  // Stores the factor and the checked method (unchanged when none is).
  void accept() override;

 private:
  ResamplerSettings settings_;
  QSpinBox* factor_ = nullptr;
  QButtonGroup* methods_ = nullptr;
};

}  // namespace vorlan
