// The two fonts of the graph: node captions in the application's default
// font, pin names in "Arial" at 14 pixels (a metric-compatible face stands
// in where Arial is not installed). The layout measures with the same fonts
// the view draws with.
#pragma once

#include <QFont>
#include <string_view>

#include "core/layout.h"

namespace vorlan::gui {

QFont CaptionFont();
QFont PinFont();

// Measures with QFontMetrics: the advance width of the whole text and the
// font's line height. [ui thread]
class FontTextMeasure final : public host::TextMeasure {
 public:
  FontTextMeasure();
  host::Size Measure(std::string_view text, host::FontRole role) const override;

 private:
  QFont caption_;
  QFont pin_;
};

}  // namespace vorlan::gui
