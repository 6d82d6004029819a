// "Text Display settings": the caption. The dialog edits a copy; the caller
// applies Caption() when exec() returns Accepted.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QLineEdit;

namespace vorlan {

class ReadoutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ReadoutDialog(const std::optional<std::string>& caption, QWidget* parent = nullptr);

  // The edited caption after OK: nullopt when the box was left empty.
  const std::optional<std::string>& Caption() const { return caption_; }
  QLineEdit* CaptionEdit() const { return edit_; }

 public slots:
  void accept() override;

 private:
  std::optional<std::string> caption_;
  QLineEdit* edit_ = nullptr;
};

}  // namespace vorlan
