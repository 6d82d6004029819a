// "Deserializer settings": the number of numbered pins.
#pragma once

#include <QDialog>

#include "deserializer_filter.h"

class QLineEdit;

namespace vorlan {

class DeserializerDialog : public QDialog {
  Q_OBJECT

 public:
  explicit DeserializerDialog(const DeserializerSettings& settings, QWidget* parent = nullptr);

  // The settings as accepted; unchanged until OK succeeds.
  const DeserializerSettings& settings() const { return settings_; }
  QLineEdit* pinCountEdit() const { return pinCount_; }

  // Reads the field like a C decimal conversion (leading blanks, a sign,
  // digits up to the first other character; no digits gives 0). A count
  // outside 0..kMaxDeserializerPins is refused with a message and the dialog stays.
  void accept() override;

 private:
  DeserializerSettings settings_;
  QLineEdit* pinCount_;
};

}  // namespace vorlan
