#include "vorlan/file_names.h"

#include <map>
#include <mutex>

namespace vorlan {

namespace {

// Filters of this library that were given a folder. Only a few per graph,
// looked up once per file a filter opens.
std::mutex& TableLock() {
  static std::mutex lock;
  return lock;
}

// Destroyed when the library is unloaded, after the host has destroyed
// every filter it made (a leaked table would show as a leak once the
// library's statics are gone).
std::map<const Filter*, std::string>& Table() {
  static std::map<const Filter*, std::string> table;
  return table;
}

}  // namespace

void SetDocumentFolderOf(const Filter* filter, const char* folder) {
  if (filter == nullptr) return;
  std::lock_guard guard(TableLock());
  if (folder == nullptr || *folder == '\0') {
    Table().erase(filter);
  } else {
    Table()[filter] = folder;
  }
}

std::string DocumentFolderOf(const Filter* filter) {
  std::lock_guard guard(TableLock());
  const auto it = Table().find(filter);
  return it != Table().end() ? it->second : std::string();
}

void ForgetDocumentFolderOf(const Filter* filter) {
  std::lock_guard guard(TableLock());
  Table().erase(filter);
}

}  // namespace vorlan
