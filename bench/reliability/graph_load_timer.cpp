// Loads a graph file with the plug-ins beside the program's build folder
// and prints the seconds each phase took:
//   graph_load_timer GRAPH.gph [PLUGIN_FOLDER]
// phases: the plug-ins, the load, the run's preparation is not included,
// clearing the document (every filter destroyed). Each in wall seconds and
// in processor seconds of the process (what a shared machine does not
// inflate).
#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>

#include "core/graph_document.h"
#include "core/graph_file.h"
#include "core/layout.h"
#include "core/plugin_search.h"
#include "core/registry.h"

int main(int argc, char** argv) {
  using namespace vorlan::host;
  using Clock = std::chrono::steady_clock;
  if (argc < 2) {
    std::fprintf(stderr, "usage: graph_load_timer GRAPH.gph [PLUGIN_FOLDER]\n");
    return 2;
  }
  const auto seconds = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); };
  const Clock::time_point start = Clock::now();
  const std::clock_t startCpu = std::clock();
  const std::string folder = argc > 2 ? argv[2] : ProgramFolder() + "/../filters";
  const Registry registry(folder);
  const FixedTextMeasure measure;
  GraphDocument document(registry, measure);
  const Clock::time_point loading = Clock::now();
  const std::clock_t loadingCpu = std::clock();
  const GraphLoadResult result = LoadGraphFile(document, argv[1]);
  const Clock::time_point loaded = Clock::now();
  const std::clock_t loadedCpu = std::clock();
  const int32_t nodes = document.NodeCount();
  const int32_t edges = document.EdgeCount();
  document.Clear();
  const Clock::time_point cleared = Clock::now();
  const std::clock_t clearedCpu = std::clock();
  const auto cpu = [](std::clock_t a, std::clock_t b) { return static_cast<double>(b - a) / CLOCKS_PER_SEC; };
  if (!result.ok) {
    std::fprintf(stderr, "graph_load_timer: %s\n", result.error.c_str());
    return 1;
  }
  std::printf("%d nodes, %d edges: plug-ins %.3f s, load %.3f s, clear %.3f s; processor %.3f s, %.3f s, %.3f s\n",
              nodes, edges, seconds(start, loading), seconds(loading, loaded), seconds(loaded, cleared),
              cpu(startCpu, loadingCpu), cpu(loadingCpu, loadedCpu), cpu(loadedCpu, clearedCpu));
  return 0;
}
