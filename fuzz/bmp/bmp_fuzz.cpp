// Feeds arbitrary bytes to the Bmp decoder as a BMP file. The decoder must
// either publish three consistent planes or fail with a reason, without
// reading outside the packet or asking for more memory than the input can
// describe.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bmp_decoder_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 24)) return 0;
  using namespace vorlan;
  // An exact-size copy, so any read past the end is caught.
  std::vector<uint8_t> bytes(data, data + size);
  BmpDecoderFilter decoder;
  decoder.Initialize();
  Pin* source = NewPin("Out", PinKind::Output);
  Publish(source, MakePacket(static_cast<int32_t>(size), PacketType::Bytes, size > 0 ? bytes.data() : nullptr));
  ConnectPins(decoder.pins[BmpDecoderFilter::kInPin], source);

  const Result result = decoder.Process();
  if (result == Ok) {
    const Plane& r = decoder.RPlane();
    const Plane& b = decoder.BPlane();
    // Three bytes per pixel came from inside the input.
    if (r.width <= 0 || r.height <= 0 || int64_t{r.width} * r.height * 3 > static_cast<int64_t>(size) ||
        r.width != b.width || r.height != b.height || r.samples[0] < 0.0 || r.samples[0] > 255.0) {
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
