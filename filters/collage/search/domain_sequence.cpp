#include "search/domain_sequence.h"

#include <new>

namespace vorlan::collage {

bool DomainSequence::Build(int32_t width, int32_t height, int32_t minFactor, int32_t maxFactor,
                           int32_t stepX, int32_t stepY, const std::atomic<bool>* stop) {
  width_ = width;
  height_ = height;
  stepX_ = stepX;
  stepY_ = stepY;
  entries_.clear();
  try {
    for (int32_t fx = minFactor; fx <= maxFactor; ++fx) {
      if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
        entries_.clear();
        return false;
      }
      for (int32_t fy = minFactor; fy <= maxFactor; ++fy) {
        entries_.push_back(Entry{fx, fy, 0});
        entries_.push_back(Entry{fx, fy, 1});
      }
    }
  } catch (const std::bad_alloc&) {
    entries_.clear();
    return false;
  }
  Rewind();
  return !entries_.empty();
}

bool DomainSequence::Next(fractal::DomainCandidate& candidate) {
  if (exhausted_) return false;
  const Entry& e = entries_[index_];
  candidate.dx = dx_;
  candidate.dy = dy_;
  candidate.fx = e.fx;
  candidate.fy = e.fy;
  candidate.rotate = e.rotate;
  if (++index_ == entries_.size()) {
    index_ = 0;
    // Steps may exceed the remaining int32 room; widen before comparing.
    if (int64_t{dx_} + stepX_ >= width_) {
      dx_ = 0;
      if (int64_t{dy_} + stepY_ >= height_) {
        exhausted_ = true;
      } else {
        dy_ += stepY_;
      }
    } else {
      dx_ += stepX_;
    }
  }
  return true;
}

}  // namespace vorlan::collage
