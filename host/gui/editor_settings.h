// What the editor remembers between sessions, in the user's QSettings
// (~/.config/Vorlan/vorlan.conf): Recent Files, the folder of the last
// opened or saved graph, and the View menu's choices. Graphs themselves
// stay the only documents; nothing here changes how a graph runs.
//
// [ui thread] Every call reads or writes the store at once, so two editors
// open at the same time share the newest values.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

namespace vorlan::gui {

class EditorSettings {
 public:
  static constexpr int kMaxRecentFiles = 4;

  static QStringList RecentFiles();
  static void SetRecentFiles(const QStringList& files);
  // Empty until a graph was opened or saved.
  static QString LastFolder();
  static void SetLastFolder(const QString& folder);
  static bool Flag(const QString& key, bool fallback);
  static void SetFlag(const QString& key, bool on);
};

}  // namespace vorlan::gui
