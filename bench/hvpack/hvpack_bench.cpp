// The packed code against the example's Huffman + serializer container.
// Before the timings it prints, for camera.bmp and astronaut.bmp (grey by
// the example's Y weights) encoded at the example settings, the container
// sizes and the bits per range of every field in both forms, and the size
// of format version 2. The timings give packed and unpacked ranges per
// second on one core, in both versions.
//
//   build/<preset>/bench/hvpack_bench [--benchmark_filter=.]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bmp_decoder_filter.h"
#include "code_container.h"
#include "fractal_encoder_filter.h"
#include "grayscale_filter.h"
#include "huffman_encoding.h"

namespace {

using namespace vorlan;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
  }
  return bytes;
}

Pin* NewOutput() { return NewPin("bench", PinKind::Output); }

// The code the example graph compress.gph makes of one BMP: Y grey, then
// the HV encoder at the example's settings (one search thread, so the code
// is the same from run to run).
struct RealCode {
  std::vector<uint8_t> header;
  std::vector<int32_t> arrays[fractal::kCodeArrayCount];  // SI ... RTT
  codepack::CodeView View(bool rectangles) const {
    codepack::CodeView v;
    v.header = header.data();
    v.headerLength = static_cast<int32_t>(header.size());
    v.si = arrays[0], v.oi = arrays[1], v.trn = arrays[2], v.dp = arrays[3], v.df = arrays[4];
    v.hasRp = v.hasRs = rectangles;
    v.rp = arrays[5], v.rs = arrays[6], v.rtd = arrays[7], v.rtt = arrays[8];
    return v;
  }
  size_t Ranges() const { return arrays[0].size(); }
};

bool EncodeImage(const std::string& name, RealCode& code) {
  std::vector<uint8_t> bmp = ReadFile(std::string(VORLAN_SHARED_DATA_DIR) + "/" + name);
  if (bmp.empty()) return false;
  Pin* file = NewOutput();
  Publish(file, MakePacket(static_cast<int32_t>(bmp.size()), PacketType::Bytes, bmp.data()));
  BmpDecoderFilter reader;
  reader.Initialize();
  ConnectPins(reader.pins[BmpDecoderFilter::kInPin], file);
  if (reader.Process() != Ok) return false;

  GrayscaleFilter grey;
  grey.Initialize();
  GrayscaleSettings gs;
  gs.method = 2;  // Y, as the example graph
  grey.ApplyConfig(MakePacket(sizeof gs, PacketType::Config, &gs), ConfigForm::Native);
  for (int i = 0; i < 3; ++i) ConnectPins(grey.pins[GrayscaleFilter::kRPin + i], reader.pins[3 + i]);
  if (grey.Process() != Ok) return false;

  collage::FractalEncoderFilter encoder;
  encoder.Initialize();
  collage::FractalEncoderSettings es;  // examples/make_fractal.py
  es.mode = 0;
  es.errorMode = 1;
  es.quality = 0.985f;
  es.minRangeSize = 3;
  es.minRangeFactor = 2;
  es.maxRangeFactor = 2;
  es.maxScale = 1.0f;
  es.scaleLevels = 32;
  es.offsetLevels = 128;
  es.stepX = es.stepY = 16;
  es.coverMode = 1;
  es.threadCount = 1;
  es.feedback = 0;
  encoder.ApplyConfig(MakePacket(sizeof es, PacketType::Config, &es), ConfigForm::Native);
  ConnectPins(encoder.pins[collage::kInPin], grey.pins[GrayscaleFilter::kOutPin]);
  if (encoder.Process() != Ok) return false;
  const Packet& hdr = encoder.pins[collage::kHeaderPin]->packet;
  const auto* h = static_cast<const uint8_t*>(hdr.data);
  code.header.assign(h, h + hdr.length);
  for (int k = 0; k < fractal::kCodeArrayCount; ++k) {
    const auto* a = static_cast<const IntArray*>(encoder.pins[collage::kHeaderPin + 1 + k]->packet.data);
    code.arrays[k].assign(a->values, a->values + a->count);
  }
  std::free(file->name);
  delete file;
  return true;
}

std::map<std::string, RealCode>& Codes() {
  static std::map<std::string, RealCode> codes;
  return codes;
}

void PrintSizes(const std::string& name, const RealCode& code) {
  // The example container: header as it is plus one Huffman stream (word
  // length 1) per shipped array, joined by the serializer (4 + 8 per record).
  const int shipped[] = {0, 1, 2, 3, 4, 7, 8};
  const char* names[] = {"SI", "OI", "TRN", "DP", "DF", "RTD", "RTT"};
  const double n = static_cast<double>(code.Ranges());
  size_t huffman = 4 + 8 + code.header.size();
  double huffmanBits[7];
  for (int i = 0; i < 7; ++i) {
    const std::vector<int32_t>& a = code.arrays[shipped[i]];
    BitWriter stream;
    EncodeHuffman(a.data(), static_cast<int64_t>(a.size()), 1, stream);
    huffman += 8 + stream.UsedBytes();
    huffmanBits[i] = 8.0 * stream.UsedBytes() / n;
  }
  std::vector<uint8_t> packed;
  codepack::FieldBits bits;
  if (codepack::PackCode(code.View(false), packed) != "" || codepack::MeasureFieldBits(code.View(false), bits) != "") {
    std::printf("%s: the code did not pack\n", name.c_str());
    return;
  }
  std::printf("%s: %zu ranges; Huffman + serializer %zu bytes, packed %zu bytes: %.1f %% smaller\n", name.c_str(),
              code.Ranges(), huffman, packed.size(), 100.0 * (1.0 - static_cast<double>(packed.size()) / huffman));
  std::printf("  bits per range   Huffman   packed\n");
  for (int i = 0; i < 5; ++i) {
    const double p[] = {bits.si, bits.oi, bits.trn, bits.dp, bits.df};
    std::printf("  %-14s %9.2f %8.2f\n", names[i], huffmanBits[i], p[i] / n);
  }
  std::printf("  %-14s %9.2f %8.2f\n", "RTD + RTT", huffmanBits[5] + huffmanBits[6], bits.tree / n);
  std::printf("  %-14s %9s %8.2f\n", "has transform", "-", bits.hasTransform / n);
  std::printf("  %-14s %9.2f %8.2f\n", "all (bytes x 8)", 8.0 * huffman / n, 8.0 * packed.size() / n);
  // Format version 2: the offsets predicted from the neighbouring ranges.
  std::vector<uint8_t> packed2;
  codepack::FieldBits bits2;
  if (codepack::PackCode(code.View(false), packed2, 2) != "" ||
      codepack::MeasureFieldBits(code.View(false), bits2, 2) != "") {
    std::printf("%s: the code did not pack in version 2\n", name.c_str());
    return;
  }
  std::printf("  version 2: %zu bytes, %.1f %% smaller than version 1; OI %.2f bits per range (version 1: %.2f)\n",
              packed2.size(), 100.0 * (1.0 - static_cast<double>(packed2.size()) / packed.size()), bits2.oi / n,
              bits.oi / n);
}

void BM_Pack(benchmark::State& state, const std::string& name, int version) {
  const RealCode& code = Codes()[name];
  std::vector<uint8_t> packed;
  for (auto _ : state) {
    if (codepack::PackCode(code.View(false), packed, version) != "") state.SkipWithError("packing failed");
    benchmark::DoNotOptimize(packed.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(code.Ranges()));
  state.counters["bytes"] = static_cast<double>(packed.size());
}

void BM_Unpack(benchmark::State& state, const std::string& name, int version) {
  const RealCode& code = Codes()[name];
  std::vector<uint8_t> packed;
  codepack::PackCode(code.View(false), packed, version);
  codepack::UnpackedCode out;
  for (auto _ : state) {
    if (codepack::UnpackCode(packed.data(), packed.size(), out) != "") state.SkipWithError("unpacking failed");
    benchmark::DoNotOptimize(out.si.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(code.Ranges()));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (const char* name : {"camera.bmp", "astronaut.bmp"}) {
    RealCode code;
    if (!EncodeImage(name, code)) {
      std::printf("%s: cannot encode (missing from ../shared/data?)\n", name);
      continue;
    }
    PrintSizes(name, code);
    Codes()[name] = std::move(code);
    for (int version : {1, 2}) {
      const std::string suffix = name + std::string("/v") + std::to_string(version);
      benchmark::RegisterBenchmark(("Pack/" + suffix).c_str(), BM_Pack, std::string(name), version);
      benchmark::RegisterBenchmark(("Unpack/" + suffix).c_str(), BM_Unpack, std::string(name), version);
    }
  }
  std::fflush(stdout);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
