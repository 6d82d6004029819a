// "HV Code Packer settings": the format version the packer writes. The
// dialog edits a copy of the settings; the caller applies Settings() when
// exec() returns Accepted.
#pragma once

#include <QDialog>

#include "code_packer_filter.h"

class QComboBox;

namespace vorlan::hvpack {

class PackerDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PackerDialog(const CodePackerSettings& settings, QWidget* parent = nullptr);

  // The edited record; valid after accept() closed the dialog.
  const CodePackerSettings& Settings() const { return settings_; }
  QComboBox* VersionBox() const { return version_; }

 public slots:
  // Stores the chosen version; a stored version the list does not hold
  // stays unless another is chosen.
  void accept() override;

 private:
  CodePackerSettings settings_;
  QComboBox* version_ = nullptr;
};

}  // namespace vorlan::hvpack
