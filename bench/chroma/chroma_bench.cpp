// Throughput of every conversion code over a 4096 x 4096 picture (the
// astronaut tiled 8 x 8), one core, one whole Process per iteration,
// reported as pixels per second. Inverse codes convert what their forward
// partner made of the same picture, so every code sees realistic values.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "bmp_test_image.h"
#include "colour_conversion_filter.h"
#include "support/filter_harness.h"

namespace {

using vorlan::chroma::ColourConversionFilter;

constexpr int32_t kTiles = 8;

struct Picture {
  Picture() {
    const auto image = vorlan::chroma::test::ReadBmp24(vorlan::test::SharedDataPath("astronaut.bmp"));
    side = image.width * kTiles;
    const std::vector<double>* channels[3] = {&image.r, &image.g, &image.b};
    for (int k = 0; k < 3; ++k) {
      samples[k].resize(static_cast<size_t>(side) * side);
      for (int32_t y = 0; y < side; ++y) {
        for (int32_t x = 0; x < side; ++x) {
          samples[k][static_cast<size_t>(y) * side + x] =
              (*channels[k])[static_cast<size_t>(y % image.height) * image.width + x % image.width];
        }
      }
      record[k] = vorlan::Plane{side, side, 0.0, 255.0, side * side * 8, samples[k].data()};
      source[k].Publish(vorlan::MakePacket(sizeof(vorlan::Plane), vorlan::PacketType::Plane, &record[k]));
    }
  }
  int32_t side = 0;
  std::vector<double> samples[3];
  vorlan::Plane record[3];
  vorlan::test::FakeOutput source[3];
};

Picture& SharedPicture() {
  static Picture picture;
  return picture;
}

void SetCode(ColourConversionFilter& filter, int32_t code) {
  filter.ApplyConfig(vorlan::MakePacket(4, vorlan::PacketType::Config, &code), vorlan::ConfigForm::Native);
  filter.Initialize();
}

// `fresh`: Reset before every Process, as the host does before every run,
// so the output planes are allocated and faulted in each time. Otherwise
// consecutive runs reuse the output buffers and only the conversion and
// normalisation passes are timed.
void RunCode(benchmark::State& state, bool fresh) {
  const auto code = static_cast<int32_t>(state.range(0));
  Picture& picture = SharedPicture();
  ColourConversionFilter forward, filter;
  SetCode(forward, code & ~1);
  for (int k = 0; k < 3; ++k) vorlan::ConnectPins(forward.InputPins()[k], picture.source[k].pin());
  if (code % 2 == 1) {
    if (forward.Process() != vorlan::Ok) state.SkipWithError(forward.FailureReason());
    SetCode(filter, code);
    for (size_t k = 0; k < filter.InputPins().size(); ++k) {
      vorlan::ConnectPins(filter.InputPins()[k], forward.OutputPins()[k]);
    }
  } else {
    SetCode(filter, code);
    for (int k = 0; k < 3; ++k) vorlan::ConnectPins(filter.InputPins()[k], picture.source[k].pin());
  }
  if (filter.Process() != vorlan::Ok) state.SkipWithError(filter.FailureReason());
  for (auto _ : state) {
    if (fresh) filter.Reset();
    if (filter.Process() != vorlan::Ok) {
      state.SkipWithError(filter.FailureReason());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * int64_t{picture.side} * picture.side);
  state.SetLabel(vorlan::chroma::SpaceOf(code).row);
}

void BM_Convert(benchmark::State& state) { RunCode(state, false); }
void BM_ConvertFresh(benchmark::State& state) { RunCode(state, true); }

BENCHMARK(BM_Convert)->DenseRange(0, 25)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ConvertFresh)->DenseRange(0, 25)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
