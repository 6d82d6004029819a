// "HV encoder": turns one grey-level plane into a fractal code on an HV
// partition, published as the header "HDR" and nine integer arrays.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "code/code_builder.h"
#include "search/encoder_search.h"
#include "encoder_settings.h"
#include "vorlan/filter_base.h"

namespace vorlan::collage {

// Pin indexes after "Cfg in" (0) and "Cfg out" (1).
inline constexpr int32_t kInPin = 2;
inline constexpr int32_t kHeaderPin = 3;  // "HDR", then SI ... RTT on 4 ... 12
inline constexpr int32_t kFirstArrayPin = 4;

class FractalEncoderFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"HV encoder", 1, 0, 130};

  FractalEncoderFilter();
  ~FractalEncoderFilter();

  // [ui thread] Native: the 80-byte record; Serialized: twenty raw 4-byte
  // values, a short stream keeping the remaining fields. Not validated here.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  // Returns malloc'ed memory the caller frees.
  Packet GetConfig(ConfigForm form) override;

  const FractalEncoderSettings& Settings() const { return settings_; }
  static const SettingsDescription& DescribeSettings() { return EncoderSettingsDescription(); }
  std::string SettingsProblem() const override { return ValidateSettings(settings_); }

  // [any thread] A copy of the running search's state; false when no search
  // is running.
  bool Snapshot(SearchSnapshot& snapshot);
  // Domain comparisons of the last finished search.
  int64_t LastComparisons() const { return lastComparisons_; }
  int64_t LastComparedValues() const { return lastComparedValues_; }
  // Ranges of the last published code.
  int32_t RangeCount() { return code_.SI().Record().count; }
  // For benches: the rich pool search's coarse grid and kept candidates
  // (see RichSearchRule), used from the next run on.
  void SetRichRule(const RichSearchRule& rule) { richRule_ = rule; }

 protected:
  Result Work() override;
  void ReleaseOutputs() override;
  void OnStop() override;

  // The feedback window, supplied by the plug-in with a user interface.
  // All are called on the processing thread.
  virtual bool FeedbackAvailable() const { return false; }
  virtual void FeedbackBegin(const Plane& /*image*/) {}
  virtual void FeedbackRefresh() {}
  virtual void FeedbackHide() {}

 private:
  Result CheckInput(const Plane& plane);
  void ReleaseSearch();

  FractalEncoderSettings settings_;
  FractalCode code_;
  std::atomic<bool> searchStop_{false};  // set by Stop, polled by the workers
  std::mutex searchOwner_;                // guards the search_ pointer for Snapshot
  std::unique_ptr<EncoderSearch> search_;
  int64_t lastComparisons_ = 0;
  int64_t lastComparedValues_ = 0;
  RichSearchRule richRule_;
};

}  // namespace vorlan::collage
