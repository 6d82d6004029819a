// Where the module finds the plug-ins it runs: the registry of one Python
// process. GUI-free.
#pragma once

#include <string>

#include "core/registry.h"

namespace vorlan::python {

// The folder the module stands in for the program: the build tree's root
// when the module was loaded from <build>/python/vorlan/, else the
// installed program's folder. Its `filters` folder is searched first, then
// the user's folder and VORLAN_FILTER_PATH, as `vorlan` searches them.
std::string ProgramFolderOfModule();

// The process's registry, built on first use and never destroyed: filters
// held by Python objects may outlive the module's own teardown at exit, and
// their libraries must stay loaded for them. [caller holds the GIL]
const host::Registry& ModuleRegistry();

}  // namespace vorlan::python
