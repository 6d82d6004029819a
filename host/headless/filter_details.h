// `vorlan --inspect [NAME|ID] [--json]`: what a filter is, its pins and its
// settings, from the registry and a scratch filter at its defaults.
// [main thread]
#pragma once

#include <cstdio>
#include <string>

namespace vorlan::host {

class Registry;
struct FilterPrototype;

// The prototype `what` names: its filter id, its name (any case), or its
// library's file name with or without ".so"; null when none does.
const FilterPrototype* FindPrototypeByUserName(const Registry& registry, const std::string& what);

// Every filter briefly (empty `what`), or one in full; JSON with `json`
// (then every filter in full). Returns the exit code: 0, or kExitBadGraph
// when nothing is named `what` (the valid names go to `err`).
int InspectFilters(const Registry& registry, const std::string& what, bool json, std::FILE* out, std::FILE* err);

// The JSON of one prototype: name, id, version, library, pins, settings.
std::string PrototypeJson(const FilterPrototype& prototype, int indent = 2);

}  // namespace vorlan::host
