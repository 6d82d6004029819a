// The 26 conversion codes of the RGB conversion filter: which colour space,
// which direction, which pins and where the code sits in the settings
// dialog. Even codes convert from RGB, odd codes back to RGB.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vorlan::chroma {

enum class ConversionCode : int32_t {
  RgbToHsv = 0,
  HsvToRgb = 1,
  RgbToYuvPal = 2,
  YuvPalToRgb = 3,
  RgbToYiq = 4,
  YiqToRgb = 5,
  RgbToYCbCr = 6,
  YCbCrToRgb = 7,
  RgbToYcc = 8,
  YccToRgb = 9,
  RgbToCmy = 10,
  CmyToRgb = 11,
  RgbToCmyk = 12,
  CmykToRgb = 13,
  RgbToHls = 14,
  HlsToRgb = 15,
  RgbToXyz = 16,
  XyzToRgb = 17,
  RgbToLab = 18,
  LabToRgb = 19,
  RgbToHsi = 20,
  HsiToRgb = 21,
  RgbToLuv = 22,
  LuvToRgb = 23,
  RgbToYuvSecam = 24,
  YuvSecamToRgb = 25,
};

inline constexpr int32_t kConversionCount = 26;
inline constexpr int32_t kMaxPlanes = 4;  // CMYK has four colour-space planes

// One colour space: its dialog row, its pins in order and the dialog
// control ids of its two buttons. Codes 2k (RGB->) and 2k+1 (->RGB) share it.
struct ColourSpace {
  const char* row;
  int32_t pinCount;
  std::array<const char*, kMaxPlanes> pins;
  int32_t fromRgbControl;
  int32_t toRgbControl;
};

// Indexed by code / 2.
inline constexpr std::array<ColourSpace, kConversionCount / 2> kColourSpaces{{
    {"HSV (HSB)", 3, {"H", "S", "V", nullptr}, 1004, 1006},
    {"YUV (PAL)", 3, {"Y", "U", "V", nullptr}, 1005, 1007},
    {"YIQ", 3, {"Y", "I", "Q", nullptr}, 1009, 1008},
    {"YCbCr", 3, {"Y", "Cb", "Cr", nullptr}, 1011, 1010},
    {"YCC (Kodak)", 3, {"Y", "C1", "C2", nullptr}, 1013, 1012},
    {"CMY", 3, {"C", "M", "Y", nullptr}, 1014, 1015},
    {"CMYK", 4, {"C", "M", "Y", "K"}, 1016, 1017},
    {"HLS", 3, {"H", "L", "S", nullptr}, 1018, 1019},
    {"CIE XYZ", 3, {"X", "Y", "Z", nullptr}, 1024, 1025},
    {"CIE Lab", 3, {"L", "a", "b", nullptr}, 1026, 1027},
    {"HSI", 3, {"H", "S", "I", nullptr}, 1028, 1029},
    {"CIE Luv", 3, {"L", "u", "v", nullptr}, 1022, 1023},
    {"YUV (SECAM)", 3, {"Y", "U", "V", nullptr}, 1020, 1021},
}};

inline constexpr std::array<const char*, 3> kRgbPins{"R", "G", "B"};

// Rows of the settings dialog from top to bottom, as indexes into kColourSpaces.
inline constexpr std::array<int32_t, kConversionCount / 2> kDialogRows{0, 7, 10, 1, 12, 2, 3, 4, 5, 6, 8, 9, 11};

constexpr bool IsValidCode(int32_t code) { return code >= 0 && code < kConversionCount; }
constexpr bool ConvertsFromRgb(int32_t code) { return code % 2 == 0; }
constexpr const ColourSpace& SpaceOf(int32_t code) { return kColourSpaces[static_cast<std::size_t>(code / 2)]; }
// The code of the same colour space in the other direction.
constexpr int32_t PartnerOf(int32_t code) { return code ^ 1; }

}  // namespace vorlan::chroma
