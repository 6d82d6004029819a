// "Image Decoder settings": the largest picture the decoder accepts, and
// the formats Qt reads in this process.
#pragma once

#include <QDialog>

#include "picture_decoder_filter.h"

class QLabel;
class QSpinBox;

namespace vorlan {

class PicreadDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PicreadDialog(const PictureDecoderSettings& settings, QWidget* parent = nullptr);

  // The edited record; valid after accept() closed the dialog.
  const PictureDecoderSettings& Settings() const { return settings_; }

  QSpinBox* LimitBox() const { return limit_; }
  QLabel* FormatsLabel() const { return formats_; }

 public slots:
  void accept() override;

 private:
  PictureDecoderSettings settings_;
  QSpinBox* limit_ = nullptr;
  QLabel* formats_ = nullptr;
};

}  // namespace vorlan
