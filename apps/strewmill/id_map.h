// Map from 32-bit data ids to values, for the run-wide caches that are
// asked once per vertex, object or placement line: open addressing over
// slots that hold the id and the value's index, so a look-up is a short
// probe in one cache line rather than a modulo and a walk along a bucket
// chain. Values live in a deque and never move: a pointer to one stays
// valid for the map's lifetime, as with node-based maps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "lib/common/id_hash.h"

namespace strewmill::app {

template <class V>
class IdMap {
 public:
  // nullptr when `id` is absent.
  const V* find(std::uint32_t id) const {
    if (slots_.empty()) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t s = home(id, shift_);; s = (s + 1) & mask) {
      const Slot& slot = slots_[s];
      if (slot.index == 0) return nullptr;
      if (slot.id == id) return &values_[slot.index - 1];
    }
  }
  V* find(std::uint32_t id) { return const_cast<V*>(std::as_const(*this).find(id)); }
  bool contains(std::uint32_t id) const { return find(id) != nullptr; }

  // Adds `id`, which must be absent, with `value`, and returns the stored
  // value. May throw std::bad_alloc.
  V& insert(std::uint32_t id, V value) {
    if ((values_.size() + 1) * 2 > slots_.size()) grow();
    values_.push_back(std::move(value));
    place(slots_, shift_, Slot{id, static_cast<std::uint32_t>(values_.size())});
    return values_.back();
  }

  std::size_t size() const { return values_.size(); }

 private:
  struct Slot {
    std::uint32_t id;
    std::uint32_t index;  // index + 1 into values_; 0 marks an empty slot
  };

  static std::size_t home(std::uint32_t id, unsigned shift) { return common::mix_id(id) >> shift; }

  static void place(std::vector<Slot>& slots, unsigned shift, Slot slot) {
    const std::size_t mask = slots.size() - 1;
    std::size_t s = home(slot.id, shift);
    while (slots[s].index != 0) s = (s + 1) & mask;
    slots[s] = slot;
  }

  // Doubles the slots (16 at first), keeping the load at most one half.
  void grow() {
    const std::size_t count = slots_.empty() ? 16 : slots_.size() * 2;
    unsigned bits = 0;
    while ((std::size_t{1} << bits) < count) ++bits;
    std::vector<Slot> slots(count, Slot{0, 0});
    for (const Slot& slot : slots_) {
      if (slot.index != 0) place(slots, 32 - bits, slot);
    }
    slots_ = std::move(slots);
    shift_ = 32 - bits;
  }

  std::deque<V> values_;
  std::vector<Slot> slots_;  // size is 0 or a power of two
  unsigned shift_ = 32;
};

}  // namespace strewmill::app
