// NameCache: for one find run, the parent id and the name of every folder
// record whose path has been built, one slot per record id, so that each
// folder record is read at most once per run. Names point into a StringPool
// owned by the same run (an empty name marks the root folder).
//
// Not thread-safe: one thread uses a cache at a time. Slots stay valid until
// Reset(); the names as long as the pool is not cleared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quindelo {

class NameCache {
 public:
  struct Slot {
    std::uint32_t parent_id = 0;
    const char* name = nullptr;  // null: not cached yet
  };

  NameCache() = default;
  explicit NameCache(std::size_t slots) : slots_(slots) {}

  // Empties every slot and sizes the cache to the store's table length.
  void Reset(std::size_t slots) { slots_.assign(slots, Slot{}); }

  // The slot of id, growing the cache when id lies beyond it.
  Slot& slot(std::uint32_t id) {
    if (id >= slots_.size()) slots_.resize(std::size_t{id} + 1);
    return slots_[id];
  }

  std::size_t size() const { return slots_.size(); }

 private:
  std::vector<Slot> slots_;
};

}  // namespace quindelo
