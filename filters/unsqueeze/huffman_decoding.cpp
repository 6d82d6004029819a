#include "huffman_decoding.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bit_stream.h"
#include "huffman_tree.h"

namespace vorlan {
namespace {

// Codes up to this many bits are resolved with one table look-up; longer
// ones continue bit by bit from the node the look-up reached. Short streams
// get smaller tables, so building one never costs more than decoding.
constexpr unsigned kMaxLookupBits = 16;
constexpr unsigned kMinLookupBits = 8;

// A look-up result packed in 32 bits (node << 5 | bits consumed) to keep the
// table small in cache; nodes stay below 2^23.
using LookupEntry = uint32_t;

// Every node reached within `bits` bits (a leaf, or an inner node at depth
// `bits`) owns the patterns whose low bits are its path; filled top-down in
// time proportional to the table plus the tree.
std::vector<LookupEntry> BuildLookup(const HuffmanTree& tree, unsigned bits) {
  std::vector<LookupEntry> lookup(size_t{1} << bits);
  std::vector<uint32_t> path(tree.nodes.size(), 0);
  std::vector<uint32_t> depth(tree.nodes.size(), UINT32_MAX);  // unreached
  depth[tree.root] = 0;
  // Parents come after their children, so a backward sweep goes top-down.
  for (size_t i = tree.nodes.size(); i-- > 0;) {
    const auto node = static_cast<int32_t>(i);
    if (depth[i] > bits) continue;
    if (tree.IsLeaf(node) || depth[i] == bits) {
      const uint32_t step = uint32_t{1} << depth[i];
      for (uint32_t pattern = path[i]; pattern < lookup.size(); pattern += step) {
        lookup[pattern] = static_cast<uint32_t>(node) << 5 | depth[i];
      }
      continue;
    }
    const HuffmanTree::Node& n = tree.nodes[i];
    depth[n.child0] = depth[n.child1] = depth[i] + 1;
    path[n.child0] = path[i];
    path[n.child1] = path[i] | (uint32_t{1} << depth[i]);
  }
  return lookup;
}

CodingResult Decode(const uint8_t* data, size_t length, OwnedIntArray& out, const CodingTick& tick,
                    int64_t valueLimit, const CodingReserve& reserve) {
  // Every field starts at 0 and stays 0 when the stream cannot supply it.
  BitReader reader(data, length);
  uint32_t t = 0, s = 0, w = 0, widthByte = 0, f = 0;
  (void)reader.ReadBits(32, t);
  (void)reader.ReadBits(32, s);
  (void)reader.ReadBits(8, w);
  if (w == 0) return CodingResult::Fail("the Huffman stream has word length 0");
  if (t > valueLimit) {
    return CodingResult::Fail("the Huffman stream claims " + std::to_string(t) + " values, more than " +
                              std::to_string(valueLimit));
  }
  if (s > valueLimit) {
    return CodingResult::Fail("the Huffman stream claims a table of " + std::to_string(s) +
                              " values, more than " + std::to_string(valueLimit));
  }
  if (s == 0 && t > 0) return CodingResult::Fail("the Huffman stream has values but an empty symbol table");
  const uint32_t fullEntries = s / w;
  const uint32_t shortLength = s % w;
  const int64_t n = int64_t{fullEntries} + (shortLength > 0 ? 1 : 0);
  if (n > kMaxHuffmanEntries) {
    return CodingResult::Fail("the Huffman stream has " + std::to_string(n) + " symbols, more than " +
                              std::to_string(kMaxHuffmanEntries));
  }

  (void)reader.ReadBits(8, widthByte);
  (void)reader.ReadBits(8, f);
  unsigned valueBits = 0;
  bool isSigned = false;
  if (!DecodeWidthByte(static_cast<uint8_t>(widthByte), valueBits, isSigned)) {
    return CodingResult::Fail("the Huffman stream has " + std::to_string(valueBits) + "-bit values");
  }
  if (f > 32) return CodingResult::Fail("the Huffman stream has " + std::to_string(f) + "-bit frequencies");
  // What the encoder writes: every value and every frequency takes at least
  // one bit; the table never holds more values than the array (each entry
  // is a symbol of the input), and a short entry holds exactly the tail of
  // T mod W values. Anything else decodes to data that was never encoded.
  if (s > 0 && valueBits == 0) return CodingResult::Fail("the Huffman stream has 0-bit values");
  if (n > 0 && f == 0) return CodingResult::Fail("the Huffman stream has 0-bit frequencies");
  if (s > t) {
    return CodingResult::Fail("the Huffman stream has a table of " + std::to_string(s) + " values for " +
                              std::to_string(t) + " values of data");
  }
  if (shortLength > 0 && shortLength != t % w) {
    return CodingResult::Fail("the Huffman stream has a short entry of " + std::to_string(shortLength) +
                              " values, but its last symbol holds " + std::to_string(t % w));
  }
  // The table and the frequencies must be present in full: their sizes are
  // claims the stream's own bits have to back.
  const uint64_t tableBits = uint64_t{s} * valueBits + static_cast<uint64_t>(n) * f;
  if (tableBits > reader.RemainingBits()) {
    return CodingResult::Fail("the Huffman stream claims a table of " + std::to_string(tableBits) +
                              " bits, but only " + std::to_string(reader.RemainingBits()) + " follow its header");
  }
  const int64_t outputBytes = int64_t{t} * int64_t{sizeof(int32_t)};
  if (reserve && !reserve(outputBytes)) return CodingResult::Fail("");
  if (!out.Allocate(t)) return CodingResult::Fail("out of memory for " + std::to_string(t) + " values");
  AdviseLargeOutput(out.Values(), size_t{t} * sizeof(int32_t));

  std::vector<int32_t> tableValues(s);
  for (uint32_t i = 0; i < s; ++i) {
    uint32_t field = 0;
    (void)reader.ReadBits(valueBits, field);
    tableValues[i] = ExtendField(field, valueBits, isSigned);
  }
  std::vector<uint64_t> frequencies(static_cast<size_t>(n));
  for (auto& frequency : frequencies) {
    uint32_t field = 0;
    (void)reader.ReadBits(f, field);
    frequency = field;
  }
  if (t == 0) return {};

  const std::vector<int32_t> order = SortByFrequency(frequencies);
  std::vector<uint64_t> sorted(static_cast<size_t>(n));
  for (int64_t k = 0; k < n; ++k) sorted[k] = frequencies[order[k]];
  HuffmanTree tree;
  if (!BuildHuffmanTree(sorted.data(), static_cast<int32_t>(n), tree)) return CodingResult::Fail("out of memory");

  // Where each leaf's values lie in the table, by leaf (sorted) index.
  std::vector<int64_t> leafOffset(static_cast<size_t>(n));
  std::vector<uint32_t> leafLength(static_cast<size_t>(n));
  for (int64_t k = 0; k < n; ++k) {
    const int32_t entry = order[k];
    leafOffset[k] = int64_t{entry} * w;
    leafLength[k] = static_cast<uint32_t>(entry) < fullEntries ? w : shortLength;
  }
  int32_t* output = out.Values();
  const int64_t total = t;
  int64_t position = 0;
  auto emit = [&](int32_t leaf) {
    const int32_t* values = tableValues.data() + leafOffset[leaf];
    const int64_t take = std::min<int64_t>(leafLength[leaf], total - position);
    for (int64_t i = 0; i < take; ++i) output[position + i] = values[i];
    position += take;
  };

  int64_t nextTick = kCodingChunk;
  if (tree.IsLeaf(tree.root)) {
    // One symbol: no code bits, its values repeat until T are out.
    while (position < total) {
      emit(tree.root);
      if (position >= nextTick) {
        nextTick += kCodingChunk;
        if (tick && !tick(double(position) / total)) return CodingResult::Stop();
      }
    }
    return {};
  }

  const std::vector<uint32_t> depth = NodeDepths(tree);
  const uint32_t maxDepth = *std::max_element(depth.begin(), depth.begin() + tree.leafCount);
  const unsigned wanted = std::clamp<unsigned>(std::bit_width(static_cast<uint64_t>(total)), kMinLookupBits,
                                               kMaxLookupBits);
  const unsigned lookupBits = std::min<unsigned>(wanted, maxDepth);
  const std::vector<LookupEntry> lookup = BuildLookup(tree, lookupBits);
  // Past the end of the stream every bit reads as 0, so a walk there ends at
  // the leaf reached through child 0 alone. Jumping to it keeps decoding
  // linear in the stream length even for degenerate (very deep) trees.
  std::vector<int32_t> zeroLeaf(tree.nodes.size());
  for (size_t i = 0; i < tree.nodes.size(); ++i) {
    zeroLeaf[i] = tree.IsLeaf(static_cast<int32_t>(i)) ? static_cast<int32_t>(i) : zeroLeaf[tree.nodes[i].child0];
  }
  while (position < total) {
    const LookupEntry hit = lookup[reader.PeekBits(lookupBits)];
    reader.Skip(hit & 31);
    auto node = static_cast<int32_t>(hit >> 5);
    while (!tree.IsLeaf(node)) {
      if (reader.RemainingBits() == 0) {
        node = zeroLeaf[node];
        break;
      }
      const HuffmanTree::Node& inner = tree.nodes[node];
      node = reader.PeekBits(1) != 0 ? inner.child1 : inner.child0;
      reader.Skip(1);
    }
    emit(node);
    if (position >= nextTick) {
      nextTick += kCodingChunk;
      if (tick && !tick(double(position) / total)) return CodingResult::Stop();
    }
  }
  return {};
}

}  // namespace

CodingResult DecodeHuffman(const uint8_t* data, size_t length, OwnedIntArray& out, const CodingTick& tick,
                           int64_t valueLimit, const CodingReserve& reserve) {
  CodingResult result;
  try {
    result = Decode(data, length, out, tick, valueLimit, reserve);
  } catch (const std::bad_alloc&) {
    result = CodingResult::Fail("out of memory");
  }
  if (!result.ok()) out.Release();
  return result;
}

}  // namespace vorlan
