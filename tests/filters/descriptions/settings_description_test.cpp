// Each built plug-in's settings description must say what the filter does:
// the defaults it lists are the stream a fresh filter writes, and every value
// it allows is one the filter's own run-start check accepts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "description_support.h"
#include "vorlan/pin_types.h"
#include "vorlan/settings_values.h"

namespace vorlan {

// Failure messages show values as a user types them.
void PrintTo(const SettingValue& value, std::ostream* out) {
  if (value.text) *out << '"' << *value.text << '"';
  else *out << value.number;
}

namespace {

using descriptions::Instance;
using host::FilterPrototype;
using host::Registry;

// Fields a filter cannot run without at its defaults (a file stream has no
// file yet): set first, before each value is tried.
using FieldTexts = std::vector<std::pair<const char*, const char*>>;
const std::map<int32_t, FieldTexts> kPrerequisites = {
    {10, {{"path", "input.bin"}}},   // File Input Stream
    {20, {{"path", "output.bin"}}},  // File Output Stream
};

// Fields whose allowed values depend on another field: their edge values are
// tried with the other field set so that the combination is possible.
const std::map<std::pair<int32_t, std::string>, FieldTexts> kCompanions = {
    {{130, "maxRangeFactor"}, {{"minRangeFactor", "2"}}},  // not below minRangeFactor
    {{130, "searchMode"}, {{"mode", "least_error"}}},      // rich pool and attractor search keep best fits
    {{1030, "bits"}, {{"format", "png"}}},                 // 16 bits only for PNG and TIFF
};

void SetTexts(const SettingsDescription& d, const FieldTexts& texts, std::vector<SettingValue>& values) {
  for (const auto& [field, text] : texts) {
    const SettingField* f = FindSettingField(d, field);
    ASSERT_NE(f, nullptr) << field;
    std::string error;
    ASSERT_TRUE(ParseSettingValue(*f, text, values[static_cast<size_t>(f - d.fields)], error)) << error;
  }
}

// The values a field's description allows at its edges.
std::vector<double> EdgeValues(const SettingField& f) {
  std::vector<double> values;
  switch (static_cast<SettingType>(f.type)) {
    case SettingType::Text:
      return {};
    case SettingType::Choice:
      for (int32_t k = 0; k < f.choiceCount; ++k) values.push_back(f.choices[k].value);
      return values;
    case SettingType::Flag:
      return {0, 1};
    default:
      break;
  }
  if (f.flags & kSettingSwitch) return {0, 1};
  const bool whole = f.type == static_cast<int32_t>(SettingType::Int32);
  // The nearest allowed value inside an open bound.
  auto inside = [&](double v, bool fromBelow) -> double {
    if (whole) return fromBelow ? std::floor(v) + 1 : std::ceil(v) - 1;
    if (f.type == static_cast<int32_t>(SettingType::Float32)) {
      return std::nextafter(static_cast<float>(v), fromBelow ? HUGE_VALF : -HUGE_VALF);
    }
    return std::nextafter(v, fromBelow ? HUGE_VAL : -HUGE_VAL);
  };
  if (std::isfinite(f.minimum)) values.push_back(f.flags & kSettingMinimumExclusive ? inside(f.minimum, true) : f.minimum);
  if (std::isfinite(f.maximum)) values.push_back(f.flags & kSettingMaximumExclusive ? inside(f.maximum, false) : f.maximum);
  values.push_back(f.defaultValue);
  // One value beside the default, so that two fields swapped in the
  // description show even when their defaults and bounds agree.
  for (double beside : {f.defaultValue + 1, f.defaultValue - 1}) {
    SettingValue v;
    v.number = f.type == static_cast<int32_t>(SettingType::Float32) ? static_cast<float>(beside) : beside;
    if (SettingValueProblem(f, v).empty()) {
      values.push_back(beside);
      break;
    }
  }
  // A single holds its nearest value, as the stream will.
  if (f.type == static_cast<int32_t>(SettingType::Float32)) {
    for (double& v : values) v = static_cast<float>(v);
  }
  return values;
}

class SettingsDescriptions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registries_ = new std::vector<std::unique_ptr<Registry>>;
    for (const std::string& folder : descriptions::PluginFolders()) {
      registries_->push_back(std::make_unique<Registry>(folder));
    }
  }
  static void TearDownTestSuite() {}  // libraries stay loaded, as in the host

  // Every prototype of every folder checked.
  static std::vector<const FilterPrototype*> Prototypes() {
    std::vector<const FilterPrototype*> all;
    for (const auto& registry : *registries_) {
      for (int32_t i = 0; i < registry->PrototypeCount(); ++i) all.push_back(&registry->Prototype(i));
    }
    return all;
  }
  static std::vector<std::unique_ptr<Registry>>* registries_;
};
std::vector<std::unique_ptr<Registry>>* SettingsDescriptions::registries_ = nullptr;

TEST_F(SettingsDescriptions, EveryFilterDescribesItsSettings) {
  const std::vector<const FilterPrototype*> prototypes = Prototypes();
  // The build's filters and the template's Gain.
  ASSERT_GE(prototypes.size(), 23u);
  bool sawGain = false;
  for (const FilterPrototype* p : prototypes) {
    SCOPED_TRACE(std::string(p->info.name) + " in " + p->library->fileName);
    sawGain = sawGain || p->info.id == 10000;
    EXPECT_EQ(p->settingsProblem, "") << "the library's description cannot be used";
    EXPECT_NE(p->settings, nullptr) << "the library describes no settings";
    EXPECT_NE(p->library->entry.checkSettings, nullptr) << "the library exports no CheckSettings";
    if (p->settings == nullptr) continue;
    for (int32_t k = 0; k < p->settings->fieldCount; ++k) {
      const SettingField& f = p->settings->fields[k];
      EXPECT_NE(SettingText(f.help)[0], '\0') << f.identifier << " has no help";
      EXPECT_NE(f.label, nullptr) << f.identifier;
      EXPECT_NE(f.unit, nullptr) << f.identifier;
    }
  }
  EXPECT_TRUE(sawGain) << "the template plug-in was not built for the test";
}

TEST_F(SettingsDescriptions, EveryPinSaysWhatItCarries) {
  for (const FilterPrototype* p : Prototypes()) {
    SCOPED_TRACE(p->info.name);
    ASSERT_NE(p->library->entry.getPinPacketTypes, nullptr) << "the library exports no GetPinPacketTypes";
    Instance fresh(*p);
    ASSERT_NE(fresh.get(), nullptr);
    for (int32_t i = 0; i < fresh.get()->pinCount; ++i) {
      const Pin* pin = fresh.get()->pins[i];
      const uint32_t types = p->library->entry.getPinPacketTypes(fresh.get(), i);
      const bool config = pin->kind == static_cast<int32_t>(PinKind::ConfigIn) ||
                          pin->kind == static_cast<int32_t>(PinKind::ConfigOut);
      if (config) {
        EXPECT_EQ(types, PacketTypeBit(PacketType::Config)) << pin->name;
      } else {
        EXPECT_NE(types, 0u) << pin->name << " says nothing";
        EXPECT_EQ(types & ~kAnyPacket, 0u) << pin->name << " names types that do not exist";
      }
    }
    EXPECT_EQ(p->library->entry.getPinPacketTypes(fresh.get(), fresh.get()->pinCount), 0u) << "beyond the last pin";
  }
}

// The values a filter's stream holds, read through its description. A writer
// may leave out trailing fields that hold their defaults (so that streams
// from before a field existed keep their bytes): those are the defaults.
std::vector<SettingValue> ValuesOf(const SettingsDescription& d, const std::vector<uint8_t>& stream) {
  std::vector<SettingValue> values;
  EXPECT_EQ(DecodeSettingValues(d, stream.data(), stream.size(), values), stream.size())
      << "the stream holds bytes the description does not account for";
  const std::vector<SettingValue> defaults = DefaultSettingValues(d);
  for (size_t k = values.size(); k < defaults.size(); ++k) values.push_back(defaults[k]);
  return values;
}

TEST_F(SettingsDescriptions, DefaultsAreTheStreamOfAFreshFilter) {
  for (const FilterPrototype* p : Prototypes()) {
    if (p->settings == nullptr) continue;
    SCOPED_TRACE(p->info.name);
    const std::vector<SettingValue> defaults = DefaultSettingValues(*p->settings);
    const std::vector<uint8_t> stream = EncodeSettingValues(*p->settings, defaults);
    Instance fresh(*p);
    ASSERT_NE(fresh.get(), nullptr);
    const std::vector<uint8_t> written = fresh.Serialized();
    EXPECT_EQ(ValuesOf(*p->settings, written), defaults) << "the description's defaults differ from GetConfig";
    // Only whole trailing fields may be left out.
    ASSERT_LE(written.size(), stream.size());
    EXPECT_TRUE(std::equal(written.begin(), written.end(), stream.begin()));

    Instance applied(*p);
    ASSERT_EQ(applied.Apply(stream), Ok);
    EXPECT_EQ(applied.Serialized(), written);
  }
}

TEST_F(SettingsDescriptions, EveryAllowedValueRuns) {
  for (const FilterPrototype* p : Prototypes()) {
    if (p->settings == nullptr || p->library->entry.checkSettings == nullptr) continue;
    SCOPED_TRACE(p->info.name);
    const SettingsDescription& d = *p->settings;
    std::vector<SettingValue> base = DefaultSettingValues(d);
    if (const auto it = kPrerequisites.find(p->info.id); it != kPrerequisites.end()) SetTexts(d, it->second, base);
    {
      Instance filter(*p);
      ASSERT_EQ(filter.Apply(EncodeSettingValues(d, base)), Ok);
      EXPECT_EQ(filter.Problem(), "") << "the defaults must run";
    }
    for (int32_t k = 0; k < d.fieldCount; ++k) {
      for (double value : EdgeValues(d.fields[k])) {
        std::vector<SettingValue> values = base;
        if (const auto it = kCompanions.find({p->info.id, d.fields[k].identifier}); it != kCompanions.end()) {
          SetTexts(d, it->second, values);
        }
        values[static_cast<size_t>(k)].number = value;
        ASSERT_EQ(SettingValueProblem(d.fields[k], values[static_cast<size_t>(k)]), "")
            << d.fields[k].identifier << " = " << value;
        Instance filter(*p);
        ASSERT_EQ(filter.Apply(EncodeSettingValues(d, values)), Ok);
        EXPECT_EQ(filter.Problem(), "") << d.fields[k].identifier << " = " << value << " is allowed by the description";
        // The filter keeps the value where the description says it is.
        EXPECT_EQ(ValuesOf(d, filter.Serialized()), values) << d.fields[k].identifier << " = " << value;
      }
    }
  }
}

// Values just outside a field's range, or a choice it does not list: when
// the filter's check refuses one, its reason names the field, so a user
// knows what to change. A fresh filter that needs a prerequisite names it.
TEST_F(SettingsDescriptions, RefusalsNameTheField) {
  int refused = 0;
  for (const FilterPrototype* p : Prototypes()) {
    if (p->settings == nullptr || p->library->entry.checkSettings == nullptr) continue;
    SCOPED_TRACE(p->info.name);
    const SettingsDescription& d = *p->settings;
    std::vector<SettingValue> base = DefaultSettingValues(d);
    if (const auto it = kPrerequisites.find(p->info.id); it != kPrerequisites.end()) {
      Instance fresh(*p);
      EXPECT_NE(fresh.Problem().find('"' + std::string(it->second.front().first) + '"'), std::string::npos)
          << fresh.Problem();
      SetTexts(d, it->second, base);
    }
    for (int32_t k = 0; k < d.fieldCount; ++k) {
      const SettingField& f = d.fields[k];
      std::vector<double> outside;
      if (f.type == static_cast<int32_t>(SettingType::Choice)) {
        int32_t top = f.choices[0].value;
        for (int32_t c = 0; c < f.choiceCount; ++c) top = std::max(top, f.choices[c].value);
        outside.push_back(static_cast<double>(top) + 1);
      } else if (f.type == static_cast<int32_t>(SettingType::Int32) && !(f.flags & kSettingSwitch)) {
        if (std::isfinite(f.minimum) && f.minimum > -2147483648.0) outside.push_back(std::ceil(f.minimum) - 1);
        if (std::isfinite(f.maximum) && f.maximum < 2147483647.0) outside.push_back(std::floor(f.maximum) + 1);
      }
      for (double value : outside) {
        std::vector<SettingValue> values = base;
        values[static_cast<size_t>(k)].number = value;
        Instance filter(*p);
        if (filter.Apply(EncodeSettingValues(d, values)) != Ok) continue;  // refused on the way in
        const std::string problem = filter.Problem();
        if (problem.empty()) continue;  // the description is tighter than the check
        ++refused;
        EXPECT_NE(problem.find('"' + std::string(f.identifier) + '"'), std::string::npos)
            << f.identifier << " = " << value << ": " << problem;
      }
    }
  }
  EXPECT_GT(refused, 10) << "too few values outside the ranges were refused for the test to mean much";
}

}  // namespace
}  // namespace vorlan
