#include "vorlan/settings_values.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vorlan {
namespace {

constexpr SettingChoice kModes[] = {{0, "fidelity", "Fidelity"}, {1, "size", "Size"}, {2, "least_error", "Least error"}};

// One field of every kind, the way a filter lists them.
constexpr SettingField kFields[] = {
    {"mode", "Mode", int32_t(SettingType::Choice), 0, 2, nullptr, 0, 0, 3, kModes, "", "how the partition grows"},
    {"maxRanges", "Max ranges", int32_t(SettingType::Int32), 0, 100, nullptr, 1, 2147483647, 0, nullptr, "ranges", ""},
    {"maxScale", "Max scale", int32_t(SettingType::Float32), kSettingMinimumExclusive, 1.0, nullptr, 0, HUGE_VAL, 0,
     nullptr, "", ""},
    {"weight", "R", int32_t(SettingType::Float64), 0, 0.299, nullptr, -HUGE_VAL, HUGE_VAL, 0, nullptr, "", ""},
    {"stretch", "Stretch", int32_t(SettingType::Flag), 0, 1, nullptr, 0, 1, 0, nullptr, "", ""},
    {"feedback", "Feedback", int32_t(SettingType::Int32), kSettingSwitch, 1, nullptr, 0, 1, 0, nullptr, "", ""},
    {"path", "File", int32_t(SettingType::Text), kSettingPath, 0, nullptr, 0, 0, 0, nullptr, "", ""},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 7, kFields};

const SettingField& Field(const char* id) {
  const SettingField* f = FindSettingField(kDescription, id);
  EXPECT_NE(f, nullptr) << id;
  return *f;
}

TEST(SettingsValues, StreamsRoundTripAndShortStreamsHoldTheirLeadingFields) {
  ASSERT_EQ(DescriptionProblem(&kDescription), "");
  std::vector<SettingValue> values = DefaultSettingValues(kDescription);
  ASSERT_EQ(values.size(), 7u);
  EXPECT_EQ(values[2].number, 1.0);
  EXPECT_FALSE(values[6].text.has_value());
  values[6].text = "a.bmp";
  const std::vector<uint8_t> bytes = EncodeSettingValues(kDescription, values);
  ASSERT_EQ(bytes.size(), 4u + 4 + 4 + 8 + 1 + 4 + 4 + 5);

  std::vector<SettingValue> back;
  EXPECT_EQ(DecodeSettingValues(kDescription, bytes.data(), bytes.size(), back), bytes.size());
  EXPECT_EQ(back, values);

  // An older writer that stopped after the double; a cut-off text is not a field.
  EXPECT_EQ(DecodeSettingValues(kDescription, bytes.data(), 20, back), 20u);
  EXPECT_EQ(back.size(), 4u);
  EXPECT_EQ(DecodeSettingValues(kDescription, bytes.data(), bytes.size() - 1, back), bytes.size() - 9);
  EXPECT_EQ(back.size(), 6u);
  EXPECT_EQ(EncodeSettingValues(kDescription, back), std::vector<uint8_t>(bytes.begin(), bytes.end() - 9));
}

TEST(SettingsValues, TypedTextIsReadCheckedAndWrittenBack) {
  SettingValue v;
  std::string error;
  for (const char* text : {"least_error", "Least ERROR", "2", " 2 "}) {
    ASSERT_TRUE(ParseSettingValue(Field("mode"), text, v, error)) << text << ": " << error;
    EXPECT_EQ(v.number, 2);
  }
  EXPECT_EQ(FormatSettingValue(Field("mode"), v), "least_error");
  EXPECT_FALSE(ParseSettingValue(Field("mode"), "3", v, error));
  EXPECT_NE(error.find("0 = fidelity, 1 = size, 2 = least_error"), std::string::npos) << error;

  EXPECT_TRUE(ParseSettingValue(Field("maxRanges"), "2147483647", v, error));
  EXPECT_FALSE(ParseSettingValue(Field("maxRanges"), "2147483648", v, error));
  EXPECT_FALSE(ParseSettingValue(Field("maxRanges"), "0", v, error));
  EXPECT_NE(error.find("at least 1"), std::string::npos) << error;
  EXPECT_FALSE(ParseSettingValue(Field("maxRanges"), "12.5", v, error));
  EXPECT_FALSE(ParseSettingValue(Field("maxRanges"), "", v, error));
  EXPECT_NE(error.find("whole number"), std::string::npos) << error;

  // Singles are rounded as the stream stores them, and written shortest.
  ASSERT_TRUE(ParseSettingValue(Field("maxScale"), "0.95", v, error));
  EXPECT_EQ(v.number, static_cast<double>(0.95f));
  EXPECT_EQ(FormatSettingValue(Field("maxScale"), v), "0.95");
  EXPECT_FALSE(ParseSettingValue(Field("maxScale"), "0", v, error));
  EXPECT_NE(error.find("above 0"), std::string::npos) << error;
  EXPECT_FALSE(ParseSettingValue(Field("maxScale"), "1e39", v, error));  // infinite as a single
  for (const char* bad : {"nan", "inf", "-inf", "1x", "0x10"}) {
    EXPECT_FALSE(ParseSettingValue(Field("weight"), bad, v, error)) << bad;
  }
  ASSERT_TRUE(ParseSettingValue(Field("weight"), "-1.25e-3", v, error));
  EXPECT_EQ(FormatSettingValue(Field("weight"), v), "-0.00125");

  for (const char* on : {"1", "on", "TRUE", "yes"}) {
    ASSERT_TRUE(ParseSettingValue(Field("feedback"), on, v, error)) << on;
    EXPECT_EQ(v.number, 1);
  }
  ASSERT_TRUE(ParseSettingValue(Field("stretch"), "off", v, error));
  EXPECT_EQ(v.number, 0);
  EXPECT_FALSE(ParseSettingValue(Field("feedback"), "2", v, error));

  ASSERT_TRUE(ParseSettingValue(Field("path"), " with spaces.bmp", v, error));
  EXPECT_EQ(v.text, " with spaces.bmp");
}

TEST(SettingsValues, UnusableDescriptionsAreNamed) {
  EXPECT_NE(DescriptionProblem(nullptr), "");
  SettingField twice[] = {kFields[1], kFields[1]};
  const SettingsDescription duplicate{1, 2, twice};
  EXPECT_NE(DescriptionProblem(&duplicate).find("appears twice"), std::string::npos);
  SettingField badDefault = kFields[1];
  badDefault.defaultValue = 0;
  const SettingsDescription outside{1, 1, &badDefault};
  EXPECT_NE(DescriptionProblem(&outside).find("default"), std::string::npos);
  SettingField noChoices = kFields[0];
  noChoices.choiceCount = 0;
  const SettingsDescription empty{1, 1, &noChoices};
  EXPECT_NE(DescriptionProblem(&empty), "");
  SettingField unnamed = kFields[3];
  unnamed.identifier = "max ranges";
  const SettingsDescription spaced{1, 1, &unnamed};
  EXPECT_NE(DescriptionProblem(&spaced), "");
  const SettingsDescription tooMany{1, kMaxSettingFields + 1, kFields};
  EXPECT_NE(DescriptionProblem(&tooMany), "");
}

}  // namespace
}  // namespace vorlan
