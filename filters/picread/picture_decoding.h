// Reading a picture file held in memory with Qt's image I/O, guarded
// against hostile input: the claimed size is checked before any pixel is
// allocated, the reader carries an allocation limit, and a JPEG that ends
// before its end-of-image marker is refused instead of being padded grey.
// Links QtGui only; needs no application object.
#pragma once

#include <QImage>
#include <cstdint>
#include <string>

namespace vorlan {

struct DecodedPicture {
  // Grayscale8 or ARGB32/RGB32 for 8-bit pictures; Grayscale16 or RGBA64
  // for pictures with more than 8 bits per channel.
  QImage image;
  bool deep = false;  // 16 bits per channel
  std::string format;  // as Qt names it: "png", "jpeg", ...
};

// Decodes `length` bytes at `data`. A picture with more than `maxPixels`
// pixels is refused, before decoding when the reader can tell its size.
// On failure returns false and sets `error` to a sentence-fragment reason.
bool DecodePicture(const uint8_t* data, int64_t length, int64_t maxPixels, DecodedPicture& out, std::string& error);

// True when a JPEG stream reaches an end-of-image marker after its first
// scan. Markers before the scan are walked by their lengths, so a thumbnail
// inside an APP segment does not count.
bool JpegHasEndMarker(const uint8_t* data, int64_t length);

// The formats Qt can read in this process, lower case, separated by ", ".
std::string ReadableFormats();

}  // namespace vorlan
