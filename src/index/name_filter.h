// NameFilter: the index find's way through a folder's entry list. It finds
// the entries whose names a PatternSet matches, like matching every name in
// turn, but searches the record's bytes for literal text first.
//
// Every pattern has a literal part that each name it matches must contain,
// without regard to case: the whole pattern when it has no wildcard ("readme"
// is found inside "old_README.txt"), otherwise its longest run of characters
// between wildcards (".txt" of "*.txt"). When every pattern has one, the
// filter searches the entry list for those literals (16 bytes at a time),
// and only an entry whose name holds a whole occurrence of one is matched
// with PatternSet::match, which decides. An occurrence that runs across two
// entries, or over an entry's length byte or child id, is no candidate. A
// pattern of wildcards alone ("*", "?*") has no literal: then every name is
// matched in turn.
//
// Thread-safety: a filter is read-only once built; it refers to the
// PatternSet, which must stay unchanged (and alive) while the filter is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_records.h"
#include "index/pattern_set.h"

namespace quindelo {

// Finds a literal (already lowered) in bytes, where A-Z count as a-z.
class LiteralFinder {
 public:
  // REQUIRES: lowered is not empty and holds no A-Z.
  explicit LiteralFinder(std::string_view lowered);

  // The first place in [begin, end) where the whole literal occurs, or null.
  const std::uint8_t* Find(const std::uint8_t* begin, const std::uint8_t* end) const;

  std::size_t size() const { return literal_.size(); }

 private:
  std::string literal_;
};

class NameFilter {
 public:
  enum class Walk {
    kEnded,    // the whole list was walked
    kStopped,  // the caller's function asked to stop
    kBroken,   // the list breaks off: the entries before the break were walked
  };

  explicit NameFilter(const PatternSet& patterns);

  // True when the names are searched for literals first (every pattern has
  // one); false when each name is matched in turn.
  bool searches_literals() const { return !finders_.empty(); }

  // Calls found(entry) for each entry of record whose name matches the
  // patterns, in list order, until found returns false. The whole list is
  // walked (and checked) unless found stops it.
  template <typename Found>
  Walk ForEachMatch(const FolderRecordView& record, Found&& found) const;

 private:
  const PatternSet& patterns_;
  std::vector<LiteralFinder> finders_;  // one per pattern, or none
};

template <typename Found>
NameFilter::Walk NameFilter::ForEachMatch(const FolderRecordView& record, Found&& found) const {
  const std::uint8_t* const data = record.data();
  const std::uint32_t length = record.length();
  // The entry at offset at, as EntryIterator gives it.
  auto report = [&](std::uint32_t at) {
    EntryIterator one(data, at, length, record.layout());
    FolderEntry entry;
    return !one.Next(&entry) || found(entry);
  };
  EntryNameWalker walker(record);
  std::uint32_t at = 0, name_begin = 0, name_end = 0;
  auto name = [&] {
    return std::string_view(reinterpret_cast<const char*>(data) + name_begin,
                            name_end - name_begin);
  };
  if (finders_.empty()) {
    while (walker.Next(&at, &name_begin, &name_end)) {
      if (patterns_.match(name()) && !report(at)) return Walk::kStopped;
    }
    return walker.damaged() ? Walk::kBroken : Walk::kEnded;
  }
  // For each literal, the offset of its next occurrence at or after the
  // current name, or the record's length when there is none; 0 means not
  // searched yet (no name starts there). soonest is the least of them: no
  // entry that ends before it needs a look.
  std::uint32_t next[PatternSet::kMaxPatterns] = {};
  std::uint32_t soonest = 0;
  const std::size_t count = finders_.size();
  for (;;) {
    walker.SkipEntriesEndingBy(soonest);
    if (!walker.Next(&at, &name_begin, &name_end)) break;
    if (soonest >= name_end) continue;
    bool candidate = false;
    soonest = length;
    for (std::size_t k = 0; k < count; ++k) {
      if (next[k] < name_begin) {
        const std::uint8_t* hit = finders_[k].Find(data + name_begin, data + length);
        next[k] = hit ? static_cast<std::uint32_t>(hit - data) : length;
      }
      if (next[k] + std::uint64_t{finders_[k].size()} <= name_end) candidate = true;
      if (next[k] < soonest) soonest = next[k];
    }
    if (candidate && patterns_.match(name()) && !report(at)) return Walk::kStopped;
  }
  return walker.damaged() ? Walk::kBroken : Walk::kEnded;
}

}  // namespace quindelo
