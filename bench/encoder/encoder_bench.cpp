// Times the HV encoder on camera.bmp (as a grey plane declared [0, 1]) at
// three settings with one and two search threads, and prints seconds,
// ranges, domain comparisons per second, the multiply-adds per second of the
// cross sums and the two-thread speed-up.
//
//   build/<preset>/bench/encoder_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "camera_image.h"
#include "fractal_encoder_filter.h"
#include "vorlan/config_stream.h"

namespace {

using vorlan::collage::FractalEncoderFilter;
using vorlan::collage::FractalEncoderSettings;

using vorlan::bench::Image;
using vorlan::bench::LoadCamera;

const Image& Camera() {
  static const Image image = LoadCamera();
  return image;
}

class Encoder : public FractalEncoderFilter {
 public:
  Encoder() { Initialize(); }
};

FractalEncoderSettings Preset(int preset, int threads) {
  FractalEncoderSettings s;
  s.feedback = 0;
  s.threadCount = threads;
  s.errorMode = 1;  // the grey plane is declared [0, 1]
  if (preset == 1) {
    s.stepX = s.stepY = 16;
    s.coverMode = 0;
    s.quality = 0.97f;
  } else if (preset == 2) {
    s.mode = 1;
    s.maxRanges = 2000;
  }
  return s;
}

// Processor time of the whole process: on a shared machine the wall clock
// also counts time the search threads spent waiting for a core.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

const char* kPresetNames[] = {"defaults", "fine search", "size 2000"};
std::map<int, double> singleSeconds;
std::map<int, double> singleCpu;

void BM_Encode(benchmark::State& state) {
  const int preset = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  const Image& image = Camera();
  Encoder encoder;
  const FractalEncoderSettings settings = Preset(preset, threads);
  vorlan::Packet packet = vorlan::NativeConfigPacket(&settings, sizeof settings);
  encoder.ApplyConfig(packet, vorlan::ConfigForm::Native);
  vorlan::FreePacket(packet);

  std::vector<double> samples = image.samples;
  vorlan::Plane plane{image.width, image.height, 0.0, 1.0, image.width * image.height * 8, samples.data()};
  vorlan::Pin* source = vorlan::NewPin("Out", vorlan::PinKind::Output);
  vorlan::ConnectPins(encoder.pins[vorlan::collage::kInPin], source);
  vorlan::Publish(source, vorlan::MakePacket(sizeof plane, vorlan::PacketType::Plane, &plane));

  double seconds = 0;
  double cpu = 0;
  int64_t comparisons = 0;
  int32_t ranges = 0;
  int64_t values = 0;
  for (auto _ : state) {
    encoder.Reset();
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    if (encoder.Process() != vorlan::Ok) {
      state.SkipWithError(encoder.FailureReason());
      break;
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu = CpuSeconds() - cpuStart;
    comparisons = encoder.LastComparisons();
    ranges = encoder.RangeCount();
    values = encoder.LastComparedValues();
    state.SetIterationTime(seconds);
  }
  state.counters["ranges"] = ranges;
  state.counters["comparisons/s"] = static_cast<double>(comparisons) / seconds;
  // Square sum and four cross sums per block value, over the whole run's
  // processor time (block building, fitting and locking included).
  const double macs = 5.0 * static_cast<double>(values) / cpu;
  state.counters["MAC/cpu_s"] = macs;
  if (threads == 1) {
    singleSeconds[preset] = seconds;
    singleCpu[preset] = cpu;
  }
  state.counters["cpu_s"] = cpu;
  std::printf("%-12s threads %d: %8.3f s (cpu %.3f s), %6d ranges, %.3g comparisons/s, %.3g MAC per cpu-second",
              kPresetNames[preset], threads, seconds, cpu, ranges, static_cast<double>(comparisons) / seconds, macs);
  if (threads == 2 && singleSeconds.count(preset) != 0) {
    // On a loaded machine the wall-clock ratio mostly measures the share of
    // cores the run got; the processor-time ratio shows what the second
    // worker costs in extra work (2.0 = none).
    std::printf(", speed-up %.2fx (wall), %.2fx (cpu-time bound)", singleSeconds[preset] / seconds,
                2.0 * singleCpu[preset] / cpu);
  }
  std::printf("\n");
  std::free(source->name);
  delete source;
}

BENCHMARK(BM_Encode)
    ->ArgsProduct({{0, 1, 2}, {1, 2}})
    ->ArgNames({"preset", "threads"})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
