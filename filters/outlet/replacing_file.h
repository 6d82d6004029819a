// Writing a file so that its folder only ever holds the old version or the
// whole new one: the bytes go to a temporary file beside the target, which is
// synced and then renamed over the target. A failure or a stop removes the
// temporary file and leaves the target as it was.
//
// A writer that is killed outright (SIGKILL, a crash) cannot remove its
// temporary file, so each write first clears away those of earlier writers
// of the same target that no longer run. The temporary file is named
// ".NAME.PID-START-N-XXXXXXXX.tmp": the writer's process id, the process's
// start time (clock ticks after boot, from /proc, which tells a reused
// process id apart), a counter and a random word. A file is removed only when
// its process is gone or is another process under the same id, and when no
// one holds the lock every writer keeps on its temporary file until the
// rename (which also protects writers whose process ids are not comparable,
// such as those of another container).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "vorlan/file_target.h"

namespace vorlan {

class ReplacingFile {
 public:
  // The system call that moves bytes to the temporary file; tests replace it
  // to simulate a full disk.
  using WriteCall = ssize_t (*)(int fd, const void* data, size_t size);

  explicit ReplacingFile(std::string target, WriteCall write = nullptr);
  ~ReplacingFile();  // an uncommitted temporary file is removed
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Each returns false with `error` set ("cannot open <target>: <reason>",
  // "cannot write <target>: <reason>"); the temporary file is then gone.
  bool Open(std::string& error);
  bool Write(const uint8_t* data, size_t size, std::string& error);
  // Syncs, closes and renames the temporary file over the target.
  bool Commit(std::string& error);
  // Removes the temporary file (after a stop); the target stays untouched.
  void Abandon();

  // The temporary file's path while one exists, "" otherwise.
  const std::string& TemporaryPath() const { return temporary_; }

  // Removes the temporary files of `target` (a path as Open resolves it)
  // whose writers no longer run; returns how many went. Open calls it.
  static int RemoveAbandonedTemporaries(const std::string& target);

 private:
  bool FailWrite(int error, std::string& message);

  std::string target_;     // the name as the user gave it, for messages
  std::string finalPath_;  // where the rename goes: the target, links resolved
  std::string temporary_;
  WriteCall write_;
  int fd_ = -1;
  int lockFd_ = -1;  // a second descriptor that keeps the lock until the rename
  bool direct_ = false;  // a device such as /dev/null is written in place
};

}  // namespace vorlan
