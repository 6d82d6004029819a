#include "headless/headless_runner.h"

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "core/graph_document.h"
#include "core/graph_file.h"
#include "core/graph_runner.h"
#include "core/layout.h"
#include "core/plugin_search.h"
#include "core/registry.h"
#include "core/settings_by_name.h"
#include "headless/command_line.h"
#include "headless/display_report.h"
#include "headless/progress_printer.h"
#include "headless/run_report.h"
#include "vorlan/config_stream.h"
#include "vorlan/file_target.h"
#include "vorlan/memory_budget.h"

namespace vorlan::host {
namespace {

constexpr int32_t kFileInputStreamId = 10;
constexpr int32_t kFileOutputStreamId = 20;

// The number of the first stopping signal received, 0 for none.
volatile std::sig_atomic_t interrupted = 0;
// Set while the graph loads. Nothing has been written then and nothing
// needs undoing, so a stopping signal ends the program at once instead of
// waiting for the nodes loaded so far to be torn down (a second for a
// million of them).
volatile std::sig_atomic_t exitAtOnce = 0;

extern "C" void OnInterrupt(int signal) {
  if (interrupted == 0) interrupted = signal;
  if (exitAtOnce != 0) {
    static const char kMessage[] = "Interrupted while loading the graph.\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    ::_exit(kExitSignalBase + signal);
  }
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Installs the handler of the stopping signals for its lifetime and restores
// the old ones. The flag is cleared only by RunGraph(options), so a signal
// while the libraries load is not forgotten.
class InterruptGuard {
 public:
  InterruptGuard() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kStopSignals); ++i) ::sigaction(kStopSignals[i], &action, &previous_[i]);
  }
  ~InterruptGuard() {
    for (size_t i = 0; i < std::size(kStopSignals); ++i) ::sigaction(kStopSignals[i], &previous_[i], nullptr);
  }

 private:
  struct sigaction previous_[std::size(kStopSignals)] {};
};

int InterruptedExit() { return kExitSignalBase + interrupted; }

// The budget for decoded data while a run lasts; the previous limit after.
class MemoryLimitScope {
 public:
  explicit MemoryLimitScope(int64_t bytes) : previous_(SharedDecodedMemoryBudget().limit.load()) {
    SetDecodedMemoryLimit(bytes > 0 ? bytes : kDefaultDecodedMemoryLimit);
  }
  ~MemoryLimitScope() { SetDecodedMemoryLimit(previous_); }

 private:
  int64_t previous_;
};

}  // namespace

bool ParseRunOptions(int argc, char** argv, RunOptions& options, std::string& error) {
  std::vector<std::string> args{"vorlan", "--run"};
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
  CommandLine line;
  if (!ParseCommandLine(args, line, error)) return false;
  if (line.mode != CommandLine::Mode::Run) {
    error = "--run takes a graph and run options only";
    return false;
  }
  options = line.run;
  return true;
}

bool ParseByteCount(const std::string& text, int64_t& bytes) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  size_t at = 0;
  int64_t value = 0;
  constexpr int64_t kMost = int64_t{1} << 50;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    value = value * 10 + (text[at] - '0');
    if (value > kMost) return false;
    ++at;
  }
  int shift = 0;
  if (at < text.size()) {
    switch (text[at]) {
      case 'K': case 'k': shift = 10; break;
      case 'M': case 'm': shift = 20; break;
      case 'G': case 'g': shift = 30; break;
      default: return false;
    }
    ++at;
    if (at < text.size() && (text[at] == 'B' || text[at] == 'b')) ++at;
  }
  if (at != text.size() || value == 0 || value > (kMost >> shift)) return false;
  bytes = value << shift;
  return true;
}

bool SetStreamPath(GraphDocument& document, const std::string& caption, const std::string& path,
                   std::string& error) {
  // A file named on the command line is where the user stands, not beside
  // the graph: relative names are made absolute against the current folder.
  std::string absolute = path;
  if (!path.empty() && path.front() != '/') {
    std::error_code failed;
    const std::filesystem::path full = std::filesystem::absolute(path, failed);
    if (!failed) absolute = full.lexically_normal().string();
  }
  ConfigWriter writer;
  writer.Text(absolute);
  const std::vector<uint8_t>& bytes = writer.Bytes();
  int matched = 0;
  for (int32_t i = 0; i < document.NodeCount(); ++i) {
    FilterNode& node = *document.Node(i);
    const int32_t id = node.filter->info.id;
    if (node.caption != caption || (id != kFileInputStreamId && id != kFileOutputStreamId)) continue;
    const Packet packet =
        MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Config, const_cast<uint8_t*>(bytes.data()));
    if (node.filter->ApplyConfig(packet, ConfigForm::Serialized) != Ok) {
      error = "filter \"" + caption + "\" refused the path " + path;
      const std::string reason = node.FailureReason();
      if (!reason.empty()) error += ": " + reason;
      return false;
    }
    ++matched;
  }
  if (matched == 0) {
    error = "no file stream node is captioned \"" + caption + "\"";
    return false;
  }
  return true;
}

std::string DescribeFolders(const Registry& registry, const char* indent) {
  std::string text;
  for (const Registry::SearchedFolder& f : registry.Folders()) {
    text += indent;
    text += f.folder.path + " (" + OriginLabel(f.folder.origin) + (f.present ? ")\n" : ", absent)\n");
  }
  return text;
}

void ListPrototypes(const Registry& registry, std::FILE* out, const std::vector<std::string>& ignored) {
  if (!registry.Folders().empty()) {
    std::fprintf(out, "Plug-in folders, searched in this order:\n%s", DescribeFolders(registry, "  ").c_str());
  }
  for (const std::string& line : ignored) std::fprintf(out, "warning: %s\n", line.c_str());
  for (int32_t i = 0; i < registry.PrototypeCount(); ++i) {
    const FilterPrototype& p = registry.Prototype(i);
    const FilterLibrary& l = *p.library;
    std::fprintf(out, "%s %i.%i [%i]\t%s %i.%i (%s)\n", p.info.name, p.info.major, p.info.minor, p.info.id,
                 l.info.name, l.info.major, l.info.minor, l.fileName.c_str());
  }
  if (!registry.Rejected().empty()) {
    std::fprintf(out, "Not loaded:\n");
    for (const Registry::RejectedLibrary& r : registry.Rejected()) {
      std::fprintf(out, "  %s: %s\n", r.path.c_str(), r.reason.c_str());
    }
  }
  std::fprintf(out, "Loaded %i Libraries with %i Filter prototypes.\n", registry.LibraryCount(),
               registry.PrototypeCount());
}

int RunGraph(const RunOptions& options) {
  interrupted = 0;
  InterruptGuard guard;
  const SearchInputs search = ProcessSearchInputs(options.filterFolders);
  const Registry registry(PluginSearchPath(search));
  for (const std::string& line : IgnoredSearchEntries(search)) std::fprintf(stderr, "warning: %s\n", line.c_str());
  for (const Registry::RejectedLibrary& r : registry.Rejected()) {
    std::fprintf(stderr, "warning: plug-in %s not loaded: %s\n", r.path.c_str(), r.reason.c_str());
  }
  return RunGraph(registry, options, stdout, stderr);
}

int RunGraph(const Registry& registry, const RunOptions& options, std::FILE* out, std::FILE* err) {
  const FixedTextMeasure measure;
  GraphDocument document(registry, measure);
  RunRecord record;
  // Every way out goes through here: the report, when asked for, records it.
  auto finish = [&](int code, std::string outcome) {
    record.exitCode = code;
    record.outcome = std::move(outcome);
    if (!options.report.empty()) {
      std::string why;
      if (!WriteRunReport(options, record, document, why)) {
        std::fprintf(err, "The run report could not be written: %s\n", why.c_str());
        if (code == kExitDone) return kExitFailed;  // the report is an output of the run
      }
    }
    return code;
  };
  auto refuse = [&](int code, const std::string& message) {
    std::fprintf(err, "%s\n", message.c_str());
    return finish(code, message);
  };

  if (!options.report.empty()) {
    const std::string unwritable = CheckWritableTarget(options.report);
    if (!unwritable.empty()) return refuse(kExitBadGraph, "--report " + options.report + ": " + unwritable);
  }
  // A stopping signal ends a long load too: at once while it loads (unless
  // a report must still be written: then at the loader's next look, which
  // comes within milliseconds), or at the loader's next look when it came
  // just before.
  exitAtOnce = options.report.empty() ? 1 : 0;
  const GraphLoadResult load = LoadGraphFile(document, options.graph, [] { return interrupted != 0; });
  exitAtOnce = 0;
  if (load.interrupted) return refuse(InterruptedExit(), "Interrupted while loading the graph.");
  if (!load.ok) {
    return refuse(kExitBadGraph, std::string(kFailedToLoadGraph) + "\n" + options.graph + ": " + load.error);
  }
  record.loaded = true;
  for (const std::string& warning : load.warnings) std::fprintf(err, "warning: %s\n", warning.c_str());
  for (const auto& [caption, path] : options.paths) {
    std::string error;
    if (!SetStreamPath(document, caption, path, error)) return refuse(kExitBadGraph, error);
  }
  std::vector<int32_t> changed;
  for (const std::string& text : options.settings) {
    SettingAssignment assignment;
    std::string error;
    if (!ParseSettingAssignment(text, assignment, error) || !ApplySettingByName(document, assignment, changed, error)) {
      return refuse(kExitBadGraph, error);
    }
  }
  if (std::string error; !CheckNodeSettings(document, changed, error)) {
    return refuse(kExitBadGraph, "--set: " + error);
  }

  ProgressPrinter printer(err, ::isatty(::fileno(err)) != 0, options.quiet);
  RunController& run = document.Run();
  const MemoryLimitScope memoryLimit(options.memoryLimit);
  InterruptGuard guard;
  if (interrupted != 0) {
    const std::string message = "Interrupted before the run started.";
    std::fprintf(err, "%s\n", message.c_str());
    return finish(InterruptedExit(), message);
  }
  std::string refusal;
  if (!run.Start(&printer, &refusal)) return refuse(kExitFailed, "The run could not start: " + refusal);
  record.ran = true;
  bool stopRequested = false;
  while (!run.WaitForWorker(std::chrono::milliseconds(100))) {
    if (interrupted != 0 && !stopRequested) {
      run.Stop();
      stopRequested = true;
    }
    printer.Print();
  }
  printer.Print(true);
  const int32_t result = run.LastResult();
  // A signal that came as the last filter finished stopped nothing: every
  // output is written, and the run is Done like any other.
  if (interrupted != 0 && result != Ok) {
    return refuse(InterruptedExit(), "Stopped by signal " + std::to_string(static_cast<int>(interrupted)) + ".");
  }
  if (const auto error = printer.Error()) return refuse(kExitFailed, error->message);
  if (result == OutOfMemory) return refuse(kExitFailed, "Out of memory.");
  if (result != Ok) return refuse(kExitFailed, result == Stopped ? "The run was stopped." : "Error occured.");

  WriteTextDisplayLines(document, out);
  if (!options.snapshots.empty()) {
    std::vector<std::string> problems, failures;
    const auto written = WriteDisplaySnapshots(document, options.snapshots, problems, failures);
    for (const std::string& p : problems) std::fprintf(err, "warning: %s\n", p.c_str());
    if (!options.quiet) {
      for (const std::string& w : written) std::fprintf(err, "snapshot %s\n", w.c_str());
    }
    // The snapshots are the run's output here: losing one fails the run.
    for (const std::string& f : failures) std::fprintf(err, "%s\n", f.c_str());
    if (!failures.empty()) return finish(kExitFailed, failures.front());
  }
  return finish(kExitDone, "Done");
}

}  // namespace vorlan::host
