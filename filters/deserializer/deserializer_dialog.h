// "Deserializer settings": the number of numbered pins.
#pragma once

#include "deserializer_filter.h"
#include "pin_count_dialog.h"

namespace vorlan {

class DeserializerDialog : public PinCountDialog {
 public:
  explicit DeserializerDialog(const DeserializerSettings& settings, QWidget* parent = nullptr)
      : PinCountDialog(QStringLiteral("Deserializer settings"), QStringLiteral("Number of output pins"), settings.pinCount, kMaxDeserializerPins,
                       parent) {}

  // The settings as accepted; unchanged until OK succeeds.
  DeserializerSettings settings() const { return DeserializerSettings{Count()}; }
};

}  // namespace vorlan
