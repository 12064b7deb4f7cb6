// FolderPaths: the folder paths that one index find builds, for the folders
// that hold a matching name, from the parent id and the name of each folder
// record on the way up to the root.
//
// The parents and names it has met are kept in one slot per record id, in
// memory that is only touched where a slot is written, so that a find of a
// rare name on a large drive touches a few pages of it. Such a find builds
// few paths, and reads each folder on them from the store the first time
// it is needed. A find that builds many paths would read most folder records
// that way; once its reads exceed kLazyReads plus a sixteenth of the records
// the scan has passed, it keeps the parent and the name of every folder
// record the scan passes from then on (Note), as the old name cache did for
// all of them.
//
// Build gives what BuildFolderPath gives with a NameCache and a StringPool:
// "\" for the root, "\a\b\" for folder b in folder a, and false when a record
// cannot be read, or the parent chain loops or runs longer than the table
// (the store is then marked damaged). A folder record with an empty name is
// the root.
//
// Not thread-safe: the find thread's own, for one scan of a store that is
// not written meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/string_pool.h"
#include "index/index_records.h"
#include "index/index_store.h"

namespace quindelo {

class FolderPaths {
 public:
  static constexpr std::uint64_t kLazyReads = 64;

  // REQUIRES: store is open and outlives this object.
  explicit FolderPaths(IndexStore* store);

  // The scan passes a folder record (the bytes it points into may go once
  // this returns).
  void Note(const FolderRecordView& folder);

  // The path of folder id, built into *path.
  bool Build(index_format::RecordId id, std::string* path);

  // Records read from the store by Build (for tests and benchmarks).
  std::uint64_t reads() const { return reads_; }

 private:
  struct Slot {
    const char* name;  // null: not known yet; "" for the root
    index_format::RecordId parent;
    std::uint8_t length;  // of the name (at most 255)
  };
  void Keep(Slot* slot, const FolderRecordView& folder);

  struct Free {
    void operator()(Slot* slots) const { std::free(slots); }
  };

  IndexStore* const store_;
  // calloc: the slots start zero (not known) without being written.
  std::unique_ptr<Slot[], Free> slots_;
  std::size_t slot_count_ = 0;
  StringPool pool_;
  std::vector<const Slot*> chain_;  // of one Build, from the folder up
  std::vector<std::uint8_t> buffer_;
  std::uint64_t reads_ = 0;
  std::uint64_t noted_ = 0;
  bool keep_all_ = false;
};

}  // namespace quindelo
