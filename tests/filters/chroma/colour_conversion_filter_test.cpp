#include "colour_conversion_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "bmp_test_image.h"
#include "support/filter_harness.h"
#include "vorlan/config_stream.h"

namespace vorlan::chroma {
namespace {

using vorlan::test::FakeOutput;
using vorlan::test::TestPlane;

Result SetCode(ColourConversionFilter& f, int32_t code) {
  return f.ApplyConfig(MakePacket(4, PacketType::Config, &code), ConfigForm::Native);
}

std::string PinList(const Filter& f) {
  std::string s;
  for (int32_t i = 0; i < f.pinCount; ++i) {
    s += f.pins[i]->kind == static_cast<int32_t>(PinKind::Input)    ? "<"
         : f.pins[i]->kind == static_cast<int32_t>(PinKind::Output) ? ">"
                                                                     : "*";
    s += f.pins[i]->name;
    s += ' ';
  }
  return s;
}

const Plane& OutPlane(ColourConversionFilter& f, size_t k) {
  return *static_cast<const Plane*>(f.OutputPins().at(k)->packet.data);
}

// Feeds the filter's inputs from test-owned planes.
struct Sources {
  explicit Sources(ColourConversionFilter& f) {
    for (Pin* input : f.InputPins()) {
      outputs.push_back(std::make_unique<FakeOutput>());
      ConnectPins(input, outputs.back()->pin());
    }
  }
  void Publish(size_t k, TestPlane& plane) { outputs.at(k)->Publish(plane.AsPacket()); }
  std::vector<std::unique_ptr<FakeOutput>> outputs;
};

TEST(ColourConversionFilter, PinSetsFollowEveryCodeAndPartnersSwapDirections) {
  ColourConversionFilter f;
  EXPECT_EQ(f.Conversion(), 0);
  EXPECT_EQ(PinList(f), "*Cfg in *Cfg out <R <G <B >H >S >V ");
  EXPECT_STREQ(f.info.name, "RGB conversion");
  EXPECT_EQ(f.info.id, 80);

  for (int32_t code = 0; code < kConversionCount; ++code) {
    ASSERT_EQ(SetCode(f, code), Ok) << code;
    const ColourSpace& space = SpaceOf(code);
    const char* rgbKind = ConvertsFromRgb(code) ? "<" : ">";
    const char* spaceKind = ConvertsFromRgb(code) ? ">" : "<";
    std::string expected = "*Cfg in *Cfg out ";
    for (const char* name : kRgbPins) expected += std::string(rgbKind) + name + " ";
    for (int32_t k = 0; k < space.pinCount; ++k) expected += std::string(spaceKind) + space.pins[k] + " ";
    EXPECT_EQ(PinList(f), expected) << "code " << code;
    EXPECT_EQ(f.InputPins().size() + f.OutputPins().size(), size_t(3 + space.pinCount));
  }
  ASSERT_EQ(SetCode(f, 12), Ok);
  EXPECT_EQ(PinList(f), "*Cfg in *Cfg out <R <G <B >C >M >Y >K ");
  ASSERT_EQ(SetCode(f, 13), Ok);
  EXPECT_EQ(PinList(f), "*Cfg in *Cfg out >R >G >B <C <M <Y <K ");
  EXPECT_EQ(SpaceOf(6).pins[1], std::string("Cb"));
}

// A user sets the code by name ("rgb_to_ycbcr") or by the dialog's words:
// both must mean the code whose pins the filter then builds.
TEST(ColourConversionFilter, ChoiceNamesMatchTheirCodes) {
  const SettingsDescription& d = ColourConversionFilter::DescribeSettings();
  ASSERT_EQ(d.fieldCount, 1);
  const SettingField& f = d.fields[0];
  ASSERT_EQ(f.choiceCount, kConversionCount);
  for (int32_t k = 0; k < f.choiceCount; ++k) {
    const SettingChoice& c = f.choices[k];
    SCOPED_TRACE(c.identifier);
    ASSERT_EQ(c.value, k);
    const std::string identifier = c.identifier;
    const std::string label = c.label;
    const std::string row = SpaceOf(c.value).row;
    const bool fromRgb = ConvertsFromRgb(c.value);
    EXPECT_EQ(identifier.starts_with("rgb_to_"), fromRgb);
    EXPECT_EQ(identifier.ends_with("_to_rgb"), !fromRgb);
    EXPECT_EQ(label, row + (fromRgb ? " RGB->" : " ->RGB"));
    // Partners name the same colour space from both sides.
    const std::string partner = f.choices[PartnerOf(k)].identifier;
    const std::string space = fromRgb ? identifier.substr(7) : identifier.substr(0, identifier.size() - 7);
    EXPECT_EQ(partner, fromRgb ? space + "_to_rgb" : "rgb_to_" + space);
  }
}

TEST(ColourConversionFilter, ConfigurationFormsAndRefusals) {
  ColourConversionFilter f;
  ConfigWriter w;
  w.Int32(19);
  ASSERT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, const_cast<uint8_t*>(w.Bytes().data())),
                          ConfigForm::Serialized),
            Ok);
  EXPECT_EQ(f.Conversion(), 19);
  Packet serialized = f.GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(serialized.length, 4);
  EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t*>(serialized.data), static_cast<uint8_t*>(serialized.data) + 4),
            (std::vector<uint8_t>{19, 0, 0, 0}));
  FreePacket(serialized);
  Packet native = f.GetConfig(ConfigForm::Native);
  ASSERT_EQ(native.length, 4);
  EXPECT_EQ(*static_cast<int32_t*>(native.data), 19);
  FreePacket(native);

  const std::string before = PinList(f);
  uint8_t shortBytes[3] = {1, 0, 0};
  EXPECT_EQ(f.ApplyConfig(MakePacket(3, PacketType::Config, shortBytes), ConfigForm::Serialized), Failed);
  EXPECT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, nullptr), ConfigForm::Native), Failed);
  EXPECT_EQ(SetCode(f, 26), Failed);
  EXPECT_EQ(SetCode(f, -1), Failed);
  EXPECT_STREQ(f.FailureReason(), "unknown conversion code -1");
  EXPECT_EQ(f.Conversion(), 19);
  EXPECT_EQ(PinList(f), before) << "a refused configuration changes nothing";
}

TEST(ColourConversionFilter, RangesOfInputPlanesDoNotMatterAndOutputsAreDeclaredUnit) {
  // A small picture with every hue region, greys, black and white.
  const std::vector<double> r8{255, 0, 0, 255, 128, 0, 255, 17, 200, 90, 3, 250};
  const std::vector<double> g8{0, 255, 0, 0, 128, 0, 255, 77, 100, 200, 9, 240};
  const std::vector<double> b8{0, 0, 255, 255, 128, 0, 255, 140, 30, 60, 5, 10};
  auto unit = [](const std::vector<double>& v) {
    std::vector<double> u;
    for (double x : v) u.push_back(x / 255);
    return u;
  };
  for (int32_t code = 0; code < kConversionCount; code += 2) {
    ColourConversionFilter bytes, units;
    ASSERT_EQ(SetCode(bytes, code), Ok);
    ASSERT_EQ(SetCode(units, code), Ok);
    TestPlane br(4, 3, 0, 255, r8), bg(4, 3, 0, 255, g8), bb(4, 3, 0, 255, b8);
    TestPlane ur(4, 3, 0, 1, unit(r8)), ug(4, 3, 0, 1, unit(g8)), ub(4, 3, 0, 1, unit(b8));
    Sources bs(bytes), us(units);
    bs.Publish(0, br), bs.Publish(1, bg), bs.Publish(2, bb);
    us.Publish(0, ur), us.Publish(1, ug), us.Publish(2, ub);
    ASSERT_EQ(bytes.Process(), Ok) << code;
    ASSERT_EQ(units.Process(), Ok) << code;
    for (size_t k = 0; k < bytes.OutputPins().size(); ++k) {
      const Plane& a = OutPlane(bytes, k);
      const Plane& b = OutPlane(units, k);
      EXPECT_EQ(a.min, 0.0);
      EXPECT_EQ(a.max, 1.0);
      ASSERT_EQ(a.width, 4);
      ASSERT_EQ(a.height, 3);
      for (int i = 0; i < 12; ++i) {
        EXPECT_NEAR(a.samples[i], b.samples[i], 1e-9) << "code " << code << " output " << k << " pixel " << i;
        EXPECT_TRUE(std::isfinite(a.samples[i])) << "code " << code << " output " << k << " pixel " << i;
      }
    }
  }
}

TEST(ColourConversionFilter, NormalisedOutputsKeepTheirNaturalScale) {
  // Pure red, green, then black: CMYK M and Y of red reach 2 after
  // normalisation, and Luv u and v leave the filter unscaled.
  TestPlane r(3, 1, 0, 1, {1, 0, 0}), g(3, 1, 0, 1, {0, 1, 0}), b(3, 1, 0, 1, {0, 0, 0});
  ColourConversionFilter cmyk;
  ASSERT_EQ(SetCode(cmyk, 12), Ok);
  Sources cs(cmyk);
  cs.Publish(0, r), cs.Publish(1, g), cs.Publish(2, b);
  ASSERT_EQ(cmyk.Process(), Ok);
  EXPECT_EQ(OutPlane(cmyk, 0).samples[0], 0.0);
  EXPECT_EQ(OutPlane(cmyk, 1).samples[0], 2.0);
  EXPECT_EQ(OutPlane(cmyk, 2).samples[0], 2.0);
  EXPECT_EQ(OutPlane(cmyk, 3).samples[0], 0.0);

  ColourConversionFilter luv;
  ASSERT_EQ(SetCode(luv, 22), Ok);
  Sources ls(luv);
  ls.Publish(0, r), ls.Publish(1, g), ls.Publish(2, b);
  ASSERT_EQ(luv.Process(), Ok);
  const Triple red = LuvFromRgb(1, 0, 0);
  EXPECT_NEAR(OutPlane(luv, 1).samples[0], red[1], 1e-12 * std::fabs(red[1]));
  EXPECT_NEAR(OutPlane(luv, 2).samples[0], red[2], 1e-12 * std::fabs(red[2]));
  EXPECT_GT(std::fabs(red[1]), 1.0) << "u lies well outside its declared [0, 1]";
  EXPECT_EQ(OutPlane(luv, 0).samples[2], 0.0) << "black has L = 0";
}

// Every forward conversion followed by its inverse, each in its own filter,
// reproduces the picture.
TEST(ColourConversionFilter, EveryConversionRoundTripsTheAstronaut) {
  const test::RgbImage image = test::ReadBmp24(vorlan::test::SharedDataPath("astronaut.bmp"));
  TestPlane r(image.width, image.height, 0, 255, image.r);
  TestPlane g(image.width, image.height, 0, 255, image.g);
  TestPlane b(image.width, image.height, 0, 255, image.b);
  const std::vector<double>* originals[3] = {&image.r, &image.g, &image.b};

  for (int32_t code = 0; code < kConversionCount; code += 2) {
    ColourConversionFilter forward, inverse;
    ASSERT_EQ(SetCode(forward, code), Ok);
    ASSERT_EQ(SetCode(inverse, code + 1), Ok);
    Sources sources(forward);
    sources.Publish(0, r), sources.Publish(1, g), sources.Publish(2, b);
    for (size_t k = 0; k < forward.OutputPins().size(); ++k) {
      ConnectPins(inverse.InputPins().at(k), forward.OutputPins()[k]);
    }
    ASSERT_EQ(vorlan::test::RunFilters({&inverse, &forward}), Ok) << code << ": " << inverse.FailureReason();

    double worst = 0;
    for (size_t k = 0; k < 3; ++k) {
      const Plane& out = OutPlane(inverse, k);
      EXPECT_EQ(out.min, 0.0);
      EXPECT_EQ(out.max, 1.0);
      for (size_t i = 0; i < originals[k]->size(); ++i) {
        const double e = std::fabs(out.samples[i] - (*originals[k])[i] / 255);
        worst = std::isnan(e) ? 1e9 : std::max(worst, e);
      }
    }
    // YCbCr's stored inverse is only close to the exact one.
    const double tolerance = code == 6 ? 6.4e-5 + 1e-9 : 1e-4;
    EXPECT_LT(worst, tolerance) << SpaceOf(code).row;
  }
}

TEST(ColourConversionFilter, BadInputsFailWithReasonsAndNothingPublished) {
  ColourConversionFilter f;
  f.Initialize();
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(), "input \"R\" is not connected");

  Sources s(f);
  TestPlane r(4, 2, 0, 255), g(4, 2, 0, 255), b(4, 2, 0, 255);
  s.Publish(0, r);
  s.Publish(1, g);
  EXPECT_EQ(f.Process(), InputNotReady) << "B has not been published";
  EXPECT_EQ(f.state, FilterState::Running);
  s.Publish(2, b);
  ASSERT_EQ(f.Process(), Ok);
  EXPECT_EQ(f.state, FilterState::Done);

  struct Case {
    int32_t width, height;
    double min, max;
    const char* reason;
  };
  const Case cases[] = {{4, 3, 0, 255, "input \"B\" is 4x3 where \"R\" is 4x2"},
                        {4, 2, 7, 7, "input \"B\" declares no usable value range [7, 7]"},
                        {4, 2, 0, INFINITY, "input \"B\" declares no usable value range [0, inf]"},
                        {4, 2, NAN, 1, "input \"B\" declares no usable value range [nan, 1]"},
                        {0, 0, 0, 1, "input \"B\" holds an empty plane"}};
  for (const Case& c : cases) {
    TestPlane bad(c.width, c.height, c.min, c.max);
    s.Publish(2, bad);
    EXPECT_EQ(f.Process(), Failed) << c.reason;
    EXPECT_STREQ(f.FailureReason(), c.reason);
    EXPECT_EQ(f.state, FilterState::Stopped);
    for (Pin* out : f.OutputPins()) EXPECT_EQ(out->ready, 0) << c.reason;
  }

  double number = 1;
  s.outputs[2]->Publish(MakePacket(8, PacketType::Float, &number));
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("type 7"), std::string::npos);
}

TEST(ColourConversionFilter, RunConfigurationMayRepeatButNotChangeTheCode) {
  ColourConversionFilter f;
  ASSERT_EQ(SetCode(f, 4), Ok);
  Sources s(f);
  TestPlane r(2, 2, 0, 1), g(2, 2, 0, 1), b(2, 2, 0, 1);
  s.Publish(0, r), s.Publish(1, g), s.Publish(2, b);
  FakeOutput cfg;
  ConnectPins(f.ConfigInPin(), cfg.pin());
  Pin* const firstInput = f.InputPins()[0];

  int32_t same = 4;
  cfg.Publish(MakePacket(4, PacketType::Config, &same));
  ASSERT_EQ(f.Process(), Ok);
  EXPECT_EQ(f.InputPins()[0], firstInput) << "an unchanged code leaves the pins alone";
  ASSERT_EQ(f.ConfigOutPin()->ready, 1);
  EXPECT_EQ(*static_cast<int32_t*>(f.ConfigOutPin()->packet.data), 4);

  int32_t other = 5;
  cfg.Publish(MakePacket(4, PacketType::Config, &other));
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(), "a configuration received during a run cannot change the pin set");
  EXPECT_EQ(f.Conversion(), 4);
  EXPECT_EQ(f.InputPins()[0], firstInput);
  for (Pin* out : f.OutputPins()) EXPECT_EQ(out->ready, 0);
}

ColourConversionFilter* stopTarget = nullptr;
std::vector<float> stopProgress;
size_t stopAfterReports = 0;

void StopDuringRun(float fraction) {
  stopProgress.push_back(fraction);
  if (stopProgress.size() == stopAfterReports) stopTarget->Stop();
}

TEST(ColourConversionFilter, StopEndsTheConversionWithinOneRow) {
  ColourConversionFilter f;
  ASSERT_EQ(SetCode(f, 18), Ok);
  f.Initialize();
  Sources s(f);
  TestPlane r(64, 50, 0, 255), g(64, 50, 0, 255), b(64, 50, 0, 255);
  s.Publish(0, r), s.Publish(1, g), s.Publish(2, b);
  stopTarget = &f;
  f.progress = &StopDuringRun;

  // Reports: 0.0 from the skeleton, then one per converted row.
  for (size_t after : {size_t{4}, size_t{51}}) {
    stopProgress.clear();
    stopAfterReports = after;
    EXPECT_EQ(f.Process(), Stopped) << after;
    EXPECT_EQ(stopProgress.size(), after) << "no row is converted after the stop";
    EXPECT_EQ(f.state, FilterState::Stopped);
    for (Pin* out : f.OutputPins()) EXPECT_EQ(out->ready, 0);
    EXPECT_EQ(f.ConfigOutPin()->ready, 0);
    EXPECT_EQ(f.Reset(), Ok);
  }
  stopAfterReports = 0;
  ASSERT_EQ(f.Process(), Ok) << "a reset filter runs again";
  EXPECT_EQ(stopProgress.back(), 1.0f);
  EXPECT_EQ(f.OutputPins()[0]->ready, 1);
  f.progress = nullptr;
}

}  // namespace
}  // namespace vorlan::chroma
