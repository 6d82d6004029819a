#include "core/graph_runner.h"

#include <time.h>

#include <cmath>
#include <new>
#include <unordered_map>

#include "core/graph_document.h"
#include "vorlan/config_stream.h"
#include "vorlan/file_names.h"
#include "vorlan/file_target.h"

namespace vorlan::host {
namespace {

// The runner of the run executing on this thread; the filters' progress
// callback is a plain function pointer, so this is how it finds its run.
thread_local GraphRunner* tlsRunner = nullptr;

float ClampFraction(float f) {
  if (std::isnan(f) || f < 0.0f) return 0.0f;
  return f > 1.0f ? 1.0f : f;
}

// A pass in which no filter finished waits this long before the next one,
// so a graph waiting on an input nobody produces does not spin a core.
constexpr auto kIdlePassPause = std::chrono::milliseconds(1);

double ProcessorSeconds() {
  timespec t{};
  if (::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t) != 0) return 0;
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

const char* StateName(int32_t state) {
  switch (state) {
    case 0: return "None";
    case 1: return "Ready";
    case 2: return "Running";
    case 3: return "Stopped";
    case 4: return "Done";
    case 5: return "Error";
    default: return "";
  }
}

double RunStatus::Overall() const {
  if (graphState == FilterState::Done) return 1.0;
  if (filterCount == 0) return filterFraction;
  // A finished filter is already counted in the graph fraction.
  const bool inProgress = current >= 0 && currentState != FilterState::Done;
  const double overall = graphFraction + (inProgress ? static_cast<double>(filterFraction) / filterCount : 0.0);
  return overall > 1.0 ? 1.0 : overall;
}

// ---- GraphRunner -------------------------------------------------------------

GraphRunner::GraphRunner(RunController& controller, uint64_t generation, std::vector<Entry> entries)
    : controller_(controller), generation_(generation), entries_(std::move(entries)), stats_(entries_.size()) {
  for (size_t i = 0; i < entries_.size(); ++i) stats_[i].nodeId = entries_[i].nodeId;
}

void GraphRunner::FilterProgressThunk(float fraction) {
  if (GraphRunner* runner = tlsRunner) runner->FilterProgress(fraction);
}

void GraphRunner::RequestStop() {
  stopRequested_.store(true);
  for (const Entry& e : entries_) e.filter->Stop();
}

RunStatus GraphRunner::Snapshot() const {
  RunStatus s;
  s.filterCount = Count();
  s.current = current_;
  if (current_ >= 0) {
    const Entry& e = At(current_);
    s.currentInfo = e.filter->info;
    s.currentNodeId = e.nodeId;
    s.currentState = e.filter->state.load();
  }
  s.graphState = state_.load();
  s.filterFraction = filterFraction_;
  s.graphFraction = graphFraction_;
  return s;
}

void GraphRunner::FilterProgress(float fraction) {
  // Several filters report 1.0 on their way out of a stopped Process; after
  // a stop request the fraction keeps where the work stood.
  if (!stopRequested_.load()) filterFraction_ = ClampFraction(fraction);
  controller_.PostFilterProgress(generation_, Snapshot());
}

void GraphRunner::GraphProgress(float fraction) {
  graphFraction_ = ClampFraction(fraction);
  controller_.PostGraphProgress(generation_, Snapshot());
}

int32_t GraphRunner::FindUnwritableTarget(std::string& reason) const {
  constexpr int32_t kFileOutputStreamId = 20;
  for (int32_t i = 0; i < Count(); ++i) {
    const Entry& e = At(i);
    Filter* f = e.filter;
    if (f->info.id != kFileOutputStreamId) continue;
    // A path that arrives on "Cfg in" during the run is the filter's to check.
    if (f->pinCount > 0 && f->pins[0] != nullptr && f->pins[0]->connected != 0) continue;
    Packet settings = f->GetConfig(ConfigForm::Serialized);
    std::optional<std::string> path;
    // The trailing folder field: 0 (or absent) the graph's folder, 1 the
    // current folder.
    int32_t folder = 0;
    bool readable = false;
    if (settings.length > 0 && settings.data != nullptr) {
      ConfigReader reader(settings);
      readable = reader.Text(path) && (reader.Remaining() == 0 || reader.Int32(folder));
    }
    if (settings.data != nullptr && e.releaseConfig != nullptr) e.releaseConfig(settings);
    // Settings this check does not understand are the filter's to judge.
    if (!readable || (folder != 0 && folder != 1)) continue;
    const std::string base = folder == 0 ? e.documentFolder : std::string();
    reason = CheckWritableTarget(ResolveFileName(base, path ? *path : std::string()));
    if (!reason.empty()) return i;
  }
  return -1;
}

void GraphRunner::ReportFailure(int32_t index, const std::string& reason) {
  RunError error;
  error.generation = generation_;
  const Entry& e = At(index);
  error.caption = e.caption;
  error.nodeId = e.nodeId;
  error.reason = reason;
  error.message = "Error on filter : " + error.caption + "\n" + reason;
  controller_.PostError(generation_, error);
}

void GraphRunner::ReportFailure(int32_t index) {
  RunError error;
  error.generation = generation_;
  if (index >= 0 && index < Count()) {
    const Entry& e = At(index);
    error.caption = e.caption;
    error.nodeId = e.nodeId;
    if (e.failureReason != nullptr) {
      const char* reason = e.failureReason(e.filter);
      if (reason != nullptr) error.reason = reason;
    }
    error.message = "Error on filter : " + error.caption;
    if (!error.reason.empty()) error.message += "\n" + error.reason;
  } else {
    error.message = "Error occured.";
  }
  controller_.PostError(generation_, error);
}

void GraphRunner::RecordOutputs(std::vector<PublishedOutput>& outputs) const {
  outputs.clear();
  for (const Entry& e : entries_) {
    for (int32_t p = 0; p < e.filter->pinCount; ++p) {
      const Pin* pin = e.filter->pins[p];
      if (pin == nullptr || pin->kind == static_cast<int32_t>(PinKind::Input) ||
          pin->kind == static_cast<int32_t>(PinKind::ConfigIn)) {
        continue;
      }
      outputs.push_back(PublishedOutput{pin->ready, pin->packet.length, pin->packet.type, pin->packet.data});
    }
  }
}

std::string GraphRunner::WaitingInputs(const std::vector<uint8_t>& done) const {
  // The node and pin an input reads from, for the message.
  auto source = [this](const Pin* peer) -> std::string {
    for (const Entry& e : entries_) {
      for (int32_t p = 0; p < e.filter->pinCount; ++p) {
        if (e.filter->pins[p] == peer) {
          std::string name = "\"";
          name.append(e.caption).append("\" pin \"").append(peer->name != nullptr ? peer->name : "").append("\"");
          return name;
        }
      }
    }
    return "an unknown pin";
  };
  std::string text;
  for (int32_t i = 0; i < Count(); ++i) {
    if (done[static_cast<size_t>(i)] != 0) continue;
    const Entry& e = At(i);
    std::string inputs;
    for (int32_t p = 0; p < e.filter->pinCount; ++p) {
      const Pin* pin = e.filter->pins[p];
      if (pin == nullptr || pin->connected == 0 || pin->peer == nullptr || pin->peer->ready != 0) continue;
      // "Cfg in" is optional: a filter never waits for it.
      if (pin->kind != static_cast<int32_t>(PinKind::Input)) continue;
      if (!inputs.empty()) inputs += ", ";
      inputs.append("\"").append(pin->name != nullptr ? pin->name : "").append("\" (from ");
      inputs.append(source(pin->peer)).append(")");
    }
    if (!text.empty()) text += '\n';
    text.append("\"").append(e.caption).append("\" waits for ").append(inputs.empty() ? "an input" : inputs);
  }
  return text;
}

void GraphRunner::ReportDeadlock(const std::vector<uint8_t>& done) {
  RunError error;
  error.generation = generation_;
  error.reason = WaitingInputs(done);
  error.message = std::string(kRunCannotFinish) + "\n" + error.reason;
  controller_.PostError(generation_, error);
}

Result GraphRunner::Run() {
  const int32_t n = Count();
  std::vector<uint8_t> done;
  try {
    done.assign(static_cast<size_t>(n), 0);
  } catch (const std::bad_alloc&) {
    state_ = FilterState::Error;
    GraphProgress(0.0f);
    ReportFailure(-1);
    return OutOfMemory;
  }
  finished_ = 0;
  state_ = FilterState::Running;
  auto fraction = [&] { return n > 0 ? static_cast<float>(finished_) / static_cast<float>(n) : 0.0f; };

  // A target that cannot be written ends the run before any filter works,
  // not after an encode of many seconds.
  std::string unwritable;
  const int32_t blocked = FindUnwritableTarget(unwritable);
  if (blocked >= 0) {
    state_ = FilterState::Error;
    GraphProgress(0.0f);
    ReportFailure(blocked, unwritable);
    return Failed;
  }

  std::vector<PublishedOutput> before, after;
  while (n > 0) {
    bool allSucceeded = true;
    bool allWaiting = true;  // every unfinished filter returned InputNotReady
    const int32_t finishedBefore = finished_;
    ++passes_;
    RecordOutputs(before);
    for (int32_t i = 0; i < n; ++i) {
      // Finished filters are passed over before the stop flag is looked at:
      // a stop that comes once the last filter has finished finds nothing
      // left to stop, and the run is Done.
      if (done[static_cast<size_t>(i)] != 0) continue;
      if (stopRequested_.load()) {
        current_ = -1;
        state_ = FilterState::Stopped;
        GraphProgress(fraction());
        return Stopped;
      }
      Filter* filter = At(i).filter;
      if (filter->state.load() == FilterState::Error) {
        current_ = -1;
        state_ = FilterState::Error;
        GraphProgress(fraction());
        ReportFailure(-1);
        return Failed;
      }
      current_ = i;
      filterFraction_ = 0;
      GraphProgress(fraction());
      const auto wallStart = std::chrono::steady_clock::now();
      const double processorStart = ProcessorSeconds();
      const Result r = filter->Process();
      FilterRunStats& stats = stats_[static_cast<size_t>(i)];
      stats.processorSeconds += ProcessorSeconds() - processorStart;
      stats.wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
      ++stats.calls;
      stats.lastResult = r;
      if (r == Ok) {
        done[static_cast<size_t>(i)] = 1;
        ++finished_;
        GraphProgress(fraction());
      } else if (r == InputNotReady || r == Stopped) {
        allSucceeded = false;
        if (r != InputNotReady) allWaiting = false;
      } else {
        // Failed, and every code a filter has no business returning here
        // (OutOfMemory, InputNotConnected, ...): retrying could loop forever.
        state_ = FilterState::Error;
        GraphProgress(fraction());
        ReportFailure(i);
        return Failed;
      }
      current_ = -1;
    }
    if (allSucceeded) break;
    if (finished_ == finishedBefore) {
      // Inputs only change when a filter publishes. A pass that finished
      // nothing and published nothing, with every remaining filter waiting
      // for input, leaves the next pass exactly where this one started.
      RecordOutputs(after);
      if (allWaiting && after == before && !stopRequested_.load()) {
        current_ = -1;
        state_ = FilterState::Error;
        GraphProgress(fraction());
        ReportDeadlock(done);
        return Failed;
      }
      std::this_thread::sleep_for(kIdlePassPause);
    }
  }
  current_ = -1;
  state_ = FilterState::Done;
  GraphProgress(1.0f);
  return Ok;
}

// ---- RunController -----------------------------------------------------------

RunController::RunController(GraphDocument& document) : document_(document) {}

RunController::~RunController() { Shutdown(); }

bool RunController::IsRunning() const {
  std::lock_guard lock(mutex_);
  return running_;
}

int32_t RunController::LastResult() const {
  std::lock_guard lock(mutex_);
  return lastResult_;
}

bool RunController::IsBusy() const {
  std::lock_guard lock(mutex_);
  return workerAlive_;
}

bool RunController::IsCurrentRun(uint64_t generation) const {
  std::lock_guard lock(mutex_);
  return running_ && generation == generation_;
}

std::vector<FilterRunStats> RunController::LastRunStats() const {
  std::lock_guard lock(mutex_);
  return running_ ? std::vector<FilterRunStats>{} : lastStats_;
}

int32_t RunController::LastRunPasses() const {
  std::lock_guard lock(mutex_);
  return running_ ? 0 : lastPasses_;
}

void RunController::JoinIfGone() {
  {
    std::lock_guard lock(mutex_);
    if (workerAlive_) return;
  }
  if (worker_.joinable()) worker_.join();
}

bool RunController::WaitForWorker(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(mutex_);
    if (!workerEnded_.wait_for(lock, timeout, [this] { return !workerAlive_; })) return false;
  }
  JoinIfGone();
  return true;
}

bool RunController::Prepare(std::vector<GraphRunner::Entry>& entries, std::string& refusal) {
  GraphDocument& doc = document_;
  for (int32_t i = 0; i < doc.NodeCount(); ++i) {
    FilterNode* node = doc.Node(i);
    if (node->filter->state.load() == FilterState::Error) {
      refusal = "filter \"" + node->caption + "\" is unusable (state Error)";
      return false;
    }
    if (node->filter->Reset() != Ok) {
      refusal = "filter \"" + node->caption + "\" refused to reset";
      return false;
    }
  }
  for (int32_t i = 0; i < doc.NodeCount(); ++i) {
    const FilterNode* node = doc.Node(i);
    // Relative file names in settings are taken from the graph's folder.
    if (node->library != nullptr && node->library->entry.setDocumentFolder != nullptr)
      node->library->entry.setDocumentFolder(node->filter, doc.folder.c_str());
    Filter* f = node->filter;
    for (int32_t p = 0; p < f->pinCount; ++p) {
      if (f->pins[p] != nullptr) DisconnectPin(f->pins[p]);
    }
  }
  try {
    entries.reserve(static_cast<size_t>(doc.NodeCount()));
    for (int32_t i = 0; i < doc.NodeCount(); ++i) {
      const FilterNode* node = doc.Node(i);
      entries.push_back(GraphRunner::Entry{node->filter, node->nodeId, node->caption,
                                           node->library != nullptr ? node->library->entry.failureReason : nullptr,
                                           node->library != nullptr ? node->library->entry.releaseConfig : nullptr,
                                           node->library != nullptr && node->library->entry.setDocumentFolder != nullptr
                                               ? doc.folder
                                               : std::string()});
    }
  } catch (const std::bad_alloc&) {
    refusal = "out of memory";
    return false;
  }
  // Nodes by id, found once: a search per edge would make large graphs slow to start.
  std::unordered_map<int32_t, const FilterNode*> byId;
  try {
    byId.reserve(static_cast<size_t>(doc.NodeCount()));
    for (int32_t i = doc.NodeCount() - 1; i >= 0; --i) byId[doc.Node(i)->nodeId] = doc.Node(i);  // the first one wins
  } catch (const std::bad_alloc&) {
    refusal = "out of memory";
    return false;
  }
  auto nodeOf = [&byId](int32_t id) -> const FilterNode* {
    const auto it = byId.find(id);
    return it != byId.end() ? it->second : nullptr;
  };
  for (int32_t i = 0; i < doc.EdgeCount(); ++i) {
    const GraphEdge* e = doc.Edge(i);
    const FilterNode* from = nodeOf(e->fromNode);
    const FilterNode* to = nodeOf(e->toNode);
    Pin* fromPin = (from != nullptr && e->fromPin >= 0 && e->fromPin < from->filter->pinCount)
                       ? from->filter->pins[e->fromPin]
                       : nullptr;
    Pin* toPin =
        (to != nullptr && e->toPin >= 0 && e->toPin < to->filter->pinCount) ? to->filter->pins[e->toPin] : nullptr;
    if (ConnectPins(toPin, fromPin) != Ok) {
      refusal = "edge " + std::to_string(e->edgeId) + " names a pin that does not exist";
      return false;
    }
  }
  for (const GraphRunner::Entry& entry : entries) entry.filter->progress = &GraphRunner::FilterProgressThunk;
  return true;
}

bool RunController::Start(RunObserver* observer, std::string* refusal) {
  std::string why;
  {
    std::lock_guard lock(mutex_);
    if (running_) {
      if (refusal != nullptr) *refusal = "a run is already active";
      return false;
    }
  }
  // A killed run's worker may still be inside a filter: wait until it is gone.
  while (!WaitForWorker(std::chrono::milliseconds(100))) {
  }

  std::vector<GraphRunner::Entry> entries;
  if (!Prepare(entries, why)) {
    if (refusal != nullptr) *refusal = why;
    return false;
  }
  std::lock_guard lock(mutex_);
  const uint64_t generation = ++generation_;
  std::unique_ptr<GraphRunner> owned;
  try {
    owned = std::make_unique<GraphRunner>(*this, generation, std::move(entries));
  } catch (const std::bad_alloc&) {
    if (refusal != nullptr) *refusal = "out of memory";
    return false;
  }
  for (int32_t i = 0; i < owned->Count(); ++i) owned->At(i).filter->owner = owned.get();
  // Set before the thread exists, so a second Start can never reset the
  // filters under a live worker.
  running_ = true;
  workerAlive_ = true;
  lastResult_ = -1;
  lastStats_.clear();
  lastPasses_ = 0;
  observer_ = observer;
  runner_ = owned.get();
  try {
    worker_ = std::thread(&RunController::WorkerMain, this, generation, owned.get());
  } catch (const std::system_error&) {
    running_ = false;
    workerAlive_ = false;
    runner_ = nullptr;
    observer_ = nullptr;
    if (refusal != nullptr) *refusal = "the worker thread could not be created";
    return false;
  }
  owned.release();  // the worker owns its runner from here on
  return true;
}

void RunController::WorkerMain(uint64_t generation, GraphRunner* runnerRaw) {
  std::unique_ptr<GraphRunner> runner(runnerRaw);
  tlsRunner = runner.get();
  int32_t result = -1;
  try {
    result = runner->Run();
  } catch (...) {
    result = -1;  // left abnormally: the result stays unknown
  }
  tlsRunner = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (runner_ == runner.get()) runner_ = nullptr;
    if (generation == generation_ && running_) {
      lastStats_ = runner->Stats();
      lastPasses_ = runner->Passes();
    }
  }
  runner.reset();
  std::lock_guard lock(mutex_);
  if (generation == generation_ && running_) {
    lastResult_ = result;
    running_ = false;
    if (observer_ != nullptr) observer_->OnRunFinished(result);
    observer_ = nullptr;
  }
  workerAlive_ = false;
  workerEnded_.notify_all();
}

void RunController::Stop() {
  std::lock_guard lock(mutex_);
  if (runner_ != nullptr) runner_->RequestStop();
}

void RunController::Kill() {
  std::lock_guard lock(mutex_);
  if (!running_) return;
  if (runner_ != nullptr) runner_->RequestStop();
  ++generation_;  // the worker's generation is now stale
  runner_ = nullptr;
  observer_ = nullptr;
  running_ = false;
  lastResult_ = -1;
  lastStats_.clear();
  lastPasses_ = 0;
}

void RunController::Shutdown() {
  Kill();
  while (!WaitForWorker(std::chrono::milliseconds(100))) {
  }
}

void RunController::PostFilterProgress(uint64_t generation, const RunStatus& status) {
  std::lock_guard lock(mutex_);
  if (generation == generation_ && observer_ != nullptr) observer_->OnFilterProgress(status);
}

void RunController::PostGraphProgress(uint64_t generation, const RunStatus& status) {
  std::lock_guard lock(mutex_);
  if (generation == generation_ && observer_ != nullptr) observer_->OnGraphProgress(status);
}

void RunController::PostError(uint64_t generation, const RunError& error) {
  RunObserver* observer = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (generation == generation_) observer = observer_;
  }
  // Not under the lock: the observer may wait for the user-interface thread,
  // which must stay free to call Stop or Kill meanwhile.
  if (observer != nullptr) observer->OnRunError(error);
}

}  // namespace vorlan::host
