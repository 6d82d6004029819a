#include "value_display_filter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "support/filter_harness.h"
#include "vorlan/config_stream.h"

namespace vorlan {
namespace {

// Counts the window calls a display would receive.
class RecordingDisplay : public ValueDisplayFilter {
 public:
  int hides = 0;
  int shows = 0;
  std::string shownText;

 protected:
  void HideDisplay() override { ++hides; }
  void ShowDisplay() override {
    ++shows;
    shownText = Text().value_or("");
  }
};

struct Display {
  RecordingDisplay filter;
  test::FakeOutput source;
  Display() {
    filter.Initialize();
    test::Connect(filter, ValueDisplayFilter::kInPin, source.pin());
  }
  Result Show(PacketType type, void* data, int32_t length) {
    source.Publish(MakePacket(length, type, data));
    filter.Reset();
    return filter.Process();
  }
};

void SetCaption(ValueDisplayFilter& f, const char* caption) {
  const char* cell = caption;
  ASSERT_EQ(f.ApplyConfig(MakePacket(sizeof cell, PacketType::Config, &cell), ConfigForm::Native), Ok);
}

TEST(TextDisplay, ShowsEachValueTypeWithItsLabel) {
  Display d;
  ASSERT_EQ(d.filter.pinCount, 3);
  EXPECT_STREQ(d.filter.pins[2]->name, "In");

  int32_t minusFive = -5;
  ASSERT_EQ(d.Show(PacketType::Integer, &minusFive, 4), Ok);
  EXPECT_EQ(d.filter.Text(), "-5");
  EXPECT_EQ(d.filter.TypeLabel(), "Integer");
  EXPECT_EQ(d.filter.state, FilterState::Done);

  double psnr = 28.13;
  ASSERT_EQ(d.Show(PacketType::Float, &psnr, 8), Ok);
  EXPECT_EQ(d.filter.Text(), "28.130000");
  EXPECT_EQ(d.filter.TypeLabel(), "Float");
  EXPECT_EQ(d.filter.shownText, "28.130000");

  char abc[] = "abc";
  ASSERT_EQ(d.Show(PacketType::String, abc, 4), Ok);
  EXPECT_EQ(d.filter.Text(), "abc");
  EXPECT_EQ(d.filter.TypeLabel(), "String");
  EXPECT_EQ(d.filter.hides, 3);
  EXPECT_EQ(d.filter.shows, 3);

  // Numbers whose text is longer than any fixed buffer are shown whole.
  double huge = -1e300;
  ASSERT_EQ(d.Show(PacketType::Float, &huge, 8), Ok);
  ASSERT_EQ(d.filter.Text()->size(), 1u + 301 + 7);
  EXPECT_EQ(d.filter.Text()->substr(0, 3), "-10");
  EXPECT_EQ(d.filter.Text()->substr(d.filter.Text()->size() - 7), ".000000");
}

TEST(TextDisplay, UnconnectedInputShowsNothingAndSucceeds) {
  RecordingDisplay f;
  f.Initialize();
  test::ProgressRecorder progress;
  progress.Attach(f);
  EXPECT_EQ(f.Process(), Ok);
  EXPECT_EQ(progress.Values(), (std::vector<float>{0.0f, 1.0f}));
  EXPECT_FALSE(f.Text().has_value());
  EXPECT_EQ(f.TypeLabel(), "");
  EXPECT_EQ(f.shows, 1);
}

TEST(TextDisplay, OtherPacketTypesFailAndKeepTheLastValue) {
  Display d;
  int32_t seven = 7;
  ASSERT_EQ(d.Show(PacketType::Integer, &seven, 4), Ok);
  double samples[1] = {1};
  Plane plane{1, 1, 0, 1, 8, samples};
  EXPECT_EQ(d.Show(PacketType::Plane, &plane, sizeof plane), Failed);
  EXPECT_EQ(d.filter.state, FilterState::Stopped);
  EXPECT_NE(std::string(d.filter.FailureReason()).find("type 2"), std::string::npos);
  EXPECT_EQ(d.filter.Text(), "7");
  EXPECT_EQ(d.filter.shows, 1) << "the window stays hidden";
  EXPECT_EQ(d.Show(PacketType::Float, nullptr, 8), Failed) << "no payload";

  d.source.Withdraw();
  d.filter.Reset();
  EXPECT_EQ(d.filter.Process(), InputNotReady);
  EXPECT_EQ(d.filter.state, FilterState::Running);
}

TEST(TextDisplay, CaptionSettingsAndTitle) {
  RecordingDisplay f;
  EXPECT_EQ(f.WindowTitle(), "Text Display");
  Packet none = f.GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(none.length, 4);
  EXPECT_EQ(std::memcmp(none.data, "\xff\xff\xff\xff", 4), 0);

  SetCaption(f, "PSNR");
  EXPECT_EQ(f.WindowTitle(), "[PSNR] - Text Display");
  Packet serialized = f.GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(serialized.length, 8);
  EXPECT_EQ(std::memcmp(serialized.data, "\x04\0\0\0PSNR", 8), 0);

  // The Native cell points at the filter's own caption; applying it back
  // copies before it replaces.
  Packet native = f.GetConfig(ConfigForm::Native);
  ASSERT_EQ(native.length, static_cast<int32_t>(sizeof(char*)));
  const char* cell = nullptr;
  std::memcpy(&cell, native.data, sizeof cell);
  EXPECT_EQ(cell, f.Caption()->c_str());
  ASSERT_EQ(f.ApplyConfig(native, ConfigForm::Native), Ok);
  EXPECT_EQ(f.Caption(), "PSNR");

  RecordingDisplay loaded;
  ASSERT_EQ(loaded.ApplyConfig(serialized, ConfigForm::Serialized), Ok);
  EXPECT_EQ(loaded.Caption(), "PSNR");
  ASSERT_EQ(loaded.ApplyConfig(none, ConfigForm::Serialized), Ok);
  EXPECT_FALSE(loaded.Caption().has_value());
  // A text longer than the bytes clears the caption.
  SetCaption(loaded, "x");
  ASSERT_EQ(loaded.ApplyConfig(MakePacket(6, PacketType::Config, serialized.data), ConfigForm::Serialized), Ok);
  EXPECT_FALSE(loaded.Caption().has_value());
  SetCaption(loaded, nullptr);
  EXPECT_EQ(loaded.WindowTitle(), "Text Display");
  EXPECT_EQ(loaded.ApplyConfig(MakePacket(4, PacketType::Config, nullptr), ConfigForm::Serialized), Failed);

  // Settings travel on "Cfg out" after a run.
  f.Initialize();
  ASSERT_EQ(f.Process(), Ok);
  ASSERT_EQ(f.pins[1]->ready, 1);
  EXPECT_EQ(std::memcmp(f.pins[1]->packet.data, "\x04\0\0\0PSNR", 8), 0);

  std::free(none.data);
  std::free(serialized.data);
  std::free(native.data);
}

}  // namespace
}  // namespace vorlan
