#include "headless/run_report.h"

#include <sys/stat.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "core/graph_document.h"
#include "core/graph_runner.h"
#include "core/graph_text.h"
#include "headless/display_report.h"
#include "headless/headless_runner.h"
#include "vorlan/config_stream.h"
#include "vorlan/file_names.h"
#include "vorlan/pin_types.h"

namespace vorlan::host {
namespace {

using Json = nlohmann::ordered_json;

constexpr int32_t kFileInputStreamId = 10;
constexpr int32_t kFileOutputStreamId = 20;

std::string IsoTime(std::chrono::system_clock::time_point t) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string Absolute(const std::string& path) {
  std::error_code failed;
  const std::filesystem::path full = std::filesystem::absolute(path, failed);
  return failed ? path : full.lexically_normal().string();
}

// Seconds to the microsecond: the clocks' differences carry no more.
double Microseconds(double seconds) { return std::round(seconds * 1e6) / 1e6; }

const char* ResultName(int32_t result) {
  switch (result) {
    case Ok: return "Ok";
    case OutOfMemory: return "OutOfMemory";
    case Stopped: return "Stopped";
    case Failed: return "Failed";
    case InputNotReady: return "InputNotReady";
    case InputNotConnected: return "InputNotConnected";
    case InvalidArgument: return "InvalidArgument";
    case -1: return "not run";
    default: return "unknown";
  }
}

// What an output pin holds after the run: its type and size.
Json OutputJson(const Pin& pin, int32_t index) {
  Json out{{"pin", pin.name != nullptr ? pin.name : ""}, {"index", index}};
  const Packet& p = pin.packet;
  const char* type = PacketTypeName(p.type);
  out["type"] = *type != '\0' ? Json(type) : Json(p.type);
  switch (static_cast<PacketType>(p.type)) {
    case PacketType::Plane:
      if (p.data != nullptr && p.length == static_cast<int32_t>(sizeof(Plane))) {
        const auto* plane = static_cast<const Plane*>(p.data);
        out["width"] = plane->width;
        out["height"] = plane->height;
      }
      break;
    case PacketType::IntArray:
      if (p.data != nullptr && p.length == static_cast<int32_t>(sizeof(IntArray))) {
        out["count"] = static_cast<const IntArray*>(p.data)->count;
      }
      break;
    default: {
      out["bytes"] = p.length;
      std::string value, kind;
      if ((p.type == static_cast<int32_t>(PacketType::Integer) || p.type == static_cast<int32_t>(PacketType::Float)) &&
          FormatDisplayValue(p, value, kind)) {
        out["value"] = value;
      }
    }
  }
  return out;
}

// The file a file-stream node names, resolved as its run resolves it.
std::string StreamFile(const GraphDocument& document, FilterNode& node) {
  Packet settings = node.filter->GetConfig(ConfigForm::Serialized);
  std::optional<std::string> path;
  if (settings.length > 0 && settings.data != nullptr) {
    ConfigReader reader(settings);
    if (!reader.Text(path)) path.reset();
  }
  if (settings.data != nullptr && node.library != nullptr && node.library->entry.releaseConfig != nullptr) {
    node.library->entry.releaseConfig(settings);
  }
  if (!path || path->empty()) return "";
  return ResolveFileName(document.folder, *path);
}

Json FileJson(const std::string& path, const char* role) {
  Json file{{"role", role}, {"path", path}};
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    file["bytes"] = static_cast<int64_t>(status.st_size);
  } else {
    file["bytes"] = nullptr;
  }
  return file;
}

}  // namespace

std::string RunReportJson(const RunOptions& options, const RunRecord& record, const GraphDocument& document) {
  Json report = Json::object();
  report["format"] = "vorlan-run-report";
  report["version"] = 1;
  report["program"] = Json{{"name", "vorlan"}, {"version", "1.0"}};
  report["graph"] = Absolute(options.graph);
  Json paths = Json::array();
  for (const auto& [caption, file] : options.paths) paths.push_back(Json{{"caption", caption}, {"file", file}});
  Json settings = Json::array();
  for (const std::string& s : options.settings) settings.push_back(s);
  report["overrides"] = Json{{"paths", std::move(paths)}, {"settings", std::move(settings)}};
  report["memoryLimit"] = options.memoryLimit;
  report["exitCode"] = record.exitCode;
  report["outcome"] = record.outcome;
  report["started"] = IsoTime(record.started);
  report["wallSeconds"] =
      Microseconds(std::chrono::duration<double>(std::chrono::steady_clock::now() - record.startedSteady).count());

  const std::vector<FilterRunStats> stats = record.ran ? document.Run().LastRunStats() : std::vector<FilterRunStats>{};
  report["passes"] = record.ran ? document.Run().LastRunPasses() : 0;
  Json nodes = Json::array();
  if (record.loaded) {
    for (int32_t i = 0; i < document.NodeCount(); ++i) {
      FilterNode& node = *document.Node(i);
      Filter& f = *node.filter;
      Json n = Json::object();
      n["id"] = node.nodeId;
      n["caption"] = node.caption;
      n["filter"] = f.info.name != nullptr ? f.info.name : "";
      n["filterId"] = f.info.id;
      n["state"] = StateName(static_cast<int32_t>(f.state.load()));
      const FilterRunStats* s = nullptr;
      for (const FilterRunStats& candidate : stats) {
        if (candidate.nodeId == node.nodeId) s = &candidate;
      }
      n["result"] = ResultName(s != nullptr ? s->lastResult : -1);
      const std::string reason = s != nullptr && s->lastResult != Ok ? node.FailureReason() : std::string();
      n["failure"] = reason;
      n["wallSeconds"] = Microseconds(s != nullptr ? s->wallSeconds : 0.0);
      n["processorSeconds"] = Microseconds(s != nullptr ? s->processorSeconds : 0.0);
      n["passes"] = s != nullptr ? s->calls : 0;
      Json outputs = Json::array();
      for (int32_t p = 0; p < f.pinCount; ++p) {
        const Pin* pin = f.pins[p];
        if (pin == nullptr || pin->kind != static_cast<int32_t>(PinKind::Output) || pin->ready == 0) continue;
        outputs.push_back(OutputJson(*pin, p));
      }
      n["outputs"] = std::move(outputs);
      if (f.info.id == kTextDisplayId && f.pinCount > 2) {
        std::string value, type;
        const Packet* packet = PeerPacket(f.pins[2]);
        if (packet != nullptr && FormatDisplayValue(*packet, value, type)) {
          n["display"] = Json{{"value", value}, {"type", type}};
        } else {
          n["display"] = nullptr;
        }
      }
      if (f.info.id == kFileInputStreamId || f.info.id == kFileOutputStreamId) {
        const std::string file = StreamFile(document, node);
        Json files = Json::array();
        // A target counts as written only when its node finished: its last
        // Process succeeded (a stop that came later leaves it Stopped).
        const bool finished = s != nullptr ? s->lastResult == Ok : f.state.load() == FilterState::Done;
        const char* role = f.info.id == kFileInputStreamId ? "read" : finished ? "written" : "target";
        if (!file.empty()) files.push_back(FileJson(file, role));
        n["files"] = std::move(files);
      }
      nodes.push_back(std::move(n));
    }
  }
  report["nodes"] = std::move(nodes);
  return report.dump(2) + "\n";
}

bool WriteRunReport(const RunOptions& options, const RunRecord& record, const GraphDocument& document,
                    std::string& error) {
  const std::string text = RunReportJson(options, record, document);
  return ReplaceFileContents(options.report, std::vector<uint8_t>(text.begin(), text.end()), error);
}

}  // namespace vorlan::host
