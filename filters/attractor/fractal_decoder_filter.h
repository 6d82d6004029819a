// "HV decoder": rebuilds the ranges and transforms of a fractal code and
// iterates them from a black image into a Plane, optionally at a multiple
// of the code's resolution and with smoothed range borders.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "decode_plan.h"
#include "decoder_settings.h"
#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"

namespace vorlan::attractor {

// What a progress window shows after each pass. The samples are the
// decoder's working image, valid only during the call.
struct FeedbackFrame {
  const double* samples = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  double lo = 0.0;
  double hi = 0.0;
  int32_t rangeCount = 0;
  int32_t pass = 0;         // passes done so far
  double lastRms = -1.0;    // distance between the last two images, -1 until measured
  double progress = 0.0;    // 0..1
};

class FractalDecoderFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"HV decoder", 1, 0, 140};

  // Pin indexes.
  static constexpr int32_t kHdrPin = 2;
  static constexpr int32_t kSiPin = 3;
  static constexpr int32_t kOiPin = 4;
  static constexpr int32_t kTrnPin = 5;
  static constexpr int32_t kDpPin = 6;
  static constexpr int32_t kDfPin = 7;
  static constexpr int32_t kRpPin = 8;
  static constexpr int32_t kRsPin = 9;
  static constexpr int32_t kRtdPin = 10;
  static constexpr int32_t kRttPin = 11;
  static constexpr int32_t kOutPin = 12;

  // In modes 1 and 2 the decoder gives up waiting for the stop rule here.
  static constexpr int32_t kMaxConvergencePasses = 1000;

  FractalDecoderFilter();
  ~FractalDecoderFilter();

  // [ui thread] Native: the 40-byte record (36 bytes keep the picture
  // limit); Serialized: up to ten fields.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  // New malloc'ed memory for the caller.
  Packet GetConfig(ConfigForm form) override;

  const FractalDecoderSettings& Settings() const { return settings_; }
  static const SettingsDescription& DescribeSettings() { return DecoderSettingsDescription(); }
  std::string SettingsProblem() const override { return CheckSettings(settings_); }

  // Figures of the last run, for tests and windows. [any thread after a run]
  int32_t PassCount() const { return passCount_; }
  double LastRms() const { return lastRms_; }

  // The range rectangles of the last decoded code in output pixels, as a
  // copy a window may keep. [any thread]
  struct Outline {
    int32_t x, y, width, height;
  };
  std::vector<Outline> RangeOutlines() const;

 protected:
  Result Work() override;
  void ReleaseOutputs() override;

  // Feedback window hooks, called on the worker thread during a run with
  // `feedback` = 1. Without a user interface there is no window and the
  // run proceeds as with `feedback` = 0.
  virtual bool FeedbackAvailable() const { return false; }
  virtual void FeedbackShow(bool /*drawRanges*/) {}
  virtual void FeedbackRefresh(const FeedbackFrame& /*frame*/) {}
  virtual void FeedbackHide() {}

 private:
  // Reads the code's pins; Ok, InputNotReady or Failed with a reason.
  Result ReadCode(const uint8_t*& header, int32_t& headerLength, CodeArrays& code);
  Result Iterate(const DecodePlan& plan, double*& current, double*& other, bool feedback);
  void Refresh(bool feedback, const DecodePlan& plan, const double* image, double progress);

  FractalDecoderSettings settings_;
  Pin* codePins_[10] = {};
  Pin* out_ = nullptr;
  OwnedPlane output_;
  int32_t passCount_ = 0;
  double lastRms_ = -1.0;
  mutable std::mutex outlineLock_;
  std::vector<Outline> outlines_;
};

}  // namespace vorlan::attractor
