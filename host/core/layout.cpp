#include "core/layout.h"

#include <algorithm>
#include <new>

namespace vorlan::host {

int32_t CountCodePoints(std::string_view text) {
  int32_t n = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

Size FixedTextMeasure::Measure(std::string_view text, FontRole role) const {
  const int32_t points = CountCodePoints(text);
  if (role == FontRole::Caption) return Size{points * kCaptionAdvance, kCaptionHeight};
  return Size{points * kPinAdvance, kPinHeight};
}

bool LayoutNode(int32_t x, int32_t y, std::string_view caption, const Pin* const* pins, int32_t pinCount,
                const TextMeasure& measure, NodeGeometry& geometry) {
  using C = LayoutConstants;
  int32_t inputHeightSum = 0, inputWidth = 0, inputCount = 0;
  int32_t outputHeightSum = 0, outputWidth = 0, outputCount = 0;
  int32_t configWidthSum = 0, configHeight = 0, configCount = 0;
  for (int32_t i = 0; i < pinCount; ++i) {
    const Pin* pin = pins[i];
    const Size s = measure.Measure(pin != nullptr && pin->name != nullptr ? pin->name : "", FontRole::Pin);
    const int32_t kind = pin != nullptr ? pin->kind : 0;
    if (kind == static_cast<int32_t>(PinKind::Input)) {
      inputHeightSum += std::max(s.height, C::kPinSquare) + C::kVerticalLabelGap;
      inputWidth = std::max(inputWidth, s.width);
      ++inputCount;
    } else if (kind == static_cast<int32_t>(PinKind::Output)) {
      outputHeightSum += std::max(s.height, C::kPinSquare) + C::kVerticalLabelGap;
      outputWidth = std::max(outputWidth, s.width);
      ++outputCount;
    } else if (kind == static_cast<int32_t>(PinKind::ConfigIn) || kind == static_cast<int32_t>(PinKind::ConfigOut)) {
      configWidthSum += std::max(s.width, C::kPinSquare) + C::kHorizontalLabelGap;
      configHeight = std::max(configHeight, s.height);
      ++configCount;
    }
  }
  const Size cs = measure.Measure(caption, FontRole::Caption);

  NodeGeometry g;
  g.box.left = x;
  g.box.top = y;
  g.box.right = x + 2 * C::kHorizontalPadding + std::max(configWidthSum, cs.width) + outputWidth + inputWidth;
  g.box.bottom =
      y + 2 * C::kVerticalPadding + std::max({cs.height, inputHeightSum, outputHeightSum}) + configHeight;
  const int32_t width = g.box.right - g.box.left;
  const int32_t height = g.box.bottom - g.box.top;
  // The configuration pins' names are drawn inside the box above their
  // squares. The caption and the data pins share the band above that row,
  // so the last data pin's name never runs into "Cfg in" or "Cfg out".
  const int32_t configRow = configCount > 0 ? configHeight + C::kVerticalLabelGap : 0;
  const int32_t band = height - configRow;
  g.captionX = (g.box.left + g.box.right + inputWidth - outputWidth) / 2 - cs.width / 2;
  g.captionY = (g.box.top + g.box.top + band) / 2 - cs.height / 2;

  int32_t inputStart = inputCount > 0 ? band / (2 * inputCount) - 3 : 0;
  int32_t outputStart = outputCount > 0 ? band / (2 * outputCount) - 3 : 0;
  int32_t configStart = configCount > 0 ? width / (2 * configCount) - 3 : 0;

  try {
    g.pinRects.resize(static_cast<size_t>(std::max(pinCount, 0)));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int32_t i = 0; i < pinCount; ++i) {
    Rect& r = g.pinRects[static_cast<size_t>(i)];
    const int32_t kind = pins[i] != nullptr ? pins[i]->kind : 0;
    if (kind == static_cast<int32_t>(PinKind::Input)) {
      r.left = g.box.left - C::kPinSquare;
      r.top = g.box.top + inputStart;
      inputStart += band / inputCount;
    } else if (kind == static_cast<int32_t>(PinKind::Output)) {
      r.left = g.box.right;
      r.top = g.box.top + outputStart;
      outputStart += band / outputCount;
    } else if (kind == static_cast<int32_t>(PinKind::ConfigIn) || kind == static_cast<int32_t>(PinKind::ConfigOut)) {
      r.top = g.box.bottom;
      r.left = g.box.left + configStart;
      configStart += width / configCount;
    } else {
      // A pin of unknown kind gets a square at the box's corner so every
      // pin index still has a rectangle.
      r.left = g.box.left;
      r.top = g.box.top;
    }
    r.right = r.left + C::kPinSquare;
    r.bottom = r.top + C::kPinSquare;
  }
  geometry = std::move(g);
  return true;
}

}  // namespace vorlan::host
