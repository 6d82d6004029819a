// Decoding a 512 x 512 PNG into three planes: the whole Image decoder
// Process, Qt's PNG reader alone, and the Bmp decoder on the same picture
// as BMP for comparison. Reported as pixels per second (items_per_second)
// on one core. The shared pictures come from VORLAN_SHARED_DATA_DIR.
//
// Every run allocates its planes afresh, as a graph run does; where page
// faults are expensive (virtual machines) that first touch dominates. With
// --warm-heap the allocator keeps freed memory (no mmap, no trimming), so
// the figures show the decoding itself.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bmp_decoder_filter.h"
#include "picture_decoder_filter.h"

namespace vorlan {
namespace {

std::vector<uint8_t> ReadShared(const char* name) {
  std::ifstream in(std::string(VORLAN_SHARED_DATA_DIR) + "/" + name, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> AsPng(const std::vector<uint8_t>& bmp) {
  QImage image;
  image.loadFromData(bmp.data(), static_cast<int>(bmp.size()), "BMP");
  // The grey camera is stored as a one-channel PNG, as a converter would.
  if (image.isGrayscale()) image = image.convertToFormat(QImage::Format_Grayscale8);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter(&buffer, "png").write(image);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

const char* Picture(const benchmark::State& state) { return state.range(0) == 0 ? "camera.bmp" : "astronaut.bmp"; }

template <class Decoder>
void RunDecoder(benchmark::State& state, const std::vector<uint8_t>& file) {
  if (file.empty()) {
    state.SkipWithError("the shared picture is missing");
    return;
  }
  Decoder decoder;
  decoder.Initialize();
  Pin* source = NewPin("Out", PinKind::Output);
  Publish(source, MakePacket(static_cast<int32_t>(file.size()), PacketType::Bytes, const_cast<uint8_t*>(file.data())));
  ConnectPins(decoder.pins[Decoder::kInPin], source);
  for (auto _ : state) {
    decoder.Reset();
    if (decoder.Process() != Ok) state.SkipWithError(decoder.FailureReason());
  }
  state.SetItemsProcessed(state.iterations() * int64_t{decoder.RPlane().width} * decoder.RPlane().height);
  decoder.Reset();
  std::free(source->name);
  delete source;
}

void BM_ImageDecoderPng(benchmark::State& state) {
  const auto png = AsPng(ReadShared(Picture(state)));
  state.SetLabel(std::string(Picture(state)) + " as PNG, " + std::to_string(png.size()) + " bytes");
  RunDecoder<PictureDecoderFilter>(state, png);
}
BENCHMARK(BM_ImageDecoderPng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_QtPngReaderOnly(benchmark::State& state) {
  const auto png = AsPng(ReadShared(Picture(state)));
  state.SetLabel(Picture(state));
  int64_t pixels = 0;
  for (auto _ : state) {
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImage image = QImageReader(&buffer, "png").read();
    pixels = int64_t{image.width()} * image.height();
    benchmark::DoNotOptimize(image.constBits());
  }
  state.SetItemsProcessed(state.iterations() * pixels);
}
BENCHMARK(BM_QtPngReaderOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_BmpDecoder(benchmark::State& state) {
  state.SetLabel(Picture(state));
  RunDecoder<BmpDecoderFilter>(state, ReadShared(Picture(state)));
}
BENCHMARK(BM_BmpDecoder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

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
