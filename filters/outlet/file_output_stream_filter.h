// "File Output Stream": writes the packet on "In" to a file, byte for byte.
#pragma once

#include "path_setting_filter.h"

namespace vorlan {

class FileOutputStreamFilter : public PathSettingFilter {
 public:
  static constexpr FilterInfo kInfo{"File Output Stream", 1, 0, 20};

  FileOutputStreamFilter();

  Pin* InPin() const { return in_; }

 protected:
  // [worker thread] Waits for the input, then writes it chunk by chunk.
  Result Work() override;

 private:
  Pin* in_;
};

}  // namespace vorlan
