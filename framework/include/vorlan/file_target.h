// The check a file target passes before a run writes it, shared by the
// File Output Stream and the host, which runs it when a run starts.
#pragma once

#include <string>

namespace vorlan {

// Why `target` cannot be written, or "" when it can: its folder must exist
// and be writable, and an existing target must be a writable regular file
// or a device. Creates and truncates nothing. Symbolic links are followed.
std::string CheckWritableTarget(const std::string& target);

}  // namespace vorlan
