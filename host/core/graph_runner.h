// Running a graph: RunController starts one worker thread per run that
// calls every filter's Process in node-list order, pass after pass, and
// reports progress, states and failures to a RunObserver.
//
// Threads: RunController's members are called on the user-interface thread
// (the thread that owns the document). The worker owns its GraphRunner;
// Stop and Kill reach it under the controller's lock. Observer calls come
// from the worker thread. A killed run's worker finishes on its own and is
// never again allowed to touch the document or the observer.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vorlan/contract.h"

namespace vorlan::host {

class GraphDocument;
class RunController;

// A snapshot of a run, passed by value to the observer.
struct RunStatus {
  int32_t filterCount = 0;
  int32_t current = -1;      // runner index of the filter in Process, -1 when none
  FilterInfo currentInfo{};  // its info; the name is static text of its library
  int32_t currentNodeId = -1;
  FilterState currentState = FilterState::None;
  FilterState graphState = FilterState::None;
  float filterFraction = 0;  // of the current filter, 0..1
  float graphFraction = 0;   // finished filters / count, 0..1
  // Overall fraction: graphFraction plus the running filter's share
  // filterFraction / filterCount (the filter fraction alone while the count
  // is 0), never above 1; 1 once the graph is Done.
  double Overall() const;
};

// The first line of the error of a run in which every remaining filter
// waits for an input that nothing can publish any more.
inline constexpr const char* kRunCannotFinish =
    "The run cannot finish: every remaining filter waits for an input that nothing will publish.";

struct RunError {
  // "Error on filter : <caption>", plus the filter's reason on a second line
  // when its library gives one; "Error occured." without a filter to blame.
  std::string message;
  std::string caption;  // empty without a filter to blame
  std::string reason;
  int32_t nodeId = -1;
  uint64_t generation = 0;  // RunController::IsCurrentRun tells whether the run was killed since
};

// Observer calls other than OnRunError are made under the controller's lock:
// they must not call back into the RunController.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // [worker thread] Progress of the current filter. Must return promptly:
  // store or post, never wait for the user-interface thread.
  virtual void OnFilterProgress(const RunStatus& status) = 0;
  // [worker thread] The graph's state, fraction or current filter changed.
  // Must return promptly.
  virtual void OnGraphProgress(const RunStatus& status) = 0;
  // [worker thread] The run failed. May block (a message box); the worker
  // waits. Can race with Kill: check IsCurrentRun(error.generation) on the
  // user-interface thread before showing anything.
  virtual void OnRunError(const RunError& error) = 0;
  // [worker thread] The run ended and the document is idle again
  // (LastResult holds `result`). Not called for a killed run. Must return promptly.
  virtual void OnRunFinished(int32_t result) { (void)result; }
};

// What one filter did in a run: its Process calls and the time spent in
// them. Processor time is the process's (the filter's own threads included;
// only one filter runs Process at a time).
struct FilterRunStats {
  int32_t nodeId = -1;
  int32_t calls = 0;          // Process calls
  int32_t lastResult = -1;    // of the last call, -1 when never called
  double wallSeconds = 0;
  double processorSeconds = 0;
};

// The run context of one run; lives on the worker thread.
class GraphRunner {
 public:
  struct Entry {
    Filter* filter = nullptr;
    int32_t nodeId = -1;
    std::string caption;
    GetFailureReasonFn failureReason = nullptr;
    ReleaseConfigFn releaseConfig = nullptr;
    std::string documentFolder;  // where relative file names in its settings are taken from
  };

  GraphRunner(RunController& controller, uint64_t generation, std::vector<Entry> entries);

  // The scheduling loop. Returns Ok (every filter done), Stopped, Failed or
  // OutOfMemory. A pass that finishes and publishes nothing while every
  // remaining filter waits for input fails the run, naming those filters
  // and the inputs they wait for. [worker thread]
  Result Run();
  // Sets the stop flag and asks every filter to stop. [any thread]
  void RequestStop();

  FilterState State() const { return state_.load(); }
  // Per entry, in runner order. [worker thread, or after the run ended]
  const std::vector<FilterRunStats>& Stats() const { return stats_; }
  int32_t Passes() const { return passes_; }
  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  const Entry& At(int32_t index) const { return entries_[static_cast<size_t>(index)]; }

  // The callback installed in every filter: routes the fraction to the
  // runner of the calling worker thread. Calls from other threads are ignored.
  static void FilterProgressThunk(float fraction);

 private:
  void FilterProgress(float fraction);
  void GraphProgress(float fraction);
  RunStatus Snapshot() const;
  void ReportFailure(int32_t index);
  // Before the first pass: the index of a File Output Stream whose target
  // cannot be written (with the reason), -1 when all can.
  int32_t FindUnwritableTarget(std::string& reason) const;
  void ReportFailure(int32_t index, const std::string& reason);

  // What one output pin publishes, to tell whether a pass published anything.
  struct PublishedOutput {
    uint8_t ready;
    int32_t length;
    int32_t type;
    const void* data;
    bool operator==(const PublishedOutput&) const = default;
  };
  void RecordOutputs(std::vector<PublishedOutput>& outputs) const;
  // One line per unfinished filter: its caption and the inputs it waits for.
  std::string WaitingInputs(const std::vector<uint8_t>& done) const;
  void ReportDeadlock(const std::vector<uint8_t>& done);

  RunController& controller_;
  const uint64_t generation_;
  std::vector<Entry> entries_;
  std::vector<FilterRunStats> stats_;
  int32_t passes_ = 0;
  std::atomic<FilterState> state_{FilterState::None};
  std::atomic<bool> stopRequested_{false};
  int32_t finished_ = 0;
  int32_t current_ = -1;
  float filterFraction_ = 0;
  float graphFraction_ = 0;
};

class RunController {
 public:
  explicit RunController(GraphDocument& document);
  ~RunController();  // Shutdown()
  RunController(const RunController&) = delete;
  RunController& operator=(const RunController&) = delete;

  // Resets every filter, connects the pins along the edges and starts the
  // worker. Refuses (false, with a reason) while a run is active, when a
  // filter is in Error or fails its Reset, when an edge names a missing pin,
  // or when memory runs out. Waits first for a killed run's worker.
  // `observer` must outlive the run (it may be null).
  bool Start(RunObserver* observer, std::string* refusal = nullptr);
  // Asks the run to stop: the runner's flag, then every filter's Stop.
  void Stop();
  // Returns the document to idle at once (last result -1): sets every stop
  // flag and abandons the worker, which finishes on its own.
  void Kill();
  // Kill, then wait for the worker however long it takes.
  void Shutdown();

  // The document's running flag: a run was started and neither ended nor was killed.
  bool IsRunning() const;
  // Result of the last run: Ok, Stopped, Failed, OutOfMemory; -1 while none
  // is known (before the first run, during a run, after Kill).
  int32_t LastResult() const;
  // A worker thread (running or killed) still exists.
  bool IsBusy() const;
  // Non-blocking: no worker thread is left.
  bool WorkerGone() const { return !IsBusy(); }
  // Waits up to `timeout` for the worker (running or killed) to end; true
  // when it is gone. Call repeatedly while processing UI events.
  bool WaitForWorker(std::chrono::milliseconds timeout);
  // Whether `generation` is the run the document still follows.
  bool IsCurrentRun(uint64_t generation) const;
  // What each filter of the last ended run did (empty before the first run,
  // during a run and after Kill), and the passes the runner made.
  std::vector<FilterRunStats> LastRunStats() const;
  int32_t LastRunPasses() const;

 private:
  friend class GraphRunner;
  bool Prepare(std::vector<GraphRunner::Entry>& entries, std::string& refusal);
  void WorkerMain(uint64_t generation, GraphRunner* runner);
  void JoinIfGone();
  // Posts from the worker; dropped for an abandoned run.
  void PostFilterProgress(uint64_t generation, const RunStatus& status);
  void PostGraphProgress(uint64_t generation, const RunStatus& status);
  void PostError(uint64_t generation, const RunError& error);

  GraphDocument& document_;
  mutable std::mutex mutex_;
  std::condition_variable workerEnded_;
  std::thread worker_;
  bool workerAlive_ = false;     // guarded by mutex_
  bool running_ = false;         // guarded by mutex_
  int32_t lastResult_ = -1;      // guarded by mutex_
  std::vector<FilterRunStats> lastStats_;  // guarded by mutex_
  int32_t lastPasses_ = 0;                 // guarded by mutex_
  uint64_t generation_ = 0;      // guarded by mutex_; bumped by Start and Kill
  GraphRunner* runner_ = nullptr;  // the live run's runner, owned by its worker; guarded by mutex_
  RunObserver* observer_ = nullptr;  // guarded by mutex_
};

// Human-readable names of FilterState codes: "None", "Ready", "Running",
// "Stopped", "Done", "Error"; "" for anything else.
const char* StateName(int32_t state);

}  // namespace vorlan::host
