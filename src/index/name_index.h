// NameIndex: the name index of one drive's index file, kept beside it as
// Drive<L>.tri (the index file's name with .tri for .idx), so that an index
// find of a pattern with a literal of three bytes or more reads only the
// folder records that can hold a matching name instead of every record.
//
// It holds, for one state of the index file:
//   - for every trigram (three consecutive bytes of an entry name, A-Z
//     lowered as PatternSet lowers them), the sorted ids of the folder
//     records with an entry name that contains it;
//   - the CRC-32C of every folder record it describes, whole block;
//   - the identity of that state: the store's end offset and live bytes,
//     the drive record's created and last-saved times, and the variant.
// A name index whose identity differs from the open store's describes
// another state of the file and is not used. Every folder it names is still
// read and its names matched by the caller's NameFilter, so what a find
// reports never depends on it: at worst it costs the reads it saves. A
// record that has changed behind an index whose identity still matches is
// caught by its checksum: the store is marked damaged (and rebuilt). The
// checks guard against damage and stale files, not forgery: a file made to
// lie, with a sound checksum, can hide folders from a find (never add a
// name to it).
//
// File (little-endian, every field explicit):
//   header, 64 bytes: magic "QTRI", version, file size, flags (bit 0: wide),
//     end offset, live bytes, created, last saved, folder count, folder
//     section offset and size, trigram count, trigram section offset and
//     size, CRC-32C of the whole file with this field zero, 4 zero bytes;
//   folder section: per folder, ascending ids: varint id gap (the first gap
//     from 0; every gap at least 1), 4-byte CRC-32C of its record;
//   trigram section: per trigram, ascending: varint trigram gap (the first
//     from 0; a trigram is its bytes b0 | b1 << 8 | b2 << 16), varint
//     count (at least 1) << 1 | form, then the list of ids in whichever
//     form is shorter (a tie goes to gaps):
//       form 0, gaps: count varint id gaps as in the folder section;
//       form 1, bitmap: varint first id, varint byte count n, n bytes
//         where bit b (from the lowest) of byte k stands for first id +
//         8k + b; the first bit and the last byte are set.
// Reading checks the magic, the version, the file's size against the
// header, the whole-file checksum, every offset and size against the file
// (the sections follow the header and each other without a gap), every
// varint (5 bytes at most, in its shortest form) and count against the
// bytes left, ascending ids and trigrams, each list's form, and that every
// posted id is a folder of the folder section; a file failing any of it is
// not used. A file that passes is the one Encode writes for what was read.
// The file is written whole to a temporary file in the same folder, synced
// and renamed over the old one.
//
// Thread-safety: none inside; a NameIndex is used by one thread at a time,
// or read-only (Candidates, ChecksumMatches) by any number. What takes a
// store (Describes, Build, FoldersToSearch, ForEachFolderToSearch,
// NameIndexKeeper) shares the store's rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "index/index_format.h"
#include "index/index_records.h"
#include "index/index_store.h"
#include "index/pattern_set.h"
#include "platform/status.h"

namespace quindelo {

namespace name_index_format {
inline constexpr std::uint32_t kMagic = 0x49525451;  // "QTRI"
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::uint32_t kHeaderSize = 64;
inline constexpr std::uint32_t kMagicOffset = 0;
inline constexpr std::uint32_t kVersionOffset = 4;
inline constexpr std::uint32_t kFileSizeOffset = 8;
inline constexpr std::uint32_t kFlagsOffset = 12;
inline constexpr std::uint32_t kEndOffsetOffset = 16;
inline constexpr std::uint32_t kLiveBytesOffset = 20;
inline constexpr std::uint32_t kCreatedOffset = 24;
inline constexpr std::uint32_t kLastSavedOffset = 28;
inline constexpr std::uint32_t kFolderCountOffset = 32;
inline constexpr std::uint32_t kFolderSectionOffset = 36;
inline constexpr std::uint32_t kFolderSectionSizeOffset = 40;
inline constexpr std::uint32_t kTrigramCountOffset = 44;
inline constexpr std::uint32_t kTrigramSectionOffset = 48;
inline constexpr std::uint32_t kTrigramSectionSizeOffset = 52;
inline constexpr std::uint32_t kChecksumOffset = 56;
inline constexpr std::uint32_t kReservedOffset = 60;
inline constexpr std::uint32_t kFlagWide = 1;
static_assert(kReservedOffset + 4 == kHeaderSize);
// A file larger than this is not read (a 16-million-folder drive stays far
// below it).
inline constexpr std::uint32_t kMaxFileSize = 1u << 30;
// The longest varint: 5 bytes hold 32 bits.
inline constexpr std::size_t kMaxVarintBytes = 5;
}  // namespace name_index_format

// The path of the name index beside the index file at index_path:
// ".../DriveC.idx" -> ".../DriveC.tri" (".tri" appended to any other name).
std::string NameIndexPath(const std::string& index_path);

class NameIndex {
 public:
  using RecordId = index_format::RecordId;

  // The state of an index file that a name index describes.
  struct Identity {
    std::uint32_t end_offset = 0;
    std::int32_t live_bytes = 0;
    std::uint32_t created = 0;
    std::uint32_t last_saved = 0;
    bool wide = false;
    // Not in the file: the store's count of record changes (IndexStore::
    // changes) when this state was built or tied to the open store, so that
    // a record rewritten in place since, which leaves the fields above
    // alone, makes the index another state's. kNotTied for an index read
    // from a file and not tied yet: only the fields above are compared.
    static constexpr std::uint64_t kNotTied = ~std::uint64_t{0};
    std::uint64_t store_changes = kNotTied;
    bool operator==(const Identity&) const = default;
    // The same state, the count of changes compared only when both are tied.
    bool SameState(const Identity& other) const;
  };

  // The identity of the open store as it is now; false when its drive
  // record cannot be read.
  static bool IdentityOf(IndexStore& store, Identity* identity);

  NameIndex() = default;

  // Replaces the contents with the name index of every folder record of the
  // open store and its identity. False (and the index left empty) when the
  // drive record cannot be read, the scan meets damage or two blocks that
  // carry one id, or stop (tested every few hundred records; may be empty)
  // returns true.
  bool Build(IndexStore& store, const std::function<bool()>& stop = {});

  // Keeps the index right after the folder record id was written with the
  // block data[0, length) (header included), or deleted: the entries' trigrams
  // and the checksum replace what was kept for id. A block that is not a
  // folder record of id in the index's variant counts as its deletion
  // (UpdateFolder then returns false). The identity is the caller's to set
  // afterwards (set_identity), once the store's state is the one described.
  bool UpdateFolder(RecordId id, const std::uint8_t* data, std::uint32_t length);
  void RemoveFolder(RecordId id);

  const Identity& identity() const { return identity_; }
  void set_identity(const Identity& identity) { identity_ = identity; }
  // True when the index has contents (built, decoded or updated), its
  // identity is the open store's, and it describes as many folders as the
  // store's table holds records besides the drive record and table pages.
  bool Describes(IndexStore& store) const;
  // True when the index can serve a find of the store as it is now: it
  // describes it, or it described it as it was and the store still knows
  // the records changed since, whose ids go to *changed (ascending, each
  // once; they are read whatever the index says of them).
  bool UsableFor(IndexStore& store, std::vector<RecordId>* changed) const;
  // Takes the records changed since the index was made into it (each as
  // UpdateFolder or RemoveFolder), so that it describes the store again.
  // False, the index left as it was, when it cannot (UsableFor is false).
  bool CatchUp(IndexStore& store);

  // True when the index describes folder record id and the block
  // data[0, length) has the checksum it holds for id.
  bool ChecksumMatches(RecordId id, const std::uint8_t* data, std::uint32_t length) const;

  // The folder records that can hold a name matching patterns: for each
  // pattern, the folders holding every trigram of each of its literal runs
  // (between wildcards; the whole pattern when it has none) of three bytes
  // or more; the union over the patterns, in ascending id order. False when
  // some pattern has no such run (or there are no patterns): the find must
  // read every record.
  bool Candidates(const PatternSet& patterns, std::vector<RecordId>* ids) const;

  // The file's bytes, and their reading. Decode replaces the contents and
  // returns true, or leaves the index empty and returns false.
  std::string Encode() const;
  bool Decode(const std::uint8_t* data, std::size_t size);

  // Writes the file atomically (temporary file, sync, rename).
  platform::Status Save(const std::string& native_path) const;
  // Reads the file; false (the index left empty) when it is missing, too
  // large, or fails any check of Decode.
  bool Load(const std::string& native_path);

  void Clear();
  bool empty() const { return !loaded_; }
  std::size_t folder_count() const { return folders_.size(); }
  std::size_t trigram_count() const { return postings_.size(); }

 private:
  struct Folder {
    std::uint32_t checksum = 0;
    std::vector<std::uint32_t> trigrams;  // ascending, distinct; see below
  };
  // Fills in each folder's trigrams from the posting lists, which a decoded
  // index holds alone until its first update needs them.
  void KnowFolderTrigrams();
  void Post(std::uint32_t trigram, RecordId id);
  void Unpost(std::uint32_t trigram, RecordId id);

  Identity identity_;
  bool loaded_ = false;
  std::unordered_map<RecordId, Folder> folders_;
  std::unordered_map<std::uint32_t, std::vector<RecordId>> postings_;  // ascending ids
  bool folder_trigrams_known_ = true;  // Folder::trigrams agree with postings_
};

// Puts ids in the order of their records in the file (the order a scan
// meets them), ids without a record last.
void SortInFileOrder(const IndexStore& store, std::vector<index_format::RecordId>* ids);

// The folders an index find reads, one block at a time, as
// IndexStore::NextRecordInPlace gives them: when index describes the store
// and narrows patterns to at most half its folders, the candidates' folder
// records in file order, each checked against its checksum; otherwise, or
// from the moment a candidate's record is missing, unreadable or differs
// from its checksum (the store is then marked damaged), every record of a
// scan, the folder records given already passed over, so that the folders
// given are those a scan of every record gives. index may
// be null. The caller parses each block and matches its names as it does
// for a scan. REQUIRES: the store is open and not written while this is
// used; store, index and patterns outlive it.
class FoldersToSearch {
 public:
  FoldersToSearch(IndexStore& store, const NameIndex* index, const PatternSet& patterns);

  // The next block (header included, *length bytes), valid until the next
  // call; false at the end.
  bool Next(const std::uint8_t** data, std::uint32_t* length);

  // Reading candidates only (so far).
  bool narrowed() const { return narrowed_; }
  // A candidate's record was missing, unreadable or not what the index
  // describes (its checksum differed: the store is then marked damaged).
  bool damage_found() const { return damage_found_; }

 private:
  bool NextCandidate(const std::uint8_t** data, std::uint32_t* length);

  IndexStore& store_;
  const NameIndex* index_;
  bool narrowed_ = false;
  bool damage_found_ = false;
  std::vector<index_format::RecordId> changed_;  // since the index was made, ascending
  bool scanning_ = false;
  std::vector<index_format::RecordId> candidates_;  // in file order
  std::size_t next_ = 0;
  std::vector<index_format::RecordId> given_;  // ascending, once scanning
  std::vector<std::uint8_t> buffer_;
};

// How a walk over the folders a find reads ended.
enum class FolderWalk {
  kEnded,    // every folder was given to the caller's function
  kStopped,  // the caller's function asked to stop
  kDamaged,  // a candidate's record was not what the name index describes
             // (FoldersToSearch::damage_found); the walk went on with a scan
};

// FoldersToSearch as a loop: visit(const FolderRecordView&) for each
// folder record it gives, until visit returns false.
template <typename Visit>
FolderWalk ForEachFolderToSearch(IndexStore& store, const NameIndex* index,
                                 const PatternSet& patterns, Visit&& visit);

// The name index file of an open index file over the drive index's life:
// read at open, used by its finds while it describes the store, written
// again at close for the state the index file is left in.
class NameIndexKeeper {
 public:
  // After the store opened: reads the file beside it (nothing for a new
  // index file). Unless the store is only read, the file is deleted, so
  // that no file on disk can describe a state that this process changes
  // and then leaves behind in a crash; Closing writes it again.
  void Opened(IndexStore& store, bool read_only);

  // After the last save of the store, before it closes: writes the file
  // for the store's state (the index read at open when it still describes
  // it, otherwise one built by a scan of the store). A damaged store gets
  // no file. Failures only leave the file missing.
  void Closing(IndexStore& store);

  // Between finds, once the store is consistent: builds the name index
  // again when it no longer describes the store, so that the next finds
  // are narrowed (until the store changes). Stops as soon as stop returns
  // true (the index is then empty, and finds scan).
  // With may_build false, only the changes are taken in: an index that
  // cannot follow them stays unused until a later Refresh may build.
  void Refresh(IndexStore& store, const std::function<bool()>& stop, bool may_build = true);

  // The name index for FoldersToSearch (it checks that it describes the
  // store).
  const NameIndex* index() const { return &index_; }

  // Deletes the name index file beside the index file at index_path (for
  // where the index file is deleted).
  static void RemoveBeside(const std::string& index_path);

 private:
  NameIndex index_;
  bool on_disk_ = false;  // the file beside the store holds index_
};

// ---- Implementation of the template ---------------------------------------------

template <typename Visit>
FolderWalk ForEachFolderToSearch(IndexStore& store, const NameIndex* index,
                                 const PatternSet& patterns, Visit&& visit) {
  FoldersToSearch folders(store, index, patterns);
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  while (folders.Next(&data, &length)) {
    FolderRecordView folder(store.layout());
    if (!folder.Parse(data, length)) continue;
    if (!visit(static_cast<const FolderRecordView&>(folder))) return FolderWalk::kStopped;
  }
  return folders.damage_found() ? FolderWalk::kDamaged : FolderWalk::kEnded;
}

}  // namespace quindelo
