#include "file_dialogs.h"

#include <QByteArray>
#include <QFile>
#include <QFileDialog>
#include <QString>

namespace vorlan::gui {
namespace {

// Paths travel as the file system's bytes (UTF-8 here), not as display text.
QString ToQt(const std::optional<std::string>& path) {
  return path ? QFile::decodeName(QByteArray::fromStdString(*path)) : QString();
}

std::optional<std::string> FromQt(const QString& path) {
  if (path.isEmpty()) return std::nullopt;
  return QFile::encodeName(path).toStdString();
}

}  // namespace

std::optional<std::string> ChooseFileToRead(const std::optional<std::string>& current) {
  return FromQt(QFileDialog::getOpenFileName(nullptr, QStringLiteral("Select input file"), ToQt(current)));
}

std::optional<std::string> ChooseFileToWrite(const std::optional<std::string>& current) {
  return FromQt(QFileDialog::getSaveFileName(nullptr, QStringLiteral("Select output file"), ToQt(current)));
}

}  // namespace vorlan::gui
