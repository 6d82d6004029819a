#include "chroma_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cstdlib>
#include <cstring>

#include "conversion_codes.h"

namespace vorlan::chroma {

ChromaDialog::ChromaDialog(int32_t code, QWidget* parent) : QDialog(parent), group_(new QButtonGroup(this)), code_(code) {
  setWindowTitle(QStringLiteral("RGB Conversion settings"));
  setModal(true);

  auto* box = new QGroupBox(QStringLiteral("Conversion"), this);
  box->setObjectName(QStringLiteral("conversion"));  // settings fields name their widgets
  auto* grid = new QGridLayout(box);
  grid->addWidget(new QLabel(QStringLiteral("RGB->"), box), 0, 1, Qt::AlignHCenter);
  grid->addWidget(new QLabel(QStringLiteral("->RGB"), box), 0, 2, Qt::AlignHCenter);
  group_->setExclusive(true);
  int row = 1;
  for (int32_t space : kDialogRows) {
    const ColourSpace& cs = kColourSpaces[static_cast<size_t>(space)];
    grid->addWidget(new QLabel(QString::fromLatin1(cs.row), box), row, 0);
    for (int32_t direction = 0; direction < 2; ++direction) {
      const int32_t buttonCode = space * 2 + direction;
      auto* button = new QRadioButton(box);
      button->setObjectName(QStringLiteral("conversion%1").arg(direction == 0 ? cs.fromRgbControl : cs.toRgbControl));
      button->setAccessibleName(QStringLiteral("%1 %2").arg(QString::fromLatin1(cs.row),
                                                           direction == 0 ? QStringLiteral("RGB->") : QStringLiteral("->RGB")));
      group_->addButton(button, buttonCode);
      grid->addWidget(button, row, 1 + direction, Qt::AlignHCenter);
    }
    ++row;
  }
  if (IsValidCode(code)) group_->button(code)->setChecked(true);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &ChromaDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ChromaDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box);
  layout->addWidget(buttons);
}

QRadioButton* ChromaDialog::Button(int32_t code) const {
  return IsValidCode(code) ? static_cast<QRadioButton*>(group_->button(code)) : nullptr;
}

void ChromaDialog::accept() {
  const int checked = group_->checkedId();
  if (checked >= 0) code_ = checked;
  QDialog::accept();
}

Result ConfigureConversion(Filter& filter, const std::function<int(ChromaDialog&)>& exec) {
  Packet config = filter.GetConfig(ConfigForm::Native);
  if (config.data == nullptr || config.length < static_cast<int32_t>(sizeof(int32_t))) {
    std::free(config.data);
    return OutOfMemory;
  }
  int32_t code = 0;
  std::memcpy(&code, config.data, sizeof code);
  std::free(config.data);

  ChromaDialog dialog(code);
  if (exec(dialog) != QDialog::Accepted) return Ok;
  int32_t edited = dialog.Code();
  return filter.ApplyConfig(MakePacket(sizeof edited, PacketType::Config, &edited), ConfigForm::Native);
}

}  // namespace vorlan::chroma
