#include "editor_settings.h"

#include <QSettings>
#include <memory>

namespace vorlan::gui {

namespace {

std::unique_ptr<QSettings> Store() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vorlan"),
                                     QStringLiteral("vorlan"));
}

const QString kRecentFiles = QStringLiteral("editor/recentFiles");
const QString kLastFolder = QStringLiteral("editor/lastFolder");

}  // namespace

QStringList EditorSettings::RecentFiles() {
  QStringList files = Store()->value(kRecentFiles).toStringList();
  files.removeAll(QString());
  files.removeDuplicates();
  while (files.size() > kMaxRecentFiles) files.removeLast();
  return files;
}

void EditorSettings::SetRecentFiles(const QStringList& files) { Store()->setValue(kRecentFiles, files); }

QString EditorSettings::LastFolder() { return Store()->value(kLastFolder).toString(); }

void EditorSettings::SetLastFolder(const QString& folder) { Store()->setValue(kLastFolder, folder); }

bool EditorSettings::Flag(const QString& key, bool fallback) {
  const QVariant v = Store()->value(QStringLiteral("view/") + key);
  return v.isValid() ? v.toBool() : fallback;
}

void EditorSettings::SetFlag(const QString& key, bool on) { Store()->setValue(QStringLiteral("view/") + key, on); }

}  // namespace vorlan::gui
