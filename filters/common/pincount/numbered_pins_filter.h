// A filter with one fixed data pin and N numbered pins "1".."N" of the other
// direction, N being its only setting (the serializer and deserializer).
#pragma once

#include <cstdint>
#include <string>

#include "vorlan/filter_base.h"

namespace vorlan {

// Numbered pins are built one by one, so their number is bounded.
inline constexpr int32_t kMaxNumberedPins = 4096;

struct PinCountSettings {
  int32_t pinCount = 2;  // N, the number of numbered pins
};

class NumberedPinsFilter : public FilterBase {
 public:
  // Pins: "Cfg in", "Cfg out", the fixed pin, then "1".."N" (N = 2).
  NumberedPinsFilter(const FilterInfo& info, const char* fixedPin, PinKind fixedKind, PinKind numberedKind);
  ~NumberedPinsFilter();

  // Native: the settings record; Serialized: one int32 N (a short stream
  // keeps N). A negative N or one above kMaxNumberedPins is refused; a new N
  // rebuilds the numbered pins (the host drops edges to vanished pins), the
  // same N keeps them.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  Packet GetConfig(ConfigForm form) override;

  const PinCountSettings& Settings() const { return settings_; }

  // "" for a pin count ApplyConfig takes; it refuses the others, so a
  // filter's own count always passes.
  std::string SettingsProblem() const override { return PinCountProblem(settings_.pinCount); }

 protected:
  // Pins cannot be rebuilt while peers read them: a different N arriving on
  // "Cfg in" fails the run.
  Result ApplyRunConfig(Packet packet) override;
  // Called after the numbered pins were removed and before the new ones are
  // built, for state that belongs to the old pins.
  virtual void OnNumberedPinsRemoved() {}

  Pin* FixedPin() const { return pins[kFixedPin]; }
  Pin* NumberedPin(int32_t j) const { return pins[kFixedPin + j]; }  // j in 1..N
  int32_t NumberedPinCount() const { return settings_.pinCount; }

 private:
  std::string PinCountProblem(int32_t n) const;
  Result SetPinCount(int32_t n);
  Result AddNumberedPins();

  static constexpr int32_t kFixedPin = 2;
  PinKind numberedKind_;
  const char* direction_;  // "input" or "output", for messages
  PinCountSettings settings_;
};

}  // namespace vorlan
