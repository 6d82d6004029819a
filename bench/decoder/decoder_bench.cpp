// Decoding time of the HV decoder on a 512 x 512 code: 20 passes (mode 0)
// with border smoothing, the default settings. The code is a partition of
// 8 x 8 ranges (the range count a camera-sized image gets at ~30 dB) with
// random 2 x 2 shrunk domains in all eight orientations.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "fractal_decoder_filter.h"
#include "shrunk_pass.h"
#if VORLAN_BENCH_WITH_ENCODER
#include <fstream>
#include <iterator>

#include "bmp_decoder_filter.h"
#include "code_container.h"
#include "fractal_encoder_filter.h"
#include "grayscale_filter.h"
#endif

namespace {

using vorlan::attractor::FractalDecoderFilter;

struct Code {
  vorlan::fractal::CodeHeader header{};
  std::vector<int32_t> si, oi, trn, dp, df, rtd, rtt;
};

void Cut(int32_t w, int32_t h, int32_t leaf, Code& code, std::vector<std::pair<int32_t, int32_t>>& leaves) {
  if (w <= leaf && h <= leaf) {
    code.rtd.push_back(0);
    leaves.emplace_back(w, h);
    return;
  }
  const bool rows = h >= w;
  const int32_t p = (rows ? h : w) / 2;
  code.rtd.push_back(p);
  code.rtt.push_back(rows ? 0 : 1);
  if (rows) {
    Cut(w, p, leaf, code, leaves);
    Cut(w, h - p, leaf, code, leaves);
  } else {
    Cut(p, h, leaf, code, leaves);
    Cut(w - p, h, leaf, code, leaves);
  }
}

Code MakeCode(int32_t size, int32_t leaf) {
  Code code;
  code.header = vorlan::fractal::CodeHeader{size, size, 0.0, 255.0, 1.0, 256, 256, 4, 4};
  std::vector<std::pair<int32_t, int32_t>> leaves;
  Cut(size, size, leaf, code, leaves);
  while (!code.rtd.empty() && code.rtd.back() == 0) code.rtd.pop_back();
  std::mt19937 rng(5);
  for (auto [w, h] : leaves) {
    const int32_t isometry = static_cast<int32_t>(rng() % 8);
    const int32_t dw = 2 * ((isometry & 1) ? h : w);
    const int32_t dh = 2 * ((isometry & 1) ? w : h);
    code.si.push_back(64 + static_cast<int32_t>(rng() % 128));  // |scale| < 0.5
    code.oi.push_back(static_cast<int32_t>(rng() % 256));
    code.trn.push_back(isometry);
    code.dp.insert(code.dp.end(), {static_cast<int32_t>(rng() % ((size - dw) / 4 + 1)),
                                   static_cast<int32_t>(rng() % ((size - dh) / 4 + 1))});
    code.df.insert(code.df.end(), {2, 2});
  }
  return code;
}

void BM_Decode512(benchmark::State& state) {
  const Code code = MakeCode(512, static_cast<int32_t>(state.range(0)));
  std::vector<uint8_t> header(sizeof code.header);
  std::memcpy(header.data(), &code.header, sizeof code.header);
  const std::vector<int32_t>* arrays[] = {&code.si, &code.oi, &code.trn, &code.dp, &code.df,
                                          nullptr,  nullptr,  &code.rtd, &code.rtt};
  std::vector<vorlan::IntArray> records(9);
  std::vector<vorlan::Pin*> producers;
  FractalDecoderFilter decoder;
  decoder.Initialize();
  for (int i = 0; i < 10; ++i) {
    if (i == 6 || i == 7) continue;  // RP and RS stay unconnected: the tree gives the ranges
    vorlan::Pin* pin = vorlan::NewPin("Code", vorlan::PinKind::Output);
    producers.push_back(pin);
    if (i == 0) {
      vorlan::Publish(pin, vorlan::MakePacket(48, vorlan::PacketType::Bytes, header.data()));
    } else {
      const std::vector<int32_t>& values = *arrays[i - 1];
      records[i - 1] = vorlan::IntArray{static_cast<int32_t>(values.size()), const_cast<int32_t*>(values.data())};
      vorlan::Publish(pin, vorlan::MakePacket(sizeof(vorlan::IntArray), vorlan::PacketType::IntArray, &records[i - 1]));
    }
    vorlan::ConnectPins(decoder.pins[FractalDecoderFilter::kHdrPin + i], pin);
  }
  for (auto _ : state) {
    if (decoder.Process() != vorlan::Ok) state.SkipWithError(decoder.FailureReason());
  }
  state.counters["ranges"] = static_cast<double>(code.si.size());
  state.counters["passes"] = decoder.PassCount();
  for (vorlan::Pin* pin : producers) {
    std::free(pin->name);
    delete pin;
  }
}
BENCHMARK(BM_Decode512)->Arg(8)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

#if VORLAN_BENCH_WITH_ENCODER
// The code of camera.bmp as examples/compress.gph makes it (the Grayscale
// conversion's Y plane; Rate-distortion mode, 4000 ranges, factors 2, an
// 8 x 8 domain grid, ranges down to 2 pixels, 32 scale and 128 offset
// levels), encoded once and shared by the benchmarks below.
struct CameraCode {
  vorlan::Pin* bytes = nullptr;
  vorlan::BmpDecoderFilter reader;
  vorlan::GrayscaleFilter grey;
  vorlan::collage::FractalEncoderFilter encoder;
  bool ok = false;

  CameraCode() {
    std::ifstream file(std::string(VORLAN_SHARED_DATA_DIR) + "/camera.bmp", std::ios::binary);
    bmp.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    bytes = vorlan::NewPin("File", vorlan::PinKind::Output);
    vorlan::Publish(bytes,
                    vorlan::MakePacket(static_cast<int32_t>(bmp.size()), vorlan::PacketType::Bytes, bmp.data()));
    vorlan::ConnectPins(reader.pins[vorlan::BmpDecoderFilter::kInPin], bytes);
    grey.Initialize();
    vorlan::GrayscaleSettings gs;
    gs.method = 2;  // Y
    grey.ApplyConfig(vorlan::MakePacket(sizeof gs, vorlan::PacketType::Config, &gs), vorlan::ConfigForm::Native);
    for (int i = 0; i < 3; ++i) {
      vorlan::ConnectPins(grey.pins[vorlan::GrayscaleFilter::kRPin + i], reader.pins[vorlan::BmpDecoderFilter::kRPin + i]);
    }
    vorlan::collage::FractalEncoderSettings es;
    es.mode = vorlan::collage::kRateDistortionMode;
    es.maxRanges = 4000;
    es.minRangeSize = 2;
    es.maxRangeFactor = 2;
    es.stepX = es.stepY = 8;
    es.scaleLevels = 32;
    es.offsetLevels = 128;
    es.errorMode = 1;
    es.quality = 0.985f;
    es.threadCount = 2;
    es.feedback = 0;
    encoder.ApplyConfig(vorlan::MakePacket(sizeof es, vorlan::PacketType::Config, &es), vorlan::ConfigForm::Native);
    vorlan::ConnectPins(encoder.pins[vorlan::collage::kInPin], grey.pins[vorlan::GrayscaleFilter::kOutPin]);
    ok = reader.Process() == vorlan::Ok && grey.Process() == vorlan::Ok && encoder.Process() == vorlan::Ok;
  }
  ~CameraCode() {
    std::free(bytes->name);
    delete bytes;
  }
  const vorlan::IntArray& Array(int32_t i) const {
    return *static_cast<const vorlan::IntArray*>(encoder.pins[vorlan::collage::kHeaderPin + i]->packet.data);
  }

 private:
  std::vector<uint8_t> bmp;
};

CameraCode& Camera() {
  static CameraCode code;
  return code;
}

// The whole HV decoder as decompress.gph runs it: 20 passes, then the
// edge-adaptive deblocking (post-processing 2).
void BM_DecodeCamera(benchmark::State& state) {
  CameraCode& camera = Camera();
  if (!camera.ok) {
    state.SkipWithError("camera.bmp could not be encoded");
    return;
  }
  FractalDecoderFilter decoder;
  vorlan::attractor::FractalDecoderSettings ds;
  ds.postProcessing = static_cast<int32_t>(vorlan::attractor::PostProcessing::Deblocking);
  ds.feedback = 0;
  decoder.ApplyConfig(vorlan::MakePacket(sizeof ds, vorlan::PacketType::Config, &ds), vorlan::ConfigForm::Native);
  for (int32_t i = 0; i < 10; ++i) {
    if (i == 6 || i == 7) continue;  // the tree gives the ranges
    vorlan::ConnectPins(decoder.pins[FractalDecoderFilter::kHdrPin + i],
                        camera.encoder.pins[vorlan::collage::kHeaderPin + i]);
  }
  for (auto _ : state) {
    if (decoder.Process() != vorlan::Ok) state.SkipWithError(decoder.FailureReason());
  }
  state.counters["ranges"] = camera.encoder.RangeCount();
  // The packed size, to check against the file examples/compress.gph writes.
  const vorlan::Pin* hdr = camera.encoder.pins[vorlan::collage::kHeaderPin];
  auto view = [&](int32_t i) {
    const vorlan::IntArray& a = camera.Array(i);
    return std::span<const int32_t>(a.values, static_cast<size_t>(a.count));
  };
  vorlan::codepack::CodeView code;
  code.header = static_cast<const uint8_t*>(hdr->packet.data);
  code.headerLength = hdr->packet.length;
  code.si = view(1), code.oi = view(2), code.trn = view(3), code.dp = view(4), code.df = view(5);
  code.rtd = view(8), code.rtt = view(9);
  std::vector<uint8_t> packed;
  if (vorlan::codepack::PackCode(code, packed, 2).empty()) state.counters["packed"] = static_cast<double>(packed.size());
}
BENCHMARK(BM_DecodeCamera)->Unit(benchmark::kMillisecond)->UseRealTime();

// The 20 passes alone on the camera's plan: argument 0 reduces every
// domain where it lies (ApplyPass), 1 sums shared blocks once per pass
// (ShrunkPass). Both write the same picture.
void BM_CameraPasses(benchmark::State& state) {
  CameraCode& camera = Camera();
  if (!camera.ok) {
    state.SkipWithError("camera.bmp could not be encoded");
    return;
  }
  using namespace vorlan::attractor;
  const vorlan::Pin* hdr = camera.encoder.pins[vorlan::collage::kHeaderPin];
  vorlan::fractal::CodeHeader header{};
  ParseHeader(static_cast<const uint8_t*>(hdr->packet.data), hdr->packet.length, header);
  auto view = [&](int32_t i) {
    const vorlan::IntArray& a = camera.Array(i);
    return std::span<const int32_t>(a.values, static_cast<size_t>(a.count));
  };
  CodeArrays code;
  code.si = view(1), code.oi = view(2), code.trn = view(3), code.dp = view(4), code.df = view(5);
  code.rtd = view(8), code.rtt = view(9);
  DecodePlan plan;
  const std::string reason = BuildDecodePlan(header, code, 1, 1, plan);
  if (!reason.empty()) {
    state.SkipWithError(reason.c_str());
    return;
  }
  const size_t count = static_cast<size_t>(plan.width) * plan.height;
  std::vector<double> a(count), b(count);
  const StopPoll never = [] { return false; };
  PassScratch scratch;
  scratch.Reserve(plan.ranges);
  ShrunkPass shrunk;
  shrunk.Build(plan.ranges, plan.width, plan.height);
  for (auto _ : state) {
    std::fill(a.begin(), a.end(), 0.0);
    double* current = a.data();
    double* other = b.data();
    for (int pass = 0; pass < 20; ++pass) {
      if (state.range(0) == 0) {
        ApplyPass(plan.ranges, current, other, plan.width, scratch, never);
      } else {
        shrunk.Run(current, other, never);
      }
      std::swap(current, other);
    }
    benchmark::DoNotOptimize(current[count / 2]);
  }
  state.counters["shrunk"] = static_cast<double>(shrunk.ShrunkRangeCount());
  state.counters["direct"] = static_cast<double>(shrunk.DirectRangeCount());
}
BENCHMARK(BM_CameraPasses)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace

BENCHMARK_MAIN();
