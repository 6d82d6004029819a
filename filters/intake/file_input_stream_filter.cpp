#include "file_input_stream_filter.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "file_handle.h"

namespace vorlan {

FileInputStreamFilter::FileInputStreamFilter() : PathSettingFilter(kInfo) {
  out_ = AddNewPin("Out", PinKind::Output);
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

  errno = 0;
  FileHandle file(std::fopen(name, "rbe"));
  if (!file) return Failf("cannot open %s: %s", name, SystemErrorText(errno).c_str());
  struct stat status {};
  if (::fstat(::fileno(file.get()), &status) != 0) {
    return Failf("cannot read the size of %s: %s", name, SystemErrorText(errno).c_str());
  }
  // Directories open for reading here, and pipes or devices have no size
  // to allocate; only regular files are read.
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
    errno = 0;
    const size_t got = std::fread(contents_.Data() + done, 1, static_cast<size_t>(chunk), file.get());
    if (got != static_cast<size_t>(chunk)) {
      if (std::ferror(file.get())) return Failf("cannot read %s: %s", name, SystemErrorText(errno).c_str());
      return Failf("%s became shorter while it was being read", name);
    }
    done += chunk;
    // Progress follows every full chunk; the remainder ends in the final 1.0.
    if (chunk == kChunkSize) ReportProgress(static_cast<double>(done) / static_cast<double>(size));
  }

  Publish(out_, contents_.AsPacket());
  return Ok;
}

}  // namespace vorlan
