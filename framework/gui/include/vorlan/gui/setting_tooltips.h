// Tooltips on a settings dialog's fields, taken from the filter's settings
// description, so that the editor answers "what does this field do" where
// the field is edited.
#pragma once

#include <QString>

#include "vorlan/settings_description.h"

class QWidget;

namespace vorlan::gui {

// "Number of ranges Size and Least error grow to\nmaxRanges (ranges): at
// least 1": the help, then the identifier that sets the field by name with
// its unit and the values it allows.
QString SettingTooltip(const SettingField& field);

// Gives every widget inside `dialog` whose objectName is a field's
// identifier that field's tooltip; widgets the fields do not name keep
// theirs. A group box named for a choice covers its buttons, since a
// tooltip shows for the nearest widget that has one. Returns how many
// fields found a widget. [ui thread]
int ApplySettingTooltips(QWidget* dialog, const SettingsDescription& description);

}  // namespace vorlan::gui
