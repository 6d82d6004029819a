// "Serializer settings": the number of numbered pins.
#pragma once

#include "serializer_filter.h"
#include "pin_count_dialog.h"

namespace vorlan {

class SerializerDialog : public PinCountDialog {
 public:
  explicit SerializerDialog(const SerializerSettings& settings, QWidget* parent = nullptr)
      : PinCountDialog(QStringLiteral("Serializer settings"), QStringLiteral("Number of input pins"), settings.pinCount, kMaxSerializerPins,
                       parent) {}

  // The settings as accepted; unchanged until OK succeeds.
  SerializerSettings settings() const { return SerializerSettings{Count()}; }
};

}  // namespace vorlan
