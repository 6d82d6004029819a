// Settings of the HV encoder: 4-byte fields whose order is the Native
// record, the Serialized stream and the graph-file form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vorlan/contract.h"
#include "vorlan/settings_description.h"

namespace vorlan::collage {

struct FractalEncoderSettings {
  int32_t mode = 0;           // 0 Fidelity, 1 Size, 2 Least error, 3 Rate-distortion
  float maxError = 30.0f;     // tolerance in the plane's own units (errorMode 0)
  int32_t maxDiffCheck = 0;   // also bound the largest single-pixel difference
  int32_t maxRanges = 100;    // target range count in Size mode
  int32_t minRangeSize = 4;   // no cut may leave a side shorter than this
  int32_t maxRangeSize = 0;   // larger ranges are cut without search; <= 0 no limit
  int32_t minRangeFactor = 2; // domain shrink factors per axis
  int32_t maxRangeFactor = 3;
  float maxScale = 1.0f;      // largest absolute scale
  int32_t offsetLevels = 256;
  int32_t scaleLevels = 256;
  int32_t searchMode = 0;     // 0 grid, 1 rich pool, 2 attractor, 3 quick attractor search
  int32_t stepX = 32;         // domain grid steps, pixels
  int32_t stepY = 32;
  int32_t coverMode = 1;      // 0 best cover, 1 cover in tolerance
  int32_t errorMode = 0;      // 0 absolute maxError, 1 from quality
  float quality = 0.95f;      // tolerance = (1 - quality) * value range
  int32_t threadCount = 1;
  int32_t threadPriority = 0; // 0 normal, 1 idle
  int32_t feedback = 1;       // show the feedback window
  // Trailing fields; streams written before them leave them at their
  // defaults. Both serve Rate-distortion mode only.
  float lambda = 0.0f;        // stop when a cut gains less MSE per bit per pixel (0..255 scale); 0 none
  float maxRate = 0.0f;       // stop before the packed code exceeds this many bits per pixel; 0 none
};

inline constexpr int32_t kSettingsFieldCount = 22;
// The fields every stream written before the trailing ones holds.
inline constexpr int32_t kBaseSettingsFieldCount = 20;

// Size (1), Least error (2) and Rate-distortion (3) grow the partition up
// to `maxRanges` ranges, keeping each range's best transform (mode 3 may
// stop earlier, on `lambda` or `maxRate`); Fidelity (0) cuts until every
// range meets the tolerance.
inline bool GrowsToRangeCount(int32_t mode) { return mode == 1 || mode == 2 || mode == 3; }
inline constexpr int32_t kRateDistortionMode = 3;
inline constexpr int32_t kMaxThreadCount = 64;
static_assert(sizeof(FractalEncoderSettings) == 4 * kSettingsFieldCount);
static_assert(offsetof(FractalEncoderSettings, quality) == 64 &&
              offsetof(FractalEncoderSettings, feedback) == 76 && offsetof(FractalEncoderSettings, lambda) == 80);

// One setting a run would refuse: the field's name and the rule it breaks;
// a rule naming another field quotes its name ("must not be below
// \"minRangeFactor\"").
struct SettingProblem {
  const char* field;
  const char* rule;
};
// Every problem of `s`, in field order; empty when a run would accept it.
std::vector<SettingProblem> SettingProblems(const FractalEncoderSettings& s);

// Checks what the search relies on; "" when the settings can run, else a
// reason naming the setting. Stored graphs load whatever they hold; this is
// applied when a run starts.
std::string ValidateSettings(const FractalEncoderSettings& s);

// The fields by name, in stream order, for settings by name.
const SettingsDescription& EncoderSettingsDescription();

// The fields as raw 4-byte values, in order.
Packet SerializeSettings(const FractalEncoderSettings& s);
// Reads raw 4-byte values in field order; a short stream leaves the
// remaining fields as they are.
void DeserializeSettings(const Packet& packet, FractalEncoderSettings& s);

}  // namespace vorlan::collage
