// `vorlan --run ... --report FILE.json`: one JSON record of a run, written
// whatever the outcome (loaded or not, done, failed, stopped), through a
// temporary file so a reader never sees half a record. The schema is in
// the manual ("The run report"). [main thread, after the run ended]
#pragma once

#include <chrono>
#include <string>

namespace vorlan::host {

class GraphDocument;
struct RunOptions;

struct RunRecord {
  std::chrono::system_clock::time_point started = std::chrono::system_clock::now();
  std::chrono::steady_clock::time_point startedSteady = std::chrono::steady_clock::now();
  int exitCode = 0;
  std::string outcome;  // "Done", or the message the run ended with
  bool loaded = false;  // the graph was loaded: its nodes are reported
  bool ran = false;     // the run started: the nodes' states and times are its
};

// The record as JSON text.
std::string RunReportJson(const RunOptions& options, const RunRecord& record, const GraphDocument& document);
// Writes it to options.report; false with `error` when the file cannot be written.
bool WriteRunReport(const RunOptions& options, const RunRecord& record, const GraphDocument& document,
                    std::string& error);

}  // namespace vorlan::host
