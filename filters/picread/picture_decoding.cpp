#include "picture_decoding.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <limits>

namespace vorlan {

namespace {

// QImageReader's allocation limit is in MiB; the widest format the reader
// may allocate takes 8 bytes per pixel (RGBA64).
int AllocationLimitMiB(int64_t maxPixels) {
  const int64_t mib = (maxPixels * 8 + (int64_t{1} << 20) - 1) >> 20;
  return static_cast<int>(std::min<int64_t>(mib + 1, std::numeric_limits<int>::max()));
}

bool IsDeep(QImage::Format format) {
  switch (format) {
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
      return true;
    default:
      return false;
  }
}

// The format DecodePicture leaves a picture decoded as `format` in.
QImage::Format TargetFormat(QImage::Format format) {
  if (IsDeep(format)) return format == QImage::Format_Grayscale16 ? QImage::Format_Grayscale16 : QImage::Format_RGBA64;
  if (format == QImage::Format_Grayscale8 || format == QImage::Format_RGB32 || format == QImage::Format_ARGB32) {
    return format;
  }
  return QImage::Format_ARGB32;
}

int64_t BytesPerPixel(QImage::Format format) {
  return format == QImage::Format_Invalid ? 0 : QImage::toPixelFormat(format).bitsPerPixel() / 8;
}

// What decoding a picture of `pixels` pixels that the reader announces as
// `format` holds at most: the image, and its converted copy while both live.
// An unknown format counts as the widest one DecodePicture keeps.
int64_t DecodingBytes(QImage::Format format, int64_t pixels) {
  if (format == QImage::Format_Invalid) return pixels * 2 * BytesPerPixel(QImage::Format_RGBA64);
  const QImage::Format target = TargetFormat(format);
  const int64_t copy = target == format ? 0 : BytesPerPixel(target);
  return pixels * (BytesPerPixel(format) + copy);
}

std::string LimitText(int64_t maxPixels) {
  if (maxPixels % (int64_t{1} << 20) == 0) return std::to_string(maxPixels >> 20) + " megapixels";
  return std::to_string(maxPixels) + " pixels";
}

std::string Upper(const std::string& s) {
  std::string u = s;
  for (char& c : u) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return u;
}

}  // namespace

bool JpegHasEndMarker(const uint8_t* data, int64_t length) {
  if (length < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  int64_t pos = 2;
  // Segments up to the first start-of-scan: FF, marker, 16-bit big-endian
  // length that counts itself.
  while (true) {
    while (pos < length && data[pos] == 0xFF) ++pos;  // fill bytes
    if (pos >= length) return false;
    const uint8_t marker = data[pos++];
    if (marker == 0xD9) return false;  // end before any scan
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
    if (pos + 2 > length) return false;
    const int64_t segment = int64_t{data[pos]} << 8 | data[pos + 1];
    if (segment < 2) return false;
    pos += segment;
    if (marker == 0xDA) break;
    if (pos >= length) return false;
    if (data[pos] != 0xFF) return false;
  }
  // In entropy-coded data a 0xFF is always followed by 0x00 or a marker, so
  // FF D9 here is the end-of-image marker.
  for (int64_t i = pos; i + 1 < length; ++i) {
    if (data[i] == 0xFF && data[i + 1] == 0xD9) return true;
  }
  return false;
}

bool DecodePicture(const uint8_t* data, int64_t length, int64_t maxPixels, DecodedPicture& out, std::string& error,
                   const PictureReserve& reserve) {
  out = DecodedPicture{};
  if (data == nullptr || length <= 0) {
    error = "the input holds no picture data";
    return false;
  }
  if (length > std::numeric_limits<int>::max()) {
    error = "the input is too large";
    return false;
  }
  // No copy: the buffer reads the producer's bytes in place.
  const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
  QBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly)) {
    error = "cannot open the input for reading";
    return false;
  }
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  reader.setAllocationLimit(AllocationLimitMiB(maxPixels));

  const QByteArray format = reader.format();
  if (format.isEmpty()) {
    error = "the input is not a picture in a format this system reads (formats found: " + ReadableFormats() + ")";
    return false;
  }
  out.format = format.toStdString();
  const std::string name = Upper(out.format);

  // The header's claim is checked before the reader allocates anything.
  const QSize claimed = reader.size();
  if (claimed.isValid()) {
    if (claimed.width() <= 0 || claimed.height() <= 0) {
      error = "the " + name + " picture claims no pixels (" + std::to_string(claimed.width()) + " x " +
              std::to_string(claimed.height()) + ")";
      return false;
    }
    if (int64_t{claimed.width()} * claimed.height() > maxPixels) {
      error = "the " + name + " picture claims " + std::to_string(claimed.width()) + " x " +
              std::to_string(claimed.height()) + " pixels, more than the limit of " + LimitText(maxPixels);
      return false;
    }
  }
  if (format == "jpeg" && !JpegHasEndMarker(data, length)) {
    error = "the JPEG data is truncated: it ends before its end-of-image marker";
    return false;
  }
  // The claim is reserved before the reader decodes anything.
  const bool reservedEarly = claimed.isValid();
  if (reservedEarly && reserve &&
      !reserve(claimed.width(), claimed.height(),
               DecodingBytes(reader.imageFormat(), int64_t{claimed.width()} * claimed.height()))) {
    error.clear();
    return false;
  }

  QImage image;
  if (!reader.read(&image) || image.isNull()) {
    error = "cannot decode the " + name + " picture: " + reader.errorString().toStdString();
    return false;
  }
  if (int64_t{image.width()} * image.height() > maxPixels) {
    error = "the " + name + " picture has " + std::to_string(image.width()) + " x " + std::to_string(image.height()) +
            " pixels, more than the limit of " + LimitText(maxPixels);
    return false;
  }

  // What was reserved must cover what came out.
  if (reservedEarly && (image.width() > claimed.width() || image.height() > claimed.height())) {
    error = "the " + name + " picture claims " + std::to_string(claimed.width()) + " x " +
            std::to_string(claimed.height()) + " pixels but holds " + std::to_string(image.width()) + " x " +
            std::to_string(image.height());
    return false;
  }
  if (!reservedEarly && reserve &&
      !reserve(image.width(), image.height(),
               DecodingBytes(image.format(), int64_t{image.width()} * image.height()))) {
    error.clear();
    return false;
  }

  // Alpha is dropped: colours are taken as stored, not composited.
  out.deep = IsDeep(image.format());
  const QImage::Format target = TargetFormat(image.format());
  if (image.format() != target) {
    image = image.convertToFormat(target);
    if (image.isNull()) {
      error = "cannot allocate the converted " + name + " picture";
      return false;
    }
  }
  out.image = std::move(image);
  return true;
}

std::string ReadableFormats() {
  std::string list;
  for (const QByteArray& f : QImageReader::supportedImageFormats()) {
    if (!list.empty()) list += ", ";
    list += f.toLower().toStdString();
  }
  return list;
}

}  // namespace vorlan
