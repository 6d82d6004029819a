// Owner of the nodes of one partition tree. Nodes keep their addresses for
// the life of the tree, so stacks, pools and windows may point at them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "fractal/range_node.h"

namespace vorlan::fractal {

class RangeTree {
 public:
  RangeTree() = default;
  RangeTree(const RangeTree&) = delete;
  RangeTree& operator=(const RangeTree&) = delete;

  // Drops every node and makes a new root (0, 0, width, height), its own
  // parent. Null when memory runs out.
  RangeNode* Reset(int32_t width, int32_t height);
  void Clear() { nodes_.clear(); }

  RangeNode* Root() { return nodes_.empty() ? nullptr : &nodes_.front(); }
  const RangeNode* Root() const { return nodes_.empty() ? nullptr : &nodes_.front(); }
  int64_t NodeCount() const { return static_cast<int64_t>(nodes_.size()); }

  // Cuts a leaf in two. Rows: first = (x, y, w, position), second = the rest
  // below; Columns: first = (x, y, position, h), second = the rest to the
  // right. The caller keeps 0 < position < side. False when memory runs out
  // (the node stays a leaf).
  [[nodiscard]] bool Split(RangeNode& node, int32_t position, SplitDirection direction);

 private:
  std::deque<RangeNode> nodes_;
};

// Visits the tree rooted at `root` in pre-order (a node, its `first`
// subtree, then its `second` subtree) without recursion, following parent
// links; the root must be its own parent.
void WalkPreOrder(const RangeNode* root, const std::function<void(const RangeNode&)>& visit);

// The leaves in pre-order: range k of the code is element k.
std::vector<const RangeNode*> LeavesInPreOrder(const RangeNode* root);

}  // namespace vorlan::fractal
