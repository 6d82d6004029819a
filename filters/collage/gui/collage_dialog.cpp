#include "gui/collage_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QStringList>
#include <QVBoxLayout>
#include <cstdio>
#include <limits>

#include "dialog_text.h"

namespace vorlan::collage {

namespace {

// Edits are read through a 1024-byte buffer: 1023 characters and the end.
constexpr size_t kEditBufferChars = 1023;

std::string EditText(const QLineEdit* edit) { return edit->text().toStdString(); }

}  // namespace

std::string FormatFloat(float value) { return FormatFixed(value); }

std::string FormatInt(int32_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%i", value);
  return text;
}

float ParseFloat(const std::string& text) { return static_cast<float>(ParseReal(text, kEditBufferChars)); }

int32_t ParseInt(const std::string& text) { return ParseInt32(text, kEditBufferChars); }

namespace {

// A radio group whose buttons carry their field value as id; a value other
// than the buttons' leaves every button unchecked.
QButtonGroup* RadioGroup(QObject* owner, const char* field, int32_t value,
                         std::initializer_list<QRadioButton*> buttons) {
  auto* group = new QButtonGroup(owner);
  int id = 0;
  for (QRadioButton* b : buttons) {
    b->setObjectName(QString::fromLatin1(field) + QString::number(id));
    group->addButton(b, id++);
  }
  if (QAbstractButton* checked = group->button(value)) checked->setChecked(true);
  return group;
}

QCheckBox* CheckBox(const char* label, const char* field, int32_t value) {
  auto* box = new QCheckBox(QString::fromLatin1(label));
  box->setObjectName(QString::fromLatin1(field));
  box->setChecked(value != 0);
  return box;
}

QLineEdit* FieldEdit(const char* field, const std::string& text) {
  auto* edit = new QLineEdit(QString::fromStdString(text));
  edit->setObjectName(QString::fromLatin1(field));
  return edit;
}

}  // namespace

QLineEdit* CollageDialog::AddEdit(QGridLayout* layout, int row, const char* label, const char* field,
                                  int32_t value) {
  QLineEdit* edit = FieldEdit(field, FormatInt(value));
  labels_[field] = QString::fromLatin1(label);
  layout->addWidget(new QLabel(QString::fromLatin1(label)), row, 0);
  layout->addWidget(edit, row, 1);
  return edit;
}

CollageDialog::CollageDialog(const FractalEncoderSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("HV encoder settings"));
  const FractalEncoderSettings& s = settings_;
  // Fields whose label is not made by AddEdit.
  labels_ = {{"mode", QStringLiteral("Compression mode")},
             {"errorMode", QStringLiteral("Error mode")},
             {"coverMode", QStringLiteral("Covering mode")},
             {"threadPriority", QStringLiteral("Thread priority")},
             {"maxError", QStringLiteral("Max error")},
             {"quality", QStringLiteral("Quality")},
             {"maxScale", QStringLiteral("Max scale factor")}};

  // Group boxes of choices carry the field's identifier, as edits and check
  // boxes do: the settings description's tooltips find them by it.
  auto* modeBox = new QGroupBox(QStringLiteral("Compression mode"));
  modeBox->setObjectName(QStringLiteral("mode"));
  auto* modeLayout = new QVBoxLayout(modeBox);
  auto* fidelity = new QRadioButton(QStringLiteral("Fidelity"));
  auto* size = new QRadioButton(QStringLiteral("Size"));
  // Grows to "Max number of ranges" like Size, but cuts the range with the
  // largest total squared error, on the edge it finds.
  auto* leastError = new QRadioButton(QStringLiteral("Least error"));
  leastError->setToolTip(QStringLiteral("Grow to the number of ranges, cutting where the most squared error is"));
  auto* rateDistortion = new QRadioButton(QStringLiteral("Rate-distortion"));
  rateDistortion->setToolTip(
      QStringLiteral("Take the cut that removes the most error per bit, up to the ranges, lambda or rate"));
  modeLayout->addWidget(fidelity);
  modeLayout->addWidget(size);
  modeLayout->addWidget(leastError);
  modeLayout->addWidget(rateDistortion);
  mode_ = RadioGroup(this, "mode", s.mode, {fidelity, size, leastError, rateDistortion});

  auto* errorBox = new QGroupBox(QStringLiteral("Error mode"));
  errorBox->setObjectName(QStringLiteral("errorMode"));
  auto* errorLayout = new QGridLayout(errorBox);
  auto* absolute = new QRadioButton(QStringLiteral("Absolute :"));
  auto* qualityRadio = new QRadioButton(QStringLiteral("Quality :"));
  errorMode_ = RadioGroup(this, "errorMode", s.errorMode, {absolute, qualityRadio});
  maxError_ = FieldEdit("maxError", FormatFloat(s.maxError));
  quality_ = FieldEdit("quality", FormatFloat(s.quality));
  errorLayout->addWidget(absolute, 0, 0);
  errorLayout->addWidget(new QLabel(QStringLiteral("Max error")), 0, 1);
  errorLayout->addWidget(maxError_, 0, 2);
  errorLayout->addWidget(qualityRadio, 1, 0);
  errorLayout->addWidget(new QLabel(QStringLiteral("Quality")), 1, 1);
  errorLayout->addWidget(quality_, 1, 2);
  maxDiffCheck_ = CheckBox("Maximal diference checking", "maxDiffCheck", s.maxDiffCheck);
  errorLayout->addWidget(maxDiffCheck_, 2, 0, 1, 3);

  auto* sizeBox = new QGroupBox(QStringLiteral("Size mode settings"));
  auto* sizeLayout = new QGridLayout(sizeBox);
  maxRanges_ = AddEdit(sizeLayout, 0, "Max number of ranges", "maxRanges", s.maxRanges);
  lambda_ = FieldEdit("lambda", FormatFloat(s.lambda));
  labels_["lambda"] = QStringLiteral("Lambda");
  sizeLayout->addWidget(new QLabel(QStringLiteral("Lambda")), 1, 0);
  sizeLayout->addWidget(lambda_, 1, 1);
  maxRate_ = FieldEdit("maxRate", FormatFloat(s.maxRate));
  labels_["maxRate"] = QStringLiteral("Max rate");
  sizeLayout->addWidget(new QLabel(QStringLiteral("Max rate")), 2, 0);
  sizeLayout->addWidget(maxRate_, 2, 1);

  auto* rangesBox = new QGroupBox(QStringLiteral("Ranges"));
  auto* rangesLayout = new QGridLayout(rangesBox);
  minRangeSize_ = AddEdit(rangesLayout, 0, "Min range size", "minRangeSize", s.minRangeSize);
  maxRangeSize_ = AddEdit(rangesLayout, 1, "Max range size", "maxRangeSize", s.maxRangeSize);
  minRangeFactor_ = AddEdit(rangesLayout, 2, "Min range factor", "minRangeFactor", s.minRangeFactor);
  maxRangeFactor_ = AddEdit(rangesLayout, 3, "Max range factor", "maxRangeFactor", s.maxRangeFactor);
  maxScale_ = FieldEdit("maxScale", FormatFloat(s.maxScale));
  rangesLayout->addWidget(new QLabel(QStringLiteral("Max scale factor")), 4, 0);
  rangesLayout->addWidget(maxScale_, 4, 1);

  auto* quantBox = new QGroupBox(QStringLiteral("Quantization"));
  auto* quantLayout = new QGridLayout(quantBox);
  offsetLevels_ = AddEdit(quantLayout, 0, "Offset levels", "offsetLevels", s.offsetLevels);
  scaleLevels_ = AddEdit(quantLayout, 1, "Scale levels", "scaleLevels", s.scaleLevels);

  auto* searchBox = new QGroupBox(QStringLiteral("Search mode"));
  searchBox->setObjectName(QStringLiteral("searchMode"));
  auto* searchLayout = new QGridLayout(searchBox);
  auto* grid = new QRadioButton(QStringLiteral("Grid search"));
  auto* rich = new QRadioButton(QStringLiteral("Rich pool search"));
  rich->setToolTip(QStringLiteral("A coarse grid over every factor pair first, then every step position near "
                                  "its best candidates: small steps and wide factor spans at the time of a "
                                  "coarse grid"));
  auto* attractor = new QRadioButton(QStringLiteral("Attractor search"));
  attractor->setToolTip(QStringLiteral("The step grid, then every range searched again against the decoded "
                                       "code, whose domains are what the decoder sees (Size, Least error and "
                                       "Rate-distortion)"));
  auto* quickAttractor = new QRadioButton(QStringLiteral("Quick attractor search"));
  quickAttractor->setToolTip(QStringLiteral("As the attractor search, but each range is searched again on a "
                                            "coarse grid and around its best candidates: most of its gain in "
                                            "less time"));
  searchMode_ = RadioGroup(this, "searchMode", s.searchMode, {grid, rich, attractor, quickAttractor});
  searchLayout->addWidget(grid, 0, 0, 1, 2);
  searchLayout->addWidget(rich, 1, 0, 1, 2);
  searchLayout->addWidget(attractor, 2, 0, 1, 2);
  searchLayout->addWidget(quickAttractor, 3, 0, 1, 2);
  stepX_ = AddEdit(searchLayout, 4, "X step", "stepX", s.stepX);
  stepY_ = AddEdit(searchLayout, 5, "Y step", "stepY", s.stepY);

  auto* coverBox = new QGroupBox(QStringLiteral("Covering mode"));
  coverBox->setObjectName(QStringLiteral("coverMode"));
  auto* coverLayout = new QVBoxLayout(coverBox);
  auto* best = new QRadioButton(QStringLiteral("Best cover"));
  auto* inTolerance = new QRadioButton(QStringLiteral("Cover in tolerance"));
  coverLayout->addWidget(best);
  coverLayout->addWidget(inTolerance);
  coverMode_ = RadioGroup(this, "coverMode", s.coverMode, {best, inTolerance});

  auto* threadsBox = new QGroupBox(QStringLiteral("Threads"));
  auto* threadsLayout = new QGridLayout(threadsBox);
  threadCount_ = AddEdit(threadsLayout, 0, "Number of threads", "threadCount", s.threadCount);
  auto* normal = new QRadioButton(QStringLiteral("Normal"));
  auto* idle = new QRadioButton(QStringLiteral("Idle"));
  priority_ = RadioGroup(this, "threadPriority", s.threadPriority, {normal, idle});
  threadsLayout->addWidget(new QLabel(QStringLiteral("Thread priority")), 1, 0);
  auto* priorityButtons = new QWidget;
  priorityButtons->setObjectName(QStringLiteral("threadPriority"));
  auto* priorityRow = new QHBoxLayout(priorityButtons);
  priorityRow->setContentsMargins(0, 0, 0, 0);
  priorityRow->addWidget(normal);
  priorityRow->addWidget(idle);
  threadsLayout->addWidget(priorityButtons, 1, 1);

  feedback_ = CheckBox("Feedback window", "feedback", s.feedback);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &CollageDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CollageDialog::reject);

  auto* left = new QVBoxLayout;
  left->addWidget(modeBox);
  left->addWidget(errorBox);
  left->addWidget(sizeBox);
  left->addWidget(coverBox);
  left->addStretch();
  auto* right = new QVBoxLayout;
  right->addWidget(rangesBox);
  right->addWidget(quantBox);
  right->addWidget(searchBox);
  right->addWidget(threadsBox);
  right->addWidget(feedback_);
  auto* columns = new QHBoxLayout;
  columns->addLayout(left);
  columns->addLayout(right);
  auto* main = new QVBoxLayout(this);
  main->addLayout(columns);
  main->addWidget(buttons);
}

QString CollageDialog::LabelOf(const char* field) const {
  const auto it = labels_.find(field);
  return it != labels_.end() ? it->second : QString::fromLatin1(field);
}

void CollageDialog::accept() {
  FractalEncoderSettings edited = settings_;
  if (mode_->checkedId() >= 0) edited.mode = mode_->checkedId();
  if (errorMode_->checkedId() >= 0) edited.errorMode = errorMode_->checkedId();
  if (coverMode_->checkedId() >= 0) edited.coverMode = coverMode_->checkedId();
  if (priority_->checkedId() >= 0) edited.threadPriority = priority_->checkedId();
  if (searchMode_->checkedId() >= 0) edited.searchMode = searchMode_->checkedId();
  edited.maxDiffCheck = maxDiffCheck_->isChecked() ? 1 : 0;
  edited.feedback = feedback_->isChecked() ? 1 : 0;
  edited.maxError = ParseFloat(EditText(maxError_));
  edited.quality = ParseFloat(EditText(quality_));
  edited.maxScale = ParseFloat(EditText(maxScale_));
  edited.lambda = ParseFloat(EditText(lambda_));
  edited.maxRate = ParseFloat(EditText(maxRate_));
  edited.maxRanges = ParseInt(EditText(maxRanges_));
  edited.minRangeSize = ParseInt(EditText(minRangeSize_));
  edited.maxRangeSize = ParseInt(EditText(maxRangeSize_));
  edited.minRangeFactor = ParseInt(EditText(minRangeFactor_));
  edited.maxRangeFactor = ParseInt(EditText(maxRangeFactor_));
  edited.offsetLevels = ParseInt(EditText(offsetLevels_));
  edited.scaleLevels = ParseInt(EditText(scaleLevels_));
  edited.stepX = ParseInt(EditText(stepX_));
  edited.stepY = ParseInt(EditText(stepY_));
  edited.threadCount = ParseInt(EditText(threadCount_));

  // The same checks a run makes: better refused here than at run time, all
  // at once and in the words of the dialog.
  const std::vector<SettingProblem> problems = SettingProblems(edited);
  if (!problems.empty()) {
    QStringList lines;
    for (const SettingProblem& p : problems) {
      QString rule = QString::fromLatin1(p.rule);
      for (const auto& [field, label] : labels_)
        rule.replace(QStringLiteral("\"%1\"").arg(QString::fromStdString(field)), label);
      lines << LabelOf(p.field) + QLatin1Char(' ') + rule + QLatin1Char('.');
    }
    refusal_ = QStringLiteral("These settings cannot run:\n") + lines.join(QLatin1Char('\n'));
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), refusal_, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return;
  }
  refusal_.clear();
  settings_ = edited;
  QDialog::accept();
}

}  // namespace vorlan::collage
