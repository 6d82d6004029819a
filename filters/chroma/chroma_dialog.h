// "RGB Conversion settings": thirteen colour spaces, each with an "RGB->"
// and a "->RGB" radio button, all 26 in one exclusive group.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>

#include "vorlan/contract.h"

class QButtonGroup;
class QRadioButton;

namespace vorlan::chroma {

class ChromaDialog : public QDialog {
  Q_OBJECT

 public:
  // Opens with the button of `code` checked (none for an unknown code).
  explicit ChromaDialog(int32_t code, QWidget* parent = nullptr);

  // The code after OK: the checked button's, or the opening code when none
  // is checked. Before OK it is the opening code.
  int32_t Code() const { return code_; }
  QRadioButton* Button(int32_t code) const;

  void accept() override;

 private:
  QButtonGroup* group_;
  int32_t code_;
};

// Runs the settings dialog for `filter`: edits a copy of its Native
// configuration and applies it in Native form when `exec` returns
// QDialog::Accepted. `exec` shows the dialog (tests drive it without exec).
// Returns Ok whether the user confirmed or cancelled, OutOfMemory when the
// configuration could not be obtained, or the result of ApplyConfig.
Result ConfigureConversion(Filter& filter, const std::function<int(ChromaDialog&)>& exec);

}  // namespace vorlan::chroma
