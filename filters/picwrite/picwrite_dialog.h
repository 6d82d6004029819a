// "Image Encoder settings": the file format, the quality of the lossy
// formats, 8 or 16 bits per channel, and the formats Qt writes in this
// process. Formats without a writer here are listed but cannot be chosen.
#pragma once

#include <QDialog>

#include "picture_encoder_filter.h"

class QComboBox;
class QLabel;
class QSpinBox;

namespace vorlan {

class PicwriteDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PicwriteDialog(const PictureEncoderSettings& settings, QWidget* parent = nullptr);

  // The edited record; valid after accept() closed the dialog.
  const PictureEncoderSettings& Settings() const { return settings_; }

  QComboBox* FormatBox() const { return format_; }
  QSpinBox* QualityBox() const { return quality_; }
  QComboBox* BitsBox() const { return bits_; }
  QLabel* FormatsLabel() const { return formats_; }

 public slots:
  void accept() override;

 private:
  // Enables the quality for lossy formats and 16 bits where the format has them.
  void FollowFormat();

  PictureEncoderSettings settings_;
  QComboBox* format_ = nullptr;
  QSpinBox* quality_ = nullptr;
  QComboBox* bits_ = nullptr;
  QLabel* formats_ = nullptr;
};

}  // namespace vorlan
