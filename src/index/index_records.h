// The two record kinds of an index file and the record-level operations the
// drive index and the drive scanner perform on them.
//
// DriveRecord (kind 2, id 3, 192 bytes): when the index was created and last
// refreshed, the root folder's record id, the drive description and, in the
// first 4 of the bytes after it, the identification of the drive's root
// folder (0 in an index written without it).
// FolderRecord (kind 3, ids from 4): a folder's stamp, parent id, own name
// and its sorted entry list. Entries:
//   file    length m (1..254), m name bytes
//   folder  0xFF, child folder id (2 bytes, 3 in a wide file; 0 = no record
//           yet), length m, m name bytes
// and the list ends with one 0 byte. Offsets and sizes: index_format.h.
// Every encoder and parser takes the variant's layout from the store (or is
// given it); the narrow one is the default.
//
// Parsing is bounds-checked: a damaged record never makes a reader look
// past its buffer; the reader reports it as damaged instead.
//
// Thread-safety: the functions taking an IndexStore share the store's rule
// (one thread at a time). The name comparisons are pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/string_pool.h"
#include "index/drive_description.h"
#include "index/index_format.h"
#include "index/index_store.h"
#include "index/name_cache.h"

namespace quindelo {

// ---- Name order ---------------------------------------------------------------

// Byte by byte after mapping A-Z to a-z, unsigned; the first difference
// decides; a name that is a prefix of the other sorts first. <0, 0 or >0.
int CompareNamesFolded(std::string_view a, std::string_view b);

// The total order of entries on this system: CompareNamesFolded, then the
// raw unsigned bytes when that says equal, so that names differing only in
// case (Makefile, makefile) are distinct entries with a fixed order.
int CompareNames(std::string_view a, std::string_view b);

// ---- DriveRecord -----------------------------------------------------------------

struct DriveRecord {
  std::uint32_t created = 0;       // time() when the index was created
  std::uint32_t last_refresh = 0;  // start of the last complete refresh; 0 = never
  std::uint32_t last_saved = 0;    // time() of the last save
  index_format::RecordId root_folder_id = 0;
  DriveDescription description;
  // Which folder the drive's root was when the index was created: a hash of
  // its canonical native path, never 0; 0 = not recorded.
  std::uint32_t root_id = 0;

  // The 192 bytes of the record, block header included.
  std::vector<std::uint8_t> Encode(const index_format::Layout& layout = index_format::kNarrow) const;
  // False unless data holds a block of length 192, record id 3, kind 2.
  static bool Decode(const std::uint8_t* data, std::size_t size, DriveRecord* out,
                     const index_format::Layout& layout = index_format::kNarrow);
};

// ---- FolderRecord ------------------------------------------------------------------

struct FolderEntry {
  bool is_folder = false;
  index_format::RecordId child_id = 0;  // folders only
  std::string_view name;       // points into the record buffer
  std::uint32_t position = 0;  // offset of the entry inside the record
  std::uint32_t size = 0;      // bytes the entry takes in the list
};

// A parsed view of a folder record held in a buffer (block header included).
// The view points into the buffer; it is valid while the buffer is unchanged.
class FolderRecordView {
 public:
  explicit FolderRecordView(const index_format::Layout& layout = index_format::kNarrow)
      : layout_(&layout) {}

  // Checks kind 3, a length within the buffer and at least 16 + n, and reads
  // the fixed fields. False when the record is malformed.
  bool Parse(const std::uint8_t* data, std::size_t size);
  bool Parse(const std::vector<std::uint8_t>& buffer) {
    return Parse(buffer.data(), buffer.size());
  }

  index_format::RecordId id() const { return id_; }
  std::uint32_t length() const { return length_; }
  std::uint32_t stamp() const { return stamp_; }
  index_format::RecordId parent_id() const { return parent_id_; }
  std::string_view name() const { return name_; }
  // Offset of the first entry inside the record (15 + n; 16 + n when wide).
  std::uint32_t entries_offset() const { return entries_offset_; }
  const std::uint8_t* data() const { return data_; }
  const index_format::Layout& layout() const { return *layout_; }

 private:
  const index_format::Layout* layout_;
  const std::uint8_t* data_ = nullptr;
  std::uint32_t length_ = 0;
  index_format::RecordId id_ = 0;
  std::uint32_t stamp_ = 0;
  index_format::RecordId parent_id_ = 0;
  std::string_view name_;
  std::uint32_t entries_offset_ = 0;
};

// Walks an entry list. Never reads at or beyond the record's length.
class EntryIterator {
 public:
  explicit EntryIterator(const FolderRecordView& record)
      : data_(record.data()),
        pos_(record.entries_offset()),
        limit_(record.length()),
        id_bytes_(record.layout().id_bytes) {}
  // Walks the list that starts at offset begin of data and must end (with its
  // 0 byte) before offset limit.
  EntryIterator(const std::uint8_t* data, std::uint32_t begin, std::uint32_t limit,
                const index_format::Layout& layout = index_format::kNarrow)
      : data_(data), pos_(begin), limit_(limit), id_bytes_(layout.id_bytes) {}

  // The next entry; false at the end of the list or when the list is
  // malformed (then damaged() is true).
  bool Next(FolderEntry* entry);
  bool damaged() const { return damaged_; }
  // Offset of the next entry (of the terminator once Next returned false).
  std::uint32_t position() const { return pos_; }

 private:
  const std::uint8_t* data_;
  std::uint32_t pos_;
  std::uint32_t limit_;
  std::uint32_t id_bytes_;
  bool done_ = false;
  bool damaged_ = false;
};

// The same walk for a loop over every name of a drive (the index find): only
// where each entry and its name lie, inline, by the rules of
// EntryIterator::Next (the same end, the same damage). Keep the two in step.
class EntryNameWalker {
 public:
  explicit EntryNameWalker(const FolderRecordView& record)
      : data_(record.data()),
        pos_(record.entries_offset()),
        limit_(record.length()),
        folder_head_(2 + record.layout().id_bytes) {}

  // The next entry: where it starts and its name's bytes [*name_begin,
  // *name_end); false at the end of the list or when the list is malformed
  // (then damaged() is true).
  bool Next(std::uint32_t* entry, std::uint32_t* name_begin, std::uint32_t* name_end) {
    if (done_) return false;
    const std::uint32_t pos = pos_;
    if (pos >= limit_) return Stop(true);
    const std::uint8_t first = data_[pos];
    if (first == index_format::kEntryListEnd) return Stop(false);
    std::uint64_t begin = std::uint64_t{pos} + 1;
    std::uint64_t end = begin + first;
    if (first == index_format::kFolderEntryMarker) {
      // 0xFF, child id (2 or 3), length (1), name.
      if (std::uint64_t{pos} + folder_head_ > limit_) return Stop(true);
      begin = std::uint64_t{pos} + folder_head_;
      end = begin + data_[pos + folder_head_ - 1];
      if (end == begin) return Stop(true);
    }
    if (end > limit_) return Stop(true);
    *entry = pos;
    *name_begin = static_cast<std::uint32_t>(begin);
    *name_end = static_cast<std::uint32_t>(end);
    pos_ = static_cast<std::uint32_t>(end);
    return true;
  }
  bool damaged() const { return damaged_; }

  // Passes over the entries that end at or before offset, up to the first
  // one that does not, or the end of the list, or anything Next would find
  // malformed: that is what Next gives next. For loops that look at a few
  // names of a list only. REQUIRES: offset <= the record's length.
  void SkipEntriesEndingBy(std::uint32_t offset) {
    if (done_) return;
    std::uint32_t pos = pos_;
    while (pos < offset) {
      const std::uint8_t first = data_[pos];
      std::uint64_t end = std::uint64_t{pos} + 1 + first;
      if (first == index_format::kFolderEntryMarker) {
        if (offset - pos < folder_head_ || data_[pos + folder_head_ - 1] == 0) break;
        end = std::uint64_t{pos} + folder_head_ + data_[pos + folder_head_ - 1];
      } else if (first == index_format::kEntryListEnd) {
        break;
      }
      if (end > offset) break;
      pos = static_cast<std::uint32_t>(end);
    }
    pos_ = pos;
  }

 private:
  bool Stop(bool damaged) {
    done_ = true;
    damaged_ = damaged;
    return false;
  }

  const std::uint8_t* data_;
  std::uint32_t pos_;
  std::uint32_t limit_;
  std::uint32_t folder_head_;  // marker, child id and length of a folder entry
  bool done_ = false;
  bool damaged_ = false;
};

// True when the record's entry list runs whole to its terminator and its
// names stand in strictly ascending CompareNames order, as every writer
// leaves them. A list that fails this cannot be merged or walked safely:
// the index is damaged.
bool EntryListIsSound(const FolderRecordView& record);

// Builds a folder record: Begin, then entries in CompareNames order, then
// Finish, which fills in the length and pads to a multiple of 8 for
// IndexStore::WriteRecord.
class FolderRecordBuilder {
 public:
  explicit FolderRecordBuilder(const index_format::Layout& layout = index_format::kNarrow)
      : layout_(&layout) {}
  // False (and nothing begun) when the name is longer than 255 bytes.
  bool Begin(index_format::RecordId id, std::uint32_t stamp, index_format::RecordId parent_id,
             std::string_view name);
  // Append an entry and return its position inside the record, or 0 when
  // the name cannot be stored (empty, or longer than 254 bytes for a file,
  // 255 for a folder).
  std::uint32_t AddFile(std::string_view name);
  std::uint32_t AddFolder(std::string_view name, index_format::RecordId child_id);
  std::uint32_t Add(const FolderEntry& entry) {
    return entry.is_folder ? AddFolder(entry.name, entry.child_id) : AddFile(entry.name);
  }
  // Ends the list; the buffer holds the record, padded to Round8(length).
  // Returns an empty buffer when the record would exceed a 32-bit length.
  const std::vector<std::uint8_t>& Finish();

 private:
  const index_format::Layout* layout_;
  std::vector<std::uint8_t> buffer_;
};

// Encodes a complete record with an empty entry list (length 16 + n, or
// 17 + n when wide).
std::vector<std::uint8_t> EncodeEmptyFolderRecord(
    index_format::RecordId id, index_format::RecordId parent_id, std::string_view name,
    const index_format::Layout& layout = index_format::kNarrow);

// ---- Record-level operations on an open store ----------------------------------

// Reads record 3. False when it cannot be read or is not a 192-byte kind-2
// record (the index is then unusable and is rebuilt).
bool ReadDriveRecord(IndexStore& store, DriveRecord* record);

// Reads record 3, sets last refresh and root folder id, sets last saved to
// now, writes it and flushes the store. Saves nothing when record 3 cannot
// be read.
bool SaveDriveRecord(IndexStore& store, std::uint32_t last_refresh,
                     index_format::RecordId root_folder_id);

// Writes the record 3 of a new index: created = now, the description, the
// root folder's identification, all else zero.
bool CreateDriveRecord(IndexStore& store, const DriveDescription& description,
                       std::uint32_t root_id = 0);

// Reads folder record id into *buffer and parses it into *view (in the
// store's variant, whatever view was set up with). False when
// the record cannot be read, is not kind 3 or is malformed (a malformed
// record also marks the store damaged).
bool ReadFolderRecord(IndexStore& store, index_format::RecordId id, std::vector<std::uint8_t>* buffer,
                      FolderRecordView* view);

// Allocates an id and writes an empty folder record (stamp 0) with the
// parent id and name. Returns the id, or 0 when no id is left (nothing is
// written and the store stays undamaged: the caller keeps the folder entry's
// child id at 0), when the name is longer than 255 bytes, or when the write
// failed.
index_format::RecordId CreateFolderRecord(IndexStore& store, index_format::RecordId parent_id,
                                          std::string_view name);

// Deletes the records of every folder below id that has one (depth first,
// in list order), then the record id itself. Never recurses on the call
// stack and visits every id at most once, so a damaged file with looping
// child links cannot make it run away. A child whose record is unreadable,
// or names another parent or another name than its entry, is left alone
// (and marks the store damaged). False when anything could not be read or
// deleted.
bool DeleteFolderSubtree(IndexStore& store, index_format::RecordId id);
// The same for the folder entry named name of folder parent_id: when record
// id does not name that parent and that name (a child link pointing
// elsewhere, up the tree perhaps), nothing is deleted, the store is marked
// damaged and false is returned.
bool DeleteFolderSubtree(IndexStore& store, index_format::RecordId id,
                         index_format::RecordId parent_id, std::string_view name);

// The folder path of id relative to the drive root: "\" for the root,
// "\a\b\" for folder b in folder a. Fills the cache slots of the folders it
// reads, copying their names into pool. False when a record cannot be read
// or the parent chain loops or runs longer than the table (the store is then
// marked damaged).
bool BuildFolderPath(IndexStore& store, index_format::RecordId id, NameCache* cache,
                     StringPool* pool, std::string* path);

// Sets the child id of the folder entry at entry_position (the entry's
// offset inside the record) in the stored record, without rewriting it.
bool SetChildId(IndexStore& store, index_format::RecordId folder_id,
                std::uint32_t entry_position, index_format::RecordId child_id);

// Moves the open narrow store to the wide variant: every record is copied,
// under its id, into a new wide file beside it, which then replaces the
// narrow file, and the store is opened on it. The narrow file stays in use
// until the wide one is complete, so that a failure (or a kill) leaves the
// store as it was. False when the store is not open and narrow, when a
// record cannot be read or parsed (the store is then marked damaged), or
// when the new file cannot be written (the store stays open on the old one).
bool WidenIndex(IndexStore& store);

}  // namespace quindelo
