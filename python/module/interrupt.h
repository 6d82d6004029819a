// Waiting for a worker with the GIL released while Ctrl+C still works.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>

namespace vorlan::python {

// A poll for the waiting thread: takes the GIL for a moment and lets Python
// run its signal handlers. True once one raised (KeyboardInterrupt from
// SIGINT); the exception stays set for the caller to rethrow with the GIL.
class SignalPoll {
 public:
  std::function<bool()> Function() {
    return [this] {
      pybind11::gil_scoped_acquire gil;
      if (PyErr_CheckSignals() != 0) raised_ = true;
      return raised_;
    };
  }
  bool Raised() const { return raised_; }

 private:
  bool raised_ = false;
};

}  // namespace vorlan::python
