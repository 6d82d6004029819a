// The window of the text display: the value in a read-only edit box, its
// type after "Type :", and "Close", which only hides the window. It lives
// as long as its filter and belongs to the user-interface thread.
#pragma once

#include <QWidget>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vorlan {

class ReadoutWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ReadoutWindow(QWidget* parent = nullptr);

  // Shows `text` (empty when none), `typeLabel` and the title for
  // `caption`; long reals and captions are shortened to fit 255 characters.
  void ShowValue(const std::optional<std::string>& text, const std::string& typeLabel,
                 const std::optional<std::string>& caption);

  QLineEdit* TextEdit() const { return text_; }
  QLabel* TypeField() const { return type_; }
  QPushButton* CloseButton() const { return close_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLineEdit* text_ = nullptr;
  QLabel* type_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace vorlan
