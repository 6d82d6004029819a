#include "file_output_stream_filter.h"

#include <algorithm>

#include "vorlan/pin_types.h"

namespace vorlan {

namespace {

// Written only when it is not the graph's folder: streams from before the
// field existed keep their bytes.
constexpr SettingChoice kFolders[] = {{0, "graph", "Graph's folder"}, {1, "current", "Current folder"}};

constexpr SettingField kFields[] = {
    {.identifier = "path", .label = "", .type = kSettingText, .flags = kSettingPath, .unit = "",
     .help = "the file the packet on \"In\" is written to, replaced only once whole"},
    {.identifier = "folder", .label = "", .type = kSettingChoice, .defaultValue = 0, .choiceCount = 2,
     .choices = kFolders, .unit = "", .help = "where a relative path is taken from"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 2, kFields};

}  // namespace

const SettingsDescription& FileOutputStreamFilter::DescribeSettings() { return kDescription; }

FileOutputStreamFilter::FileOutputStreamFilter() : PathSettingFilter(kInfo) {
  in_ = AddNewPin("In", PinKind::Input, kBytesLikePackets);
}

Result FileOutputStreamFilter::Work() {
  const std::string* path = nullptr;
  if (RequirePath(path) != Ok) return Failed;

  // The first pass of a run comes here before any upstream work is done, so
  // a missing folder or a read-only target ends the run before it costs
  // anything. The check creates and truncates nothing.
  const std::string problem = CheckWritableTarget(*path);
  if (!problem.empty()) return Fail(problem);

  // The packet type is not examined; any packet is written as its bytes.
  const uint8_t* data = nullptr;
  int32_t length = 0;
  const Result input = ReadBytes(in_, data, length);
  if (input != Ok) return input;

  // The target is replaced only once the new contents are whole on disk; a
  // failure or a stop leaves the previous file as it was.
  ReplacingFile file(*path, writeCall_);
  std::string error;
  if (!file.Open(error)) return Fail(error);
  int64_t done = 0;
  while (done < length) {
    if (StopRequested()) return Stopped;  // `file` removes its temporary file
    const int64_t chunk = std::min(kChunkSize, int64_t{length} - done);
    if (!file.Write(data + done, static_cast<size_t>(chunk), error)) return Fail(error);
    done += chunk;
    if (chunk == kChunkSize) ReportProgress(static_cast<double>(done) / static_cast<double>(length));
  }
  if (StopRequested()) return Stopped;
  if (!file.Commit(error)) return Fail(error);
  return Ok;
}

}  // namespace vorlan
