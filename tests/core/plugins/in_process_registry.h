// A registry whose one library is the host tests' stand-in filters linked
// into the program itself, for harnesses and benchmarks that cannot load
// plug-in files.
#pragma once

#include <cstdlib>

#include "core/registry.h"
#include "test_filters.h"

namespace vorlan::testplugins {

namespace in_process {

inline FilterLibraryInfo LibraryInfo() { return {"In-process Library", 1, 0, 4}; }

inline FilterInfo Info(int32_t index) {
  switch (index) {
    case 0: return TestSource::kInfo;
    case 1: return TestRelay::kInfo;
    case 2: return TestWorker::kInfo;
    case 3: return TestValid::kInfo;
    default: return FilterInfo{"", 0, 0, 0};
  }
}

inline Filter* Create(int32_t index) {
  switch (index) {
    case 0: return new TestSource();
    case 1: return new TestRelay();
    case 2: return new TestWorker();
    case 3: return new TestValid();
    default: return nullptr;
  }
}

inline void Destroy(Filter* filter, int32_t index) {
  switch (index) {
    case 0: delete static_cast<TestSource*>(filter); break;
    case 1: delete static_cast<TestRelay*>(filter); break;
    case 2: delete static_cast<TestWorker*>(filter); break;
    case 3: delete static_cast<TestValid*>(filter); break;
    default: break;
  }
}

inline const char* Reason(Filter* filter) { return static_cast<FilterBase*>(filter)->FailureReason(); }

inline void Release(Packet packet) { std::free(packet.data); }

}  // namespace in_process

// Built on first use, never destroyed (filters may outlive static destructors).
inline const host::Registry& InProcessRegistry() {
  static host::Registry* registry = [] {
    auto* r = new host::Registry();
    r->AddLibrary("in-process.so", nullptr,
                  host::LibraryEntryPoints{in_process::LibraryInfo, in_process::Info, in_process::Create,
                                           in_process::Destroy, in_process::Reason, in_process::Release});
    return r;
  }();
  return *registry;
}

}  // namespace vorlan::testplugins
