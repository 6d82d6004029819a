// The pieces of the extension module vorlan._vorlan.
#pragma once

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

namespace vorlan::python {

// Raised in Python as vorlan.Error (a ValueError).
class ModuleError : public std::runtime_error {
 public:
  explicit ModuleError(const std::string& message) : std::runtime_error(message) {}
};

void BindCodec(pybind11::module_& m);
void BindGraphs(pybind11::module_& m);

}  // namespace vorlan::python
