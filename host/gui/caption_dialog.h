// The modal "Set Caption" dialog: one line holding a node's caption.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

namespace vorlan::gui {

class CaptionDialog : public QDialog {
  Q_OBJECT

 public:
  // Captions are stored in graph files with at most this many characters.
  static constexpr int kMaxLength = 255;

  explicit CaptionDialog(const QString& caption, QWidget* parent = nullptr);

  // The edited caption, cut to kMaxLength characters.
  QString Caption() const;
  QLineEdit* Edit() const { return edit_; }

 private:
  QLineEdit* edit_;
};

}  // namespace vorlan::gui
