// "File Input Stream": reads one whole file into memory and publishes it as
// a Bytes packet on "Out".
#pragma once

#include "path_setting_filter.h"
#include "vorlan/settings_description.h"
#include "vorlan/payloads.h"

namespace vorlan {

class FileInputStreamFilter : public PathSettingFilter {
 public:
  static constexpr FilterInfo kInfo{"File Input Stream", 1, 0, 10};

  FileInputStreamFilter();
  ~FileInputStreamFilter();

  Pin* OutPin() const { return out_; }

  static const SettingsDescription& DescribeSettings();

 protected:
  // [worker thread] Reads the file chunk by chunk into the output buffer.
  Result Work() override;
  // Frees the file contents; "Out" has been withdrawn.
  void ReleaseOutputs() override;

 private:
  Pin* out_;
  OwnedBytes contents_;  // the published payload
};

}  // namespace vorlan
