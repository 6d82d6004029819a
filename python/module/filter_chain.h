// A fixed chain of filters run the way a graph run calls them: Process
// until Ok, one filter after the other, on a worker thread, while the
// calling thread waits and looks for an interrupt. GUI-free.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "core/graph_document.h"

namespace vorlan::python {

// How often the waiting thread looks for an interrupt.
inline constexpr std::chrono::milliseconds kInterruptPoll{20};

struct ChainOutcome {
  Result result = Ok;         // Ok, Stopped, Failed or OutOfMemory
  bool interrupted = false;   // `interrupt` asked for the stop
  std::string error;          // "<filter name>: <reason>" unless Ok
};

// Runs `nodes` in order; each must read only from pins published by the
// ones before it (or by the caller, whose payloads stay valid throughout).
// `interrupt` is called on the calling thread every kInterruptPoll while the
// worker runs; when it returns true every filter is asked to stop and the
// chain ends Stopped once the worker has. The filters' outputs stay
// published until their next Reset. [one thread per chain; no other use of
// these filters meanwhile]
ChainOutcome RunChain(const std::vector<host::FilterNode*>& nodes, const std::function<bool()>& interrupt);

}  // namespace vorlan::python
