// Open C streams and descriptors that close themselves, and the text of a
// system error.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <unistd.h>

namespace vorlan {

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};

using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// An open file descriptor that closes itself; -1 (false) when the open failed.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// "No such file or directory" for ENOENT; a generic text when errno was not set.
inline std::string SystemErrorText(int error) {
  return error != 0 ? std::strerror(error) : "unknown error";
}

}  // namespace vorlan
