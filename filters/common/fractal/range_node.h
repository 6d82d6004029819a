// A rectangle of the HV partition tree. Internal nodes keep their cut; leaves
// (ranges) keep the best transform found for them. Nodes are owned by a
// RangeTree; the links here never own anything.
#pragma once

#include <cstdint>

#include "fractal/domain_candidate.h"

namespace vorlan::fractal {

enum class SplitDirection : int32_t {
  None = -1,
  Rows = 0,     // cut across the height: `first` is the top part
  Columns = 1,  // cut across the width: `first` is the left part
};

// A rectangle inside an image of doubles: row r starts stride values after
// row r - 1.
struct PlaneView {
  double* origin = nullptr;
  int32_t stride = 0;
  double* Row(int32_t r) const { return origin + static_cast<int64_t>(r) * stride; }
};

struct RangeNode {
  int32_t id = -1;  // sequence number given when the node becomes current
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  double sum = 0.0;        // sum of the image values inside the rectangle
  double squareSum = 0.0;  // sum of their squares
  PlaneView view;
  int32_t done = 0;  // 1 once accepted as a range of the code
  DomainCandidate best;
  // RMS error of `best`; -1 before any transform; 0 also marks a range the
  // Size strategy must not pick for splitting.
  double error = -1.0;
  RangeNode* parent = nullptr;  // the root is its own parent
  RangeNode* first = nullptr;
  RangeNode* second = nullptr;
  int32_t splitPosition = 0;  // size of `first` along the cut axis
  SplitDirection splitDirection = SplitDirection::None;

  bool IsLeaf() const { return first == nullptr; }
  bool IsRoot() const { return parent == this; }
  int64_t Area() const { return int64_t{width} * height; }
};

}  // namespace vorlan::fractal
