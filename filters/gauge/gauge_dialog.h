// "PSNR enumerator settings": the prescaling check box. The dialog edits a
// copy; the caller applies Prescaling() when exec() returns Accepted.
#pragma once

#include <QDialog>
#include <cstdint>

class QCheckBox;

namespace vorlan {

class GaugeDialog : public QDialog {
  Q_OBJECT

 public:
  explicit GaugeDialog(int32_t prescaling, QWidget* parent = nullptr);

  // 1 when the box was checked on OK, 0 otherwise.
  int32_t Prescaling() const { return prescaling_; }
  QCheckBox* PrescalingBox() const { return box_; }

 public slots:
  void accept() override;

 private:
  int32_t prescaling_;
  QCheckBox* box_ = nullptr;
};

}  // namespace vorlan
