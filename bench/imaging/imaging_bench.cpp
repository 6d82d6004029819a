// Throughput of the image filters on a 4096 x 4096 picture: BMP decoding and
// encoding, grayscale conversion and PSNR. Reported as pixels per second
// (items_per_second) of one whole Process call on one core.
//
// Every run allocates its output afresh, as a graph run does, so the
// figures include the first touch of up to 384 MB of new pages. Where page
// faults are expensive (virtual machines, sandboxes) that dominates; with
// --warm-heap the allocator keeps freed memory (no mmap, no trimming), so
// the figures show the filters' own work.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstring>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bmp_decoder_filter.h"
#include "bmp_encoder_filter.h"
#include "grayscale_filter.h"
#include "psnr_filter.h"

namespace vorlan {
namespace {

constexpr int32_t kSide = 4096;
constexpr int64_t kPixels = int64_t{kSide} * kSide;

// A stand-in producer pin.
struct Source {
  Source() : pin(NewPin("Out", PinKind::Output)) {}
  ~Source() {
    std::free(pin->name);
    delete pin;
  }
  Pin* pin;
};

struct PlaneData {
  PlaneData(double min, double max, unsigned seed) : samples(kPixels) {
    uint32_t x = seed;
    for (double& s : samples) {
      x = x * 1664525u + 1013904223u;
      s = min + (max - min) * static_cast<double>(x >> 8) / 16777216.0;
    }
    record = Plane{kSide, kSide, min, max, static_cast<int32_t>(kPixels * 8), samples.data()};
  }
  Packet AsPacket() { return MakePacket(sizeof(Plane), PacketType::Plane, &record); }
  std::vector<double> samples;
  Plane record;
};

std::vector<uint8_t> MakeBmpFile() {
  const int64_t stride = kSide * 3;
  std::vector<uint8_t> file(54 + stride * kSide);
  for (size_t i = 54; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 31);
  file[0] = 'B';
  file[1] = 'M';
  auto put = [&](int at, int32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
  };
  put(10, 54);
  put(14, 40);
  put(18, kSide);
  put(22, kSide);
  file[26] = 1;
  file[28] = 24;
  return file;
}

void Check(benchmark::State& state, Result r) {
  if (r != Ok) state.SkipWithError("Process failed");
}

void BM_BmpDecode(benchmark::State& state) {
  auto file = MakeBmpFile();
  Source source;
  Publish(source.pin, MakePacket(static_cast<int32_t>(file.size()), PacketType::Bytes, file.data()));
  BmpDecoderFilter decoder;
  decoder.Initialize();
  ConnectPins(decoder.pins[BmpDecoderFilter::kInPin], source.pin);
  for (auto _ : state) {
    decoder.Reset();
    Check(state, decoder.Process());
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_BmpEncode(benchmark::State& state) {
  PlaneData r(0, 255, 1), g(0, 255, 2), b(0, 255, 3);
  Source sr, sg, sb;
  Publish(sr.pin, r.AsPacket());
  Publish(sg.pin, g.AsPacket());
  Publish(sb.pin, b.AsPacket());
  BmpEncoderFilter encoder;
  encoder.Initialize();
  ConnectPins(encoder.pins[BmpEncoderFilter::kRPin], sr.pin);
  ConnectPins(encoder.pins[BmpEncoderFilter::kGPin], sg.pin);
  ConnectPins(encoder.pins[BmpEncoderFilter::kBPin], sb.pin);
  for (auto _ : state) {
    encoder.Reset();
    Check(state, encoder.Process());
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_Grayscale(benchmark::State& state) {
  PlaneData r(0, 255, 1), g(0, 255, 2), b(0, 255, 3);
  Source sr, sg, sb;
  Publish(sr.pin, r.AsPacket());
  Publish(sg.pin, g.AsPacket());
  Publish(sb.pin, b.AsPacket());
  GrayscaleFilter filter;
  filter.Initialize();
  GrayscaleSettings settings{static_cast<int32_t>(state.range(0)), 0.2, 0.3, 0.5};
  filter.ApplyConfig(MakePacket(sizeof settings, PacketType::Config, &settings), ConfigForm::Native);
  ConnectPins(filter.pins[GrayscaleFilter::kRPin], sr.pin);
  ConnectPins(filter.pins[GrayscaleFilter::kGPin], sg.pin);
  ConnectPins(filter.pins[GrayscaleFilter::kBPin], sb.pin);
  for (auto _ : state) {
    filter.Reset();
    Check(state, filter.Process());
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_Psnr(benchmark::State& state) {
  PlaneData a(0, 255, 1), b(0, 510, 2);
  Source sa, sb;
  Publish(sa.pin, a.AsPacket());
  Publish(sb.pin, b.AsPacket());
  PsnrFilter filter;
  filter.Initialize();
  int32_t prescaling = static_cast<int32_t>(state.range(0));
  filter.ApplyConfig(MakePacket(4, PacketType::Config, &prescaling), ConfigForm::Native);
  ConnectPins(filter.pins[PsnrFilter::kIn1Pin], sa.pin);
  ConnectPins(filter.pins[PsnrFilter::kIn2Pin], sb.pin);
  for (auto _ : state) {
    filter.Reset();
    Check(state, filter.Process());
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

BENCHMARK(BM_BmpDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grayscale)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);  // Maximum, Y
BENCHMARK(BM_Psnr)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);       // prescaling off, on

}  // namespace
}  // namespace vorlan

int main(int argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--warm-heap") == 0) {
      mallopt(M_MMAP_MAX, 0);
      mallopt(M_TRIM_THRESHOLD, -1);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
