// Feeds the HV decoder a fractal code made of arbitrary bytes: a 48-byte
// header, then nine arrays (SI, OI, TRN, DP, DF, RP, RS, RTD, RTT), each a
// count byte followed by that many little-endian int32 values (fewer when
// the input runs out). The decoder must refuse what it cannot decode with
// a reason, never read outside an array and never crash.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fractal_decoder_filter.h"
#include "vorlan/contract.h"

namespace {

using vorlan::attractor::FractalDecoderFilter;

struct Source {
  Source() : pin(vorlan::NewPin("src", vorlan::PinKind::Output)) {}
  ~Source() {
    std::free(pin->name);
    delete pin;
  }
  vorlan::Pin* pin;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kHeader = 48;
  if (size < kHeader) return 0;
  int32_t width = 0, height = 0;
  std::memcpy(&width, data, 4);
  std::memcpy(&height, data + 4, 4);
  // Keep the output plane small: a genuine large code is valid, only slow.
  if (int64_t{width} * height > (1 << 16)) return 0;

  std::vector<uint8_t> header(data, data + kHeader);
  std::vector<std::vector<int32_t>> arrays(9);
  size_t at = kHeader;
  for (auto& array : arrays) {
    if (at >= size) break;
    const size_t count = data[at++];
    for (size_t i = 0; i < count && at + 4 <= size; ++i, at += 4) {
      int32_t v = 0;
      std::memcpy(&v, data + at, 4);
      array.push_back(v);
    }
  }

  FractalDecoderFilter decoder;
  decoder.Initialize();
  vorlan::attractor::FractalDecoderSettings settings;
  settings.maxIterations = 2;
  settings.feedback = 0;
  decoder.ApplyConfig(vorlan::Packet{sizeof settings, static_cast<int32_t>(vorlan::PacketType::Config), &settings},
                      vorlan::ConfigForm::Native);

  Source hdr;
  vorlan::Publish(hdr.pin, vorlan::Packet{static_cast<int32_t>(header.size()),
                                          static_cast<int32_t>(vorlan::PacketType::Bytes), header.data()});
  vorlan::ConnectPins(decoder.pins[FractalDecoderFilter::kHdrPin], hdr.pin);
  std::vector<Source> sources(9);
  std::vector<vorlan::IntArray> records(9);
  for (int i = 0; i < 9; ++i) {
    records[i] = vorlan::IntArray{static_cast<int32_t>(arrays[i].size()), arrays[i].data()};
    vorlan::Publish(sources[i].pin, vorlan::Packet{sizeof(vorlan::IntArray),
                                                   static_cast<int32_t>(vorlan::PacketType::IntArray), &records[i]});
    vorlan::ConnectPins(decoder.pins[FractalDecoderFilter::kSiPin + i], sources[i].pin);
  }
  decoder.Process();
  decoder.Reset();
  return 0;
}
