// Numbers in the settings dialogs, shown and read in the C locale whatever
// the user's locale, so a graph edited anywhere holds the same values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorlan {

// "%f": six decimals ("0.950000"); "nan" and "inf" as printf writes them.
std::string FormatFixed(double value);

// The lenient conversions of the dialogs, reading at most `maxChars`
// characters of `text`: leading blanks are skipped, the longest number
// prefix is taken and text without one gives 0. Integers saturate at the
// int32 range.
double ParseReal(const std::string& text, size_t maxChars);
int32_t ParseInt32(const std::string& text, size_t maxChars);

}  // namespace vorlan
