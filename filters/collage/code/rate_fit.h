// Rate-distortion mode's rate limit, held on the packed stream itself: the
// partition prunes to its own estimate of the code's size, then the code is
// packed as the HV code packer packs it, and while it is larger than the
// limit the tree is pruned further, to a limit lowered by the estimate's
// measured error.
#pragma once

#include <cstdint>
#include <string>

#include "code/code_builder.h"
#include "partition/hv_partition.h"

namespace vorlan::collage {

// Bytes of `code` in the packed container; -1 with a reason when it cannot
// be packed.
int64_t PackedBytes(FractalCode& code, std::string& reason);

// Builds the code of `partition` into `code`; in Rate-distortion mode with
// a rate limit, prunes until the packed code fits it. False with a reason
// when the code cannot be built or packed.
bool BuildCodeWithinRate(HvPartition& partition, const FractalEncoderSettings& settings, int32_t width,
                         int32_t height, double lo, double hi, FractalCode& code, std::string& reason);

}  // namespace vorlan::collage
