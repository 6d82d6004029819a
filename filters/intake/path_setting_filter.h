// What the two file streams share: one setting, the path of the file they
// read or write, and the chunk size they move data in.
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

  explicit PathSettingFilter(const FilterInfo& prototype) : FilterBase(prototype) {}

  // Serialized: one ConfigStream text, the path (length -1 when none).
  // Native: a block of sizeof(char*) bytes holding a pointer to the path
  // text, valid until the path changes. [ui thread, or worker via "Cfg in"]
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  Packet GetConfig(ConfigForm form) override;

  const std::optional<std::string>& Path() const { return path_; }

 protected:
  // The path to work on, or Failed with "no file selected". A relative path
  // is taken from the document folder (see vorlan/file_names.h).
  Result RequirePath(const std::string*& path);

 private:
  std::optional<std::string> path_;
  std::string resolved_;  // what RequirePath handed out last
};

}  // namespace vorlan
