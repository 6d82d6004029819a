// Progress of a headless run on stderr: the current filter, its state, the
// filter and graph percentages, elapsed and remaining time. On a terminal
// one line is rewritten in place; otherwise plain lines are written on state
// changes and about once a second.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "core/graph_runner.h"

namespace vorlan::host {

// "%02i:%02i:%02i" of whole hours, minutes and seconds (negative and
// non-finite durations as zero).
std::string FormatHms(double seconds);

// The observer of a headless run. Observer calls store the latest status
// (worker thread); Print writes it (main thread).
class ProgressPrinter final : public RunObserver {
 public:
  ProgressPrinter(std::FILE* out, bool terminal, bool quiet);

  void OnFilterProgress(const RunStatus& status) override;
  void OnGraphProgress(const RunStatus& status) override;
  void OnRunError(const RunError& error) override;
  void OnRunFinished(int32_t result) override;

  // Writes what is due; `final` forces the last status out and ends the line.
  void Print(bool final = false);
  std::optional<RunError> Error() const;

 private:
  std::string Line(const RunStatus& s, double elapsed) const;
  void Store(const RunStatus& status);

  std::FILE* out_;
  const bool terminal_;
  const bool quiet_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  mutable std::mutex mutex_;
  RunStatus status_;                    // guarded by mutex_
  bool stateChanged_ = true;            // current filter or its state; guarded by mutex_
  bool graphStateChanged_ = true;       // guarded by mutex_
  std::optional<RunError> error_;       // guarded by mutex_
  // Main thread only.
  std::chrono::steady_clock::time_point lastPrint_{};
  size_t lastWidth_ = 0;
};

}  // namespace vorlan::host
