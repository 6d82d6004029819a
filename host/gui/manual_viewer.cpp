#include "manual_viewer.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace vorlan::gui {

namespace {

constexpr int kQueryTimeoutMs = 3000;

// The desktop entry registered for PDF documents, empty when none is (or
// when xdg-mime is missing, which then says nothing either way).
QString DefaultPdfApplication(bool& known) {
  known = false;
  const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (xdgMime.isEmpty()) return QString();
  QProcess query;
  query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("application/pdf")});
  if (!query.waitForFinished(kQueryTimeoutMs) || query.exitStatus() != QProcess::NormalExit) {
    query.kill();
    query.waitForFinished(kQueryTimeoutMs);
    return QString();
  }
  known = true;
  return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

}  // namespace

bool OpenPdfDocument(const QString& path, QString& reason) {
  // On a desktop session Qt asks the desktop itself; without one it starts
  // xdg-open, which must exist and know a viewer.
  const bool desktopSession = !qEnvironmentVariableIsEmpty("XDG_CURRENT_DESKTOP");
  if (!desktopSession) {
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
      reason = QStringLiteral("xdg-open, which starts the PDF viewer, is not installed (Debian package xdg-utils).");
      return false;
    }
    bool known = false;
    if (DefaultPdfApplication(known).isEmpty() && known) {
      reason = QStringLiteral("No PDF viewer is installed or set up for PDF documents "
                              "(xdg-mime query default application/pdf names none).");
      return false;
    }
  }
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
    reason = QStringLiteral("The desktop could not start a program for PDF documents.");
    return false;
  }
  return true;
}

QString FirstExisting(const QStringList& candidates) {
  for (const QString& candidate : candidates)
    if (QFileInfo::exists(candidate)) return candidate;
  return QString();
}

QString ManualFailureDetails(const QString& reason, const QStringList& looked) {
  QString text = reason;
  if (looked.size() == 1) {
    text += QStringLiteral("\n\nManual: ") + looked.front();
  } else {
    text += QStringLiteral("\n\nLooked for the manual in:");
    for (const QString& path : looked) text += QStringLiteral("\n  ") + path;
  }
  return text;
}

}  // namespace vorlan::gui
