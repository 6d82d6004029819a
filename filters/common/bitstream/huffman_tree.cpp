#include "huffman_tree.h"

#include <algorithm>
#include <new>
#include <numeric>
#include <queue>

namespace vorlan {

std::vector<int32_t> SortByFrequency(const std::vector<uint64_t>& frequencies) {
  std::vector<int32_t> order(frequencies.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int32_t a, int32_t b) { return frequencies[a] > frequencies[b]; });
  return order;
}

namespace {

// Position of a node in the work list, as a key that grows towards the head.
// Among equal frequencies a merged node sits behind every leaf and behind the
// nodes merged before it, and a later leaf sits behind an earlier one.
struct ListKey {
  uint64_t frequency;
  uint64_t tie;
  int32_t node;
  bool operator>(const ListKey& other) const {
    return frequency != other.frequency ? frequency > other.frequency : tie > other.tie;
  }
};

uint64_t TieKey(int32_t node, int32_t leafCount) {
  const uint64_t reverse = 0xFFFFFFFFu - static_cast<uint32_t>(node);
  return node < leafCount ? (uint64_t{1} << 32) | reverse : reverse;
}

}  // namespace

bool BuildHuffmanTree(const uint64_t* sortedFrequencies, int32_t count, HuffmanTree& tree) {
  tree = HuffmanTree{};
  if (count <= 0) return true;
  try {
    tree.leafCount = count;
    tree.nodes.reserve(static_cast<size_t>(count) * 2 - 1);
    std::vector<ListKey> heapStorage;
    heapStorage.reserve(static_cast<size_t>(count));
    std::priority_queue<ListKey, std::vector<ListKey>, std::greater<ListKey>> tail(std::greater<ListKey>{},
                                                                                 std::move(heapStorage));
    for (int32_t i = 0; i < count; ++i) {
      tree.nodes.push_back({sortedFrequencies[i], -1, -1});
      tail.push({sortedFrequencies[i], TieKey(i, count), i});
    }
    while (tail.size() > 1) {
      const ListKey x = tail.top();
      tail.pop();
      const ListKey y = tail.top();
      tail.pop();
      const auto p = static_cast<int32_t>(tree.nodes.size());
      const uint64_t sum = x.frequency + y.frequency;
      tree.nodes.push_back({sum, x.node, y.node});
      tail.push({sum, TieKey(p, count), p});
    }
    tree.root = tail.top().node;
  } catch (const std::bad_alloc&) {
    tree = HuffmanTree{};
    return false;
  }
  return true;
}

std::vector<uint32_t> NodeDepths(const HuffmanTree& tree) {
  std::vector<uint32_t> depth(tree.nodes.size(), 0);
  // Parents come after their children, so one backward sweep suffices.
  for (size_t i = tree.nodes.size(); i-- > 0;) {
    const HuffmanTree::Node& n = tree.nodes[i];
    if (n.child0 >= 0) {
      depth[n.child0] = depth[i] + 1;
      depth[n.child1] = depth[i] + 1;
    }
  }
  return depth;
}

bool LeafCodes(const HuffmanTree& tree, std::vector<uint64_t>& codes, std::vector<uint8_t>& lengths) {
  const size_t total = tree.nodes.size();
  std::vector<uint64_t> code(total, 0);
  std::vector<uint32_t> depth(total, 0);
  for (size_t i = total; i-- > 0;) {
    const HuffmanTree::Node& n = tree.nodes[i];
    if (n.child0 < 0) continue;
    if (depth[i] >= kMaxCodeLength) return false;
    depth[n.child0] = depth[n.child1] = depth[i] + 1;
    code[n.child0] = code[i];
    code[n.child1] = code[i] | (uint64_t{1} << depth[i]);
  }
  codes.assign(code.begin(), code.begin() + tree.leafCount);
  lengths.resize(static_cast<size_t>(tree.leafCount));
  for (int32_t i = 0; i < tree.leafCount; ++i) lengths[i] = static_cast<uint8_t>(depth[i]);
  return true;
}

}  // namespace vorlan
