#include "decoder_settings.h"

#include <cstring>

#include "vorlan/config_stream.h"

namespace vorlan::attractor {

namespace {

// Each field travels as its raw 4 bytes, floats as their IEEE bit pattern.
constexpr int kFieldCount = 10;

void* FieldAddress(FractalDecoderSettings& s, int index) {
  switch (index) {
    case 0: return &s.mode;
    case 1: return &s.resolutionX;
    case 2: return &s.resolutionY;
    case 3: return &s.maxIterations;
    case 4: return &s.maxRmsError;
    case 5: return &s.quality;
    case 6: return &s.postProcessing;
    case 7: return &s.feedback;
    case 8: return &s.drawRanges;
    default: return &s.maxMegapixels;
  }
}

}  // namespace

void ReadSerialized(const Packet& packet, FractalDecoderSettings& settings) {
  ConfigReader reader(packet);
  for (int i = 0; i < kFieldCount; ++i) {
    int32_t raw = 0;
    if (!reader.Int32(raw)) return;
    std::memcpy(FieldAddress(settings, i), &raw, 4);
  }
}

Packet WriteSerialized(const FractalDecoderSettings& settings) {
  FractalDecoderSettings copy = settings;
  ConfigWriter writer;
  for (int i = 0; i < kFieldCount; ++i) {
    int32_t raw = 0;
    std::memcpy(&raw, FieldAddress(copy, i), 4);
    writer.Int32(raw);
  }
  return writer.ToPacket();
}

std::string CheckSettings(const FractalDecoderSettings& settings) {
  if (settings.mode < 0 || settings.mode > 2) {
    return "setting \"mode\" is " + std::to_string(settings.mode) + "; it must be 0, 1 or 2";
  }
  if (settings.resolutionX < 1) {
    return "setting \"resolutionX\" is " + std::to_string(settings.resolutionX) + "; it must be at least 1";
  }
  if (settings.resolutionY < 1) {
    return "setting \"resolutionY\" is " + std::to_string(settings.resolutionY) + "; it must be at least 1";
  }
  if (settings.maxMegapixels < 1 || settings.maxMegapixels > kLargestDecodedMegapixels) {
    return "setting \"maxMegapixels\" is " + std::to_string(settings.maxMegapixels) + "; it must be 1 to " +
           std::to_string(kLargestDecodedMegapixels);
  }
  return "";
}

}  // namespace vorlan::attractor
