// Reading a picture file held in memory with Qt's image I/O, guarded
// against hostile input: the claimed size is checked before any pixel is
// allocated, the reader carries an allocation limit, and a JPEG that ends
// before its end-of-image marker is refused instead of being padded grey.
// Links QtGui only; needs no application object.
#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <string>

namespace vorlan {

struct DecodedPicture {
  // Grayscale8 or ARGB32/RGB32 for 8-bit pictures; Grayscale16 or RGBA64
  // for pictures with more than 8 bits per channel.
  QImage image;
  bool deep = false;  // 16 bits per channel
  std::string format;  // as Qt names it: "png", "jpeg", ...
};

// Asked once, before any pixel is decoded when the reader can tell the
// picture's size (after decoding otherwise), with that size and the bytes
// Qt's decoding holds at most on the way (the decoded image and its
// converted copy). False refuses the picture: DecodePicture then fails with
// an empty `error`, the caller knowing why.
using PictureReserve = std::function<bool(int64_t width, int64_t height, int64_t decodingBytes)>;

// Decodes `length` bytes at `data`. A picture with more than `maxPixels`
// pixels is refused, before decoding when the reader can tell its size.
// On failure returns false and sets `error` to a sentence-fragment reason.
bool DecodePicture(const uint8_t* data, int64_t length, int64_t maxPixels, DecodedPicture& out, std::string& error,
                   const PictureReserve& reserve = {});

// True when a JPEG stream reaches an end-of-image marker after its first
// scan. Markers before the scan are walked by their lengths, so a thumbnail
// inside an APP segment does not count.
bool JpegHasEndMarker(const uint8_t* data, int64_t length);

// The formats Qt can read in this process, lower case, separated by ", ".
std::string ReadableFormats();

}  // namespace vorlan
