// Settings streams read and written through a SettingsDescription: the
// values of the fields by name, the text a user types for one, and the
// checks of a field's type and range. Used by hosts, tools and tests; the
// filters themselves keep reading their streams with ConfigReader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vorlan/settings_description.h"

namespace vorlan {

// One field's value. Numbers, flags and choices live in `number` (a Float32
// field holds the single's exact value); Text fields in `text` (nullopt for
// "no text").
struct SettingValue {
  double number = 0;
  std::optional<std::string> text;
  bool operator==(const SettingValue&) const = default;
};

// Fields a description may have at most, and choices a field may list.
inline constexpr int32_t kMaxSettingFields = 1024;
inline constexpr int32_t kMaxSettingChoices = 4096;

// Why a library's description cannot be used ("" when it can): a version
// below 1, counts out of bounds, missing or duplicate identifiers, unknown
// types, a minimum above the maximum, a default outside the field's own
// range. Hosts take a library's description as absent when this says no.
std::string DescriptionProblem(const SettingsDescription* description);

// "int32", "float32", "float64", "flag", "text", "choice"; "?" otherwise.
const char* SettingTypeName(int32_t type);

// The field named `identifier`, null when there is none.
const SettingField* FindSettingField(const SettingsDescription& description, std::string_view identifier);

// Null texts of a library's records read as "".
inline const char* SettingText(const char* text) { return text != nullptr ? text : ""; }

// The defaults of every field.
std::vector<SettingValue> DefaultSettingValues(const SettingsDescription& description);

// Reads the leading fields the stream holds whole into `values` (a short
// stream from an older writer holds fewer than the description lists) and
// returns the bytes they took; what follows them stays unread.
size_t DecodeSettingValues(const SettingsDescription& description, const uint8_t* data, size_t size,
                           std::vector<SettingValue>& values);
// The stream of values[0..n) in field order (n <= fieldCount).
std::vector<uint8_t> EncodeSettingValues(const SettingsDescription& description,
                                         const std::vector<SettingValue>& values);

// Why `value` is not allowed for `field` ("" when it is): not finite, not a
// whole number for integer kinds, outside the range, not a listed choice.
std::string SettingValueProblem(const SettingField& field, const SettingValue& value);

// Reads what a user typed for `field`: decimal numbers; for flags and
// switches also true/false, yes/no, on/off; for choices the value, the
// identifier or the label (any case); text as it stands. The value must pass
// SettingValueProblem. False with `error` (one line) otherwise.
bool ParseSettingValue(const SettingField& field, std::string_view text, SettingValue& value, std::string& error);

// The value as text that ParseSettingValue reads back to the same bits: the
// shortest decimal of a number (of the single for Float32), the choice's
// identifier, the text itself ("" for no text).
std::string FormatSettingValue(const SettingField& field, const SettingValue& value);

// The allowed values in words: "1 ... 64", "at least 1", "above 0",
// "0 = fidelity, 1 = size, 2 = least_error", "0 or 1", "any"; "" for text.
std::string SettingRangeText(const SettingField& field);

// Shortest decimal texts that read back to exactly `value`.
std::string ShortestDecimal(double value);
std::string ShortestDecimal(float value);

}  // namespace vorlan
