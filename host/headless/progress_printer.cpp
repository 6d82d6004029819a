#include "headless/progress_printer.h"

#include <cmath>

namespace vorlan::host {

std::string FormatHms(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  if (seconds > 359999) seconds = 359999;  // 99:59:59
  const int total = static_cast<int>(seconds);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02i:%02i:%02i", total / 3600, total / 60 % 60, total % 60);
  return buffer;
}

ProgressPrinter::ProgressPrinter(std::FILE* out, bool terminal, bool quiet)
    : out_(out), terminal_(terminal), quiet_(quiet) {}

void ProgressPrinter::Store(const RunStatus& status) {
  std::lock_guard lock(mutex_);
  if (status.graphState != status_.graphState) graphStateChanged_ = true;
  if (status.current != status_.current || status.currentState != status_.currentState) stateChanged_ = true;
  status_ = status;
}

void ProgressPrinter::OnFilterProgress(const RunStatus& status) { Store(status); }
void ProgressPrinter::OnGraphProgress(const RunStatus& status) { Store(status); }

void ProgressPrinter::OnRunError(const RunError& error) {
  std::lock_guard lock(mutex_);
  error_ = error;
}

void ProgressPrinter::OnRunFinished(int32_t) {
  std::lock_guard lock(mutex_);
  graphStateChanged_ = true;
}

std::optional<RunError> ProgressPrinter::Error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::string ProgressPrinter::Line(const RunStatus& s, double elapsed) const {
  const double overall = s.Overall();
  const double estimated = overall > 0 ? elapsed / overall : elapsed;
  std::string filter = "-";
  if (s.current >= 0) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "[%i] %s %i.%i (%i) %s", s.current,
                  s.currentInfo.name != nullptr ? s.currentInfo.name : "", s.currentInfo.major, s.currentInfo.minor,
                  s.currentInfo.id, StateName(static_cast<int32_t>(s.currentState)));
    filter = buffer;
  }
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, "%s | filter %.2f %% | graph %s %.2f %% | elapsed %s remaining %s",
                filter.c_str(), s.filterFraction * 100.0, StateName(static_cast<int32_t>(s.graphState)),
                overall * 100.0, FormatHms(elapsed).c_str(), FormatHms(estimated - elapsed).c_str());
  return buffer;
}

void ProgressPrinter::Print(bool final) {
  if (quiet_) return;
  const auto now = std::chrono::steady_clock::now();
  RunStatus status;
  bool changed = false;
  bool graphChanged = false;
  {
    std::lock_guard lock(mutex_);
    status = status_;
    changed = stateChanged_;
    graphChanged = graphStateChanged_;
    stateChanged_ = false;
    graphStateChanged_ = false;
  }
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const bool secondPassed = now - lastPrint_ >= std::chrono::seconds(1);
  if (terminal_) {
    if (!final && !changed && !graphChanged && now - lastPrint_ < std::chrono::milliseconds(100)) return;
    const std::string line = Line(status, elapsed);
    // Pad over the previous line's tail instead of relying on terminal escapes.
    const size_t pad = lastWidth_ > line.size() ? lastWidth_ - line.size() : 0;
    std::fprintf(out_, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
    if (final) std::fputc('\n', out_);
    lastWidth_ = line.size();
  } else {
    // A graph waiting for input changes its current filter every pass:
    // filter changes are shown at most twice a second, the graph's own
    // state changes at once.
    const bool halfSecondPassed = now - lastPrint_ >= std::chrono::milliseconds(500);
    if (!final && !graphChanged && !(changed && halfSecondPassed) && !secondPassed) return;
    std::fprintf(out_, "%s\n", Line(status, elapsed).c_str());
  }
  std::fflush(out_);
  lastPrint_ = now;
}

}  // namespace vorlan::host
