// Writing a QImage into a picture file in memory with Qt's image I/O.
// Links QtGui only; needs no application object.
#pragma once

#include <QByteArray>
#include <QImage>
#include <string>

#include "picture_formats.h"

namespace vorlan {

// Encodes `image` (Grayscale8/16 for grey pictures) as `format`; `quality`
// 0..100 is used by lossy formats. False with a reason when Qt has no
// writer for the format or the writer fails.
bool EncodePicture(const QImage& image, const PictureFormat& format, int quality, QByteArray& out, std::string& error);

}  // namespace vorlan
