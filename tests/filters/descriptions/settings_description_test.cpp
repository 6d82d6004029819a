// Each built plug-in's settings description must say what the filter does:
// the defaults it lists are the stream a fresh filter writes, and every value
// it allows is one the filter's own run-start check accepts.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "core/registry.h"
#include "vorlan/settings_values.h"

namespace vorlan {
namespace {

using host::FilterPrototype;
using host::Registry;

// Fields a filter cannot run without at its defaults (a file stream has no
// file yet): set first, before each value is tried.
using FieldTexts = std::vector<std::pair<const char*, const char*>>;
const std::map<int32_t, FieldTexts> kPrerequisites = {};

// Fields whose allowed values depend on another field: their edge values are
// tried with the other field set so that the combination is possible.
const std::map<std::pair<int32_t, std::string>, FieldTexts> kCompanions = {
    {{130, "maxRangeFactor"}, {{"minRangeFactor", "2"}}},  // not below minRangeFactor
};

void SetTexts(const SettingsDescription& d, const FieldTexts& texts, std::vector<SettingValue>& values) {
  for (const auto& [field, text] : texts) {
    const SettingField* f = FindSettingField(d, field);
    ASSERT_NE(f, nullptr) << field;
    std::string error;
    ASSERT_TRUE(ParseSettingValue(*f, text, values[static_cast<size_t>(f - d.fields)], error)) << error;
  }
}

std::vector<uint8_t> Stream(const Packet& packet) {
  const auto* p = static_cast<const uint8_t*>(packet.data);
  return packet.length > 0 && p != nullptr ? std::vector<uint8_t>(p, p + packet.length) : std::vector<uint8_t>{};
}

// A filter of `prototype`, destroyed with its library's export.
class Instance {
 public:
  explicit Instance(const FilterPrototype& p) : p_(p), filter_(p.library->entry.create(p.index)) {
    if (filter_ != nullptr) filter_->Initialize();
  }
  ~Instance() {
    if (filter_ == nullptr) return;
    filter_->Deinitialize();
    p_.library->entry.destroy(filter_, p_.index);
  }
  Filter* get() const { return filter_; }

  std::vector<uint8_t> Serialized() {
    Packet packet = filter_->GetConfig(ConfigForm::Serialized);
    std::vector<uint8_t> bytes = Stream(packet);
    if (p_.library->entry.releaseConfig != nullptr) p_.library->entry.releaseConfig(packet);
    return bytes;
  }
  Result Apply(const std::vector<uint8_t>& bytes) {
    uint8_t empty = 0;
    auto* data = bytes.empty() ? &empty : const_cast<uint8_t*>(bytes.data());
    return filter_->ApplyConfig(MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Config, data),
                                ConfigForm::Serialized);
  }
  std::string Problem() {
    const char* text = p_.library->entry.checkSettings(filter_);
    return text != nullptr ? text : "";
  }

 private:
  const FilterPrototype& p_;
  Filter* filter_;
};

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
  return values;
}

class SettingsDescriptions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registry_ = new Registry(std::string(VORLAN_FILTER_DIR)); }
  static void TearDownTestSuite() {}  // libraries stay loaded, as in the host
  static Registry* registry_;
};
Registry* SettingsDescriptions::registry_ = nullptr;

TEST_F(SettingsDescriptions, DefaultsAreTheStreamOfAFreshFilter) {
  for (int32_t i = 0; i < registry_->PrototypeCount(); ++i) {
    const FilterPrototype& p = registry_->Prototype(i);
    if (p.settings == nullptr) continue;
    SCOPED_TRACE(p.info.name);
    const std::vector<uint8_t> defaults = EncodeSettingValues(*p.settings, DefaultSettingValues(*p.settings));
    Instance fresh(p);
    ASSERT_NE(fresh.get(), nullptr);
    EXPECT_EQ(fresh.Serialized(), defaults) << "the description's defaults differ from GetConfig";

    Instance applied(p);
    ASSERT_EQ(applied.Apply(defaults), Ok);
    EXPECT_EQ(applied.Serialized(), defaults);
    std::vector<SettingValue> decoded;
    EXPECT_EQ(DecodeSettingValues(*p.settings, defaults.data(), defaults.size(), decoded), defaults.size());
    EXPECT_EQ(decoded.size(), static_cast<size_t>(p.settings->fieldCount));
  }
}

TEST_F(SettingsDescriptions, EveryAllowedValueRuns) {
  for (int32_t i = 0; i < registry_->PrototypeCount(); ++i) {
    const FilterPrototype& p = registry_->Prototype(i);
    if (p.settings == nullptr || p.library->entry.checkSettings == nullptr) continue;
    SCOPED_TRACE(p.info.name);
    const SettingsDescription& d = *p.settings;
    std::vector<SettingValue> base = DefaultSettingValues(d);
    if (const auto it = kPrerequisites.find(p.info.id); it != kPrerequisites.end()) SetTexts(d, it->second, base);
    {
      Instance filter(p);
      ASSERT_EQ(filter.Apply(EncodeSettingValues(d, base)), Ok);
      EXPECT_EQ(filter.Problem(), "") << "the defaults must run";
    }
    for (int32_t k = 0; k < d.fieldCount; ++k) {
      for (double value : EdgeValues(d.fields[k])) {
        std::vector<SettingValue> values = base;
        if (const auto it = kCompanions.find({p.info.id, d.fields[k].identifier}); it != kCompanions.end()) {
          SetTexts(d, it->second, values);
        }
        values[static_cast<size_t>(k)].number = value;
        ASSERT_EQ(SettingValueProblem(d.fields[k], values[static_cast<size_t>(k)]), "")
            << d.fields[k].identifier << " = " << value;
        Instance filter(p);
        ASSERT_EQ(filter.Apply(EncodeSettingValues(d, values)), Ok);
        EXPECT_EQ(filter.Problem(), "") << d.fields[k].identifier << " = " << value << " is allowed by the description";
      }
    }
  }
}

}  // namespace
}  // namespace vorlan
