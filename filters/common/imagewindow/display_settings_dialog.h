// The settings dialog of the image displays ("RGB Display settings",
// "Mono Display settings"): the group "Display settings" with "Stretch
// image" and "Caption :". It edits a copy; the caller applies Stretch() and
// Caption() when exec() returns Accepted.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QCheckBox;
class QLineEdit;

namespace vorlan {

class DisplaySettingsDialog : public QDialog {
  Q_OBJECT

 public:
  DisplaySettingsDialog(const QString& title, bool stretch, const std::optional<std::string>& caption,
                        QWidget* parent = nullptr);

  bool Stretch() const { return stretch_; }
  // nullopt when the box was left empty.
  const std::optional<std::string>& Caption() const { return caption_; }

  QCheckBox* StretchBox() const { return stretchBox_; }
  QLineEdit* CaptionEdit() const { return captionEdit_; }

 public slots:
  void accept() override;

 private:
  bool stretch_;
  std::optional<std::string> caption_;
  QCheckBox* stretchBox_ = nullptr;
  QLineEdit* captionEdit_ = nullptr;
};

}  // namespace vorlan
