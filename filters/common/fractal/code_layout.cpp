#include "fractal/code_layout.h"

#include <new>

namespace vorlan::fractal {

bool RebuildTree(RangeTree& tree, int32_t width, int32_t height, const int32_t* rtd, int32_t rtdCount,
                 const int32_t* rtt, int32_t rttCount, std::string& reason) {
  if (width < 1 || height < 1) {
    reason = "the code's image size is empty";
    return false;
  }
  if (rtdCount < 0 || rttCount < 0 || (rtdCount > 0 && rtd == nullptr) ||
      (rttCount > 0 && rtt == nullptr)) {
    reason = "the partition tree arrays are malformed";
    return false;
  }
  RangeNode* root = tree.Reset(width, height);
  if (root == nullptr) {
    reason = "out of memory";
    return false;
  }
  // Each node visited in pre-order takes the next RTD entry; once RTD runs
  // out every node still unvisited is a leaf.
  std::vector<RangeNode*> pending;
  try {
    pending.push_back(root);
    int32_t i = 0;
    int32_t t = 0;
    while (!pending.empty() && i < rtdCount) {
      RangeNode* node = pending.back();
      pending.pop_back();
      const int32_t position = rtd[i++];
      if (position == 0) continue;
      if (t >= rttCount) {
        reason = "the partition tree has more cuts than directions";
        return false;
      }
      const int32_t direction = rtt[t++];
      if (direction != 0 && direction != 1) {
        reason = "the partition tree holds an unknown cut direction";
        return false;
      }
      const auto dir = static_cast<SplitDirection>(direction);
      const int32_t side = dir == SplitDirection::Rows ? node->height : node->width;
      if (position < 0 || position >= side) {
        reason = "the partition tree holds a cut outside its range";
        return false;
      }
      if (!tree.Split(*node, position, dir)) {
        reason = "out of memory";
        return false;
      }
      pending.push_back(node->second);
      pending.push_back(node->first);
    }
    if (i < rtdCount) {
      reason = "the partition tree has entries beyond its last range";
      return false;
    }
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
    return false;
  }
  return true;
}

std::vector<RangeRect> RangesOf(const RangeTree& tree) {
  std::vector<RangeRect> ranges;
  for (const RangeNode* leaf : LeavesInPreOrder(tree.Root())) {
    ranges.push_back(RangeRect{leaf->x, leaf->y, leaf->width, leaf->height});
  }
  return ranges;
}

}  // namespace vorlan::fractal
