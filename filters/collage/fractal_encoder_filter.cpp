#include "fractal_encoder_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "code/rate_fit.h"
#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan::collage {

FractalEncoderFilter::FractalEncoderFilter() : FilterBase(kInfo) {
  reportFinalProgress_ = false;  // Work reports 1.0 itself, before the stop check
  AddNewPin("In", PinKind::Input, kPlanePacket);
  for (int32_t k = 0; k < 10; ++k) AddNewPin(fractal::kCodePinNames[k], PinKind::Output, k == 0 ? kBytesPacket : kIntArrayPacket);
}

FractalEncoderFilter::~FractalEncoderFilter() {
  ReleaseSearch();
  code_.Release();
}

Result FractalEncoderFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the settings packet is empty");
  if (form == ConfigForm::Native) {
    // A record from before the trailing fields keeps their current values.
    constexpr int32_t kBaseBytes = 4 * kBaseSettingsFieldCount;
    if (packet.length < kBaseBytes) return Fail("the settings record is too short");
    std::memcpy(&settings_, packet.data, std::min<size_t>(static_cast<size_t>(packet.length), sizeof settings_));
    return Ok;
  }
  if (packet.length < 0) return Fail("the settings stream is malformed");
  DeserializeSettings(packet, settings_);
  return Ok;
}

Packet FractalEncoderFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&settings_, sizeof settings_);
  return SerializeSettings(settings_);
}

bool FractalEncoderFilter::Snapshot(SearchSnapshot& snapshot) {
  std::lock_guard<std::mutex> guard(searchOwner_);
  if (!search_) return false;
  snapshot = search_->Snapshot();
  return true;
}

void FractalEncoderFilter::OnStop() { searchStop_.store(true); }

void FractalEncoderFilter::ReleaseSearch() {
  std::lock_guard<std::mutex> guard(searchOwner_);
  search_.reset();
}

void FractalEncoderFilter::ReleaseOutputs() {
  ReleaseSearch();
  code_.Release();
}

Result FractalEncoderFilter::CheckInput(const Plane& plane) {
  if (plane.width < 1 || plane.height < 1 || plane.samples == nullptr) {
    return Fail("input \"In\" holds an empty plane");
  }
  if (!std::isfinite(plane.min) || !std::isfinite(plane.max) || !(plane.min < plane.max)) {
    return Fail("input \"In\" has no usable value range (min must be below max, both finite)");
  }
  const int64_t count = int64_t{plane.width} * plane.height;
  for (int64_t k = 0; k < count; ++k) {
    if (!std::isfinite(plane.samples[k])) return Fail("input \"In\" holds samples that are not finite");
  }
  return Ok;
}

Result FractalEncoderFilter::Work() {
  // The previous run's code goes first; nobody may still read it.
  for (int32_t p = kHeaderPin; p < pinCount; ++p) Withdraw(pins[p]);
  code_.Release();

  const Plane* plane = nullptr;
  const Result read = ReadPlane(pins[kInPin], plane);
  if (read != Ok) return read;
  if (CheckInput(*plane) != Ok) return Failed;
  const std::string invalid = ValidateSettings(settings_);
  if (!invalid.empty()) return Fail("invalid settings: " + invalid);

  // Stop requests from now on reach the workers; one that came before Work
  // is still pending in the skeleton's flag.
  searchStop_.store(false);
  if (StopRequested()) searchStop_.store(true);

  auto search = std::unique_ptr<EncoderSearch>(new (std::nothrow) EncoderSearch());
  if (!search) return Fail("out of memory for the search");
  search->SetRichRule(richRule_);
  std::string reason;
  const Result prepared = search->Prepare(settings_, plane->samples, plane->width, plane->height, plane->min,
                                          plane->max, reason, &searchStop_);
  if (prepared == Stopped) return Stopped;
  if (prepared != Ok) return Fail(reason);
  {
    std::lock_guard<std::mutex> guard(searchOwner_);
    search_ = std::move(search);
  }

  const bool feedback = settings_.feedback == 1 && FeedbackAvailable();
  if (feedback) {
    FeedbackBegin(*plane);
  } else {
    FeedbackHide();
  }
  double reported = -1.0;
  auto tick = [&] {
    const double progress = search_->Partition().ProgressHint();
    if (progress != reported) {
      reported = progress;
      ReportProgress(progress);
    }
    if (feedback) FeedbackRefresh();
  };
  const Result run = search_->Run(searchStop_, tick, reason);
  lastComparisons_ = search_->Comparisons();
  lastComparedValues_ = search_->ComparedValues();
  ReportProgress(1.0);
  if (StopRequested() || run == Stopped) {
    ReleaseSearch();
    return Stopped;
  }
  if (run != Ok) {
    ReleaseSearch();
    return Fail(reason);
  }

  // The window's last picture is the finished partition, taken while the
  // search still exists.
  if (feedback) FeedbackRefresh();
  if (search_->ChooseLevels() < 0) {
    ReleaseSearch();
    return Fail("out of memory while choosing the quantiser levels");
  }
  if (search_->FitToAttractor(&searchStop_) < 0) {
    ReleaseSearch();
    return Fail("out of memory or threads while searching against the decoded picture");
  }
  if (StopRequested() || searchStop_.load()) {
    ReleaseSearch();
    return Stopped;
  }
  HvPartition& partition = search_->Partition();
  const bool built = BuildCodeWithinRate(partition, settings_, plane->width, plane->height, plane->min, plane->max,
                                         code_, reason);
  ReleaseSearch();
  if (!built) return Fail(reason);

  Publish(pins[kHeaderPin], MakePacket(fractal::kCodeHeaderSize, PacketType::Bytes, &code_.header));
  for (int32_t k = 0; k < fractal::kCodeArrayCount; ++k) {
    Publish(pins[kFirstArrayPin + k], code_.arrays[k].AsPacket());
  }
  return Ok;
}

}  // namespace vorlan::collage
