#include "huffman_encoding.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "huffman_tree.h"
#include "vorlan/payloads.h"

namespace vorlan {
namespace {

// The symbol table in order of first appearance. Symbols are found through
// an open-addressing hash of their values, so counting is linear in T. Each
// slot keeps part of the hash and each entry a copy of its values, so a
// probe rarely touches the (large) input.
class SymbolTable {
 public:
  SymbolTable(const int32_t* values, int32_t wordLength) : values_(values), w_(wordLength) { Rehash(1024); }

  // Index of the entry of the symbol starting at `start`, added when new;
  // -1 when the table is full.
  int32_t FindOrAdd(int64_t start) {
    const int32_t* symbol = values_ + start;
    const uint64_t h = Hash(symbol);
    const auto tag = static_cast<uint32_t>(h >> 32);
    size_t slot = h & mask_;
    while (true) {
      const Slot& held = slots_[slot];
      if (held.entry == 0) break;
      const int32_t e = static_cast<int32_t>(held.entry - 1);
      if (held.tag == tag && Equal(copies_.data() + int64_t{e} * w_, symbol)) return e;
      slot = (slot + 1) & mask_;
    }
    if (static_cast<int64_t>(starts_.size()) >= kMaxHuffmanEntries) return -1;
    const auto e = static_cast<int32_t>(starts_.size());
    starts_.push_back(start);
    lengths_.push_back(w_);
    hashes_.push_back(h);
    frequencies_.push_back(0);
    copies_.insert(copies_.end(), symbol, symbol + w_);
    slots_[slot] = Slot{tag, static_cast<uint32_t>(e) + 1};
    if (starts_.size() * 2 > slots_.size()) Rehash(slots_.size() * 2);
    return e;
  }

  // The entry of a symbol known to be in the table.
  int32_t Find(int64_t start) const {
    const int32_t* symbol = values_ + start;
    const uint64_t h = Hash(symbol);
    const auto tag = static_cast<uint32_t>(h >> 32);
    size_t slot = h & mask_;
    while (true) {
      const Slot& held = slots_[slot];
      const int32_t e = static_cast<int32_t>(held.entry - 1);
      if (held.tag == tag && Equal(copies_.data() + int64_t{e} * w_, symbol)) return e;
      slot = (slot + 1) & mask_;
    }
  }

  void AddShortEntry(int64_t start, int32_t length) {
    starts_.push_back(start);
    lengths_.push_back(length);
    hashes_.push_back(0);
    frequencies_.push_back(1);
  }

  // The most frequent entry (earliest among equals) whose first `r` values
  // are those at `start`; -1 when none matches.
  int32_t BestPrefixMatch(int64_t start, int32_t r) const {
    int32_t best = -1;
    for (size_t e = 0; e < starts_.size(); ++e) {
      if (std::memcmp(values_ + starts_[e], values_ + start, sizeof(int32_t) * r) != 0) continue;
      if (best < 0 || frequencies_[e] > frequencies_[best]) best = static_cast<int32_t>(e);
    }
    return best;
  }

  std::vector<int64_t> starts_;
  std::vector<int32_t> lengths_;
  std::vector<uint64_t> hashes_;
  std::vector<uint64_t> frequencies_;

 private:
  struct Slot {
    uint32_t tag;    // high half of the hash
    uint32_t entry;  // entry index + 1, 0 when free
  };

  uint64_t Hash(const int32_t* v) const {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (int32_t i = 0; i < w_; ++i) {
      h ^= static_cast<uint32_t>(v[i]);
      h *= 0xBF58476D1CE4E5B9ull;
      h ^= h >> 29;
    }
    return h;
  }

  bool Equal(const int32_t* a, const int32_t* b) const {
    for (int32_t i = 0; i < w_; ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }

  void Rehash(size_t size) {
    slots_.assign(size, Slot{0, 0});
    mask_ = size - 1;
    for (size_t e = 0; e < hashes_.size(); ++e) {
      size_t slot = hashes_[e] & mask_;
      while (slots_[slot].entry != 0) slot = (slot + 1) & mask_;
      slots_[slot] = Slot{static_cast<uint32_t>(hashes_[e] >> 32), static_cast<uint32_t>(e) + 1};
    }
  }

  const int32_t* values_;
  int32_t w_;
  std::vector<int32_t> copies_;  // the values of entry e at e * W
  std::vector<Slot> slots_;
  size_t mask_ = 0;
};

void WriteHeader(BitWriter& out, uint32_t t, uint32_t s, int32_t w, uint8_t v, uint8_t f) {
  out.WriteBits(t, 32);
  out.WriteBits(s, 32);
  out.WriteBits(static_cast<uint32_t>(w), 8);
  out.WriteBits(v, 8);
  out.WriteBits(f, 8);
}

CodingResult Encode(const int32_t* values, int64_t count, int32_t w, BitWriter& out, const CodingTick& tick) {
  const int64_t symbols = count / w;
  const auto r = static_cast<int32_t>(count % w);

  SymbolTable table(values, w);
  // With W > 1 the entry of every symbol is kept (at most 2 bytes per
  // value) so the data pass need not probe again; single values are
  // probed again, which is cheaper than 4 bytes per value.
  std::vector<uint32_t> symbolEntry(w > 1 ? static_cast<size_t>(symbols) : 0);
  for (int64_t k = 0; k < symbols; ++k) {
    if ((k & (kCodingChunk - 1)) == kCodingChunk - 1 && tick && !tick(0.5 * k / symbols)) {
      return CodingResult::Stop();
    }
    const int32_t e = table.FindOrAdd(k * w);
    if (e < 0) {
      return CodingResult::Fail("the array has more than " + std::to_string(kMaxHuffmanEntries) +
                                " distinct symbols");
    }
    ++table.frequencies_[e];
    if (w > 1) symbolEntry[k] = static_cast<uint32_t>(e);
  }

  // The tail of r < W values is coded with the most frequent entry it is a
  // prefix of, or with a short entry of its own.
  int32_t tailEntry = -1;
  if (r > 0) {
    tailEntry = table.BestPrefixMatch(symbols * w, r);
    if (tailEntry >= 0) {
      ++table.frequencies_[tailEntry];
    } else {
      tailEntry = static_cast<int32_t>(table.starts_.size());
      table.AddShortEntry(symbols * w, r);
    }
  }

  const auto n = static_cast<int32_t>(table.starts_.size());
  const std::vector<int32_t> order = SortByFrequency(table.frequencies_);
  std::vector<uint64_t> sortedFrequencies(n);
  for (int32_t k = 0; k < n; ++k) sortedFrequencies[k] = table.frequencies_[order[k]];
  HuffmanTree tree;
  if (!BuildHuffmanTree(sortedFrequencies.data(), n, tree)) return CodingResult::Fail("out of memory");
  std::vector<uint64_t> sortedCodes;
  std::vector<uint8_t> sortedLengths;
  if (!LeafCodes(tree, sortedCodes, sortedLengths)) return CodingResult::Fail("a Huffman code is too long");

  // Codes by entry (first-appearance) index for the data pass.
  std::vector<uint64_t> codes(n);
  std::vector<uint8_t> codeLengths(n);
  for (int32_t k = 0; k < n; ++k) {
    codes[order[k]] = sortedCodes[k];
    codeLengths[order[k]] = sortedLengths[k];
  }

  const uint8_t widthByte = ValueWidthByte(values, count);
  const unsigned valueBits = widthByte & 0x7F;
  unsigned frequencyBits = 1;
  int64_t tableValues = 0;
  uint64_t dataBits = 0;
  for (int32_t e = 0; e < n; ++e) {
    frequencyBits = std::max(frequencyBits, BitLength(table.frequencies_[e]));
    tableValues += table.lengths_[e];
    dataBits += table.frequencies_[e] * codeLengths[e];
  }
  const uint64_t totalBits = uint64_t{kHuffmanHeaderBytes} * 8 + uint64_t(tableValues) * valueBits +
                             uint64_t(n) * frequencyBits + dataBits;
  if ((totalBits + 7) / 8 > static_cast<uint64_t>(kMaxPacketLength)) {
    return CodingResult::Fail("the Huffman stream would exceed the largest packet");
  }
  out.Reserve((totalBits + 7) / 8);

  WriteHeader(out, static_cast<uint32_t>(count), static_cast<uint32_t>(tableValues), w, widthByte,
              static_cast<uint8_t>(frequencyBits));
  for (int32_t k = 0; k < n; ++k) {
    const int32_t e = order[k];
    const int32_t* v = values + table.starts_[e];
    for (int32_t i = 0; i < table.lengths_[e]; ++i) out.WriteBits(static_cast<uint32_t>(v[i]), valueBits);
  }
  for (int32_t k = 0; k < n; ++k) out.WriteBits(table.frequencies_[order[k]], frequencyBits);
  for (int64_t k = 0; k < symbols; ++k) {
    if ((k & (kCodingChunk - 1)) == kCodingChunk - 1 && tick && !tick(0.5 + 0.5 * k / symbols)) {
      return CodingResult::Stop();
    }
    const int32_t e = w > 1 ? static_cast<int32_t>(symbolEntry[k]) : table.Find(k * w);
    out.WriteBits(codes[e], codeLengths[e]);
  }
  if (tailEntry >= 0) out.WriteBits(codes[tailEntry], codeLengths[tailEntry]);
  return {};
}

}  // namespace

CodingResult EncodeHuffman(const int32_t* values, int64_t count, int32_t wordLength, BitWriter& out,
                           const CodingTick& tick) {
  out.Clear();
  if (wordLength < 1 || wordLength > 255) {
    return CodingResult::Fail("the word length " + std::to_string(wordLength) + " is outside 1..255");
  }
  if (count < 0 || count > kMaxDecodedValues) {
    return CodingResult::Fail("the array holds " + std::to_string(count) + " values, more than " +
                              std::to_string(kMaxDecodedValues));
  }
  if (count == 0) {
    WriteHeader(out, 0, 0, wordLength, 1, 1);
    return {};
  }
  try {
    CodingResult result = Encode(values, count, wordLength, out, tick);
    if (!result.ok()) out.Clear();
    return result;
  } catch (const std::bad_alloc&) {
    out.Clear();
    return CodingResult::Fail("out of memory");
  }
}

}  // namespace vorlan
