// The settings dialog of "Gain": edits a copy of the settings record. It
// declares no signals or slots of its own, so it needs no Q_OBJECT (and no
// moc); add Q_OBJECT when yours does, and let CMake's AUTOMOC run moc.
#pragma once

#include <QDialog>

#include "gain_filter.h"

class QCheckBox;
class QDoubleSpinBox;

namespace gain {

class GainDialog : public QDialog {
 public:
  explicit GainDialog(const GainSettings& settings, QWidget* parent = nullptr);
  GainSettings Settings() const;  // the edited copy

 private:
  GainSettings settings_;
  QDoubleSpinBox* gain_ = nullptr;
  QCheckBox* clip_ = nullptr;
};

}  // namespace gain
