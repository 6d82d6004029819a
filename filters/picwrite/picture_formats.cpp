#include "picture_formats.h"

#include <QByteArray>
#include <QImageWriter>

namespace vorlan {

namespace {

constexpr PictureFormat kFormats[] = {
    {0, "PNG", "png", "png", true, false},
    {1, "JPEG", "jpeg", "jpeg", false, true},
    {2, "PPM/PGM", "ppm", "pgm", false, false},
    {3, "TIFF", "tiff", "tiff", true, false},
    {4, "WebP", "webp", "webp", false, true},
};

}  // namespace

std::span<const PictureFormat> PictureFormats() { return kFormats; }

const PictureFormat* FindPictureFormat(int32_t code) {
  for (const PictureFormat& f : kFormats) {
    if (f.code == code) return &f;
  }
  return nullptr;
}

bool CanWrite(const PictureFormat& format) {
  return QImageWriter::supportedImageFormats().contains(QByteArray(format.colourName));
}

std::string WritableFormats() {
  std::string list;
  for (const QByteArray& f : QImageWriter::supportedImageFormats()) {
    if (!list.empty()) list += ", ";
    list += f.toLower().toStdString();
  }
  return list;
}

}  // namespace vorlan
