// "File Output Stream": writes the packet on "In" to a file, byte for byte.
#pragma once

#include "path_setting_filter.h"
#include "replacing_file.h"
#include "vorlan/settings_description.h"

namespace vorlan {

class FileOutputStreamFilter : public PathSettingFilter {
 public:
  static constexpr FilterInfo kInfo{"File Output Stream", 1, 0, 20};

  FileOutputStreamFilter();

  Pin* InPin() const { return in_; }

  static const SettingsDescription& DescribeSettings();

  // Replaces the write system call, to simulate a full disk in tests.
  void SetWriteCall(ReplacingFile::WriteCall call) { writeCall_ = call; }

 protected:
  // [worker thread] Checks the target, waits for the input, then writes it
  // chunk by chunk into a temporary file that replaces the target when whole.
  Result Work() override;

 private:
  Pin* in_;
  ReplacingFile::WriteCall writeCall_ = nullptr;
};

}  // namespace vorlan
