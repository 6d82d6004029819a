// Graphs as text: a JSON form of a graph file that people can read, diff and
// write, with settings by field name where the filter's library describes
// them. Converting a graph file to text and back gives the same bytes.
//
//   {"format": "vorlan-graph", "version": 1, "origin": {"x": 0, "y": 0},
//    "nodes": [{"id": 1, "filter": "HV encoder", "filterId": 130,
//               "caption": "encoder", "x": 200, "y": 40,
//               "settings": {"mode": "least_error", "maxRanges": 4000, ...}}],
//    "edges": [{"from": {"node": "grey", "pin": "Out"},
//               "to": {"node": "encoder", "pin": "In"}}]}
//
// The whole format is written down in docs/graph-text.md. GUI-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorlan::host {

class GraphDocument;
class Registry;

// A graph file's records exactly as stored, read without creating filters.
struct GraphFileNode {
  int32_t filterId = 0;
  int32_t nodeId = 0;
  std::string caption;     // the bytes, not necessarily UTF-8
  uint8_t captionEnd = 0;  // the byte after the caption; writers put 0 there
  int32_t x = 0;
  int32_t y = 0;
  std::vector<uint8_t> settings;  // the Serialized stream
};

struct GraphFileEdge {
  int32_t fromNode = 0;
  int32_t fromPin = 0;
  int32_t toNode = 0;
  int32_t toPin = 0;
};

struct GraphFileRecords {
  int32_t originX = 0;
  int32_t originY = 0;
  std::vector<GraphFileNode> nodes;
  std::vector<GraphFileEdge> edges;
  std::vector<uint8_t> trailing;  // bytes after the last edge (ignored by loading)
};

// The records of graph file bytes; false with `error` (and the byte offset)
// when the bytes are not a graph file's layout. Filters and ids are not
// checked here: loading does that.
bool ParseGraphBytes(const uint8_t* data, size_t size, GraphFileRecords& records, std::string& error);
std::vector<uint8_t> GraphBytes(const GraphFileRecords& records);

// Whether file bytes hold the text form: the first byte that is not white
// space (after an optional UTF-8 byte order mark) is '{'. Graph files start
// with the origin's x, whose low byte '{' (123) would need an origin 2^24
// times out of range.
bool IsGraphText(const uint8_t* data, size_t size);

// The text of `records`. The registry gives filter names, settings
// descriptions and pin names (from a scratch filter with the node's
// settings); what it cannot name is written by number or as base64 bytes.
std::string GraphToText(const GraphFileRecords& records, const Registry& registry);
// The records of a graph's text. False with `error`: where the text is
// damaged ("line 4, column 17: ..."), or the path of the value that is
// wrong ("nodes[2].settings.maxRanges: ...") with what is valid.
bool GraphFromText(std::string_view text, const Registry& registry, GraphFileRecords& records, std::string& error);

// Graph file bytes from either form (the text is converted); false with
// `error` when the text is wrong. Binary bytes are copied as they are.
bool GraphFileBytes(const std::vector<uint8_t>& content, const Registry& registry, std::vector<uint8_t>& bytes,
                    std::string& error);

// `vorlan --convert IN OUT`: reads IN in either form and writes OUT as text
// when its name ends in ".json", as a graph file otherwise, through a
// temporary file so a failure leaves OUT as it was.
bool ConvertGraphFile(const std::string& in, const std::string& out, const Registry& registry, std::string& error);

// Writes `bytes` to `path` through a temporary file in the same folder.
bool ReplaceFileContents(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

// Whether a file name asks for the text form (ends in ".json", any case).
bool IsTextGraphName(std::string_view path);

}  // namespace vorlan::host
