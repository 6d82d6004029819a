// The grid of domain candidates one range walks through: positions dy
// (outer) and dx on the step grid, then every factor pair (fx outer, fy
// inner), each unturned and turned.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fractal/domain_candidate.h"

namespace vorlan::collage {

// Whether the domain at (dx, dy) with factors fx, fy, turned or not, lies
// inside a width x height image for a w x h range.
inline bool DomainFits(int64_t w, int64_t h, int64_t dx, int64_t dy, int64_t fx, int64_t fy, int32_t rotate,
                       int64_t width, int64_t height) {
  const int64_t dw = rotate != 0 ? h : w;
  const int64_t dh = rotate != 0 ? w : h;
  return dx + fx * dw < width && dy + fy * dh < height;
}

class DomainSequence {
 public:
  // False when memory runs out or `stop` (polled once per factor) is set.
  // Factors and steps are at least 1.
  [[nodiscard]] bool Build(int32_t width, int32_t height, int32_t minFactor, int32_t maxFactor,
                           int32_t stepX, int32_t stepY, const std::atomic<bool>* stop = nullptr);

  // Writes dx, dy, fx, fy and rotate of the next entry into `candidate` and
  // advances; false (candidate unchanged) once exhausted. The call that
  // hands out the last entry leaves the sequence exhausted.
  bool Next(fractal::DomainCandidate& candidate);
  void Rewind() {
    dx_ = dy_ = 0;
    index_ = 0;
    exhausted_ = false;
  }
  bool Exhausted() const { return exhausted_; }
  int32_t EntriesPerPosition() const { return static_cast<int32_t>(entries_.size()); }

  // The factor pairs and rotations tried at every position, in walk order.
  struct Entry {
    int32_t fx, fy, rotate;
  };
  const std::vector<Entry>& Entries() const { return entries_; }
  int32_t StepX() const { return stepX_; }
  int32_t StepY() const { return stepY_; }

 private:
  std::vector<Entry> entries_;
  int32_t width_ = 0, height_ = 0, stepX_ = 1, stepY_ = 1;
  int32_t dx_ = 0, dy_ = 0;
  size_t index_ = 0;
  bool exhausted_ = false;
};

}  // namespace vorlan::collage
