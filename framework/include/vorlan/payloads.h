// Owners for the payloads a producer publishes. Each keeps its record at a
// fixed address (the packet points at it) and frees its buffer when released
// or destroyed, so a filter's outputs have exactly one owner.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "vorlan/contract.h"

namespace vorlan {

// Largest payload a packet can describe: lengths are int32 by contract.
inline constexpr int64_t kMaxPacketLength = std::numeric_limits<int32_t>::max();

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
    samples_.reset(new (std::nothrow) double[count > 0 ? count : 1]);
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
  std::unique_ptr<double[]> samples_;
};

class OwnedIntArray {
 public:
  OwnedIntArray() = default;
  OwnedIntArray(const OwnedIntArray&) = delete;
  OwnedIntArray& operator=(const OwnedIntArray&) = delete;

  [[nodiscard]] bool Allocate(int64_t count) {
    Release();
    if (count < 0 || count * 4 > kMaxPacketLength) return false;
    values_.reset(new (std::nothrow) int32_t[count > 0 ? count : 1]);
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
  std::unique_ptr<int32_t[]> values_;
};

class OwnedBytes {
 public:
  OwnedBytes() = default;
  OwnedBytes(const OwnedBytes&) = delete;
  OwnedBytes& operator=(const OwnedBytes&) = delete;

  [[nodiscard]] bool Allocate(int64_t length) {
    Release();
    if (length < 0 || length > kMaxPacketLength) return false;
    bytes_.reset(new (std::nothrow) uint8_t[length > 0 ? length : 1]);
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
  std::unique_ptr<uint8_t[]> bytes_;
  int32_t length_ = 0;
};

}  // namespace vorlan
