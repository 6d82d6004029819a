// vorlan._vorlan: the registry's prototypes and graphs run from Python.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>

#include "bindings.h"
#include "graph_session.h"
#include "headless/filter_details.h"
#include "interrupt.h"
#include "plugin_home.h"

namespace py = pybind11;

namespace vorlan::python {
namespace {

// Every prototype as `vorlan --inspect --json` describes it, one JSON text each.
std::vector<std::string> PrototypeTexts() {
  const host::Registry& registry = ModuleRegistry();
  std::vector<std::string> texts;
  for (int32_t i = 0; i < registry.PrototypeCount(); ++i) texts.push_back(host::PrototypeJson(registry.Prototype(i)));
  return texts;
}

std::vector<std::pair<std::string, std::string>> RejectedLibraries() {
  std::vector<std::pair<std::string, std::string>> rejected;
  for (const host::Registry::RejectedLibrary& r : ModuleRegistry().Rejected()) rejected.emplace_back(r.path, r.reason);
  return rejected;
}

// A GraphSession that one Python thread uses at a time: a second thread
// calling in while a run waits with the GIL released is refused.
class PyGraph {
 public:
  PyGraph() : session_(ModuleRegistry()) {}

  void Load(const std::string& path) {
    Use use(*this);
    std::string error;
    if (!session_.Load(path, error)) throw ModuleError(error);
  }
  void Save(const std::string& path, bool text) {
    Use use(*this);
    std::string error;
    if (!session_.Save(path, text, error)) throw ModuleError(error);
  }
  void Set(const std::string& target, const std::string& value) {
    Use use(*this);
    std::string error;
    if (!session_.Set(target, value, error)) throw ModuleError(error);
  }
  std::string Get(const std::string& target) {
    Use use(*this);
    std::string value, error;
    if (!session_.Get(target, value, error)) throw ModuleError(error);
    return value;
  }
  std::vector<std::string> Warnings() const { return session_.Warnings(); }
  std::string Path() const { return session_.Path(); }

  std::vector<py::dict> Nodes() {
    Use use(*this);
    std::vector<py::dict> nodes;
    const host::GraphDocument& d = session_.Document();
    for (int32_t i = 0; i < d.NodeCount(); ++i) {
      const host::FilterNode& n = *d.Node(i);
      py::dict node;
      node["id"] = n.nodeId;
      node["caption"] = py::bytes(n.caption).attr("decode")("utf-8", "replace");
      node["filter"] = n.filter->info.name != nullptr ? n.filter->info.name : "";
      node["filterId"] = n.filter->info.id;
      nodes.push_back(std::move(node));
    }
    return nodes;
  }

  // (exit code, outcome, interrupted, timed out, report JSON, texts, planes)
  py::tuple Run(const std::vector<std::pair<std::string, std::string>>& paths, double timeoutSeconds) {
    Use use(*this);
    GraphRunResult result;
    SignalPoll poll;
    {
      py::gil_scoped_release release;
      result = session_.Run(paths, timeoutSeconds, poll.Function());
    }
    if (poll.Raised()) throw py::error_already_set();
    py::list texts;
    for (const ShownText& t : result.texts) {
      texts.append(py::make_tuple(t.nodeId, Text(t.caption), Text(t.value), t.type));
    }
    py::list planes;
    for (ShownPlanes& p : result.planes) {
      py::object array = py::none();
      if (p.problem.empty()) {
        const py::ssize_t channels = static_cast<py::ssize_t>(p.ranges.size());
        auto* owned = new std::vector<double>(std::move(p.samples));
        py::capsule free(owned, [](void* v) { delete static_cast<std::vector<double>*>(v); });
        std::vector<py::ssize_t> shape{p.height, p.width};
        if (channels > 1) shape.push_back(channels);
        array = py::array_t<double>(shape, owned->data(), free);
      }
      planes.append(py::make_tuple(p.nodeId, Text(p.caption), array, p.ranges, Text(p.problem)));
    }
    return py::make_tuple(result.exitCode, Text(result.outcome), result.interrupted, result.timedOut,
                          Text(result.report), texts, planes);
  }

 private:
  // Captions and values are bytes from files: shown as UTF-8, damage replaced.
  static py::object Text(const std::string& bytes) { return py::bytes(bytes).attr("decode")("utf-8", "replace"); }

  class Use {
   public:
    explicit Use(PyGraph& graph) : graph_(graph) {
      if (graph_.busy_.exchange(true)) throw ModuleError("the graph is in use by another thread (a run is going on)");
    }
    ~Use() { graph_.busy_.store(false); }

   private:
    PyGraph& graph_;
  };

  GraphSession session_;
  std::atomic<bool> busy_{false};
};

}  // namespace

void BindGraphs(py::module_& m) {
  m.def("_prototypes", &PrototypeTexts, "Every loaded filter prototype as the JSON of `vorlan --inspect --json`.");
  m.def("_rejected", &RejectedLibraries, "Plug-in files found but not loaded: (path, reason).");
  py::class_<PyGraph>(m, "_Graph")
      .def(py::init<>())
      .def("load", &PyGraph::Load, py::arg("path"))
      .def("save", &PyGraph::Save, py::arg("path"), py::arg("text"))
      .def("set", &PyGraph::Set, py::arg("target"), py::arg("value"))
      .def("get", &PyGraph::Get, py::arg("target"))
      .def("nodes", &PyGraph::Nodes)
      .def("warnings", &PyGraph::Warnings)
      .def("path", &PyGraph::Path)
      .def("run", &PyGraph::Run, py::arg("paths"), py::arg("timeout"));
}

}  // namespace vorlan::python
