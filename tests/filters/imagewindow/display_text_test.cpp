#include "display_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "view_geometry.h"

namespace vorlan {
namespace {

// True when `s` is well-formed UTF-8 (no sequence cut short).
bool ValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const size_t n = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

TEST(DisplayText, ImageTitlesWithAndWithoutCaption) {
  EXPECT_EQ(ImageDisplayTitle(std::nullopt, 512, 256, "RGB Display"), "[512 x 256] - RGB Display");
  EXPECT_EQ(ImageDisplayTitle(std::string(), 1, 1, "Mono Display"), "[1 x 1] - Mono Display");
  EXPECT_EQ(ImageDisplayTitle(std::string("camera"), 512, 512, "Mono Display"),
            "[camera] [512 x 512] - Mono Display");
}

TEST(DisplayText, LongCaptionsAreCutToTheTitleLimitWithAnEllipsis) {
  const std::string suffix = "] [512 x 512] - RGB Display";
  // A caption that just fits is kept whole.
  const std::string fits(kMaxWindowText - 1 - suffix.size(), 'c');
  EXPECT_EQ(ImageDisplayTitle(fits, 512, 512, "RGB Display"), "[" + fits + suffix);

  const std::string title = ImageDisplayTitle(std::string(255, 'x'), 512, 512, "RGB Display");
  EXPECT_EQ(title.size(), kMaxWindowText);
  EXPECT_EQ(title.substr(title.size() - suffix.size() - 3), "\xE2\x80\xA6" + suffix);

  // Two-byte characters: the cut never splits one.
  std::string accents;
  for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";
  for (size_t limit = 40; limit < 48; ++limit) {
    const std::string cut = FitCaptionTitle("[", accents, "] - Text Display", limit);
    EXPECT_LE(cut.size(), limit);
    EXPECT_GE(cut.size(), limit - 1);
    EXPECT_TRUE(ValidUtf8(cut)) << "limit " << limit;
    EXPECT_EQ(cut.substr(cut.size() - 16 - 3), "\xE2\x80\xA6] - Text Display");
  }
}

TEST(DisplayText, HugeRealsUseTheShortForm) {
  EXPECT_EQ(FitValueText("28.130000", "Float"), "28.130000");
  char wide[400];
  std::snprintf(wide, sizeof wide, "%f", -1e300);
  EXPECT_EQ(FitValueText(wide, "Float"), "-1e+300");
  // Texts are never changed, however long.
  const std::string text(400, 't');
  EXPECT_EQ(FitValueText(text, "String"), text);
}

TEST(ViewGeometry, ScrollStaysInsideTheImage) {
  EXPECT_EQ(ClampScroll(0, 100, 300), 0);
  EXPECT_EQ(ClampScroll(150, 100, 300), 150);
  EXPECT_EQ(ClampScroll(250, 100, 300), 200);  // never past the far edge
  EXPECT_EQ(ClampScroll(-20, 100, 300), 0);
  EXPECT_EQ(ClampScroll(40, 400, 300), 0);  // smaller image: stays at 0
  EXPECT_EQ(ClampScroll(0, 300, 300), 0);

  EXPECT_EQ(FitClient(512, 1000), 512);
  EXPECT_EQ(FitClient(2000, 1000), 1000);
  EXPECT_EQ(FitClient(512, -5), 1);
}

}  // namespace
}  // namespace vorlan
