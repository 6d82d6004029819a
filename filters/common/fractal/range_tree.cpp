#include "fractal/range_tree.h"

#include <new>

namespace vorlan::fractal {

RangeNode* RangeTree::Reset(int32_t width, int32_t height) {
  nodes_.clear();
  try {
    RangeNode& root = nodes_.emplace_back();
    root.width = width;
    root.height = height;
    root.parent = &root;
    return &root;
  } catch (const std::bad_alloc&) {
    nodes_.clear();
    return nullptr;
  }
}

bool RangeTree::Split(RangeNode& node, int32_t position, SplitDirection direction) {
  RangeNode* first = nullptr;
  RangeNode* second = nullptr;
  try {
    first = &nodes_.emplace_back();
    second = &nodes_.emplace_back();
  } catch (const std::bad_alloc&) {
    // A half-made pair is unreachable from the tree; it is freed with it.
    return false;
  }
  for (RangeNode* child : {first, second}) {
    child->parent = &node;
    child->x = node.x;
    child->y = node.y;
    child->width = node.width;
    child->height = node.height;
  }
  if (direction == SplitDirection::Rows) {
    first->height = position;
    second->y = node.y + position;
    second->height = node.height - position;
  } else {
    first->width = position;
    second->x = node.x + position;
    second->width = node.width - position;
  }
  node.first = first;
  node.second = second;
  node.splitPosition = position;
  node.splitDirection = direction;
  return true;
}

void WalkPreOrder(const RangeNode* root, const std::function<void(const RangeNode&)>& visit) {
  if (root == nullptr) return;
  const RangeNode* node = root;
  visit(*node);
  for (;;) {
    if (!node->IsLeaf()) {
      node = node->first;
      visit(*node);
      continue;
    }
    // Climb until we leave a `first` child whose sibling is still to come.
    for (;;) {
      if (node == root) return;
      const RangeNode* parent = node->parent;
      if (node == parent->first) {
        node = parent->second;
        visit(*node);
        break;
      }
      node = parent;
    }
  }
}

std::vector<const RangeNode*> LeavesInPreOrder(const RangeNode* root) {
  std::vector<const RangeNode*> leaves;
  WalkPreOrder(root, [&](const RangeNode& n) {
    if (n.IsLeaf()) leaves.push_back(&n);
  });
  return leaves;
}

}  // namespace vorlan::fractal
