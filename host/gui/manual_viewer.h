// Opening the manual (a PDF file) with the desktop's viewer, with a reason
// the user can act on when that is not possible.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace vorlan::gui {

// Opens `path` with the desktop's program for PDF documents. False with a
// sentence in `reason` when no such program can be found or started.
// [ui thread]
bool OpenPdfDocument(const QString& path, QString& reason);

// The first of `candidates` that exists, or an empty text.
QString FirstExisting(const QStringList& candidates);

// What the "Cannot load manual!" box adds below its text: the reason and
// where the manual is or was looked for.
QString ManualFailureDetails(const QString& reason, const QStringList& looked);

using DocumentOpener = std::function<bool(const QString& path, QString& reason)>;

}  // namespace vorlan::gui
