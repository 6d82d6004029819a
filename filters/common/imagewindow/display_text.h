// Texts of the display windows: titles that fit the 255 characters a window
// title holds, and values that fit the 255 characters of the text display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlan {

// Longest title or shown value, in bytes (UTF-8).
inline constexpr size_t kMaxWindowText = 255;

// prefix + caption + suffix. When that is longer than `limit` bytes the
// caption is cut at a UTF-8 character boundary and ends in "…", so the whole
// stays within `limit` and the suffix is always complete.
std::string FitCaptionTitle(std::string_view prefix, std::string_view caption, std::string_view suffix,
                            size_t limit = kMaxWindowText);

// "[caption] [W x H] - <display name>", or "[W x H] - <display name>"
// without a caption (an empty caption counts as none).
std::string ImageDisplayTitle(const std::optional<std::string>& caption, int32_t width, int32_t height,
                              std::string_view displayName);

// The text the text display's window shows for a value: a real number whose
// six-decimal form is longer than kMaxWindowText is shown in "%g" form;
// everything else is shown whole.
std::string FitValueText(const std::string& text, std::string_view typeLabel);

}  // namespace vorlan
