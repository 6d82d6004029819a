#include "code/rate_fit.h"

#include <algorithm>
#include <new>
#include <span>
#include <vector>

#include "code_container.h"

namespace vorlan::collage {

int64_t PackedBytes(FractalCode& code, std::string& reason) {
  auto span = [](OwnedIntArray& a) {
    const IntArray& r = a.Record();
    return std::span<const int32_t>(r.values, static_cast<size_t>(r.count));
  };
  codepack::CodeView v;
  v.header = reinterpret_cast<const uint8_t*>(&code.header);
  v.headerLength = fractal::kCodeHeaderSize;
  v.si = span(code.SI());
  v.oi = span(code.OI());
  v.trn = span(code.TRN());
  v.dp = span(code.DP());
  v.df = span(code.DF());
  v.hasRp = v.hasRs = true;
  v.rp = span(code.RP());
  v.rs = span(code.RS());
  v.rtd = span(code.RTD());
  v.rtt = span(code.RTT());
  std::vector<uint8_t> packed;
  try {
    reason = codepack::PackCode(v, packed);
  } catch (const std::bad_alloc&) {
    reason = "out of memory for packing the code";
  }
  return reason.empty() ? static_cast<int64_t>(packed.size()) : -1;
}

bool BuildCodeWithinRate(HvPartition& partition, const FractalEncoderSettings& settings, int32_t width,
                         int32_t height, double lo, double hi, FractalCode& code, std::string& reason) {
  auto build = [&] {
    return BuildCode(partition.Root(), partition.RangeCounter(), partition.Pool(), settings, width, height, lo, hi,
                     code, reason);
  };
  if (!build()) return false;
  if (settings.mode != kRateDistortionMode || !(settings.maxRate > 0.0f)) return true;
  const double limit = static_cast<double>(settings.maxRate) * width * height;
  // Each round asks the estimate for less by the ratio it missed by; a
  // few rounds settle it, and a tree of one range cannot shrink further.
  for (int round = 0; round < 8; ++round) {
    const int64_t bytes = PackedBytes(code, reason);
    if (bytes < 0) return false;
    const double bits = 8.0 * static_cast<double>(bytes);
    if (bits <= limit || partition.Pool().size() <= 1) return true;
    const double target = partition.EstimatedBits() * (limit / bits) * 0.998;
    if (!partition.PruneTo(target)) {
      reason = "out of memory while pruning the partition";
      return false;
    }
    if (!build()) return false;
  }
  return true;
}

}  // namespace vorlan::collage
