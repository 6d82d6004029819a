// One domain transform of the fractal code: where the domain lies, how it is
// shrunk and turned onto its range, and the grey-level map scale*D + offset.
#pragma once

#include <cstdint>

namespace vorlan::fractal {

// Orientation bits of a transform as they travel in the "TRN" array.
inline constexpr int32_t kIsometryRotate = 1;          // bit 0
inline constexpr int32_t kIsometryReverseRows = 2;     // bit 1
inline constexpr int32_t kIsometryReverseColumns = 4;  // bit 2

struct DomainCandidate {
  int32_t dx = 0;  // top-left corner of the domain in the image, pixels
  int32_t dy = 0;
  int32_t domainWidth = 0;
  int32_t domainHeight = 0;
  int32_t fx = 0;  // fx domain columns and fy domain rows average into one value
  int32_t fy = 0;
  int32_t rotate = 0;          // domain turned a quarter turn clockwise
  int32_t reverseRows = 0;     // row order of the averaged block reversed
  int32_t reverseColumns = 0;  // column order reversed
  double sum = 0.0;            // sum of the averaged domain block
  double squareSum = 0.0;      // sum of its squares
  double scale = 0.0;          // quantised scale
  double offset = 0.0;         // quantised offset
  int32_t scaleIndex = -1;     // -1 until a transform is accepted
  int32_t offsetIndex = -1;

  int32_t Isometry() const {
    return (rotate != 0 ? kIsometryRotate : 0) | (reverseRows != 0 ? kIsometryReverseRows : 0) |
           (reverseColumns != 0 ? kIsometryReverseColumns : 0);
  }
  void SetIsometry(int32_t code) {
    rotate = (code & kIsometryRotate) != 0 ? 1 : 0;
    reverseRows = (code & kIsometryReverseRows) != 0 ? 1 : 0;
    reverseColumns = (code & kIsometryReverseColumns) != 0 ? 1 : 0;
  }

  // Domain size for a w x h range with the candidate's factors and rotation.
  void SizeDomainFor(int32_t w, int32_t h) {
    domainWidth = fx * (rotate != 0 ? h : w);
    domainHeight = fy * (rotate != 0 ? w : h);
  }
};

}  // namespace vorlan::fractal
