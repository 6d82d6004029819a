#include "filter_chain.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vorlan::python {
namespace {

// Nobody watches the fractions of a chain run.
void IgnoreProgress(float) {}

std::string Describe(const host::FilterNode& node, const std::string& what) {
  const std::string name = node.filter->info.name != nullptr ? node.filter->info.name : node.caption;
  const std::string reason = node.FailureReason();
  return name + ": " + (reason.empty() ? what : reason);
}

}  // namespace

ChainOutcome RunChain(const std::vector<host::FilterNode*>& nodes, const std::function<bool()>& interrupt) {
  for (host::FilterNode* node : nodes) {
    if (node->filter->Reset() != Ok) return {Failed, false, Describe(*node, "cannot be reset")};
    node->filter->progress = IgnoreProgress;
    node->filter->owner = nullptr;
  }

  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::atomic<bool> stop{false};
  ChainOutcome outcome;
  std::thread worker([&] {
    ChainOutcome local;
    for (host::FilterNode* node : nodes) {
      Result r = Ok;
      // A chain's inputs are all there before a filter runs, so waiting for
      // one means nothing will publish it.
      if (stop.load()) {
        r = Stopped;
      } else {
        r = node->filter->Process();
      }
      if (r == InputNotReady || r == InputNotConnected) {
        local = {Failed, false, Describe(*node, "an input it needs was not published")};
        break;
      }
      if (r != Ok) {
        local.result = r == Stopped || r == OutOfMemory ? r : Failed;
        local.error = r == Stopped ? std::string("stopped") : Describe(*node, r == OutOfMemory ? "out of memory" : "failed");
        break;
      }
    }
    std::lock_guard<std::mutex> guard(mutex);
    outcome = std::move(local);
    done = true;
    ended.notify_all();
  });

  bool interrupted = false;
  std::unique_lock<std::mutex> lock(mutex);
  while (!ended.wait_for(lock, kInterruptPoll, [&] { return done; })) {
    if (interrupted) continue;
    lock.unlock();
    if (interrupt && interrupt()) {
      interrupted = true;
      stop.store(true);
      for (host::FilterNode* node : nodes) node->filter->Stop();
    }
    lock.lock();
  }
  lock.unlock();
  worker.join();
  if (interrupted) {
    outcome.result = Stopped;
    outcome.interrupted = true;
    outcome.error = "interrupted";
  }
  return outcome;
}

}  // namespace vorlan::python
