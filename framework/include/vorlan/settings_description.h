// Settings by name: a library describes each filter's settings field by
// field, in the order of its Serialized ConfigStream, so that a host can
// show, check and set them without knowing the filter (`vorlan --inspect`,
// `--set CAPTION.FIELD=VALUE`, graphs as text, a properties panel).
//
// Two optional library exports carry it; a library without them keeps
// working and its settings stay opaque bytes:
//
//   const SettingsDescription* GetSettingsDescription(int32_t index);
//   const char* CheckSettings(Filter* filter);
//
// The glue of export.h provides both for a filter class that declares
//
//   static const vorlan::SettingsDescription& DescribeSettings();
//
// The records are a binary interface like those of contract.h: their
// layout is guarded below and only ever grows behind `version`.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "vorlan/contract.h"

namespace vorlan {

// How a field is stored in the Serialized stream.
enum class SettingType : int32_t {
  Int32 = 0,    // 4-byte signed integer
  Float32 = 1,  // IEEE single
  Float64 = 2,  // IEEE double
  Flag = 3,     // one byte, 0 or 1
  Text = 4,     // int32 length, then the bytes; length -1 is "no text"
  Choice = 5,   // int32 that takes one of the listed values
};

// Bits of SettingField::flags.
enum SettingFlag : uint32_t {
  kSettingPath = 1u << 0,          // Text naming a file; a relative name is taken from the graph's folder
  kSettingMinimumExclusive = 1u << 1,  // the minimum itself is not allowed
  kSettingMaximumExclusive = 1u << 2,  // the maximum itself is not allowed
  kSettingSwitch = 1u << 3,        // an Int32 that is 0 (off) or 1 (on), shown as a check box
};

// One value a Choice field may take.
struct SettingChoice {
  int32_t value;
  const char* identifier;  // for command lines and scripts: "least_error"
  const char* label;       // the dialog's text: "Least error"
};

// The member initialisers only serve initialisers in C++ that name the
// fields they set ({.identifier = "gain", ...}); the layout is that of the
// plain record.
struct SettingField {
  const char* identifier = nullptr;  // "maxRanges": letters and digits, unique within the filter
  const char* label = "";            // the dialog's label of the field, "" when the dialog shows none
  int32_t type = 0;                  // SettingType code
  uint32_t flags = 0;                // SettingFlag bits
  double defaultValue = 0;           // of a fresh filter; numbers, flags and choices
  const char* defaultText = nullptr;  // Text fields: the default, null for "no text"
  // Allowed numbers, inclusive unless a flag says otherwise; -HUGE_VAL and
  // HUGE_VAL for no bound. Numbers must be finite in any case. A run may
  // still refuse a combination of fields; CheckSettings tells.
  double minimum = -HUGE_VAL;
  double maximum = HUGE_VAL;
  int32_t choiceCount = 0;  // Choice fields
  const SettingChoice* choices = nullptr;
  const char* unit = "";  // "pixels", "dB", "" when none
  const char* help = "";  // one line: what the field does
};

inline constexpr int32_t kSettingsDescriptionVersion = 1;

struct SettingsDescription {
  int32_t version;  // kSettingsDescriptionVersion
  int32_t fieldCount;
  const SettingField* fields;  // fieldCount fields, in stream order
};

// What a filter without settings describes: no fields. A host then knows
// there is nothing to set, rather than taking the settings as unknown.
inline constexpr SettingsDescription kNoSettings{kSettingsDescriptionVersion, 0, nullptr};

// Type codes for SettingField initialisers.
inline constexpr int32_t kSettingInt32 = static_cast<int32_t>(SettingType::Int32);
inline constexpr int32_t kSettingFloat32 = static_cast<int32_t>(SettingType::Float32);
inline constexpr int32_t kSettingFloat64 = static_cast<int32_t>(SettingType::Float64);
inline constexpr int32_t kSettingFlag = static_cast<int32_t>(SettingType::Flag);
inline constexpr int32_t kSettingText = static_cast<int32_t>(SettingType::Text);
inline constexpr int32_t kSettingChoice = static_cast<int32_t>(SettingType::Choice);

// Optional export: the description of prototype `index`, static data of the
// library that lives as long as the library; null when there is none. [any thread]
using GetSettingsDescriptionFn = const SettingsDescription* (*)(int32_t index);
// Optional export: null or "" when the filter's current settings can run,
// else why not, naming the field; the text is the filter's and stays valid
// until its next operation. [ui thread, no run active]
using CheckSettingsFn = const char* (*)(Filter* filter);

inline constexpr const char* kGetSettingsDescriptionName = "GetSettingsDescription";
inline constexpr const char* kCheckSettingsName = "CheckSettings";

static_assert(sizeof(SettingChoice) == 24 && offsetof(SettingChoice, identifier) == 8 &&
              offsetof(SettingChoice, label) == 16);
static_assert(sizeof(SettingField) == 88 && offsetof(SettingField, type) == 16 &&
              offsetof(SettingField, flags) == 20 && offsetof(SettingField, defaultValue) == 24 &&
              offsetof(SettingField, defaultText) == 32 && offsetof(SettingField, minimum) == 40 &&
              offsetof(SettingField, maximum) == 48 && offsetof(SettingField, choiceCount) == 56 &&
              offsetof(SettingField, choices) == 64 && offsetof(SettingField, unit) == 72 &&
              offsetof(SettingField, help) == 80);
static_assert(sizeof(SettingsDescription) == 16 && offsetof(SettingsDescription, fields) == 8);

}  // namespace vorlan
