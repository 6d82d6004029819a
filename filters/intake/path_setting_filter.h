// What the two file streams share: the path of the file they read or write,
// the folder a relative path is taken from, and the chunk size they move
// data in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "vorlan/filter_base.h"

namespace vorlan {

class PathSettingFilter : public FilterBase {
 public:
  // Data moves in chunks of this many bytes; progress is reported and a
  // stop honoured between two chunks.
  static constexpr int64_t kChunkSize = 262144;

  // Where a relative path is taken from (the trailing "folder" field).
  enum class Folder : int32_t {
    Graph = 0,    // the folder of the graph file (see vorlan/file_names.h)
    Current = 1,  // the current folder of the process, as on a command line
  };

  explicit PathSettingFilter(const FilterInfo& prototype) : FilterBase(prototype) {}

  // Serialized: one ConfigStream text, the path (length -1 when none), then
  // the int32 folder. Streams written before the folder existed end after
  // the path and mean Folder::Graph, and the folder is written only when it
  // is another one, so such settings keep their bytes. Native: a block of
  // sizeof(char*) bytes holding a pointer to the path text, valid until the
  // path changes; it leaves the folder as it is. [ui thread, or worker via
  // "Cfg in"]
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  Packet GetConfig(ConfigForm form) override;

  const std::optional<std::string>& Path() const { return path_; }
  // The stored value; a run refuses one that names no Folder.
  int32_t FolderValue() const { return folder_; }

  // "" when a path is set and the folder is known; the run starts with
  // this check.
  std::string SettingsProblem() const override;

 protected:
  // The path to work on, or Failed with SettingsProblem. A relative path
  // is taken from the folder the settings name.
  Result RequirePath(const std::string*& path);

 private:
  std::optional<std::string> path_;
  int32_t folder_ = static_cast<int32_t>(Folder::Graph);
  std::string resolved_;  // what RequirePath handed out last
};

}  // namespace vorlan
