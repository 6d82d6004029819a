// Node layout: the box, caption position and pin squares of a node,
// computed from its position, its caption, its pins' names and kinds.
//
// Text is measured through TextMeasure so the layout runs without a display:
// the editor measures with the fonts it draws with, headless runs and tests
// use FixedTextMeasure. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "vorlan/contract.h"

namespace vorlan::host {

struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  bool operator==(const Rect&) const = default;
};

struct Size {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const Size&) const = default;
};

enum class FontRole {
  Caption,  // the application's default font
  Pin,      // "Arial", 14 pixels
};

// Width and height in pixels of the whole text drawn in the font of `role`.
class TextMeasure {
 public:
  virtual ~TextMeasure() = default;
  virtual Size Measure(std::string_view text, FontRole role) const = 0;
};

// A deterministic metric: every code point (UTF-8) is `advance` pixels wide,
// every line `height` pixels high, per role.
class FixedTextMeasure final : public TextMeasure {
 public:
  Size Measure(std::string_view text, FontRole role) const override;
  static constexpr int32_t kCaptionAdvance = 8;
  static constexpr int32_t kCaptionHeight = 16;
  static constexpr int32_t kPinAdvance = 7;
  static constexpr int32_t kPinHeight = 16;
};

struct LayoutConstants {
  static constexpr int32_t kHorizontalLabelGap = 4;
  static constexpr int32_t kVerticalLabelGap = 4;
  static constexpr int32_t kHorizontalPadding = 10;
  static constexpr int32_t kVerticalPadding = 10;
  static constexpr int32_t kPinSquare = 7;
};

struct NodeGeometry {
  Rect box;
  int32_t captionX = 0;
  int32_t captionY = 0;
  std::vector<Rect> pinRects;  // one per pin, in the filter's pin order
};

// Lays out a node at (x, y) with `caption` over `pinCount` pins. False when
// memory for the pin rectangles runs out (the geometry is then unchanged).
bool LayoutNode(int32_t x, int32_t y, std::string_view caption, const Pin* const* pins, int32_t pinCount,
                const TextMeasure& measure, NodeGeometry& geometry);

// Number of code points in UTF-8 text (stray bytes count one each).
int32_t CountCodePoints(std::string_view text);

}  // namespace vorlan::host
