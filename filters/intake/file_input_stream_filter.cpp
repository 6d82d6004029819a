#include "file_input_stream_filter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "file_handle.h"
#include "vorlan/pin_types.h"

namespace vorlan {

namespace {

// Written only when it is not the graph's folder: streams from before the
// field existed keep their bytes.
constexpr SettingChoice kFolders[] = {{0, "graph", "Graph's folder"}, {1, "current", "Current folder"}};

constexpr SettingField kFields[] = {
    {.identifier = "path", .label = "", .type = kSettingText, .flags = kSettingPath, .unit = "",
     .help = "the file read whole and published on \"Out\""},
    {.identifier = "folder", .label = "", .type = kSettingChoice, .defaultValue = 0, .choiceCount = 2,
     .choices = kFolders, .unit = "", .help = "where a relative path is taken from"},
};
constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, 2, kFields};

}  // namespace

const SettingsDescription& FileInputStreamFilter::DescribeSettings() { return kDescription; }

FileInputStreamFilter::FileInputStreamFilter() : PathSettingFilter(kInfo) {
  out_ = AddNewPin("Out", PinKind::Output, kBytesPacket);
}

FileInputStreamFilter::~FileInputStreamFilter() {
  if (out_ != nullptr) Withdraw(out_);
}

void FileInputStreamFilter::ReleaseOutputs() { contents_.Release(); }

Result FileInputStreamFilter::Work() {
  // A second run without Reset reads the file again; the previous contents
  // are no longer published from here on.
  Withdraw(out_);
  contents_.Release();

  const std::string* path = nullptr;
  if (RequirePath(path) != Ok) return Failed;
  const char* name = path->c_str();

  // O_NONBLOCK: opening a FIFO without a writer, or a device, must not wait
  // forever where a stop cannot reach it. Only regular files are read, and
  // for them the flag changes nothing.
  const FileDescriptor file(::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!file) return Failf("cannot open %s: %s", name, SystemErrorText(errno).c_str());
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) {
    return Failf("cannot read the size of %s: %s", name, SystemErrorText(errno).c_str());
  }
  // Folders, pipes, sockets and devices have no size to allocate, and a pipe
  // may never end.
  if (!S_ISREG(status.st_mode)) return Failf("%s is not a regular file", name);
  const int64_t size = status.st_size;
  if (size > kMaxPacketLength) {
    return Failf("%s is too large: %lld bytes, a packet holds at most %lld", name, static_cast<long long>(size),
                 static_cast<long long>(kMaxPacketLength));
  }
  if (!contents_.Allocate(size)) {
    return Failf("out of memory for the %lld bytes of %s", static_cast<long long>(size), name);
  }

  int64_t done = 0;
  while (done < size) {
    if (StopRequested()) return Stopped;
    const int64_t chunk = std::min(kChunkSize, size - done);
    int64_t got = 0;
    while (got < chunk) {
      const ssize_t n = ::read(file.get(), contents_.Data() + done + got, static_cast<size_t>(chunk - got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Failf("cannot read %s: %s", name, SystemErrorText(errno).c_str());
      if (n == 0) return Failf("%s became shorter while it was being read", name);
      got += n;
    }
    done += chunk;
    // Progress follows every full chunk; the remainder ends in the final 1.0.
    if (chunk == kChunkSize) ReportProgress(static_cast<double>(done) / static_cast<double>(size));
  }

  Publish(out_, contents_.AsPacket());
  return Ok;
}

}  // namespace vorlan
