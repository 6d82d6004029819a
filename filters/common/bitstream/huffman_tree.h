// The code tree shared by the Huffman encoder and decoder. Both build it the
// same way from the symbol table so the decoder recovers the encoder's codes
// from the table and frequencies alone.
#pragma once

#include <cstdint>
#include <vector>

namespace vorlan {

// Largest number of distinct symbols in one Huffman stream; bounds the
// memory a stream header can ask the decoder for.
inline constexpr int64_t kMaxHuffmanEntries = int64_t{1} << 22;

// Longest code the encoder writes in one piece. Counts below 2^31 give codes
// of at most 45 bits, so this never limits a real table.
inline constexpr unsigned kMaxCodeLength = 57;

struct HuffmanTree {
  struct Node {
    uint64_t frequency;
    int32_t child0;  // reached by bit 0; -1 in a leaf
    int32_t child1;  // reached by bit 1; -1 in a leaf
  };
  // Leaves first, as entries in sorted order (node k is sorted entry k), then
  // the internal nodes in the order they were made; a child always comes
  // before its parent.
  std::vector<Node> nodes;
  int32_t root = -1;
  int32_t leafCount = 0;

  bool IsLeaf(int32_t node) const { return node < leafCount; }
};

// Entry indexes ordered by frequency, highest first; entries of equal
// frequency keep their table order.
std::vector<int32_t> SortByFrequency(const std::vector<uint64_t>& frequencies);

// Builds the tree over `count` leaves already in sorted order. The work list
// runs from the highest frequency to the lowest: the last node X and the one
// before it Y merge into P (child 0 = X, child 1 = Y), and P goes behind
// every node of equal or higher frequency. One leaf makes a leaf root.
// False when memory runs out.
bool BuildHuffmanTree(const uint64_t* sortedFrequencies, int32_t count, HuffmanTree& tree);

// Depth of every node (the root has depth 0).
std::vector<uint32_t> NodeDepths(const HuffmanTree& tree);

// The code of each leaf, root's choice in bit 0, and its length. False when
// a code would be longer than kMaxCodeLength.
bool LeafCodes(const HuffmanTree& tree, std::vector<uint64_t>& codes, std::vector<uint8_t>& lengths);

}  // namespace vorlan
