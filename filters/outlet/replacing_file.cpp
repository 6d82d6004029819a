#include "replacing_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

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

// When process `pid` started, in clock ticks after boot (the 22nd field of
// /proc/PID/stat); 0 when that cannot be read.
uint64_t ProcessStart(pid_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char line[2048];
  const ssize_t n = ::read(fd, line, sizeof line - 1);
  ::close(fd);
  if (n <= 0) return 0;
  line[n] = '\0';
  // The command name in parentheses may hold spaces; the fields after it
  // start with the 3rd, so the start time is the 20th word there.
  const char* at = std::strrchr(line, ')');
  if (at == nullptr) return 0;
  ++at;
  for (int field = 3; field < 22; ++field) {
    while (*at == ' ') ++at;
    while (*at != ' ' && *at != '\0') ++at;
  }
  while (*at == ' ') ++at;
  if (*at < '0' || *at > '9') return 0;
  return std::strtoull(at, nullptr, 10);
}

struct TemporaryName {
  pid_t pid = 0;
  uint64_t start = 0;  // 0 in names of writers that did not record it
};

bool Decimal(std::string_view text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// What follows ".NAME." in a temporary file's name: "PID-START-N-XXXXXXXX.tmp",
// or "PID-N-XXXXXXXX.tmp" as earlier writers named it. Anything else is not
// ours to touch.
bool ParseTemporaryName(std::string_view rest, TemporaryName& name) {
  constexpr std::string_view kEnd = ".tmp";
  if (rest.size() <= kEnd.size() || rest.substr(rest.size() - kEnd.size()) != kEnd) return false;
  rest.remove_suffix(kEnd.size());
  std::vector<std::string_view> fields;
  for (size_t from = 0;;) {
    const size_t dash = rest.find('-', from);
    fields.push_back(rest.substr(from, dash == std::string_view::npos ? std::string_view::npos : dash - from));
    if (dash == std::string_view::npos) break;
    from = dash + 1;
  }
  if (fields.size() != 3 && fields.size() != 4) return false;
  const std::string_view word = fields.back();
  if (word.size() != 8 || word.find_first_not_of("0123456789abcdef") != std::string_view::npos) return false;
  uint64_t pid = 0, start = 0, counter = 0;
  if (!Decimal(fields[0], pid) || pid == 0 || pid > INT_MAX) return false;
  if (!Decimal(fields[fields.size() - 2], counter)) return false;
  if (fields.size() == 4 && !Decimal(fields[1], start)) return false;
  name.pid = static_cast<pid_t>(pid);
  name.start = start;
  return true;
}

// Whether the process that wrote under `name` has ended: no process has its
// id, or the one that has it started at another time.
bool WriterEnded(const TemporaryName& name) {
  if (::kill(name.pid, 0) != 0 && errno == ESRCH) return true;
  if (name.start == 0) return false;
  const uint64_t now = ProcessStart(name.pid);
  return now != 0 && now != name.start;
}

}  // namespace

int ReplacingFile::RemoveAbandonedTemporaries(const std::string& target) {
  std::string prefix(1, '.');
  prefix += NameOf(target);
  prefix += '.';
  DIR* folder = ::opendir(FolderOf(target).c_str());
  if (folder == nullptr) return 0;
  const int folderFd = ::dirfd(folder);
  int removed = 0;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view file(entry->d_name);
    TemporaryName name;
    if (file.size() <= prefix.size() || file.substr(0, prefix.size()) != prefix) continue;
    if (!ParseTemporaryName(file.substr(prefix.size()), name) || !WriterEnded(name)) continue;
    // A live writer holds a lock on its file until the rename, whatever its
    // process id means here; a file that cannot be locked stays.
    const int fd = ::openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) continue;
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const bool unlocked = ::flock(fd, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR);
    if (regular && unlocked && ::unlinkat(folderFd, entry->d_name, 0) == 0) ++removed;
    ::close(fd);
  }
  ::closedir(folder);
  return removed;
}

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

  RemoveAbandonedTemporaries(finalPath_);

  // A hidden name beside the target, on the same file system, so the rename
  // is atomic. Mode 0666 lets the umask decide, as for a newly created file.
  static std::atomic<unsigned> counter{0};
  std::random_device seed;
  const std::string prefix = FolderOf(finalPath_) + "/." + NameOf(finalPath_) + ".";
  const pid_t self = ::getpid();
  const unsigned long long started = ProcessStart(self);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[80];
    std::snprintf(suffix, sizeof suffix, "%d-%llu-%u-%08x.tmp", static_cast<int>(self), started,
                  counter.fetch_add(1), static_cast<unsigned>(seed()));
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
  // The lock tells later writers that this file is in use. It belongs to the
  // open file, which the second descriptor keeps open past the checked close
  // until the rename is done.
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) lockFd_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
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
  if (lockFd_ >= 0) {
    ::close(lockFd_);
    lockFd_ = -1;
  }
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
  if (lockFd_ >= 0) {
    ::close(lockFd_);
    lockFd_ = -1;
  }
  direct_ = false;
}

}  // namespace vorlan
