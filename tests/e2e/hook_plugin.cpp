// Filters that hold a run or a graph load at a chosen moment, so that an
// end-to-end test can deliver a real signal exactly there. Each takes a file
// name as its settings (the raw bytes) and announces the moment by creating
// that file.
//   "Test load hook": while its node's settings are applied (the graph is
//     loading), creates the file and sleeps until a stop signal arrives (at
//     most 20 s).
//   "Test end hook": its first Process waits for input that never comes
//     (InputNotReady); the second creates the file, waits until the host asks
//     it to stop (at most 20 s) and then finishes anyway, as a filter does
//     that was done with its work when the stop came.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <new>
#include <string>
#include <thread>

#include "vorlan/filter_base.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

using namespace vorlan;

namespace {

void Announce(const std::string& path) {
  if (std::FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
}

class HookBase : public FilterBase {
 public:
  using FilterBase::FilterBase;
  Result ApplyConfig(Packet packet, ConfigForm) override {
    if (packet.data != nullptr && packet.length > 0) {
      path_.assign(static_cast<const char*>(packet.data), static_cast<size_t>(packet.length));
      Applied();
    }
    return Ok;
  }

 protected:
  virtual void Applied() {}
  std::string path_;
};

class LoadHook final : public HookBase {
 public:
  static constexpr FilterInfo kInfo{"Test load hook", 1, 0, 9311};
  LoadHook() : HookBase(kInfo) {}

 protected:
  void Applied() override {
    // The stop signals are held from before the announcement until the
    // wait, which lets them in atomically: a signal sent the moment the file
    // appears ends the wait (EINTR) instead of landing before it and leaving
    // the load asleep for the whole 20 s.
    sigset_t stops;
    sigset_t previous;
    sigemptyset(&stops);
    for (int number : {SIGHUP, SIGINT, SIGTERM}) sigaddset(&stops, number);
    ::pthread_sigmask(SIG_BLOCK, &stops, &previous);
    Announce(path_);
    const timespec wait{20, 0};
    ::ppoll(nullptr, 0, &wait, &previous);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  Result Work() override { return Ok; }
};

class EndHook final : public HookBase {
 public:
  static constexpr FilterInfo kInfo{"Test end hook", 1, 0, 9312};
  EndHook() : HookBase(kInfo) {}

 protected:
  Result Work() override {
    if (++calls_ == 1) return InputNotReady;
    Announce(path_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!StopRequested() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return Ok;
  }
  void ReleaseOutputs() override { calls_ = 0; }

 private:
  int calls_ = 0;
};

}  // namespace

TEST_EXPORT FilterLibraryInfo GetFilterLibraryInfo() { return {"Test Hook Library", 1, 0, 2}; }
TEST_EXPORT FilterInfo GetFilterInfo(int32_t index) {
  if (index == 0) return LoadHook::kInfo;
  if (index == 1) return EndHook::kInfo;
  return FilterInfo{"", 0, 0, 0};
}
TEST_EXPORT Filter* CreateFilter(int32_t index) {
  if (index == 0) return new (std::nothrow) LoadHook();
  if (index == 1) return new (std::nothrow) EndHook();
  return nullptr;
}
TEST_EXPORT void DestroyFilter(Filter* filter, int32_t index) {
  if (filter == nullptr) return;
  if (index == 0) delete static_cast<LoadHook*>(filter);
  if (index == 1) delete static_cast<EndHook*>(filter);
}
