// PointerList: the host's growable array of untyped pointers, and
// OwnedList<T>, a typed owner built on it for nodes and edges.
//
// Removal moves the last item into the freed slot, so removing a node
// changes the order in which the runner visits the remaining nodes. Callers
// rely on that order; keep it.
#pragma once

#include <cstdint>
#include <memory>

namespace vorlan::host {

// Not thread-safe; owned by one document or node. Never frees its items.
class PointerList {
 public:
  static constexpr int32_t kGrowthStep = 16;

  PointerList() = default;
  ~PointerList();
  PointerList(const PointerList&) = delete;
  PointerList& operator=(const PointerList&) = delete;

  // Index of the stored item, or -1 (nothing changed) when memory runs out.
  int32_t Append(void* item);
  // Moves the last item into `index`; 1 on success, 0 for a bad index.
  int32_t RemoveAt(int32_t index);
  // Null for an index outside 0..Count()-1.
  void* Get(int32_t index) const;
  void Clear() { count_ = 0; }
  // Exchanges two items; false (nothing changed) for a bad index.
  bool Swap(int32_t a, int32_t b);
  // Room for `count` items at once, in whole growth steps, so that a bulk
  // load appends without reallocating; false (nothing changed) when memory
  // runs out. Appends grow by kGrowthStep as before.
  bool Reserve(int32_t count);

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }

 private:
  void** items_ = nullptr;
  int32_t capacity_ = 0;
  int32_t count_ = 0;
};

// A PointerList that owns its items: removal destroys the removed item,
// destruction destroys them all (in list order).
template <class T>
class OwnedList {
 public:
  OwnedList() = default;
  ~OwnedList() { Clear(); }
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;

  // Index of the new item; -1 when memory runs out, and the item is destroyed.
  int32_t Append(std::unique_ptr<T> item) {
    const int32_t index = list_.Append(item.get());
    if (index >= 0) item.release();
    return index;
  }
  // Destroys the item and moves the last one into its slot; 1 or 0.
  int32_t RemoveAt(int32_t index) {
    std::unique_ptr<T> doomed(Get(index));
    return list_.RemoveAt(index);
  }
  T* Get(int32_t index) const { return static_cast<T*>(list_.Get(index)); }
  bool Swap(int32_t a, int32_t b) { return list_.Swap(a, b); }
  bool Reserve(int32_t count) { return list_.Reserve(count); }
  int32_t Count() const { return list_.Count(); }
  void Clear() {
    for (int32_t i = 0; i < list_.Count(); ++i) delete Get(i);
    list_.Clear();
  }

 private:
  PointerList list_;
};

}  // namespace vorlan::host
