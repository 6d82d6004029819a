// Settings of the HV decoder: the record copied whole in Native form and
// written field by field (raw 4-byte values) in Serialized form: the nine
// described fields, then the largest decoded picture, which older graphs
// lack (they get the default).
#pragma once

#include <cstdint>
#include <string>

#include "vorlan/contract.h"
#include "vorlan/settings_description.h"

namespace vorlan::attractor {

// How the decoder decides it has iterated enough.
enum class DecodeMode : int32_t {
  MaxIterations = 0,  // a fixed number of passes
  MaxRmsError = 1,    // until the estimated distance to the attractor is small
  Quality = 2,        // as MaxRmsError, tolerance taken from the value range
};

// What the decoder does to the picture after the last pass.
enum class PostProcessing : int32_t {
  None = 0,
  BorderSmoothing = 1,  // fixed 1:2 and 0:1:2:3 weights on both sides of every range edge
  Deblocking = 2,       // edge-adaptive: only small steps between flat sides (border_deblocking.h)
};

struct FractalDecoderSettings {
  int32_t mode = 0;
  int32_t resolutionX = 1;  // output width = resolutionX x code width
  int32_t resolutionY = 1;
  int32_t maxIterations = 20;
  float maxRmsError = 5.0f;  // grey levels, mode 1
  float quality = 0.95f;     // tolerance = (1 - quality) x (hi - lo), mode 2
  int32_t postProcessing = 1;  // PostProcessing code; others leave the picture as iterated
  int32_t feedback = 1;
  int32_t drawRanges = 1;
  // Largest output accepted, in megapixels (2^20 pixels), 1 to
  // kLargestDecodedMegapixels: a header claims its size in a few bytes.
  int32_t maxMegapixels = 64;
};

// The described record: the fields up to drawRanges.
inline constexpr int32_t kDescribedSettingsBytes = 36;
static_assert(sizeof(FractalDecoderSettings) == 40, "the Native record is ten 4-byte fields");

// Two float64 images of this many megapixels fill the largest plane.
inline constexpr int32_t kLargestDecodedMegapixels = 255;

// Reads up to ten fields in order; when the stream runs short the
// remaining fields keep their values.
void ReadSerialized(const Packet& packet, FractalDecoderSettings& settings);
Packet WriteSerialized(const FractalDecoderSettings& settings);

// The nine fields by name, in stream order, for settings by name.
const SettingsDescription& DecoderSettingsDescription();

// Why these settings cannot run, naming the setting; "" when they can.
// The output size depends on the code and is checked once its header is known.
std::string CheckSettings(const FractalDecoderSettings& settings);

}  // namespace vorlan::attractor
