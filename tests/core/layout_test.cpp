#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/layout.h"

namespace vorlan::host::test {
namespace {

// Pins built by the test; names and kinds only.
class Pins {
 public:
  void Add(const char* name, PinKind kind) {
    Pin pin{};
    pin.kind = static_cast<int32_t>(kind);
    names_.emplace_back(name);
    pins_.push_back(pin);
  }
  std::vector<const Pin*> Get() {
    ptrs_.clear();
    for (size_t i = 0; i < pins_.size(); ++i) {
      pins_[i].name = names_[i].data();
      ptrs_.push_back(&pins_[i]);
    }
    return ptrs_;
  }

 private:
  std::vector<std::string> names_;
  std::vector<Pin> pins_;
  std::vector<const Pin*> ptrs_;
};

// Width = 10 px per byte for both fonts; caption 20 px high, pin names 14.
class TenPixelMeasure final : public TextMeasure {
 public:
  Size Measure(std::string_view text, FontRole role) const override {
    return Size{static_cast<int32_t>(text.size()) * 10, role == FontRole::Caption ? 20 : 14};
  }
};

TEST(Layout, OneInputThreeOutputsTwoConfigPins) {
  Pins pins;
  pins.Add("Cfg in", PinKind::ConfigIn);
  pins.Add("Cfg out", PinKind::ConfigOut);
  pins.Add("In", PinKind::Input);
  pins.Add("R", PinKind::Output);
  pins.Add("G", PinKind::Output);
  pins.Add("B", PinKind::Output);
  const auto p = pins.Get();
  NodeGeometry g;
  ASSERT_TRUE(LayoutNode(100, 50, "Bmp", p.data(), static_cast<int32_t>(p.size()), TenPixelMeasure(), g));
  // config width sum = (60 + 4) + (70 + 4) = 138 > caption 30; input 20, output 10.
  EXPECT_EQ(g.box, (Rect{100, 50, 100 + 20 + 138 + 10 + 20, 50 + 20 + 54 + 14}));
  // heights: inputs 18, outputs 3 x 18 = 54.
  const int32_t h = g.box.bottom - g.box.top;  // 88
  const int32_t w = g.box.right - g.box.left;  // 188
  // The data pins and the caption share the band above the configuration
  // names' row (14 px high, 4 px gap).
  const int32_t band = h - 18;
  EXPECT_EQ(g.captionX, (100 + 288 + 20 - 10) / 2 - 15);
  EXPECT_EQ(g.captionY, (50 + 50 + band) / 2 - 10);
  // The input sits centred on the left edge of the band, outside the box.
  EXPECT_EQ(g.pinRects[2], (Rect{93, 50 + band / 2 - 3, 100, 50 + band / 2 + 4}));
  // Outputs in three equal slots on the right edge.
  for (int i = 0; i < 3; ++i) {
    const int32_t top = 50 + band / 6 - 3 + i * (band / 3);
    EXPECT_EQ(g.pinRects[3 + static_cast<size_t>(i)], (Rect{288, top, 295, top + 7})) << "output " << i;
  }
  // The last output's name (14 px, centred on its square) ends above the
  // row where "Cfg in" and "Cfg out" are written.
  const Rect& last = g.pinRects[5];
  EXPECT_LE((last.top + last.bottom) / 2 + 7, g.box.bottom - 4 - 14);
  // "Cfg in" and "Cfg out" side by side under the box in two equal slots.
  EXPECT_EQ(g.pinRects[0], (Rect{100 + w / 4 - 3, 138, 100 + w / 4 + 4, 145}));
  EXPECT_EQ(g.pinRects[1], (Rect{100 + w / 4 - 3 + w / 2, 138, 100 + w / 4 + 4 + w / 2, 145}));
}

TEST(Layout, WidthFromCaptionOrConfigSlotsAndMinimumHeight) {
  Pins pins;
  pins.Add("C", PinKind::ConfigIn);
  const auto p = pins.Get();
  NodeGeometry g;
  const std::string caption(30, 'x');
  ASSERT_TRUE(LayoutNode(0, 0, caption, p.data(), 1, TenPixelMeasure(), g));
  EXPECT_EQ(g.box.right, 20 + 300);
  // Never lower than the padding, the caption and the config name height.
  EXPECT_EQ(g.box.bottom, 20 + 20 + 14);

  Pins many;
  for (int i = 0; i < 6; ++i) many.Add("Config", i % 2 ? PinKind::ConfigOut : PinKind::ConfigIn);
  const auto m = many.Get();
  ASSERT_TRUE(LayoutNode(0, 0, "x", m.data(), 6, TenPixelMeasure(), g));
  EXPECT_EQ(g.box.right, 20 + 6 * 64);
}

TEST(Layout, TinyNamesUseThePinSquareAsSlotSize) {
  Pins pins;
  pins.Add("", PinKind::Input);
  pins.Add("", PinKind::Input);
  pins.Add("", PinKind::ConfigIn);
  const auto p = pins.Get();
  NodeGeometry g;
  ASSERT_TRUE(LayoutNode(0, 0, "", p.data(), 3, TenPixelMeasure(), g));
  EXPECT_EQ(g.box.right, 20 + 11);          // config slot max(0, 7) + 4
  EXPECT_EQ(g.box.bottom, 20 + 36 + 14);  // inputs 2 x (max(14, 7) + 4) = 36 > caption 20
  EXPECT_EQ(g.pinRects[0].top, (g.box.bottom - g.box.top - 18) / 4 - 3);
}

TEST(Layout, FixedMeasureCountsCodePoints) {
  const FixedTextMeasure m;
  EXPECT_EQ(m.Measure("ab", FontRole::Pin).width, 2 * FixedTextMeasure::kPinAdvance);
  EXPECT_EQ(m.Measure("\xC3\xA9t\xC3\xA9", FontRole::Caption).width, 3 * FixedTextMeasure::kCaptionAdvance);
}

}  // namespace
}  // namespace vorlan::host::test
