#include "graph_session.h"

#include <chrono>
#include <mutex>
#include <optional>

#include "core/graph_file.h"
#include "core/graph_runner.h"
#include "core/settings_by_name.h"
#include "filter_chain.h"
#include "headless/display_report.h"
#include "headless/headless_runner.h"
#include "headless/run_report.h"
#include "vorlan/settings_values.h"

namespace vorlan::python {
namespace {

// Keeps the first error of a run; the rest goes unseen.
class ErrorKeeper final : public host::RunObserver {
 public:
  void OnFilterProgress(const host::RunStatus&) override {}
  void OnGraphProgress(const host::RunStatus&) override {}
  void OnRunError(const host::RunError& error) override {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!error_) error_ = error.message;
  }
  std::optional<std::string> Error() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return error_;
  }

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> error_;
};

const Plane* PlaneOnPin(const Pin* pin, std::string& problem) {
  const Packet* packet = host::PeerPacket(pin);
  if (packet == nullptr) return nullptr;
  const std::string name = pin->name != nullptr ? pin->name : "";
  if (packet->type != static_cast<int32_t>(PacketType::Plane) || packet->data == nullptr ||
      packet->length != static_cast<int32_t>(sizeof(Plane))) {
    problem = "input \"" + name + "\" holds no plane";
    return nullptr;
  }
  const auto* plane = static_cast<const Plane*>(packet->data);
  if (plane->width <= 0 || plane->height <= 0 || int64_t{plane->size} != int64_t{plane->width} * plane->height * 8 ||
      plane->samples == nullptr) {
    problem = "input \"" + name + "\" holds an empty or malformed plane";
    return nullptr;
  }
  return plane;
}

ShownPlanes DisplayPlanes(const host::FilterNode& node, int channels) {
  ShownPlanes shown;
  shown.nodeId = node.nodeId;
  shown.caption = node.caption;
  const Plane* planes[3] = {nullptr, nullptr, nullptr};
  for (int c = 0; c < channels && shown.problem.empty(); ++c) planes[c] = PlaneOnPin(node.filter->pins[2 + c], shown.problem);
  if (!shown.problem.empty()) return shown;
  for (int c = 0; c < channels; ++c) {
    if (planes[c] == nullptr) {
      shown.problem = "it received no plane on \"" + std::string(node.filter->pins[2 + c]->name) + "\"";
      return shown;
    }
    if (planes[c]->width != planes[0]->width || planes[c]->height != planes[0]->height) {
      shown.problem = "its planes differ in size";
      return shown;
    }
  }
  shown.width = planes[0]->width;
  shown.height = planes[0]->height;
  const size_t count = static_cast<size_t>(shown.width) * static_cast<size_t>(shown.height);
  shown.samples.resize(count * static_cast<size_t>(channels));
  for (int c = 0; c < channels; ++c) {
    shown.ranges.emplace_back(planes[c]->min, planes[c]->max);
    const double* from = planes[c]->samples;
    for (size_t k = 0; k < count; ++k) shown.samples[k * static_cast<size_t>(channels) + static_cast<size_t>(c)] = from[k];
  }
  return shown;
}

}  // namespace

GraphSession::GraphSession(const host::Registry& registry)
    : document_(std::make_unique<host::GraphDocument>(registry, measure_)) {}

bool GraphSession::Load(const std::string& path, std::string& error) {
  assignments_.clear();
  changed_.clear();
  const host::GraphLoadResult load = host::LoadGraphFile(*document_, path);
  warnings_ = load.warnings;
  if (!load.ok) {
    error = std::string(host::kFailedToLoadGraph) + " " + path + ": " + load.error;
    path_.clear();
    return false;
  }
  path_ = path;
  return true;
}

bool GraphSession::Save(const std::string& path, bool text, std::string& error) {
  if (!host::SaveGraphFile(*document_, path, error, text ? host::GraphFormat::Text : host::GraphFormat::Binary)) {
    error = path + ": " + error;
    return false;
  }
  path_ = path;
  return true;
}

bool GraphSession::Set(const std::string& target, const std::string& value, std::string& error) {
  host::SettingAssignment assignment;
  const std::string text = target + "=" + value;
  if (!host::ParseSettingAssignment(text, assignment, error)) {
    error = "set takes \"CAPTION.FIELD\", not \"" + target + "\"";
    return false;
  }
  if (!host::ApplySettingByName(*document_, assignment, changed_, error)) return false;
  assignments_.push_back(text);
  return true;
}

bool GraphSession::Get(const std::string& target, std::string& value, std::string& error) {
  host::SettingAssignment assignment;
  if (!host::ParseSettingAssignment(target + "=", assignment, error)) {
    error = "get takes \"CAPTION.FIELD\", not \"" + target + "\"";
    return false;
  }
  for (int32_t i = 0; i < document_->NodeCount(); ++i) {
    host::FilterNode& node = *document_->Node(i);
    if (node.caption != assignment.caption) continue;
    const host::FilterPrototype* prototype = host::PrototypeOf(*document_, node);
    const SettingField* field =
        prototype != nullptr && prototype->settings != nullptr ? FindSettingField(*prototype->settings, assignment.field) : nullptr;
    if (field == nullptr) {
      error = target + ": \"" + node.filter->info.name + "\" has no setting \"" + assignment.field + "\" described";
      return false;
    }
    std::vector<SettingValue> values;
    if (!host::ReadNodeSettings(*document_, node, values, error)) return false;
    value = FormatSettingValue(*field, values[static_cast<size_t>(field - prototype->settings->fields)]);
    return true;
  }
  error = target + ": no node is captioned \"" + assignment.caption + "\"";
  return false;
}

GraphRunResult GraphSession::Run(const std::vector<std::pair<std::string, std::string>>& paths, double timeoutSeconds,
                                 const std::function<bool()>& interrupt) {
  GraphRunResult result;
  host::RunOptions options;
  options.graph = path_;
  options.paths = paths;
  options.settings = assignments_;
  host::RunRecord record;
  record.loaded = true;
  auto finish = [&](int code, std::string outcome) {
    record.exitCode = code;
    record.outcome = std::move(outcome);
    result.exitCode = code;
    result.outcome = record.outcome;
    result.report = host::RunReportJson(options, record, *document_);
    return result;
  };

  for (const auto& [caption, path] : paths) {
    std::string error;
    if (!host::SetStreamPath(*document_, caption, path, error)) return finish(host::kExitBadGraph, error);
  }
  if (std::string error; !host::CheckNodeSettings(*document_, changed_, error)) {
    return finish(host::kExitBadGraph, "--set: " + error);
  }

  ErrorKeeper observer;
  host::RunController& run = document_->Run();
  std::string refusal;
  if (!run.Start(&observer, &refusal)) return finish(host::kExitFailed, "The run could not start: " + refusal);
  record.ran = true;
  const auto started = std::chrono::steady_clock::now();
  bool stopRequested = false;
  while (!run.WaitForWorker(kInterruptPoll)) {
    if (stopRequested) continue;
    if (interrupt && interrupt()) {
      result.interrupted = true;
    } else if (timeoutSeconds > 0 &&
               std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() > timeoutSeconds) {
      result.timedOut = true;
    }
    if (result.interrupted || result.timedOut) {
      run.Stop();
      stopRequested = true;
    }
  }
  const int32_t last = run.LastResult();
  if (result.interrupted) return finish(host::kExitInterrupted, "Stopped by signal 2.");
  if (result.timedOut) {
    return finish(host::kExitFailed, "The run took longer than the timeout of " + std::to_string(timeoutSeconds) +
                                         " s and was stopped.");
  }
  if (const auto error = observer.Error()) return finish(host::kExitFailed, *error);
  if (last == OutOfMemory) return finish(host::kExitFailed, "Out of memory.");
  if (last != Ok) return finish(host::kExitFailed, last == Stopped ? "The run was stopped." : "Error occured.");

  for (int32_t i = 0; i < document_->NodeCount(); ++i) {
    const host::FilterNode& node = *document_->Node(i);
    const Filter& f = *node.filter;
    if (f.info.id == host::kTextDisplayId && f.pinCount > 2) {
      ShownText text{node.nodeId, node.caption, "", ""};
      const Packet* packet = host::PeerPacket(f.pins[2]);
      if (packet == nullptr || !host::FormatDisplayValue(*packet, text.value, text.type)) text.value.clear(), text.type.clear();
      result.texts.push_back(std::move(text));
    } else if (f.info.id == host::kRgbDisplayId && f.pinCount >= 5) {
      result.planes.push_back(DisplayPlanes(node, 3));
    } else if (f.info.id == host::kMonoDisplayId && f.pinCount >= 3) {
      result.planes.push_back(DisplayPlanes(node, 1));
    }
  }
  return finish(host::kExitDone, "Done");
}

}  // namespace vorlan::python
