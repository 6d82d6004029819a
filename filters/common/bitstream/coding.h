// What the stream coders share besides the bit streams: their outcome, the
// per-chunk callback that reports progress and polls the stop request, and
// the size limit for decoded arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vorlan {

enum class CodingStatus { Ok, Stopped, Failed };

struct CodingResult {
  CodingStatus status = CodingStatus::Ok;
  std::string reason;  // why it failed, for the host's error box

  static CodingResult Fail(std::string why) { return {CodingStatus::Failed, std::move(why)}; }
  static CodingResult Stop() { return {CodingStatus::Stopped, {}}; }
  bool ok() const { return status == CodingStatus::Ok; }
};

// Called once per chunk of values with the fraction done; returns false when
// the coder should stop.
using CodingTick = std::function<bool(double fraction)>;

inline constexpr int64_t kCodingChunk = 65536;

// Called with the bytes a decoder is about to allocate for its output;
// false when the run's memory budget cannot cover them (the caller then
// knows why, and the decoder fails with an empty reason).
using CodingReserve = std::function<bool(int64_t bytes)>;

// Largest array a stream header may ask a decoder for (1 GiB of values), so
// a few bytes of header cannot demand unbounded memory. Encoders accept the
// same sizes.
inline constexpr int64_t kMaxDecodedValues = int64_t{1} << 28;

// Asks the kernel to back a large, freshly allocated output with huge pages,
// so filling it costs far fewer page faults. A hint only; small buffers and
// kernels without transparent huge pages are left alone.
void AdviseLargeOutput(void* data, size_t bytes);

}  // namespace vorlan
