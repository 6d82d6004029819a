// "Huffman encoder settings": the word length in a group "Word length".
#pragma once

#include <QDialog>

#include "huffman_encoder_filter.h"

class QLineEdit;

namespace vorlan {

class HuffmanEncoderDialog : public QDialog {
  Q_OBJECT

 public:
  explicit HuffmanEncoderDialog(const HuffmanEncoderSettings& settings, QWidget* parent = nullptr);

  // The settings as accepted; unchanged until OK succeeds.
  const HuffmanEncoderSettings& settings() const { return settings_; }
  QLineEdit* wordLengthEdit() const { return wordLength_; }

  // Reads the field like a C decimal conversion (leading blanks, a sign,
  // digits up to the first other character; no digits gives 0). A word
  // length outside 1..255 is refused with a message and the dialog stays.
  void accept() override;

 private:
  HuffmanEncoderSettings settings_;
  QLineEdit* wordLength_;
};

}  // namespace vorlan
