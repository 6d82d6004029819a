#include "squeeze_dialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

#include "dialog_text.h"

namespace vorlan {
namespace {

// At most 255 characters are read.
constexpr int kEditChars = 255;

}  // namespace

HuffmanEncoderDialog::HuffmanEncoderDialog(const HuffmanEncoderSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("Huffman encoder settings"));
  auto* group = new QGroupBox(QStringLiteral("Word length"), this);
  auto* row = new QHBoxLayout(group);
  row->addWidget(new QLabel(QStringLiteral("N-grams"), group));
  wordLength_ = new QLineEdit(QString::number(settings.wordLength), group);
  wordLength_->setObjectName(QStringLiteral("wordLength"));  // the settings field it edits
  wordLength_->setMaxLength(kEditChars);
  row->addWidget(wordLength_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
}

void HuffmanEncoderDialog::accept() {
  const int32_t w = ParseInt32(wordLength_->text().toStdString(), kEditChars);
  if (w < 1 || w > 255) {
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("N-grams must be a number from 1 to 255."),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return;
  }
  settings_.wordLength = w;
  QDialog::accept();
}

}  // namespace vorlan
