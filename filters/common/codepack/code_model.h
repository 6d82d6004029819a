// The context model of the packed code: one walk over the partition tree in
// pre-order, written once for both directions. At each node the walk codes
// whether it is cut (only where a cut is possible at all), the direction
// (only where both are possible) and the position; at each leaf it codes
// the range's transform. Every field is coded with contexts the decoder
// knows at that point:
//   cut flag      the node's width and height classes (log2)
//   direction     the node's shape and its parent's direction
//   position      bounded by the smallest side of the code, per direction
//   has transform one model
//   SI            the range's area class
//   OI            the scale index's class (the offset's spread follows it)
//   TRN           the previous range's isometry
//   DF            the previous range's factors, else bounded by the image
//                 over the range side
//   DP            bounded by where the domain still fits in the image
// Format version 2 codes the offset last, after the domain, as its distance
// from the offset an OffsetPredictor expects (offset_predictor.h); the
// other fields are coded as in version 1.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bounded_model.h"
#include "fractal/code_layout.h"
#include "offset_predictor.h"
#include "fractal/domain_candidate.h"
#include "range_coder.h"

namespace vorlan::codepack {

// What the walk codes, for accounting the cost of each field.
enum class CodeField : int { Tree = 0, HasTransform, SI, OI, TRN, DF, DP, Count };

// One tree node in pre-order: position 0 for a leaf.
struct NodeCut {
  int32_t position = 0;
  int32_t direction = 0;  // 0 Rows, 1 Columns
};

// The transform of one range.
struct RangeFields {
  int32_t si = -1, oi = -1, trn = 0;
  int32_t dpx = 0, dpy = 0;
  int32_t fx = 0, fy = 0;
};

// The code as the walk sees it: tree nodes and ranges in pre-order. The
// encoder fills it before the walk; the decoder's walk appends to it.
struct WalkedCode {
  std::vector<NodeCut> nodes;
  std::vector<RangeFields> ranges;
  std::vector<fractal::RangeRect> rects;
};

struct WalkLimits {
  int32_t width = 0, height = 0;
  int32_t minSide = 1;       // no range of the code has a shorter side
  int64_t rangeCount = 0;    // exactly this many leaves
  int32_t scaleLevels = 0, offsetLevels = 0;
  int32_t stepX = 0, stepY = 0;
  int32_t version = 1;                           // the container's format version
  const fractal::CodeHeader* header = nullptr;   // version 2: for the offset prediction
};

class CodeModel {
 public:
  // Walks the code. An encoder reads `code` (complete and valid, see
  // PackCode); a decoder fills it and checks what it reads. Returns "" or
  // the reason the stream is refused.
  template <class Coder>
  std::string Walk(Coder& coder, const WalkLimits& limits, WalkedCode& code);

 private:
  struct Pending {
    fractal::RangeRect rect;
    int32_t parentDirection;  // 0 Rows, 1 Columns, 2 root
  };

  static int SizeClass(int64_t side) { return std::min(static_cast<int>(std::bit_width(static_cast<uint64_t>(side))), 15); }

  template <class Coder>
  std::string CodeRange(Coder& coder, const WalkLimits& limits, const fractal::RangeRect& r, RangeFields& f);

  std::array<BitModel, 16 * 16> cut_{};
  std::array<BitModel, 3 * 3> direction_{};
  std::array<BoundedModel, 2> position_{};
  BitModel hasTransform_{};
  std::array<BoundedModel, 8> scale_{};
  static constexpr int64_t kScaleClasses = 8;
  std::array<BoundedModel, kScaleClasses> offset_{};
  std::array<std::array<BitModel, 8>, 8> isometry_{};
  BitModel sameFactors_{};
  std::array<BoundedModel, 2> factor_{};
  std::array<BoundedModel, 2> domain_{};
  RangeFields previous_{-1, -1, 0, 0, 0, 2, 2};
  std::unique_ptr<OffsetPredictor> predictor_;  // version 2
  BoundedModel offsetDistance_{};
};

template <class Coder>
std::string CodeModel::Walk(Coder& coder, const WalkLimits& limits, WalkedCode& code) {
  constexpr bool kDecoding = Coder::kDecoding;
  const int64_t m = limits.minSide;
  const int64_t maxNodes = 2 * limits.rangeCount - 1;
  if (limits.version == 2) {
    if (limits.header == nullptr) return "the walk of a version 2 code needs its header";
    predictor_ = std::make_unique<OffsetPredictor>(*limits.header);
  }
  std::vector<Pending> pending;
  pending.push_back(Pending{fractal::RangeRect{0, 0, limits.width, limits.height}, 2});
  size_t node = 0;
  size_t range = 0;
  while (!pending.empty()) {
    const Pending p = pending.back();
    pending.pop_back();
    const fractal::RangeRect& r = p.rect;
    if constexpr (kDecoding) {
      if (coder.Overrun()) return "the packed code ends in the middle of its partition tree";
      if (static_cast<int64_t>(node) >= maxNodes) {
        return "the packed code's partition tree has more nodes than its range count allows";
      }
      code.nodes.emplace_back();
    } else if (node >= code.nodes.size()) {
      return "the partition tree does not match its own walk";
    }
    NodeCut& cut = code.nodes[node++];
    const bool canRows = r.height >= 2 * m;
    const bool canColumns = r.width >= 2 * m;
    int split = 0;
    coder.Enter(CodeField::Tree);
    if (canRows || canColumns) {
      const int ctx = SizeClass(r.width) * 16 + SizeClass(r.height);
      split = coder.Bit(cut_[static_cast<size_t>(ctx)], cut.position != 0 ? 1 : 0);
    }
    if (split == 0) {
      if constexpr (kDecoding) {
        if (static_cast<int64_t>(range) >= limits.rangeCount) {
          return "the packed code's partition tree has more ranges than its range count";
        }
        code.ranges.emplace_back();
        code.rects.push_back(r);
      } else if (range >= code.ranges.size()) {
        return "the partition tree does not match its own walk";
      }
      std::string reason = CodeRange(coder, limits, r, code.ranges[range]);
      if (!reason.empty()) return reason;
      ++range;
      continue;
    }
    int direction;
    if (canRows && canColumns) {
      const int shape = r.width > r.height ? 0 : (r.width == r.height ? 1 : 2);
      direction = coder.Bit(direction_[static_cast<size_t>(shape * 3 + p.parentDirection)], cut.direction);
    } else {
      direction = canRows ? 0 : 1;
      if (!kDecoding && direction != cut.direction) return "a cut of the tree leaves a side shorter than its smallest range";
    }
    const int64_t side = direction == 0 ? r.height : r.width;
    const uint32_t offset = position_[static_cast<size_t>(direction)].Code(
        coder, static_cast<uint32_t>(side - 2 * m), static_cast<uint32_t>(cut.position - m));
    const auto position = static_cast<int32_t>(m + offset);
    if constexpr (kDecoding) {
      cut.position = position;
      cut.direction = direction;
    }
    fractal::RangeRect first = r, second = r;
    if (direction == 0) {
      first.height = position;
      second.y = r.y + position;
      second.height = r.height - position;
    } else {
      first.width = position;
      second.x = r.x + position;
      second.width = r.width - position;
    }
    pending.push_back(Pending{second, direction});
    pending.push_back(Pending{first, direction});
  }
  if constexpr (kDecoding) {
    if (coder.Overrun()) return "the packed code ends in the middle of its last range";
    if (static_cast<int64_t>(range) != limits.rangeCount) {
      return "the packed code's partition tree has fewer ranges than its range count";
    }
  }
  return "";
}

template <class Coder>
std::string CodeModel::CodeRange(Coder& coder, const WalkLimits& limits, const fractal::RangeRect& r,
                                 RangeFields& f) {
  constexpr bool kDecoding = Coder::kDecoding;
  coder.Enter(CodeField::HasTransform);
  const int has = coder.Bit(hasTransform_, f.si != -1 ? 1 : 0);
  if (has == 0) {
    if constexpr (kDecoding) f = RangeFields{};
    return "";
  }
  if constexpr (kDecoding) {
    if (limits.scaleLevels < 2 || limits.offsetLevels < 2) {
      return "the packed code has a transform but its header gives fewer than 2 scale or offset levels";
    }
    if (limits.stepX < 1 || limits.stepY < 1) {
      return "the packed code has a transform but its header gives a domain step below 1";
    }
  }
  coder.Enter(CodeField::SI);
  const int areaClass = std::min(SizeClass(int64_t{r.width} * r.height) / 2, 7);
  f.si = static_cast<int32_t>(scale_[static_cast<size_t>(areaClass)].Code(
      coder, static_cast<uint32_t>(limits.scaleLevels - 1), static_cast<uint32_t>(f.si)));
  if (!predictor_) {
    const auto scaleClass = static_cast<size_t>(int64_t{f.si} * kScaleClasses / limits.scaleLevels);
    coder.Enter(CodeField::OI);
    f.oi = static_cast<int32_t>(
        offset_[scaleClass].Code(coder, static_cast<uint32_t>(limits.offsetLevels - 1), static_cast<uint32_t>(f.oi)));
  }

  coder.Enter(CodeField::TRN);
  auto& iso = isometry_[static_cast<size_t>(previous_.trn & 7)];
  uint32_t node = 1;
  for (int b = 2; b >= 0; --b) node = (node << 1) | static_cast<uint32_t>(coder.Bit(iso[node], (f.trn >> b) & 1));
  f.trn = static_cast<int32_t>(node - 8);

  const bool rotate = (f.trn & fractal::kIsometryRotate) != 0;
  const int64_t baseW = rotate ? r.height : r.width;  // domain size at factor 1
  const int64_t baseH = rotate ? r.width : r.height;
  const int64_t maxFx = limits.width / baseW;
  const int64_t maxFy = limits.height / baseH;
  if (maxFx < 1 || maxFy < 1) {
    // Only a decoder gets here: the packer refused such a code before.
    return "the packed code turns a range so that no domain fits the image";
  }
  coder.Enter(CodeField::DF);
  // Shrink factors mostly repeat from range to range: one flag when the
  // previous pair still fits, the factors themselves otherwise.
  const bool previousFits = previous_.fx <= maxFx && previous_.fy <= maxFy;
  int same = 0;
  if (previousFits) same = coder.Bit(sameFactors_, f.fx == previous_.fx && f.fy == previous_.fy ? 1 : 0);
  if (same == 1) {
    f.fx = previous_.fx;
    f.fy = previous_.fy;
  } else {
    f.fx = 1 + static_cast<int32_t>(
                   factor_[0].Code(coder, static_cast<uint32_t>(maxFx - 1), static_cast<uint32_t>(f.fx - 1)));
    f.fy = 1 + static_cast<int32_t>(
                   factor_[1].Code(coder, static_cast<uint32_t>(maxFy - 1), static_cast<uint32_t>(f.fy - 1)));
  }
  coder.Enter(CodeField::DP);
  const int64_t lastX = (limits.width - f.fx * baseW) / limits.stepX;
  const int64_t lastY = (limits.height - f.fy * baseH) / limits.stepY;
  f.dpx = static_cast<int32_t>(domain_[0].Code(coder, static_cast<uint32_t>(lastX), static_cast<uint32_t>(f.dpx)));
  f.dpy = static_cast<int32_t>(domain_[1].Code(coder, static_cast<uint32_t>(lastY), static_cast<uint32_t>(f.dpy)));
  if (predictor_) {
    coder.Enter(CodeField::OI);
    const int32_t predicted = predictor_->Predict(r, f.si, int64_t{f.dpx} * limits.stepX, int64_t{f.dpy} * limits.stepY,
                                                  f.fx * baseW, f.fy * baseH);
    const uint32_t folded = offsetDistance_.Code(coder, static_cast<uint32_t>(limits.offsetLevels - 1),
                                                 kDecoding ? 0u : FoldOffset(f.oi, predicted, limits.offsetLevels));
    f.oi = UnfoldOffset(folded, predicted, limits.offsetLevels);
    predictor_->Record(r, f.oi);
  }
  previous_ = f;
  return "";
}

// Codes nothing: adds up the ideal cost, -log2 of the probability the model
// gave each decision, per field, and adapts the models as the encoder does.
class CostMeter {
 public:
  static constexpr bool kDecoding = false;

  void Enter(CodeField field) { field_ = static_cast<int>(field); }
  int Bit(BitModel& m, int bit) {
    const double p0 = static_cast<double>(m.P()) / kProbabilityOne;
    bits[static_cast<size_t>(field_)] -= std::log2(bit == 0 ? p0 : 1.0 - p0);
    m.Update(bit);
    return bit;
  }

  std::array<double, static_cast<size_t>(CodeField::Count)> bits{};

 private:
  int field_ = 0;
};

}  // namespace vorlan::codepack
