// The file formats the Image encoder writes, one descriptor each. The
// settings store the code, so codes never change meaning; a new format takes
// the next code.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vorlan {

struct PictureFormat {
  int32_t code;
  const char* label;  // as the dialog and messages show it
  const char* colourName;  // Qt's format name for colour pictures
  const char* greyName;  // ... and for grey ones (three equal planes)
  bool sixteenBits;  // can store 16 bits per channel
  bool lossy;  // takes a quality 0..100
};

std::span<const PictureFormat> PictureFormats();
// Null for an unknown code.
const PictureFormat* FindPictureFormat(int32_t code);
// True when Qt can write the format in this process (the TIFF and WebP
// writers are plug-ins that may be missing).
bool CanWrite(const PictureFormat& format);
// The formats Qt can write in this process, lower case, separated by ", ".
std::string WritableFormats();

}  // namespace vorlan
