#include "vorlan/settings_values.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>

#include "vorlan/config_stream.h"

namespace vorlan {
namespace {

bool IsIdentifier(const char* text) {
  if (text == nullptr || *text == '\0') return false;
  for (const char* p = text; *p != '\0'; ++p) {
    const char c = *p;
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    if (!letter && !(p != text && c >= '0' && c <= '9')) return false;
  }
  return true;
}

bool KnownType(int32_t type) { return type >= 0 && type <= static_cast<int32_t>(SettingType::Choice); }

SettingType TypeOf(const SettingField& field) { return static_cast<SettingType>(field.type); }

bool IsWholeKind(const SettingField& field) {
  const SettingType t = TypeOf(field);
  return t == SettingType::Int32 || t == SettingType::Flag || t == SettingType::Choice;
}

bool IsSwitch(const SettingField& field) {
  return TypeOf(field) == SettingType::Flag ||
         (TypeOf(field) == SettingType::Int32 && (field.flags & kSettingSwitch) != 0);
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A whole decimal number, optionally signed; false for anything else.
bool ParseWhole(std::string_view text, int64_t& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// A decimal number in plain or exponent notation; no "nan" or "inf".
bool ParseDecimal(std::string_view text, double& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const char first = text.front() == '-' && text.size() > 1 ? text[1] : text.front();
  if (!((first >= '0' && first <= '9') || first == '.')) return false;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  return error == std::errc() && end == text.data() + text.size();
}

std::string Number(double value) { return ShortestDecimal(value); }

// Out of line: GCC 12 warns falsely (-Wrestrict) on "\"" + std::string(view) inlined.
[[gnu::noinline]] std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back('"');
  quoted.append(text);
  quoted.push_back('"');
  return quoted;
}

}  // namespace

std::string ShortestDecimal(double value) {
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

std::string ShortestDecimal(float value) {
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

const char* SettingTypeName(int32_t type) {
  switch (type) {
    case static_cast<int32_t>(SettingType::Int32): return "int32";
    case static_cast<int32_t>(SettingType::Float32): return "float32";
    case static_cast<int32_t>(SettingType::Float64): return "float64";
    case static_cast<int32_t>(SettingType::Flag): return "flag";
    case static_cast<int32_t>(SettingType::Text): return "text";
    case static_cast<int32_t>(SettingType::Choice): return "choice";
    default: return "?";
  }
}

std::string DescriptionProblem(const SettingsDescription* d) {
  if (d == nullptr) return "there is no description";
  if (d->version < 1) return "description version " + std::to_string(d->version) + " is not known";
  if (d->fieldCount < 0 || d->fieldCount > kMaxSettingFields) {
    return "field count " + std::to_string(d->fieldCount) + " is outside 0.." + std::to_string(kMaxSettingFields);
  }
  if (d->fieldCount > 0 && d->fields == nullptr) return "the fields are missing";
  std::set<std::string> seen;
  for (int32_t i = 0; i < d->fieldCount; ++i) {
    const SettingField& f = d->fields[i];
    const std::string which = "field " + std::to_string(i + 1);
    if (!IsIdentifier(f.identifier)) return which + " has no usable identifier";
    const std::string name = "field \"" + std::string(f.identifier) + "\"";
    if (!seen.insert(f.identifier).second) return name + " appears twice";
    if (!KnownType(f.type)) return name + " has the unknown type " + std::to_string(f.type);
    if (TypeOf(f) == SettingType::Choice) {
      if (f.choiceCount < 1 || f.choiceCount > kMaxSettingChoices || f.choices == nullptr) {
        return name + " lists no usable choices";
      }
      std::set<int32_t> values;
      std::set<std::string> identifiers;
      for (int32_t k = 0; k < f.choiceCount; ++k) {
        if (!IsIdentifier(f.choices[k].identifier)) return name + " has a choice without an identifier";
        if (!values.insert(f.choices[k].value).second || !identifiers.insert(f.choices[k].identifier).second) {
          return name + " lists a choice twice";
        }
      }
    } else if (TypeOf(f) != SettingType::Text) {
      if (std::isnan(f.minimum) || std::isnan(f.maximum) || f.minimum > f.maximum) {
        return name + " has an empty range";
      }
    }
    if (TypeOf(f) != SettingType::Text) {
      SettingValue value;
      value.number = f.defaultValue;
      if (TypeOf(f) == SettingType::Float32) value.number = static_cast<float>(f.defaultValue);
      const std::string problem = SettingValueProblem(f, value);
      if (!problem.empty()) return name + ": the default " + problem;
    }
  }
  return "";
}

const SettingField* FindSettingField(const SettingsDescription& description, std::string_view identifier) {
  for (int32_t i = 0; i < description.fieldCount; ++i) {
    if (identifier == description.fields[i].identifier) return &description.fields[i];
  }
  return nullptr;
}

std::vector<SettingValue> DefaultSettingValues(const SettingsDescription& description) {
  std::vector<SettingValue> values(static_cast<size_t>(description.fieldCount));
  for (int32_t i = 0; i < description.fieldCount; ++i) {
    const SettingField& f = description.fields[i];
    SettingValue& v = values[static_cast<size_t>(i)];
    if (TypeOf(f) == SettingType::Text) {
      if (f.defaultText != nullptr) v.text = f.defaultText;
    } else if (TypeOf(f) == SettingType::Float32) {
      v.number = static_cast<float>(f.defaultValue);
    } else {
      v.number = f.defaultValue;
    }
  }
  return values;
}

size_t DecodeSettingValues(const SettingsDescription& description, const uint8_t* data, size_t size,
                           std::vector<SettingValue>& values) {
  values.clear();
  ConfigReader reader(data, size);
  for (int32_t i = 0; i < description.fieldCount; ++i) {
    SettingValue v;
    bool whole = false;
    switch (TypeOf(description.fields[i])) {
      case SettingType::Int32:
      case SettingType::Choice: {
        int32_t n = 0;
        whole = reader.Int32(n);
        v.number = n;
        break;
      }
      case SettingType::Float32: {
        float n = 0;
        whole = reader.Float32(n);
        v.number = n;
        break;
      }
      case SettingType::Float64:
        whole = reader.Float64(v.number);
        break;
      case SettingType::Flag: {
        uint8_t n = 0;
        whole = reader.Byte(n);
        v.number = n;
        break;
      }
      case SettingType::Text:
        whole = reader.Text(v.text);
        break;
    }
    if (!whole) break;
    values.push_back(std::move(v));
  }
  return size - reader.Remaining();
}

std::vector<uint8_t> EncodeSettingValues(const SettingsDescription& description,
                                         const std::vector<SettingValue>& values) {
  ConfigWriter writer;
  const size_t count = std::min(values.size(), static_cast<size_t>(std::max(description.fieldCount, 0)));
  for (size_t i = 0; i < count; ++i) {
    const SettingValue& v = values[i];
    // Numbers outside a field's storage are clamped to it; callers check
    // ranges first, so this only keeps the conversion defined.
    auto whole = [&v](double lo, double hi) {
      return std::isnan(v.number) ? 0.0 : std::clamp(v.number, lo, hi);
    };
    switch (TypeOf(description.fields[i])) {
      case SettingType::Int32:
      case SettingType::Choice:
        writer.Int32(static_cast<int32_t>(whole(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())));
        break;
      case SettingType::Float32:
        writer.Float32(static_cast<float>(v.number));
        break;
      case SettingType::Float64:
        writer.Float64(v.number);
        break;
      case SettingType::Flag:
        writer.Byte(static_cast<uint8_t>(whole(0, 255)));
        break;
      case SettingType::Text:
        writer.Text(v.text);
        break;
    }
  }
  return writer.Bytes();
}

std::string SettingValueProblem(const SettingField& field, const SettingValue& value) {
  const SettingType type = TypeOf(field);
  if (type == SettingType::Text) return "";
  const double n = value.number;
  if (!std::isfinite(n)) return "must be a finite number";
  if (type == SettingType::Choice) {
    for (int32_t k = 0; k < field.choiceCount; ++k) {
      if (n == field.choices[k].value) return "";
    }
    return "must be one of " + SettingRangeText(field);
  }
  if (IsWholeKind(field) && n != std::floor(n)) return "must be a whole number";
  if (type == SettingType::Int32 && (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max())) {
    return "must fit a 32-bit integer";
  }
  if (IsSwitch(field) && n != 0 && n != 1) return "must be 0 or 1";
  const bool lowOk = (field.flags & kSettingMinimumExclusive) ? n > field.minimum : n >= field.minimum;
  const bool highOk = (field.flags & kSettingMaximumExclusive) ? n < field.maximum : n <= field.maximum;
  if (!lowOk || !highOk) return "must be " + SettingRangeText(field);
  return "";
}

bool ParseSettingValue(const SettingField& field, std::string_view text, SettingValue& value, std::string& error) {
  const SettingType type = TypeOf(field);
  SettingValue parsed;
  if (type == SettingType::Text) {
    parsed.text = std::string(text);
    value = std::move(parsed);
    return true;
  }
  const std::string_view trimmed = Trim(text);
  const std::string lower = Lower(trimmed);
  bool read = false;
  if (type == SettingType::Choice) {
    for (int32_t k = 0; k < field.choiceCount && !read; ++k) {
      const SettingChoice& c = field.choices[k];
      if (lower == Lower(SettingText(c.identifier)) || (c.label != nullptr && *c.label != '\0' && lower == Lower(c.label))) {
        parsed.number = c.value;
        read = true;
      }
    }
  }
  if (!read && IsSwitch(field)) {
    static constexpr const char* kOn[] = {"true", "yes", "on"};
    static constexpr const char* kOff[] = {"false", "no", "off"};
    for (const char* word : kOn) read = read || lower == word;
    if (read) parsed.number = 1;
    for (const char* word : kOff) {
      if (lower == word) {
        parsed.number = 0;
        read = true;
      }
    }
  }
  if (!read) {
    if (IsWholeKind(field)) {
      int64_t whole = 0;
      read = ParseWhole(trimmed, whole) && whole >= std::numeric_limits<int32_t>::min() &&
             whole <= std::numeric_limits<int32_t>::max();
      parsed.number = static_cast<double>(whole);
    } else {
      double number = 0;
      read = ParseDecimal(trimmed, number);
      parsed.number = type == SettingType::Float32 ? static_cast<double>(static_cast<float>(number)) : number;
    }
  }
  if (!read) {
    const char* wanted = type == SettingType::Choice ? "one of the choices"
                         : IsSwitch(field)           ? "0 or 1 (or true/false, yes/no, on/off)"
                         : IsWholeKind(field)        ? "a whole number"
                                                     : "a decimal number";
    error = Quoted(text) + " is not " + wanted + "; allowed: " + SettingRangeText(field);
    return false;
  }
  const std::string problem = SettingValueProblem(field, parsed);
  if (!problem.empty()) {
    error = std::string(trimmed) + " is not allowed: " + problem;
    return false;
  }
  value = std::move(parsed);
  return true;
}

std::string FormatSettingValue(const SettingField& field, const SettingValue& value) {
  switch (TypeOf(field)) {
    case SettingType::Text:
      return value.text.value_or("");
    case SettingType::Choice:
      for (int32_t k = 0; k < field.choiceCount; ++k) {
        if (value.number == field.choices[k].value) return SettingText(field.choices[k].identifier);
      }
      return Number(value.number);
    case SettingType::Float32:
      return ShortestDecimal(static_cast<float>(value.number));
    default:
      return Number(value.number);
  }
}

std::string SettingRangeText(const SettingField& field) {
  const SettingType type = TypeOf(field);
  if (type == SettingType::Text) return "";
  if (type == SettingType::Choice) {
    std::string text;
    for (int32_t k = 0; k < field.choiceCount; ++k) {
      if (k > 0) text += ", ";
      text += std::to_string(field.choices[k].value) + " = " + SettingText(field.choices[k].identifier);
    }
    return text;
  }
  if (IsSwitch(field)) return "0 or 1";
  // The bounds of the storage itself go without saying.
  const bool whole = IsWholeKind(field);
  const bool low = std::isfinite(field.minimum) && !(whole && field.minimum <= std::numeric_limits<int32_t>::min());
  const bool high = std::isfinite(field.maximum) && !(whole && field.maximum >= std::numeric_limits<int32_t>::max());
  const bool lowOpen = (field.flags & kSettingMinimumExclusive) != 0;
  const bool highOpen = (field.flags & kSettingMaximumExclusive) != 0;
  if (low && high) {
    if (!lowOpen && !highOpen) return Number(field.minimum) + " ... " + Number(field.maximum);
    return std::string(lowOpen ? "above " : "at least ") + Number(field.minimum) +
           (highOpen ? " and below " : " and at most ") + Number(field.maximum);
  }
  if (low) return std::string(lowOpen ? "above " : "at least ") + Number(field.minimum);
  if (high) return std::string(highOpen ? "below " : "at most ") + Number(field.maximum);
  return "any";
}

}  // namespace vorlan
