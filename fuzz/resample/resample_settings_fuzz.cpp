// Any bytes applied as Serialized resampler settings must be taken without
// reading past their end, must write back to the same settings, and either
// fail the run with a reason or resample a small plane (of a size taken from
// the input, with and without a "Size" plane) within its buffers.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "resampler_filter.h"

namespace {

using namespace vorlan;

// A producer's output pin for the filter to read from.
struct Source {
  Pin pin{};
  Source() {
    pin.kind = static_cast<int32_t>(PinKind::Output);
    pin.name = const_cast<char*>("Out");
  }
};

void Feed(Pin* input, Source& source, Plane& plane) {
  input->connected = 1;
  input->peer = &source.pin;
  Publish(&source.pin, MakePacket(sizeof(Plane), PacketType::Plane, &plane));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1u << 16) return 0;
  // An exact-size copy, so a read past the end is caught.
  std::vector<uint8_t> bytes(data, data + size);
  PlaneResamplerFilter filter;
  filter.ApplyConfig(MakePacket(static_cast<int32_t>(size), PacketType::Config, bytes.empty() ? nullptr : bytes.data()),
                     ConfigForm::Serialized);
  const Packet written = filter.GetConfig(ConfigForm::Serialized);
  PlaneResamplerFilter again;
  if (again.ApplyConfig(written, ConfigForm::Serialized) != Ok) std::abort();
  if (again.Settings().factor != filter.Settings().factor || again.Settings().method != filter.Settings().method) {
    std::abort();
  }
  std::free(written.data);

  const int32_t width = 1 + static_cast<int32_t>(size % 7);
  const int32_t height = 1 + static_cast<int32_t>((size / 7) % 5);
  std::vector<double> samples(static_cast<size_t>(width * height));
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = i < size ? data[i] : 0.5;
  Plane in{width, height, 0.0, 255.0, width * height * 8, samples.data()};
  // A "Size" plane one short of the full factor on each side, when there is one.
  const int32_t factor = filter.Settings().factor;
  const bool sized = size % 2 == 1 && factor >= 2 && factor <= 8;
  const int32_t likeWidth = sized ? width * factor - (width > 1 ? 1 : 0) : 1;
  const int32_t likeHeight = sized ? height * factor - (height > 1 ? 1 : 0) : 1;
  std::vector<double> likeSamples(static_cast<size_t>(likeWidth * likeHeight));
  Plane like{likeWidth, likeHeight, 0.0, 1.0, likeWidth * likeHeight * 8, likeSamples.data()};

  filter.Initialize();
  Source source, sizeSource;
  Feed(filter.pins[PlaneResamplerFilter::kInPin], source, in);
  if (sized) Feed(filter.pins[PlaneResamplerFilter::kSizePin], sizeSource, like);
  const Result r = filter.Process();
  if (r != Ok && filter.FailureReason()[0] == '\0') std::abort();
  if (r == Ok) {
    const Plane& out = filter.OutputPlane();
    double sum = 0;
    for (int64_t i = 0; i < int64_t{out.width} * out.height; ++i) sum += out.samples[i];
    if (!(sum == sum)) std::abort();  // finite inputs give no NaN
  }
  return 0;
}
