#include "dialog_text.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>
#include <limits>

namespace vorlan {
namespace {

locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

}  // namespace

std::string FormatFixed(double value) {
  char buffer[400];  // the longest "%f" of a finite double is 316 characters
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  if (ec != std::errc()) return "0.000000";
  return std::string(buffer, end);
}

double ParseReal(const std::string& text, size_t maxChars) {
  return strtod_l(text.substr(0, maxChars).c_str(), nullptr, CLocale());
}

int32_t ParseInt32(const std::string& text, size_t maxChars) {
  const long long value = strtoll_l(text.substr(0, maxChars).c_str(), nullptr, 10, CLocale());
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace vorlan
