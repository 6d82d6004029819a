#include "file_output_stream_filter.h"

#include <algorithm>
#include <cerrno>

#include "file_handle.h"

namespace vorlan {

FileOutputStreamFilter::FileOutputStreamFilter() : PathSettingFilter(kInfo) {
  in_ = AddNewPin("In", PinKind::Input);
}

Result FileOutputStreamFilter::Work() {
  const std::string* path = nullptr;
  if (RequirePath(path) != Ok) return Failed;
  const char* name = path->c_str();

  // The input is read before the target is opened: opening truncates, and a
  // pass that finds no input yet must leave the user's file alone. The
  // packet type is not examined; any packet is written as its bytes.
  const uint8_t* data = nullptr;
  int32_t length = 0;
  const Result input = ReadBytes(in_, data, length);
  if (input != Ok) return input;

  errno = 0;
  FileHandle file(std::fopen(name, "wbe"));
  if (!file) return Failf("cannot open %s: %s", name, SystemErrorText(errno).c_str());

  int64_t done = 0;
  while (done < length) {
    // What was written before a stop stays on disk.
    if (StopRequested()) return Stopped;
    const int64_t chunk = std::min(kChunkSize, int64_t{length} - done);
    errno = 0;
    if (std::fwrite(data + done, 1, static_cast<size_t>(chunk), file.get()) != static_cast<size_t>(chunk)) {
      return Failf("cannot write %s: %s", name, SystemErrorText(errno).c_str());
    }
    done += chunk;
    if (chunk == kChunkSize) ReportProgress(static_cast<double>(done) / static_cast<double>(length));
  }

  // Buffered data can still fail to reach the disk (a full disk, a lost
  // network share): both the flush and the close are checked.
  errno = 0;
  if (std::fflush(file.get()) != 0) return Failf("cannot write %s: %s", name, SystemErrorText(errno).c_str());
  errno = 0;
  if (std::fclose(file.release()) != 0) return Failf("cannot write %s: %s", name, SystemErrorText(errno).c_str());
  return Ok;
}

}  // namespace vorlan
