// A node's settings read and set by field name, through the description its
// library gives (`vorlan --run --set CAPTION.FIELD=VALUE`, graphs as text).
// [user-interface thread, no run active]
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vorlan/settings_values.h"

namespace vorlan::host {

class GraphDocument;
struct FilterNode;
struct FilterPrototype;

// "CAPTION.FIELD=VALUE": the value follows the first '=', the field the last
// '.' before it, so captions may hold dots.
struct SettingAssignment {
  std::string caption;
  std::string field;
  std::string value;
};
bool ParseSettingAssignment(std::string_view text, SettingAssignment& assignment, std::string& error);

// The prototype a node was made from, null for none.
const FilterPrototype* PrototypeOf(const GraphDocument& document, const FilterNode& node);

// The node's settings as values of its description (every field: fields a
// short stream lacks take their defaults). False with `error` when the
// library describes nothing or the filter's stream does not fit.
bool ReadNodeSettings(const GraphDocument& document, FilterNode& node, std::vector<SettingValue>& values,
                      std::string& error);
// Gives the node these values (every field) through ApplyConfig.
bool WriteNodeSettings(GraphDocument& document, FilterNode& node, const std::vector<SettingValue>& values,
                       std::string& error);

// Sets the field on every node with that caption. Refusals name what is
// valid instead: the captions of the graph, the fields of the filter, the
// field's type and range. A relative path in a path field is taken from the
// current folder, as a file named on the command line is. The ids of the
// nodes changed are appended to `changed`.
bool ApplySettingByName(GraphDocument& document, const SettingAssignment& assignment, std::vector<int32_t>& changed,
                        std::string& error);

// The filters' own check of the nodes' settings (CheckSettings) for the
// node ids given: false with the first refusal, "caption: reason".
bool CheckNodeSettings(GraphDocument& document, const std::vector<int32_t>& nodeIds, std::string& error);

}  // namespace vorlan::host
