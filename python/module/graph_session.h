// A graph held by Python: loaded from a file, settings set by name, run to
// the end with the headless runner's rules, and what its display filters
// received. GUI-free. [one thread at a time, the caller holds no lock]
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/graph_document.h"
#include "core/layout.h"

namespace vorlan::python {

// What a text display showed ("%i", "%f" or the text) and its type.
struct ShownText {
  int32_t nodeId = -1;
  std::string caption;
  std::string value;
  std::string type;  // "Integer", "Float", "String"; "" when it got nothing
};

// The planes an RGB (three) or mono (one) display received, samples copied.
struct ShownPlanes {
  int32_t nodeId = -1;
  std::string caption;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<std::pair<double, double>> ranges;  // per channel
  std::vector<double> samples;                    // rows top first, channels interleaved
  std::string problem;                            // why there is no picture; "" when there is one
};

struct GraphRunResult {
  int exitCode = 0;     // as `vorlan --run` ends: 0, 1, 2, 130 ...
  std::string outcome;  // "Done" or the message the run ended with
  bool interrupted = false;
  bool timedOut = false;
  std::string report;   // the `--report` record (JSON)
  std::vector<ShownText> texts;
  std::vector<ShownPlanes> planes;
};

class GraphSession {
 public:
  explicit GraphSession(const host::Registry& registry);

  // Replaces the graph with a graph file or its text; false with `error`
  // (the graph is then empty). Warnings (dropped edges) are collected.
  bool Load(const std::string& path, std::string& error);
  // Binary graph file, or its text form with `text`.
  bool Save(const std::string& path, bool text, std::string& error);
  // "CAPTION.FIELD" = value text on every node so captioned.
  bool Set(const std::string& target, const std::string& value, std::string& error);
  // The field's value as text ("" with `error` when there is none).
  bool Get(const std::string& target, std::string& value, std::string& error);

  // Sets the paths (file-stream captions), checks the settings set by name,
  // runs the graph and waits. `interrupt` is polled on the calling thread
  // every few milliseconds; true stops the run as SIGINT stops `vorlan
  // --run`. `timeoutSeconds` <= 0 waits as long as it takes.
  GraphRunResult Run(const std::vector<std::pair<std::string, std::string>>& paths, double timeoutSeconds,
                     const std::function<bool()>& interrupt);

  const host::GraphDocument& Document() const { return *document_; }
  const std::vector<std::string>& Warnings() const { return warnings_; }
  const std::string& Path() const { return path_; }

 private:
  host::FixedTextMeasure measure_;
  std::unique_ptr<host::GraphDocument> document_;
  std::string path_;
  std::vector<std::string> assignments_;  // CAPTION.FIELD=VALUE, as --set would list them
  std::vector<int32_t> changed_;          // node ids whose settings were set
  std::vector<std::string> warnings_;
};

}  // namespace vorlan::python
