// Every plug-in dialog shows its fields' help: each filter's Configure is
// called with a real (offscreen) user interface, and the dialog it opens
// must carry, on the widget named by each described field, that field's
// tooltip. Fields without a label (a file stream's path, chosen in the
// standard file dialog) have no widget of their own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "description_support.h"
#include "vorlan/gui/setting_tooltips.h"
#include "vorlan/settings_values.h"

namespace vorlan {
namespace {

using descriptions::Instance;
using host::FilterPrototype;
using host::Registry;

bool HasDialogFields(const SettingsDescription& d) {
  for (int32_t k = 0; k < d.fieldCount; ++k) {
    if (SettingText(d.fields[k].label)[0] != '\0') return true;
  }
  return false;
}

// Calls Configure and, once its modal dialog is up, hands the dialog to
// `inspect` and closes it with Cancel. False when no dialog came up.
bool InspectConfigureDialog(Filter& filter, const std::function<void(QWidget&)>& inspect) {
  bool seen = false;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    poll.stop();
    seen = true;
    inspect(*modal);
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    else modal->close();
  });
  poll.start();
  filter.Configure();
  poll.stop();
  return seen;
}

TEST(SettingTooltips, EveryDialogFieldShowsItsHelp) {
  std::vector<std::unique_ptr<Registry>> registries;
  for (const std::string& folder : descriptions::PluginFolders()) {
    registries.push_back(std::make_unique<Registry>(folder));
  }
  int dialogs = 0;
  for (const auto& registry : registries) {
    for (int32_t i = 0; i < registry->PrototypeCount(); ++i) {
      const FilterPrototype& p = registry->Prototype(i);
      if (p.settings == nullptr || !HasDialogFields(*p.settings)) continue;
      SCOPED_TRACE(p.info.name);
      Instance filter(p);
      ASSERT_NE(filter.get(), nullptr);
      const SettingsDescription& d = *p.settings;
      const bool opened = InspectConfigureDialog(*filter.get(), [&](QWidget& dialog) {
        for (int32_t k = 0; k < d.fieldCount; ++k) {
          const SettingField& f = d.fields[k];
          if (SettingText(f.label)[0] == '\0') continue;
          const QString name = QString::fromUtf8(f.identifier);
          const QList<QWidget*> widgets = dialog.findChildren<QWidget*>(name);
          ASSERT_FALSE(widgets.isEmpty()) << "no widget is named " << f.identifier;
          const QString tip = widgets.front()->toolTip();
          EXPECT_EQ(tip.toStdString(), gui::SettingTooltip(f).toStdString()) << f.identifier;
          // The tooltip says what the field does, what it takes and in which unit.
          EXPECT_TRUE(tip.contains(QString::fromUtf8(f.help).mid(1))) << tip.toStdString();
          EXPECT_TRUE(tip.contains(QString::fromStdString(SettingRangeText(f)))) << tip.toStdString();
          EXPECT_TRUE(tip.contains(QString::fromUtf8(f.unit))) << tip.toStdString();
        }
      });
      EXPECT_TRUE(opened) << "Configure opened no dialog";
      ++dialogs;
    }
  }
  // Serializer, deserializer, RGB conversion, grayscale, PSNR, both codecs,
  // Huffman encoder, three displays, both picture filters, Gain.
  EXPECT_GE(dialogs, 14);
}

TEST(SettingTooltips, TextSaysHelpNameUnitAndRange) {
  constexpr SettingChoice kModes[] = {{0, "fidelity", "Fidelity"}, {1, "size", "Size"}};
  const SettingField count{.identifier = "maxRanges", .label = "Max number of ranges", .type = kSettingInt32,
                           .defaultValue = 100, .minimum = 1, .maximum = HUGE_VAL, .unit = "ranges",
                           .help = "number of ranges to grow to"};
  EXPECT_EQ(gui::SettingTooltip(count).toStdString(), "Number of ranges to grow to\nmaxRanges (ranges): at least 1");
  const SettingField mode{.identifier = "mode", .label = "Mode", .type = kSettingChoice, .choiceCount = 2,
                          .choices = kModes, .unit = "", .help = ""};
  EXPECT_EQ(gui::SettingTooltip(mode).toStdString(), "mode: 0 = fidelity, 1 = size");
  const SettingField path{.identifier = "path", .label = "", .type = kSettingText, .flags = kSettingPath, .unit = "",
                          .help = "the file"};
  EXPECT_EQ(gui::SettingTooltip(path).toStdString(), "The file\npath: a file name");

  // Only widgets the description names get a tooltip; others keep theirs.
  QWidget dialog;
  auto* named = new QWidget(&dialog);
  named->setObjectName(QStringLiteral("maxRanges"));
  auto* other = new QWidget(&dialog);
  other->setObjectName(QStringLiteral("mode0"));
  other->setToolTip(QStringLiteral("its own"));
  const SettingField fields[] = {count, mode};
  const SettingsDescription d{kSettingsDescriptionVersion, 2, fields};
  EXPECT_EQ(gui::ApplySettingTooltips(&dialog, d), 1);
  EXPECT_EQ(named->toolTip(), gui::SettingTooltip(count));
  EXPECT_EQ(other->toolTip(), QStringLiteral("its own"));
}

}  // namespace
}  // namespace vorlan
