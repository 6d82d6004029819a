#include "picture_encoding.h"

#include <QBuffer>
#include <QImageWriter>

namespace vorlan {

namespace {

constexpr int kTiffLzw = 1;  // Qt's TIFF writer: 0 none, 1 LZW

}  // namespace

bool EncodePicture(const QImage& image, const PictureFormat& format, int quality, QByteArray& out, std::string& error) {
  out.clear();
  const bool grey = image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_Grayscale16;
  const QByteArray name(grey ? format.greyName : format.colourName);
  if (!QImageWriter::supportedImageFormats().contains(name)) {
    error = std::string("this system has no ") + format.label + " writer (formats found: " + WritableFormats() + ")";
    return false;
  }
  QBuffer buffer(&out);
  if (!buffer.open(QIODevice::WriteOnly)) {
    error = "cannot open the output buffer";
    return false;
  }
  QImageWriter writer(&buffer, name);
  if (format.lossy) writer.setQuality(quality);
  if (name == "tiff") writer.setCompression(kTiffLzw);
  if (!writer.write(image)) {
    error = std::string("cannot write the ") + format.label + " picture: " + writer.errorString().toStdString();
    out.clear();
    return false;
  }
  return true;
}

}  // namespace vorlan
