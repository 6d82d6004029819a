#include "display_text.h"

#include <cstdio>
#include <cstdlib>

namespace vorlan {

namespace {

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026, three bytes

// The longest prefix of `text` of at most `bytes` bytes that does not end
// inside a UTF-8 sequence.
std::string_view CutAtCharacter(std::string_view text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  // Back off continuation bytes (10xxxxxx) so the cut lands on a lead byte.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

std::string FitCaptionTitle(std::string_view prefix, std::string_view caption, std::string_view suffix,
                            size_t limit) {
  const size_t fixed = prefix.size() + suffix.size();
  std::string title(prefix);
  if (fixed + caption.size() <= limit) {
    title += caption;
  } else if (fixed + kEllipsis.size() <= limit) {
    title += CutAtCharacter(caption, limit - fixed - kEllipsis.size());
    title += kEllipsis;
  }
  title += suffix;
  return title;
}

std::string ImageDisplayTitle(const std::optional<std::string>& caption, int32_t width, int32_t height,
                              std::string_view displayName) {
  char size[48];
  std::snprintf(size, sizeof size, "[%i x %i] - ", static_cast<int>(width), static_cast<int>(height));
  std::string suffix = size;
  suffix += displayName;
  if (!caption || caption->empty()) return suffix;
  return FitCaptionTitle("[", *caption, "] " + suffix);
}

std::string FitValueText(const std::string& text, std::string_view typeLabel) {
  if (text.size() <= kMaxWindowText || typeLabel != "Float") return text;
  // The six-decimal form holds the value exactly, so it reads back whole.
  const double value = std::strtod(text.c_str(), nullptr);
  char shorter[64];
  std::snprintf(shorter, sizeof shorter, "%g", value);
  return shorter;
}

}  // namespace vorlan
