#include <pybind11/pybind11.h>

#include "bindings.h"
#include "plugin_home.h"

namespace py = pybind11;

PYBIND11_MODULE(_vorlan, m) {
  m.doc() = "The compiled half of the vorlan package: the registry of plug-ins and the runs through them.";
  py::register_exception<vorlan::python::ModuleError>(m, "Error", PyExc_ValueError);
  m.def("_program_folder", &vorlan::python::ProgramFolderOfModule,
        "The folder whose filters/ the plug-ins are loaded from first.");
  vorlan::python::BindCodec(m);
  vorlan::python::BindGraphs(m);
}
