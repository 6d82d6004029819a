#include "attractor_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>

#include "dialog_text.h"

namespace vorlan::attractor {

namespace {

// Text is read through a 1024-byte buffer, terminator included.
constexpr int kEditBufferChars = 1023;

std::string EditText(const QLineEdit* edit) { return edit->text().left(kEditBufferChars).toStdString(); }

QLineEdit* NewEdit(const QString& text, QWidget* parent) {
  auto* edit = new QLineEdit(text, parent);
  edit->setMaxLength(kEditBufferChars);
  return edit;
}

}  // namespace

std::string FormatFloat(float value) { return FormatFixed(value); }

float ParseFloat(const std::string& text) { return static_cast<float>(ParseReal(text, kEditBufferChars)); }

int32_t ParseInt(const std::string& text) { return ParseInt32(text, kEditBufferChars); }

AttractorDialog::AttractorDialog(const FractalDecoderSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("HV decoder settings"));

  // Widgets carry the identifiers of the settings fields they edit.
  auto* modeGroup = new QGroupBox(QStringLiteral("Decompression mode"), this);
  modeGroup->setObjectName(QStringLiteral("mode"));
  auto* modeLayout = new QGridLayout(modeGroup);
  modes_ = new QButtonGroup(this);
  modes_->setExclusive(true);
  const char* const labels[3] = {"Max iterations", "Max RMS error", "Quality"};
  maxIterations_ = NewEdit(QString::number(settings_.maxIterations), modeGroup);
  maxRmsError_ = NewEdit(QString::fromStdString(FormatFloat(settings_.maxRmsError)), modeGroup);
  quality_ = NewEdit(QString::fromStdString(FormatFloat(settings_.quality)), modeGroup);
  maxIterations_->setObjectName(QStringLiteral("maxIterations"));
  maxRmsError_->setObjectName(QStringLiteral("maxRmsError"));
  quality_->setObjectName(QStringLiteral("quality"));
  QLineEdit* const edits[3] = {maxIterations_, maxRmsError_, quality_};
  for (int mode = 0; mode < 3; ++mode) {
    auto* button = new QRadioButton(QString::fromLatin1(labels[mode]), modeGroup);
    modes_->addButton(button, mode);
    modeLayout->addWidget(button, mode, 0);
    modeLayout->addWidget(edits[mode], mode, 1);
  }
  if (settings_.mode >= 0 && settings_.mode < 3) modes_->button(settings_.mode)->setChecked(true);

  auto* resolutionGroup = new QGroupBox(QStringLiteral("Resolution factors"), this);
  auto* resolutionLayout = new QHBoxLayout(resolutionGroup);
  resolutionX_ = NewEdit(QString::number(settings_.resolutionX), resolutionGroup);
  resolutionY_ = NewEdit(QString::number(settings_.resolutionY), resolutionGroup);
  resolutionX_->setObjectName(QStringLiteral("resolutionX"));
  resolutionY_->setObjectName(QStringLiteral("resolutionY"));
  resolutionLayout->addWidget(new QLabel(QStringLiteral("X"), resolutionGroup));
  resolutionLayout->addWidget(resolutionX_);
  resolutionLayout->addWidget(new QLabel(QStringLiteral("Y"), resolutionGroup));
  resolutionLayout->addWidget(resolutionY_);

  postProcessing_ = new QCheckBox(QStringLiteral("Post processing"), this);
  feedback_ = new QCheckBox(QStringLiteral("Feedback window"), this);
  drawRanges_ = new QCheckBox(QStringLiteral("Draw ranges"), this);
  postProcessing_->setObjectName(QStringLiteral("postProcessing"));
  feedback_->setObjectName(QStringLiteral("feedback"));
  drawRanges_->setObjectName(QStringLiteral("drawRanges"));
  postProcessing_->setChecked(settings_.postProcessing != 0);
  postProcessingKind_ = new QComboBox(this);
  postProcessingKind_->setObjectName(QStringLiteral("postProcessingKind"));
  postProcessingKind_->addItem(QStringLiteral("Border smoothing"));
  postProcessingKind_->addItem(QStringLiteral("Edge-adaptive deblocking"));
  postProcessingKind_->setCurrentIndex(
      settings_.postProcessing == static_cast<int32_t>(PostProcessing::Deblocking) ? 1 : 0);
  postProcessingKind_->setEnabled(postProcessing_->isChecked());
  connect(postProcessing_, &QCheckBox::toggled, postProcessingKind_, &QComboBox::setEnabled);
  auto* postRow = new QHBoxLayout;
  postRow->addWidget(postProcessing_);
  postRow->addWidget(postProcessingKind_);
  postRow->addStretch();
  feedback_->setChecked(settings_.feedback != 0);
  drawRanges_->setChecked(settings_.drawRanges != 0);

  largestPicture_ = new QSpinBox(this);
  largestPicture_->setObjectName(QStringLiteral("maxMegapixels"));
  largestPicture_->setRange(1, kLargestDecodedMegapixels);
  largestPicture_->setSuffix(QStringLiteral(" megapixels"));
  // A stored value out of range shows clamped; OK stores the shown value.
  largestPicture_->setValue(settings_.maxMegapixels);
  auto* limits = new QFormLayout;
  limits->addRow(QStringLiteral("Largest picture:"), largestPicture_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &AttractorDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &AttractorDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(modeGroup);
  layout->addWidget(resolutionGroup);
  layout->addLayout(postRow);
  layout->addWidget(feedback_);
  layout->addWidget(drawRanges_);
  layout->addLayout(limits);
  layout->addWidget(buttons);
}

QRadioButton* AttractorDialog::ModeButton(int mode) const {
  return qobject_cast<QRadioButton*>(modes_->button(mode));
}

void AttractorDialog::Complain(QLineEdit* edit, const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  edit->setFocus();
}

void AttractorDialog::accept() {
  const int32_t resolutionX = ParseInt(EditText(resolutionX_));
  const int32_t resolutionY = ParseInt(EditText(resolutionY_));
  const float maxRmsError = ParseFloat(EditText(maxRmsError_));
  const float quality = ParseFloat(EditText(quality_));
  // Every problem at once, named by the dialog's labels; the first field
  // at fault gets the focus.
  QStringList problems;
  QLineEdit* first = nullptr;
  auto problem = [&](bool bad, QLineEdit* edit, const QString& text) {
    if (!bad) return;
    problems << text;
    if (first == nullptr) first = edit;
  };
  problem(resolutionX < 1, resolutionX_,
          QStringLiteral("The resolution factor X \"%1\" must be at least 1.").arg(resolutionX_->text()));
  problem(resolutionY < 1, resolutionY_,
          QStringLiteral("The resolution factor Y \"%1\" must be at least 1.").arg(resolutionY_->text()));
  problem(!std::isfinite(maxRmsError), maxRmsError_,
          QStringLiteral("The max RMS error \"%1\" is not a finite number.").arg(maxRmsError_->text()));
  problem(!std::isfinite(quality), quality_,
          QStringLiteral("The quality \"%1\" is not a finite number.").arg(quality_->text()));
  if (first != nullptr) {
    Complain(first, problems.join(QLatin1Char('\n')));
    return;
  }
  if (modes_->checkedId() >= 0) settings_.mode = modes_->checkedId();
  settings_.resolutionX = resolutionX;
  settings_.resolutionY = resolutionY;
  settings_.maxIterations = ParseInt(EditText(maxIterations_));
  settings_.maxRmsError = maxRmsError;
  settings_.quality = quality;
  settings_.postProcessing = postProcessing_->isChecked() ? 1 + postProcessingKind_->currentIndex() : 0;
  settings_.feedback = feedback_->isChecked() ? 1 : 0;
  settings_.drawRanges = drawRanges_->isChecked() ? 1 : 0;
  settings_.maxMegapixels = largestPicture_->value();
  QDialog::accept();
}

}  // namespace vorlan::attractor
