// The packer and unpacker filters between the real HV encoder and decoder:
// codes of several settings come back bit for bit, decode to the same
// picture, and bad streams fail the unpacker's run with a reason.
#include <gtest/gtest.h>

#include <cstring>

#include "code_packer_filter.h"
#include "code_unpacker_filter.h"
#include "encoder_test_support.h"
#include "fractal_decoder_filter.h"
#include "vorlan/memory_budget.h"

namespace vorlan {
namespace {

using attractor::FractalDecoderFilter;
using hvpack::CodePackerFilter;
using hvunpack::CodeUnpackerFilter;

struct Chain {
  collage::FractalEncoderFilter encoder;
  CodePackerFilter packer;
  CodeUnpackerFilter unpacker;

  // Encodes the plane and sends the code through packer and unpacker.
  // RP and RS stay unconnected on the packer, as in the example graph.
  void Run(const collage::FractalEncoderSettings& settings, std::vector<double> samples, int32_t w, int32_t h) {
    ASSERT_EQ(encoder.ApplyConfig(MakePacket(sizeof settings, PacketType::Config,
                                             const_cast<collage::FractalEncoderSettings*>(&settings)),
                                  ConfigForm::Native),
              Ok);
    ASSERT_EQ(collage::test::Encode(encoder, std::move(samples), w, h, 0.0, 255.0), Ok) << encoder.FailureReason();
    for (int32_t i = 0; i < 10; ++i) {
      const int32_t to = CodePackerFilter::kHdrPin + i;
      if (to == CodePackerFilter::kRpPin || to == CodePackerFilter::kRsPin) continue;
      vorlan::test::Connect(encoder, collage::kHeaderPin + i, packer, to);
    }
    vorlan::test::Connect(packer, CodePackerFilter::kOutPin, unpacker, CodeUnpackerFilter::kInPin);
    ASSERT_EQ(packer.Process(), Ok) << packer.FailureReason();
    ASSERT_EQ(unpacker.Process(), Ok) << unpacker.FailureReason();
  }

  // Every piece the unpacker publishes equals the encoder's, types included.
  void ExpectSameCode(const std::string& label) {
    for (int32_t i = 0; i < 10; ++i) {
      const Packet& a = vorlan::test::Output(encoder, collage::kHeaderPin + i);
      const Packet& b = vorlan::test::Output(unpacker, CodeUnpackerFilter::kHdrPin + i);
      ASSERT_EQ(a.type, b.type) << label << " pin " << i;
      if (i == 0) {
        ASSERT_EQ(b.length, fractal::kCodeHeaderSize);
        EXPECT_EQ(std::memcmp(a.data, b.data, fractal::kCodeHeaderSize), 0) << label;
        continue;
      }
      const auto* x = static_cast<const IntArray*>(a.data);
      const auto* y = static_cast<const IntArray*>(b.data);
      ASSERT_EQ(x->count, y->count) << label << " " << fractal::kCodePinNames[i];
      EXPECT_TRUE(x->count == 0 || std::memcmp(x->values, y->values, 4 * static_cast<size_t>(x->count)) == 0)
          << label << " " << fractal::kCodePinNames[i];
    }
  }
};

collage::FractalEncoderSettings Settings(int32_t mode, float quality, int32_t minRange, int32_t step,
                                         int32_t maxRanges = 100) {
  collage::FractalEncoderSettings s;
  s.mode = mode;
  s.errorMode = 1;
  s.quality = quality;
  s.minRangeSize = minRange;
  s.maxRanges = maxRanges;
  s.stepX = s.stepY = step;
  s.scaleLevels = 32;
  s.offsetLevels = 128;
  s.feedback = 0;
  return s;
}

TEST(CodeFilters, RealCodesOfSeveralSettingsComeBackBitForBit) {
  // The top-left of camera.bmp is mostly sky: a few large ranges. The
  // pattern has edges everywhere: deep trees.
  std::vector<double> camera = collage::test::Camera(96, 64);
  for (double& v : camera) v *= 255.0;
  const std::vector<double> pattern = collage::test::Pattern(96, 64);
  struct Case {
    const char* label;
    collage::FractalEncoderSettings settings;
    const std::vector<double>& image;
  } cases[] = {
      {"fidelity, example settings", Settings(0, 0.985f, 3, 16), camera},
      {"fidelity, example settings on edges", Settings(0, 0.985f, 3, 8), pattern},
      {"deep tree down to single pixels", Settings(0, 0.999f, 1, 4), pattern},
      {"one range, no transform", Settings(1, 0.9f, 4, 8, 1), camera},
      {"size mode", Settings(1, 0.9f, 2, 2, 60), camera},
  };
  cases[2].settings.maxRangeFactor = 3;
  cases[4].settings.stepY = 3;
  for (const Case& c : cases) {
   for (int32_t version : {1, 2}) {
    SCOPED_TRACE(version);
    Chain chain;
    hvpack::CodePackerSettings ps{version};
    ASSERT_EQ(chain.packer.ApplyConfig(MakePacket(sizeof ps, PacketType::Config, &ps), ConfigForm::Native), Ok);
    chain.Run(c.settings, c.image, 96, 64);
    chain.ExpectSameCode(c.label);
    EXPECT_EQ(chain.packer.Stream()[4], version);
    if (std::string(c.label).starts_with("one range")) {
      EXPECT_EQ(chain.unpacker.Code().RangeCount(), 1);
      EXPECT_EQ(chain.unpacker.Code().si[0], -1) << "the root of a 96 x 64 image has no domain";
    }
    if (std::string(c.label).starts_with("deep")) {
      EXPECT_GT(chain.unpacker.Code().RangeCount(), 400);
    }
   }
  }
}

TEST(CodeFilters, PackerSettingsChooseTheVersionAndOlderGraphsGetVersionOne) {
  CodePackerFilter packer;
  EXPECT_EQ(packer.Settings().formatVersion, 1);
  // A graph saved before the packer had settings holds an empty stream.
  ASSERT_EQ(packer.ApplyConfig(MakePacket(0, PacketType::Config, nullptr), ConfigForm::Serialized), Ok);
  EXPECT_EQ(packer.Settings().formatVersion, 1);
  const int32_t two = 2;
  ASSERT_EQ(packer.ApplyConfig(MakePacket(4, PacketType::Config, const_cast<int32_t*>(&two)), ConfigForm::Serialized),
            Ok);
  EXPECT_EQ(packer.Settings().formatVersion, 2);
  Packet written = packer.GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(written.length, 4);
  EXPECT_EQ(*static_cast<const int32_t*>(written.data), 2);
  std::free(written.data);
  EXPECT_EQ(packer.SettingsProblem(), "");

  // A version the packer does not write fails the run, naming the field.
  hvpack::CodePackerSettings bad{3};
  ASSERT_EQ(packer.ApplyConfig(MakePacket(sizeof bad, PacketType::Config, &bad), ConfigForm::Native), Ok);
  EXPECT_NE(packer.SettingsProblem().find("formatVersion"), std::string::npos);
  packer.Initialize();
  EXPECT_EQ(packer.Process(), Failed);
  EXPECT_NE(std::string(packer.FailureReason()).find("formatVersion"), std::string::npos) << packer.FailureReason();
}

TEST(CodeFilters, UnpackedCodeDecodesToTheSamePicture) {
  Chain chain;
  chain.Run(Settings(0, 0.98f, 2, 4), collage::test::Pattern(80, 72), 80, 72);
  attractor::FractalDecoderSettings ds;
  ds.feedback = 0;
  FractalDecoderFilter direct, unpacked;
  for (FractalDecoderFilter* d : {&direct, &unpacked}) {
    ASSERT_EQ(d->ApplyConfig(MakePacket(sizeof ds, PacketType::Config, &ds), ConfigForm::Native), Ok);
  }
  for (int32_t i = 0; i < 10; ++i) {
    vorlan::test::Connect(chain.encoder, collage::kHeaderPin + i, direct, FractalDecoderFilter::kHdrPin + i);
    vorlan::test::Connect(chain.unpacker, CodeUnpackerFilter::kHdrPin + i, unpacked, FractalDecoderFilter::kHdrPin + i);
  }
  ASSERT_EQ(direct.Process(), Ok) << direct.FailureReason();
  ASSERT_EQ(unpacked.Process(), Ok) << unpacked.FailureReason();
  const auto* a = static_cast<const Plane*>(vorlan::test::Output(direct, FractalDecoderFilter::kOutPin).data);
  const auto* b = static_cast<const Plane*>(vorlan::test::Output(unpacked, FractalDecoderFilter::kOutPin).data);
  ASSERT_EQ(a->size, b->size);
  EXPECT_EQ(std::memcmp(a->samples, b->samples, static_cast<size_t>(a->size)), 0);
}

TEST(CodeFilters, PinsFollowTheDecodersOrder) {
  CodePackerFilter packer;
  CodeUnpackerFilter unpacker;
  const char* code[] = {"HDR", "SI", "OI", "TRN", "DP", "DF", "RP", "RS", "RTD", "RTT"};
  ASSERT_EQ(packer.pinCount, 13);
  ASSERT_EQ(unpacker.pinCount, 13);
  EXPECT_STREQ(packer.pins[12]->name, "Out");
  EXPECT_EQ(packer.pins[12]->kind, static_cast<int32_t>(PinKind::Output));
  EXPECT_STREQ(unpacker.pins[2]->name, "In");
  EXPECT_EQ(unpacker.pins[2]->kind, static_cast<int32_t>(PinKind::Input));
  for (int i = 0; i < 10; ++i) {
    EXPECT_STREQ(packer.pins[2 + i]->name, code[i]);
    EXPECT_EQ(packer.pins[2 + i]->kind, static_cast<int32_t>(PinKind::Input));
    EXPECT_STREQ(unpacker.pins[3 + i]->name, code[i]);
    EXPECT_EQ(unpacker.pins[3 + i]->kind, static_cast<int32_t>(PinKind::Output));
  }
  EXPECT_EQ(packer.info.id, 1000);
  EXPECT_EQ(unpacker.info.id, 1010);
}

TEST(CodeFilters, RunsWaitForInputsAndFailOnBadStreamsWithAReason) {
  Chain chain;
  chain.Run(Settings(0, 0.97f, 4, 8), collage::test::Pattern(48, 40), 48, 40);
  const std::vector<uint8_t> good = chain.packer.Stream();

  // An unready upstream makes the unpacker wait, publishing nothing.
  CodeUnpackerFilter unpacker;
  unpacker.Initialize();
  vorlan::test::FakeOutput file;
  vorlan::test::Connect(unpacker, CodeUnpackerFilter::kInPin, file.pin());
  EXPECT_EQ(unpacker.Process(), InputNotReady);

  std::vector<uint8_t> bad = good;
  bad[bad.size() / 2] ^= 0x10;
  file.Publish(MakePacket(static_cast<int32_t>(bad.size()), PacketType::Bytes, bad.data()));
  EXPECT_EQ(unpacker.Process(), Failed);
  EXPECT_EQ(unpacker.state.load(), FilterState::Stopped);
  EXPECT_NE(std::string(unpacker.FailureReason()).find("checksum"), std::string::npos) << unpacker.FailureReason();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(unpacker.pins[CodeUnpackerFilter::kHdrPin + i]->ready, 0);

  file.Publish(MakePacket(static_cast<int32_t>(good.size() - 1), PacketType::Bytes, const_cast<uint8_t*>(good.data())));
  unpacker.Reset();
  EXPECT_EQ(unpacker.Process(), Failed);
  EXPECT_NE(std::string(unpacker.FailureReason()).find("cut short"), std::string::npos) << unpacker.FailureReason();

  file.Publish(MakePacket(static_cast<int32_t>(good.size()), PacketType::Bytes, const_cast<uint8_t*>(good.data())));
  unpacker.Reset();
  EXPECT_EQ(unpacker.Process(), Ok) << unpacker.FailureReason();

  // The packer needs the tree; RP and RS are optional.
  CodePackerFilter packer;
  packer.Initialize();
  for (int32_t i = 0; i < 8; ++i) {
    vorlan::test::Connect(chain.encoder, collage::kHeaderPin + i, packer, CodePackerFilter::kHdrPin + i);
  }
  EXPECT_EQ(packer.Process(), Failed);
  EXPECT_NE(std::string(packer.FailureReason()).find("\"RTD\" is not connected"), std::string::npos)
      << packer.FailureReason();
  for (int32_t i = 8; i < 10; ++i) {
    vorlan::test::Connect(chain.encoder, collage::kHeaderPin + i, packer, CodePackerFilter::kHdrPin + i);
  }
  packer.Reset();
  ASSERT_EQ(packer.Process(), Ok) << packer.FailureReason();
  EXPECT_EQ(packer.Stream(), good) << "RP and RS agree with the tree and are not stored";
}

TEST(CodeFilters, UnpackingAsksTheMemoryBudgetFirst) {
  Chain chain;
  chain.Run(Settings(0, 0.999f, 1, 4), collage::test::Pattern(96, 64), 96, 64);
  const int32_t ranges = chain.unpacker.Code().RangeCount();
  ASSERT_GT(ranges, 400);
  chain.unpacker.Reset();
  ASSERT_EQ(SharedDecodedMemoryBudget().used.load(), 0);

  SetDecodedMemoryLimit(1000);
  EXPECT_EQ(chain.unpacker.Process(), Failed);
  EXPECT_EQ(std::string(chain.unpacker.FailureReason())
                .rfind("HV code unpacker: the unpacked code would take " + std::to_string(64 * ranges) + " bytes", 0),
            0u)
      << chain.unpacker.FailureReason();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(chain.unpacker.pins[CodeUnpackerFilter::kHdrPin + i]->ready, 0);
  SetDecodedMemoryLimit(kDefaultDecodedMemoryLimit);
  EXPECT_EQ(chain.unpacker.Process(), Ok) << chain.unpacker.FailureReason();
  EXPECT_GT(SharedDecodedMemoryBudget().used.load(), 0);
  chain.unpacker.Reset();
  EXPECT_EQ(SharedDecodedMemoryBudget().used.load(), 0) << "Reset returns the reservation";
}

}  // namespace
}  // namespace vorlan
