// The little-endian words of graph files, written and read with bounds
// checks; shared by the graph file and the graph images of undo and the
// clipboard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorlan::host {

inline void PutInt32(std::vector<uint8_t>& out, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// Bounds-checked reads over bytes the reader does not own.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data == nullptr ? 0 : size) {}
  bool Int32(int32_t& value) {
    if (Remaining() < 4) return false;
    const uint8_t* p = data_ + cursor_;
    value = static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
    cursor_ += 4;
    return true;
  }
  bool Bytes(size_t n, const uint8_t*& out) {
    if (Remaining() < n) return false;
    out = data_ + cursor_;
    cursor_ += n;
    return true;
  }
  size_t Remaining() const { return size_ - cursor_; }
  size_t Offset() const { return cursor_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t cursor_ = 0;
};

}  // namespace vorlan::host
