// Unit test of the Gain filter's processing, without a host and without Qt:
// the filter is fed through a pin of the test's own, as the runner would.
// Run it with `ctest` in the build folder. Keep a test like this beside your
// own filter: it needs nothing but the SDK.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gain_filter.h"
#include "vorlan/config_stream.h"

namespace {

int failures = 0;

#define CHECK(condition)                                                          \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                                 \
    }                                                                             \
  } while (false)

// An upstream filter's output pin, publishing a plane the test owns.
class Source {
 public:
  Source() : pin_(vorlan::NewPin("Out", vorlan::PinKind::Output)) {}
  ~Source() {
    std::free(pin_->name);
    delete pin_;
  }
  vorlan::Pin* pin() { return pin_; }
  void Publish(int32_t width, int32_t height, double min, double max, std::vector<double> samples) {
    samples_ = std::move(samples);
    plane_ = vorlan::Plane{width, height, min, max, width * height * 8, samples_.data()};
    vorlan::Publish(pin_, vorlan::MakePacket(sizeof plane_, vorlan::PacketType::Plane, &plane_));
  }

 private:
  vorlan::Pin* pin_;
  std::vector<double> samples_;
  vorlan::Plane plane_{};
};

void SetSettings(gain::GainFilter& filter, double factor, int32_t clip) {
  vorlan::ConfigWriter writer;
  writer.Float64(factor);
  writer.Int32(clip);
  vorlan::Packet packet = writer.ToPacket();
  CHECK(filter.ApplyConfig(packet, vorlan::ConfigForm::Serialized) == vorlan::Ok);
  std::free(packet.data);
}

const vorlan::Plane& Output(gain::GainFilter& filter) {
  return *static_cast<const vorlan::Plane*>(filter.pins[gain::GainFilter::kOutPin]->packet.data);
}

// The stored settings are a float64 and an int32, and a stream written by
// an older version that lacks the second field keeps the current value.
void SettingsStream() {
  gain::GainFilter filter;
  SetSettings(filter, 0.25, 0);
  vorlan::Packet stream = filter.GetConfig(vorlan::ConfigForm::Serialized);
  CHECK(stream.length == 12);
  gain::GainFilter copy;
  CHECK(copy.ApplyConfig(stream, vorlan::ConfigForm::Serialized) == vorlan::Ok);
  CHECK(copy.Settings().gain == 0.25 && copy.Settings().clip == 0);
  std::free(stream.data);

  vorlan::ConfigWriter shorter;
  shorter.Float64(3.0);
  vorlan::Packet old = shorter.ToPacket();
  CHECK(copy.ApplyConfig(old, vorlan::ConfigForm::Serialized) == vorlan::Ok);
  CHECK(copy.Settings().gain == 3.0 && copy.Settings().clip == 0);
  std::free(old.data);
}

// Every sample is multiplied; with clipping the result stays inside the
// input's declared range, whichever way round the range is given.
void Processing() {
  Source source;
  gain::GainFilter filter;
  CHECK(filter.Initialize() == vorlan::Ok);
  CHECK(vorlan::ConnectPins(filter.pins[gain::GainFilter::kInPin], source.pin()) == vorlan::Ok);
  CHECK(filter.Process() == vorlan::InputNotReady);

  source.Publish(3, 2, 0.0, 255.0, {0.0, 10.0, 100.0, 127.5, 200.0, 255.0});
  SetSettings(filter, 2.0, 1);
  CHECK(filter.Process() == vorlan::Ok);
  const vorlan::Plane& doubled = Output(filter);
  CHECK(doubled.width == 3 && doubled.height == 2 && doubled.min == 0.0 && doubled.max == 255.0);
  const double clipped[] = {0.0, 20.0, 200.0, 255.0, 255.0, 255.0};
  for (int i = 0; i < 6; ++i) CHECK(doubled.samples[i] == clipped[i]);

  filter.Reset();
  SetSettings(filter, -1.0, 0);
  source.Publish(2, 1, 1.0, -1.0, {0.5, -0.75});
  CHECK(filter.Process() == vorlan::Ok);
  CHECK(Output(filter).samples[0] == -0.5 && Output(filter).samples[1] == 0.75);

  filter.Reset();
  SetSettings(filter, 4.0, 1);
  CHECK(filter.Process() == vorlan::Ok);
  CHECK(Output(filter).samples[0] == 1.0 && Output(filter).samples[1] == -1.0);
  CHECK(filter.Deinitialize() == vorlan::Ok);
}

// A stop requested before the work leaves nothing published.
void StopAndWrongInput() {
  Source source;
  gain::GainFilter filter;
  CHECK(filter.Initialize() == vorlan::Ok);
  CHECK(vorlan::ConnectPins(filter.pins[gain::GainFilter::kInPin], source.pin()) == vorlan::Ok);
  source.Publish(4, 4, 0.0, 1.0, std::vector<double>(16, 0.5));
  filter.Stop();
  CHECK(filter.Process() == vorlan::Stopped);
  CHECK(filter.pins[gain::GainFilter::kOutPin]->ready == 0);

  filter.Reset();
  int32_t notAPlane = 7;
  vorlan::Publish(source.pin(), vorlan::MakePacket(sizeof notAPlane, vorlan::PacketType::Integer, &notAPlane));
  CHECK(filter.Process() == vorlan::Failed);
  CHECK(std::strstr(filter.FailureReason(), "In") != nullptr);
  CHECK(filter.Deinitialize() == vorlan::Ok);
}

}  // namespace

int main() {
  SettingsStream();
  Processing();
  StopAndWrongInput();
  if (failures != 0) {
    std::fprintf(stderr, "%d checks failed\n", failures);
    return 1;
  }
  std::printf("gain: all checks passed\n");
  return 0;
}
