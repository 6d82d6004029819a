#include "decoder_settings.h"

#include <cmath>
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

constexpr SettingChoice kModes[] = {
    {0, "max_iterations", "Max iterations"}, {1, "max_rms_error", "Max RMS error"}, {2, "quality", "Quality"}};

constexpr SettingField kFields[kFieldCount] = {
    {.identifier = "mode", .label = "Decompression mode", .type = kSettingChoice, .defaultValue = 0, .choiceCount = 3,
     .choices = kModes, .unit = "",
     .help = "stop rule: a fixed number of passes, or iterate until the estimated distance to the attractor is small"},
    {.identifier = "resolutionX", .label = "X", .type = kSettingInt32, .defaultValue = 1, .minimum = 1,
     .maximum = HUGE_VAL, .unit = "", .help = "output width = resolutionX x the code's width"},
    {.identifier = "resolutionY", .label = "Y", .type = kSettingInt32, .defaultValue = 1, .minimum = 1,
     .maximum = HUGE_VAL, .unit = "", .help = "output height = resolutionY x the code's height"},
    // Below 0 runs no pass, as 0 does.
    {.identifier = "maxIterations", .label = "Max iterations", .type = kSettingInt32, .defaultValue = 20,
     .minimum = 0, .maximum = HUGE_VAL, .unit = "passes", .help = "number of passes in Max iterations mode"},
    {.identifier = "maxRmsError", .label = "Max RMS error", .type = kSettingFloat32, .defaultValue = 5.0,
     .minimum = -HUGE_VAL, .maximum = HUGE_VAL, .unit = "grey levels",
     .help = "Max RMS error mode: stop once the estimated distance to the attractor is at most this"},
    {.identifier = "quality", .label = "Quality", .type = kSettingFloat32, .defaultValue = 0.95, .minimum = -HUGE_VAL,
     .maximum = HUGE_VAL, .unit = "", .help = "Quality mode: tolerance = (1 - quality) x the code's value range"},
    // Once a switch: graphs and texts that hold false / true still read as 0 / 1.
    {.identifier = "postProcessing", .label = "Post processing", .type = kSettingInt32, .defaultValue = 1,
     .minimum = 0, .maximum = 2, .unit = "",
     .help = "after the last pass: 0 nothing, 1 smooth every range border, 2 edge-adaptive deblocking (only "
             "small steps between flat sides of a border)"},
    {.identifier = "feedback", .label = "Feedback window", .type = kSettingInt32, .flags = kSettingSwitch,
     .defaultValue = 1, .minimum = 0, .maximum = 1, .unit = "",
     .help = "show the image being decoded in a window, pass by pass (editor only)"},
    {.identifier = "drawRanges", .label = "Draw ranges", .type = kSettingInt32, .flags = kSettingSwitch,
     .defaultValue = 1, .minimum = 0, .maximum = 1, .unit = "", .help = "outline the ranges in the feedback window"},
    {.identifier = "maxMegapixels", .label = "Largest picture:", .type = kSettingInt32, .defaultValue = 64,
     .minimum = 1, .maximum = kLargestDecodedMegapixels, .unit = "megapixels",
     .help = "codes whose output would have more pixels than this many times 2^20 are refused before decoding"},
};

constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, kFieldCount, kFields};

}  // namespace

const SettingsDescription& DecoderSettingsDescription() { return kDescription; }

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
