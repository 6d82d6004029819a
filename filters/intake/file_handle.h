// An open C stream that closes itself, and the text of a system error.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace vorlan {

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};

using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// "No such file or directory" for ENOENT; a generic text when errno was not set.
inline std::string SystemErrorText(int error) {
  return error != 0 ? std::strerror(error) : "unknown error";
}

}  // namespace vorlan
