// Owners for the payloads a producer publishes. Each keeps its record at a
// fixed address (the packet points at it) and frees its buffer when released
// or destroyed, so a filter's outputs have exactly one owner.
#pragma once

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>

#include "vorlan/contract.h"

namespace vorlan {

// Largest payload a packet can describe: lengths are int32 by contract.
inline constexpr int64_t kMaxPacketLength = std::numeric_limits<int32_t>::max();

namespace detail {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

template <class T>
using Buffer = std::unique_ptr<T[], FreeDeleter>;

// At least one element; null when memory runs out. Large buffers are
// aligned to 2 MiB and offered transparent huge pages: the first touch of
// hundreds of megabytes of fresh 4 KiB pages otherwise costs more than the
// image work done in them.
template <class T>
Buffer<T> AllocateBuffer(int64_t count) {
  constexpr size_t kHugePage = size_t{2} << 20;
  const size_t bytes = static_cast<size_t>(count > 0 ? count : 1) * sizeof(T);
  void* p = nullptr;
  if (bytes >= 2 * kHugePage) {
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    if (posix_memalign(&p, kHugePage, rounded) != 0) p = nullptr;
    if (p != nullptr) ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint; failure is harmless
  } else {
    p = std::malloc(bytes);
  }
  return Buffer<T>(static_cast<T*>(p));
}

}  // namespace detail

class OwnedPlane {
 public:
  OwnedPlane() { Release(); }
  OwnedPlane(const OwnedPlane&) = delete;
  OwnedPlane& operator=(const OwnedPlane&) = delete;

  // Allocates width x height samples (uninitialised). False when the size
  // does not fit the record's int32 byte count or memory runs out; the
  // plane is then empty.
  [[nodiscard]] bool Allocate(int32_t width, int32_t height, double min, double max) {
    Release();
    if (width < 0 || height < 0) return false;
    const int64_t count = int64_t{width} * height;
    if (count * 8 > kMaxPacketLength) return false;
    samples_ = detail::AllocateBuffer<double>(count);
    if (!samples_) return false;
    record_ = Plane{width, height, min, max, static_cast<int32_t>(count * 8), samples_.get()};
    return true;
  }

  // Back to the empty record of a fresh producer: 0 x 0, range [0, 1].
  void Release() {
    samples_.reset();
    record_ = Plane{0, 0, 0.0, 1.0, 0, nullptr};
  }

  bool Empty() const { return record_.samples == nullptr; }
  Plane& Record() { return record_; }
  const Plane& Record() const { return record_; }
  double* Samples() { return samples_.get(); }
  int64_t Count() const { return int64_t{record_.width} * record_.height; }
  Packet AsPacket() { return MakePacket(sizeof(Plane), PacketType::Plane, &record_); }

 private:
  Plane record_{};
  detail::Buffer<double> samples_;
};

class OwnedIntArray {
 public:
  OwnedIntArray() = default;
  OwnedIntArray(const OwnedIntArray&) = delete;
  OwnedIntArray& operator=(const OwnedIntArray&) = delete;

  [[nodiscard]] bool Allocate(int64_t count) {
    Release();
    if (count < 0 || count * 4 > kMaxPacketLength) return false;
    values_ = detail::AllocateBuffer<int32_t>(count);
    if (!values_) return false;
    record_ = IntArray{static_cast<int32_t>(count), values_.get()};
    return true;
  }

  void Release() {
    values_.reset();
    record_ = IntArray{0, nullptr};
  }

  IntArray& Record() { return record_; }
  const IntArray& Record() const { return record_; }
  int32_t* Values() { return values_.get(); }
  Packet AsPacket() { return MakePacket(sizeof(IntArray), PacketType::IntArray, &record_); }

 private:
  IntArray record_{0, nullptr};
  detail::Buffer<int32_t> values_;
};

class OwnedBytes {
 public:
  OwnedBytes() = default;
  OwnedBytes(const OwnedBytes&) = delete;
  OwnedBytes& operator=(const OwnedBytes&) = delete;

  [[nodiscard]] bool Allocate(int64_t length) {
    Release();
    if (length < 0 || length > kMaxPacketLength) return false;
    bytes_ = detail::AllocateBuffer<uint8_t>(length);
    if (!bytes_) return false;
    length_ = static_cast<int32_t>(length);
    return true;
  }

  void Release() {
    bytes_.reset();
    length_ = 0;
  }

  uint8_t* Data() { return bytes_.get(); }
  int32_t Length() const { return length_; }
  // A published empty payload still points at a valid (1-byte) buffer.
  Packet AsPacket(PacketType type = PacketType::Bytes) { return MakePacket(length_, type, bytes_.get()); }

 private:
  detail::Buffer<uint8_t> bytes_;
  int32_t length_ = 0;
};

}  // namespace vorlan
