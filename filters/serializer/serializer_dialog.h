// "Serializer settings": the number of numbered pins.
#pragma once

#include <QDialog>

#include "serializer_filter.h"

class QLineEdit;

namespace vorlan {

class SerializerDialog : public QDialog {
  Q_OBJECT

 public:
  explicit SerializerDialog(const SerializerSettings& settings, QWidget* parent = nullptr);

  // The settings as accepted; unchanged until OK succeeds.
  const SerializerSettings& settings() const { return settings_; }
  QLineEdit* pinCountEdit() const { return pinCount_; }

  // Reads the field like a C decimal conversion (leading blanks, a sign,
  // digits up to the first other character; no digits gives 0). A count
  // outside 0..kMaxSerializerPins is refused with a message and the dialog stays.
  void accept() override;

 private:
  SerializerSettings settings_;
  QLineEdit* pinCount_;
};

}  // namespace vorlan
