// "HV encoder settings": the encoder settings in their groups. The
// dialog edits a copy; the caller applies Settings() when exec() returns
// Accepted. Every control carries the name of its field as objectName
// (radio buttons: field and value, e.g. "mode1").
#pragma once

#include <QDialog>
#include <map>
#include <string>

#include "encoder_settings.h"

class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QLineEdit;

namespace vorlan::collage {

// Edits show floats with "%f" and integers with "%i", in the C locale.
std::string FormatFloat(float value);
std::string FormatInt(int32_t value);
// The standard text-to-number conversions in the C locale, read from at
// most 1023 characters: leading blanks skipped, the longest number prefix
// taken, text without one gives 0. Integers saturate at the int32 range.
float ParseFloat(const std::string& text);
int32_t ParseInt(const std::string& text);

class CollageDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CollageDialog(const FractalEncoderSettings& settings, QWidget* parent = nullptr);

  // The edited record; valid after accept() closed the dialog.
  const FractalEncoderSettings& Settings() const { return settings_; }
  // The text of the last refusal shown by accept(), "" when none.
  const QString& Refusal() const { return refusal_; }

 public slots:
  // Stores checked radios (a group with none checked leaves its field),
  // check boxes as 1/0 and every edit parsed. Settings a run would refuse
  // are named in a message and the dialog stays open.
  void accept() override;

 private:
  QString LabelOf(const char* field) const;
  QLineEdit* AddEdit(QGridLayout* layout, int row, const char* label, const char* field, int32_t value);

  FractalEncoderSettings settings_;
  QString refusal_;
  // The label the user sees for each field, for messages about it.
  std::map<std::string, QString> labels_;
  QButtonGroup* mode_ = nullptr;
  QButtonGroup* errorMode_ = nullptr;
  QButtonGroup* coverMode_ = nullptr;
  QButtonGroup* priority_ = nullptr;
  QButtonGroup* searchMode_ = nullptr;
  QCheckBox* maxDiffCheck_ = nullptr;
  QCheckBox* feedback_ = nullptr;
  QLineEdit* maxError_ = nullptr;
  QLineEdit* quality_ = nullptr;
  QLineEdit* maxRanges_ = nullptr;
  QLineEdit* lambda_ = nullptr;
  QLineEdit* maxRate_ = nullptr;
  QLineEdit* minRangeSize_ = nullptr;
  QLineEdit* maxRangeSize_ = nullptr;
  QLineEdit* minRangeFactor_ = nullptr;
  QLineEdit* maxRangeFactor_ = nullptr;
  QLineEdit* maxScale_ = nullptr;
  QLineEdit* offsetLevels_ = nullptr;
  QLineEdit* scaleLevels_ = nullptr;
  QLineEdit* stepX_ = nullptr;
  QLineEdit* stepY_ = nullptr;
  QLineEdit* threadCount_ = nullptr;
};

}  // namespace vorlan::collage
