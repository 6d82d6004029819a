#include "vorlan/file_target.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vorlan {
namespace {

std::string ErrorText(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string Resolved(const std::string& target) {
  char resolved[PATH_MAX];
  struct stat link {};
  if (::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && ::realpath(target.c_str(), resolved)) {
    return resolved;
  }
  return target;
}

}  // namespace

std::string CheckWritableTarget(const std::string& target) {
  if (target.empty()) return "no file selected";
  if (target.back() == '/') return "cannot write " + target + ": it names a folder, not a file";
  const std::string path = Resolved(target);
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) return "cannot write " + target + ": it is a folder";
    if (!S_ISREG(status.st_mode) && !S_ISCHR(status.st_mode)) {
      return "cannot write " + target + ": it is not a regular file";
    }
    if (::access(path.c_str(), W_OK) != 0) return "cannot write " + target + ": " + ErrorText(errno);
    if (S_ISCHR(status.st_mode)) return {};
  } else if (errno != ENOENT && errno != ENOTDIR) {
    return "cannot write " + target + ": " + ErrorText(errno);
  }
  const std::string folder = FolderOf(path);
  struct stat folderStatus {};
  if (::stat(folder.c_str(), &folderStatus) != 0) {
    return "cannot write " + target + ": the folder " + folder + " does not exist";
  }
  if (!S_ISDIR(folderStatus.st_mode)) return "cannot write " + target + ": " + folder + " is not a folder";
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return "cannot write " + target + ": the folder " + folder + " is not writable (" + ErrorText(errno) + ")";
  }
  return {};
}

}  // namespace vorlan
