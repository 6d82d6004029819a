#include "fractal_decoder_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "attractor_iteration.h"
#include "border_deblocking.h"
#include "shrunk_pass.h"
#include "vorlan/config_stream.h"
#include "vorlan/pin_types.h"

namespace vorlan::attractor {

namespace {

constexpr const char* kCodePinNames[10] = {"HDR", "SI", "OI", "TRN", "DP", "DF", "RP", "RS", "RTD", "RTT"};

std::span<const int32_t> View(const IntArray* array) {
  if (array == nullptr || array->count <= 0) return {};
  return {array->values, static_cast<size_t>(array->count)};
}

// Bytes of the arrays the ranges are built from.
int64_t CodeBytes(const CodeArrays& code) {
  size_t values = code.si.size() + code.oi.size() + code.trn.size() + code.dp.size() + code.df.size();
  values += code.useRectangles ? code.rp.size() + code.rs.size() : code.rtd.size() + code.rtt.size();
  return static_cast<int64_t>(values * sizeof(int32_t));
}

}  // namespace

FractalDecoderFilter::FractalDecoderFilter() : FilterBase(kInfo) {
  for (int i = 0; i < 10; ++i) codePins_[i] = AddNewPin(kCodePinNames[i], PinKind::Input, i == 0 ? kBytesLikePackets : kIntArrayPacket);
  out_ = AddNewPin("Out", PinKind::Output, kPlanePacket);
}

FractalDecoderFilter::~FractalDecoderFilter() {
  if (out_ != nullptr) Withdraw(out_);
}

Result FractalDecoderFilter::ApplyConfig(Packet packet, ConfigForm form) {
  if (packet.data == nullptr) return Fail("the decoder settings packet is empty");
  if (form == ConfigForm::Native) {
    // A record of the nine described fields keeps the current picture limit.
    if (packet.length < kDescribedSettingsBytes) {
      return Failf("the decoder settings record holds %d bytes; it needs %d", packet.length, kDescribedSettingsBytes);
    }
    std::memcpy(&settings_, packet.data, std::min<size_t>(static_cast<size_t>(packet.length), sizeof settings_));
  } else if (form == ConfigForm::Serialized) {
    ReadSerialized(packet, settings_);
  }
  return Ok;
}

Packet FractalDecoderFilter::GetConfig(ConfigForm form) {
  if (form == ConfigForm::Native) return NativeConfigPacket(&settings_, sizeof settings_);
  if (form == ConfigForm::Serialized) return WriteSerialized(settings_);
  return Packet{0, 0, nullptr};
}

std::vector<FractalDecoderFilter::Outline> FractalDecoderFilter::RangeOutlines() const {
  std::lock_guard<std::mutex> lock(outlineLock_);
  return outlines_;
}

void FractalDecoderFilter::ReleaseOutputs() { output_.Release(); }

Result FractalDecoderFilter::ReadCode(const uint8_t*& header, int32_t& headerLength, CodeArrays& code) {
  // The transform pins first, in pin order; the first one missing decides.
  Result r = ReadBytes(codePins_[0], header, headerLength);
  if (r != Ok) return r;
  if (header == nullptr) return Fail("input \"HDR\" received an empty packet");
  const IntArray* arrays[5] = {};
  for (int i = 0; i < 5; ++i) {
    r = ReadIntArray(codePins_[1 + i], arrays[i]);
    if (r != Ok) return r;
  }
  code.si = View(arrays[0]);
  code.oi = View(arrays[1]);
  code.trn = View(arrays[2]);
  code.dp = View(arrays[3]);
  code.df = View(arrays[4]);

  // Geometry: the rectangles when both arrive, else the tree when a
  // rectangle pin is left unconnected.
  Pin* rp = codePins_[6];
  Pin* rs = codePins_[7];
  const Result rpState = ReadInput(rp);
  const Result rsState = ReadInput(rs);
  const IntArray* first = nullptr;
  const IntArray* second = nullptr;
  if (rpState == Ok && rsState == Ok) {
    if ((r = ReadIntArray(rp, first)) != Ok || (r = ReadIntArray(rs, second)) != Ok) return r;
    code.useRectangles = true;
    code.rp = View(first);
    code.rs = View(second);
    return Ok;
  }
  if (rpState != InputNotConnected && rsState != InputNotConnected) return InputNotReady;
  Pin* rtd = codePins_[8];
  Pin* rtt = codePins_[9];
  const Result rtdState = ReadInput(rtd);
  const Result rttState = ReadInput(rtt);
  if (rtdState == InputNotConnected || rttState == InputNotConnected) {
    return Fail("the code's ranges are missing: connect \"RP\" and \"RS\" or \"RTD\" and \"RTT\"");
  }
  if (rtdState != Ok || rttState != Ok) return InputNotReady;
  if ((r = ReadIntArray(rtd, first)) != Ok || (r = ReadIntArray(rtt, second)) != Ok) return r;
  code.useRectangles = false;
  code.rtd = View(first);
  code.rtt = View(second);
  return Ok;
}

Result FractalDecoderFilter::Work() {
  // The previous output is withdrawn before its buffer goes.
  Withdraw(out_);
  output_.Release();
  passCount_ = 0;
  lastRms_ = -1.0;

  std::string reason = CheckSettings(settings_);
  if (!reason.empty()) return Fail(reason);

  const uint8_t* headerBytes = nullptr;
  int32_t headerLength = 0;
  CodeArrays code;
  const Result read = ReadCode(headerBytes, headerLength, code);
  if (read != Ok) return read;

  fractal::CodeHeader header{};
  reason = ParseHeader(headerBytes, headerLength, header);
  if (!reason.empty()) return Fail(reason);

  DecodePlan plan;
  try {
    reason = BuildDecodePlan(header, code, settings_.resolutionX, settings_.resolutionY, plan);
    if (reason.empty()) {
      std::vector<Outline> outlines;
      outlines.reserve(plan.ranges.size());
      for (const DecoderRange& r : plan.ranges) outlines.push_back(Outline{r.x, r.y, r.width, r.height});
      std::lock_guard<std::mutex> lock(outlineLock_);
      outlines_ = std::move(outlines);
    }
  } catch (const std::bad_alloc&) {
    return Fail("out of memory while rebuilding the code's ranges");
  }
  if (!reason.empty()) return Fail(reason);
  // The output plane is one of the two working images, so the result needs
  // no copy when the last pass (or the smoothing) wrote into it.
  const int64_t count = int64_t{plan.width} * plan.height;
  // The header's size is a claim a few bytes can make: the picture must be
  // within the setting, and the output and the second working image (8
  // bytes a pixel each) within the budget, as decoded from the code's
  // arrays. The resolution factors are this graph's own choice, so they
  // widen what the code pays for.
  if (count > (int64_t{settings_.maxMegapixels} << 20)) {
    return Failf("an output of %d x %d pixels is more than the largest picture of %d megapixels (setting "
                 "\"maxMegapixels\")",
                 plan.width, plan.height, static_cast<int>(settings_.maxMegapixels));
  }
  const int64_t codeBytes = headerLength + CodeBytes(code);
  if (ReserveDecoded(2 * count * int64_t{sizeof(double)},
                     codeBytes * settings_.resolutionX * settings_.resolutionY,
                     "the output and working images") != Ok) {
    return Failed;
  }
  // One pass or none is a defined picture (black, or the offsets) whatever
  // the code; more passes claim to approach an attractor this code lacks.
  if (settings_.mode != 0 || settings_.maxIterations > 1) {
    int64_t diverging = -1;
    try {
      diverging = FirstNonConverging(plan);  // within the reservation just made
    } catch (const std::bad_alloc&) {
      return Fail("out of memory while checking that the code contracts");
    }
    if (diverging >= 0) {
      const DecoderRange& r = plan.ranges[static_cast<size_t>(diverging)];
      return Failf("the code cannot contract, so its decoding does not converge: range %lld (%d x %d at %d, %d) "
                   "copies a domain of its own size (shrink factors 1 x 1) at scale %+g",
                   static_cast<long long>(diverging), r.width, r.height, r.x, r.y, r.scale);
    }
  }
  if (!output_.Allocate(plan.width, plan.height, header.lo, header.hi)) {
    return Failf("out of memory for the output plane of %d x %d pixels", plan.width, plan.height);
  }
  std::fill(output_.Samples(), output_.Samples() + count, 0.0);
  std::unique_ptr<double[]> b(new (std::nothrow) double[static_cast<size_t>(count)]());
  if (!b) return Failf("out of memory for the working images of %d x %d pixels", plan.width, plan.height);
  double* current = output_.Samples();
  double* other = b.get();

  const bool feedback = settings_.feedback == 1 && FeedbackAvailable();
  if (feedback) {
    FeedbackShow(settings_.drawRanges == 1);
  } else if (FeedbackAvailable()) {
    FeedbackHide();
  }

  const Result iterated = Iterate(plan, current, other, feedback);
  if (iterated != Ok) return iterated;
  if (StopRequested()) return Stopped;

  if (current != output_.Samples()) {
    std::memcpy(output_.Samples(), current, static_cast<size_t>(count) * sizeof(double));
  }
  Publish(out_, output_.AsPacket());
  return Ok;
}

Result FractalDecoderFilter::Iterate(const DecodePlan& plan, double*& current, double*& other, bool feedback) {
  // The shrunk pictures cost up to one more image; without the memory the
  // passes reduce every domain where it lies, to the same values.
  ShrunkPass shrunk;
  PassScratch scratch;
  bool shrunkReady = false;
  try {
    shrunk.Build(plan.ranges, plan.width, plan.height);
    shrunkReady = true;
  } catch (const std::bad_alloc&) {
    shrunk = ShrunkPass{};
  }
  try {
    if (!shrunkReady) scratch.Reserve(plan.ranges);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory for the decoder's pass buffers");
  }
  const StopPoll stop = [this] { return StopRequested(); };
  const int64_t count = int64_t{plan.width} * plan.height;
  double progress = 0.0;

  // One pass writes the other image from the current one, then they swap.
  auto pass = [&]() -> bool {
    Refresh(feedback, plan, current, progress);
    const bool done = shrunkReady ? shrunk.Run(current, other, stop)
                                  : ApplyPass(plan.ranges, current, other, plan.width, scratch, stop);
    if (!done) return false;
    std::swap(current, other);
    return true;
  };

  const auto mode = static_cast<DecodeMode>(settings_.mode);
  if (mode == DecodeMode::MaxIterations) {
    const int32_t passes = settings_.maxIterations;
    while (passCount_ < passes && !StopRequested()) {
      if (!pass()) return Stopped;
      ++passCount_;
      progress = static_cast<double>(passCount_) / passes;
      ReportProgress(progress);
    }
  } else {
    // The distance to the attractor is at most rms / (1 - s) for a
    // contraction with largest |scale| s, so the rule tests that bound.
    const double tolerance = mode == DecodeMode::MaxRmsError
                                 ? static_cast<double>(settings_.maxRmsError)
                                 : (1.0 - static_cast<double>(settings_.quality)) * (plan.header.hi - plan.header.lo);
    const double sStar = plan.maxAbsScale;
    const double factor = sStar == 1.0 ? 1.0 : 1.0 / (1.0 - sStar);
    bool converged = false;
    while (passCount_ < kMaxConvergencePasses && !StopRequested()) {
      if (passCount_ >= 2 && lastRms_ * factor <= tolerance) {
        converged = true;
        break;
      }
      if (!pass()) return Stopped;
      lastRms_ = RmsDifference(current, other, count);
      ++passCount_;
      progress = lastRms_ > 0.0 ? tolerance / lastRms_ : 1.0;
      progress = std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
      ReportProgress(progress);
    }
    if (!converged && !StopRequested() && !(lastRms_ * factor <= tolerance)) {
      return Failf("the decoding did not converge within %d passes: the last pass still changed the picture by "
                   "%g (RMS), the stop rule allows %g",
                   kMaxConvergencePasses, lastRms_ * factor, tolerance);
    }
  }
  if (StopRequested()) return Stopped;

  if (settings_.postProcessing == static_cast<int32_t>(PostProcessing::BorderSmoothing)) {
    SmoothBorders(plan.ranges, current, other, plan.width, plan.height);
    std::swap(current, other);
  } else if (settings_.postProcessing == static_cast<int32_t>(PostProcessing::Deblocking)) {
    DeblockBorders(plan.ranges, current, other, plan.width, plan.height, OffsetQuantum(plan.header));
    std::swap(current, other);
  }
  progress = 1.0;
  ReportProgress(progress);
  Refresh(feedback, plan, current, progress);
  return Ok;
}

void FractalDecoderFilter::Refresh(bool feedback, const DecodePlan& plan, const double* image, double progress) {
  if (!feedback) return;
  FeedbackFrame frame;
  frame.samples = image;
  frame.width = plan.width;
  frame.height = plan.height;
  frame.lo = plan.header.lo;
  frame.hi = plan.header.hi;
  frame.rangeCount = static_cast<int32_t>(plan.ranges.size());
  frame.pass = passCount_;
  frame.lastRms = lastRms_;
  frame.progress = progress;
  FeedbackRefresh(frame);
}

}  // namespace vorlan::attractor
