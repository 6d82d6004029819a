// The skeleton every concrete filter of this system is built on. It owns
// the parts all filters share (state, stop request, the two configuration
// pins, the Process steps around the work, Reset, failure reasons); a filter
// supplies its pins, its settings and its Work.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "vorlan/contract.h"
#include "vorlan/pin_types.h"

namespace vorlan {

class FilterBase : public Filter {
 public:
  // Copies `prototype` into `info` and adds "Cfg in" and "Cfg out" as pins 0
  // and 1. A pin that cannot be allocated leaves the filter in Error.
  explicit FilterBase(const FilterInfo& prototype);
  ~FilterBase();

  // Defaults for a filter without settings: accepts anything, returns an
  // empty Config packet.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  Packet GetConfig(ConfigForm form) override;

  Result Initialize() override;
  Result Deinitialize() override;
  // Without a user interface in the process there is nothing to show:
  // returns Failed. Plug-ins override this with their dialog.
  Result Configure() override;

  // The common steps: stop check, state, "Cfg in", Work, final progress,
  // "Cfg out", Done. Work's Stopped and failures release partial outputs.
  Result Process() final;
  // Withdraws every output pin, frees the "Cfg out" packet, calls
  // ReleaseOutputs and clears the stop request; Error is kept.
  Result Reset() final;
  // Safe from any thread while Process runs.
  Result Stop() final;

  // Null when the current settings can run, else why not (SettingsProblem),
  // kept until the next call. [ui thread, no run active]
  const char* SettingsCheckText();

  // Why the last operation failed, "" when nothing failed.
  const char* FailureReason() const { return failure_.c_str(); }

  bool StopRequested() const { return stopRequested_.load(std::memory_order_relaxed); }

  // The packet types pin `index` carries (pin_types.h); 0 when not said.
  uint32_t PinPacketTypes(int32_t index) const;

  Pin* ConfigInPin() const { return pinCount > 0 ? pins[0] : nullptr; }
  Pin* ConfigOutPin() const { return pinCount > 1 ? pins[1] : nullptr; }

 protected:
  // The filter's own part of Process: read inputs (ReadTyped and friends),
  // work, publish the data outputs. Return Ok, InputNotReady (nothing
  // published), Stopped (after noticing StopRequested) or Failed (with a
  // reason set through Fail). [worker thread]
  virtual Result Work() = 0;

  // Why the current settings cannot run, naming the field ("\"maxRanges\"
  // must be at least 1"); "" when they can. The check a run makes before it
  // touches any input; filters with settings override it and call it from
  // Work. [ui or worker thread, no concurrent ApplyConfig]
  virtual std::string SettingsProblem() const { return {}; }

  // A packet that arrived on "Cfg in" during Process. The default applies it
  // in Serialized form and ignores a rejection; returning anything but Ok
  // fails the run.
  virtual Result ApplyRunConfig(Packet packet);

  // Frees the filter's output payloads and run buffers; output pins have
  // already been withdrawn. Called by Reset, after a failed or stopped Work
  // and by the destructor of the concrete filter when it wants to.
  virtual void ReleaseOutputs() {}

  // Extra work for Stop (for example flags of helper threads). [ui thread]
  virtual void OnStop() {}

  // Adds a pin at the end of `pins`; null (and state Error) when memory runs out.
  Pin* AddNewPin(const char* name, PinKind kind);
  // The same, saying which packet types the pin carries (pin_types.h).
  Pin* AddNewPin(const char* name, PinKind kind, uint32_t packetTypes);
  // Frees every pin from `first` on (for filters whose pin set follows
  // their settings). The host re-validates edges afterwards.
  void RemovePinsFrom(int32_t first);

  // Input helpers. Each returns Ok, InputNotReady, or Failed with a reason
  // naming the pin (not connected, wrong packet type, malformed record).
  // On Ok the pointer refers to the producer's payload, borrowed until the
  // producer's next Reset or Process.
  Result ReadTyped(Pin* input, PacketType type, Packet& packet);
  Result ReadPlane(Pin* input, const Plane*& plane);
  Result ReadIntArray(Pin* input, const IntArray*& array);
  // Any packet but the record types IntArray and Plane, read as its bytes.
  Result ReadBytes(Pin* input, const uint8_t*& data, int32_t& length);

  // Records a reason and returns Failed.
  Result Fail(std::string reason);
  Result Failf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  void ReportProgress(double fraction);

  // Reserves `bytes` of the process's budget for decoded payloads before a
  // decoder allocates them; Failed with a reason naming this filter, `what`
  // and the size when the budget cannot cover it. The reservation is
  // returned when the next Process starts, on Reset, after a failed or
  // stopped Work and when the filter is destroyed. [worker thread]
  Result ReserveDecoded(int64_t bytes, const char* what);
  // The same for data decoded from `inputBytes` of input, under the
  // expansion rule of vorlan/memory_budget.h as well. [worker thread]
  Result ReserveDecoded(int64_t bytes, int64_t inputBytes, const char* what);
  // Returns `bytes` of this filter's reservations before the usual time,
  // for a buffer that is gone already (the pool's share first). [worker thread]
  void ReturnDecodedPart(int64_t bytes);

  // Some filters do not report 1.0 at the end of Process.
  bool reportFinalProgress_ = true;

 private:
  void WithdrawOutputs();
  void ReturnDecoded();

  std::atomic<bool> stopRequested_{false};
  std::string failure_;
  std::string settingsProblem_;  // the text CheckSettings returned last
  std::vector<uint32_t> pinTypes_;  // by pin index; shorter when later pins say nothing
  int64_t decodedReserved_ = 0;  // bytes of the decoded-memory budget held
  int64_t unbackedReserved_ = 0;  // the part of them taken from the shared pool
};

}  // namespace vorlan
