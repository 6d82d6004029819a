#include "replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace vorlan {
namespace {

std::string ErrorText(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An existing target reached through symbolic links is replaced where the
// links lead, so the links keep pointing at the new contents.
std::string ResolvedTarget(const std::string& target) {
  char resolved[PATH_MAX];
  struct stat link {};
  if (::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && ::realpath(target.c_str(), resolved)) {
    return resolved;
  }
  return target;
}

ssize_t SystemWrite(int fd, const void* data, size_t size) { return ::write(fd, data, size); }

}  // namespace

ReplacingFile::ReplacingFile(std::string target, WriteCall write)
    : target_(std::move(target)), write_(write != nullptr ? write : &SystemWrite) {}

ReplacingFile::~ReplacingFile() { Abandon(); }

bool ReplacingFile::Open(std::string& error) {
  Abandon();
  finalPath_ = ResolvedTarget(target_);
  struct stat existing {};
  const bool exists = ::stat(finalPath_.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    error = "cannot open " + target_ + ": it is a folder";
    return false;
  }
  if (exists && S_ISCHR(existing.st_mode)) {
    // Devices cannot be replaced by renaming; they take the bytes as they come.
    direct_ = true;
    fd_ = ::open(finalPath_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) {
      error = "cannot open " + target_ + ": " + ErrorText(errno);
      return false;
    }
    return true;
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    error = "cannot open " + target_ + ": it is not a regular file";
    return false;
  }
  if (exists && ::access(finalPath_.c_str(), W_OK) != 0) {
    error = "cannot open " + target_ + ": " + ErrorText(errno);
    return false;
  }

  // A hidden name beside the target, on the same file system, so the rename
  // is atomic. Mode 0666 lets the umask decide, as for a newly created file.
  static std::atomic<unsigned> counter{0};
  std::random_device seed;
  const std::string prefix = FolderOf(finalPath_) + "/." + NameOf(finalPath_) + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, "%d-%u-%08x.tmp", static_cast<int>(::getpid()), counter.fetch_add(1),
                  seed());
    const std::string candidate = prefix + suffix;
    fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd_ >= 0) {
      temporary_ = candidate;
      break;
    }
    if (errno != EEXIST) break;
  }
  if (fd_ < 0) {
    error = "cannot open " + target_ + ": " + ErrorText(errno);
    return false;
  }
  // The new version keeps the permissions of the file it replaces.
  if (exists) (void)::fchmod(fd_, existing.st_mode & 07777);
  return true;
}

bool ReplacingFile::FailWrite(int errorCode, std::string& message) {
  message = "cannot write " + target_ + ": " + ErrorText(errorCode);
  Abandon();
  return false;
}

bool ReplacingFile::Write(const uint8_t* data, size_t size, std::string& error) {
  if (fd_ < 0) return FailWrite(EBADF, error);
  while (size > 0) {
    const ssize_t done = write_(fd_, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return FailWrite(errno, error);
    }
    if (done == 0) return FailWrite(ENOSPC, error);
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

bool ReplacingFile::Commit(std::string& error) {
  if (fd_ < 0) return FailWrite(EBADF, error);
  // A full disk or a lost share often shows only here: the sync and the
  // close are both checked before the target is touched.
  if (::fsync(fd_) != 0 && !(direct_ && (errno == EINVAL || errno == EROFS))) return FailWrite(errno, error);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return FailWrite(errno, error);
  if (direct_) return true;
  if (::rename(temporary_.c_str(), finalPath_.c_str()) != 0) return FailWrite(errno, error);
  temporary_.clear();
  // Makes the rename itself durable; a folder that cannot be synced is rare
  // and does not make the file any less whole.
  const int folder = ::open(FolderOf(finalPath_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    (void)::fsync(folder);
    ::close(folder);
  }
  return true;
}

void ReplacingFile::Abandon() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
  direct_ = false;
}

}  // namespace vorlan
