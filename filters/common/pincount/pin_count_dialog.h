// A settings dialog holding one number: how many numbered pins a filter
// has (the serializer's inputs, the deserializer's outputs).
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QLineEdit;

namespace vorlan {

class PinCountDialog : public QDialog {
  Q_OBJECT

 public:
  PinCountDialog(const QString& title, const QString& label, int32_t count, int32_t maxCount,
                 QWidget* parent = nullptr);

  // The count as accepted; unchanged until OK succeeds.
  int32_t Count() const { return count_; }
  QLineEdit* pinCountEdit() const { return edit_; }

  // Reads the field like a C decimal conversion (leading blanks, a sign,
  // digits up to the first other character; no digits gives 0). A count
  // outside 0..maxCount is refused with a message and the dialog stays.
  void accept() override;

 private:
  QString label_;
  int32_t count_;
  int32_t maxCount_;
  QLineEdit* edit_;
};

}  // namespace vorlan
