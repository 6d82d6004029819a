// Feeds arbitrary bytes to the Image decoder. Only inputs that start like a
// PNG or a JPEG go through; other formats are Qt plug-ins outside this
// harness. The decoder must either publish three consistent planes within
// the size limit or fail with a reason.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picture_decoder_filter.h"

namespace {

bool PngOrJpeg(const uint8_t* data, size_t size) {
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size >= 8 && std::memcmp(data, kPng, 8) == 0) return true;
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20) || !PngOrJpeg(data, size)) return 0;
  using namespace vorlan;
  // An exact-size copy, so any read past the end is caught.
  std::vector<uint8_t> bytes(data, data + size);
  PictureDecoderFilter decoder;
  decoder.Initialize();
  // One megapixel keeps every run within the fuzzer's memory limit.
  PictureDecoderSettings settings{1};
  decoder.ApplyConfig(MakePacket(sizeof settings, PacketType::Config, &settings), ConfigForm::Native);
  Pin* source = NewPin("Out", PinKind::Output);
  Publish(source, MakePacket(static_cast<int32_t>(size), PacketType::Bytes, bytes.data()));
  ConnectPins(decoder.pins[PictureDecoderFilter::kInPin], source);

  const Result result = decoder.Process();
  if (result == Ok) {
    const Plane& r = decoder.RPlane();
    const Plane& b = decoder.BPlane();
    const int64_t pixels = int64_t{r.width} * r.height;
    if (r.width <= 0 || r.height <= 0 || pixels > (int64_t{1} << 20) || r.width != b.width ||
        r.height != b.height || !(r.max == 255.0 || r.max == 65535.0) || r.samples[pixels - 1] < 0.0 ||
        r.samples[pixels - 1] > r.max) {
      std::abort();
    }
  } else if (result != Failed || decoder.FailureReason()[0] == '\0') {
    std::abort();
  }
  decoder.Reset();
  std::free(source->name);
  delete source;
  return 0;
}
