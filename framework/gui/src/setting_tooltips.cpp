#include "vorlan/gui/setting_tooltips.h"

#include <QWidget>

#include "vorlan/settings_values.h"

namespace vorlan::gui {

QString SettingTooltip(const SettingField& field) {
  QString help = QString::fromUtf8(SettingText(field.help));
  if (!help.isEmpty()) help[0] = help[0].toUpper();
  QString name = QString::fromUtf8(SettingText(field.identifier));
  const QString unit = QString::fromUtf8(SettingText(field.unit));
  if (!unit.isEmpty()) name += QStringLiteral(" (%1)").arg(unit);
  QString allowed = QString::fromStdString(SettingRangeText(field));
  if (field.type == static_cast<int32_t>(SettingType::Text)) {
    allowed = (field.flags & kSettingPath) != 0 ? QStringLiteral("a file name") : QStringLiteral("text");
  }
  const QString line = name + QStringLiteral(": ") + allowed;
  return help.isEmpty() ? line : help + QLatin1Char('\n') + line;
}

int ApplySettingTooltips(QWidget* dialog, const SettingsDescription& description) {
  if (dialog == nullptr || description.fields == nullptr) return 0;
  int found = 0;
  for (int32_t i = 0; i < description.fieldCount; ++i) {
    const SettingField& field = description.fields[i];
    const QString name = QString::fromUtf8(SettingText(field.identifier));
    const QList<QWidget*> widgets = dialog->findChildren<QWidget*>(name);
    if (widgets.isEmpty()) continue;
    const QString tip = SettingTooltip(field);
    for (QWidget* widget : widgets) widget->setToolTip(tip);
    ++found;
  }
  return found;
}

}  // namespace vorlan::gui
