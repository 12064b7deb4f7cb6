#include "index/drive_scanner.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "index/drive_index.h"
#include "index/index_records.h"
#include "index/string_pool.h"
#include "platform/folder.h"

namespace quindelo {
namespace {

constexpr int kEntriesPerCheck = 10;
constexpr std::uint32_t kEntryListGrowth = 4096;
// Between two folders of the walk the records agree with each other; the
// store commits there at most this long after its last commit, so that a
// process killed in a long walk loses no more than this much of it.
constexpr auto kCheckpointInterval = std::chrono::seconds(2);

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

void SetLength(std::vector<std::uint8_t>* rec) {
  index_format::PutU32(rec->data(), static_cast<std::uint32_t>(rec->size()));
}

std::uint32_t FolderStamp(const platform::FindData& data) {
  if (static_cast<std::uint32_t>(data.creation_time) == 0) return 0;
  return static_cast<std::uint32_t>(data.last_write_time) ^
         static_cast<std::uint32_t>(data.last_write_time >> 32);
}

// Parses the entry at pos of the record; false at the terminator or when the
// list is damaged.
bool EntryAt(const std::vector<std::uint8_t>& rec, std::uint32_t pos, FolderEntry* entry) {
  EntryIterator it(rec.data(), pos, static_cast<std::uint32_t>(rec.size()));
  return it.Next(entry);
}

// Bytes of a new entry.
void EncodeEntry(std::string_view name, bool is_folder,
                 std::vector<std::uint8_t>* out) {
  out->clear();
  if (is_folder) {
    out->push_back(0xFF);
    out->push_back(0);
    out->push_back(0);
  }
  out->push_back(static_cast<std::uint8_t>(name.size()));
  out->insert(out->end(), name.begin(), name.end());
}

}  // namespace

DriveScanner::DriveScanner(DriveIndex* index) : index_(index) {}

int DriveScanner::WalkRoot(std::uint16_t root_id, bool look_in_only) {
  drive_path_ = index_->drive_root_text_ + "\\";
  native_path_ = index_->native_root_;
  if (native_path_.empty() || native_path_.back() != '/') native_path_ += '/';
  return Walk(0, root_id, 0, look_in_only);
}

// Scope of the current folder for the find: in scope (new names are
// reported) and ancestor (it lies above a look-in folder).
void DriveScanner::Scope(bool* in_scope, bool* ancestor) const {
  const auto& look_in = index_->look_in_;
  const bool include_subfolders = index_->include_subfolders_;
  *in_scope = true;
  *ancestor = false;
  if (look_in.empty() && include_subfolders) return;
  std::string_view rel(drive_path_);
  rel.remove_prefix(2);  // "\a\b\"
  *in_scope = look_in.empty();
  std::size_t matched = 0;  // length of the L whose backslash follows
  for (const std::string& l : look_in) {
    if (rel.size() > l.size() && rel[l.size()] == '\\' && StartsWithNoCase(rel, l)) {
      *in_scope = true;
      matched = l.size();
      break;
    }
    if (!*ancestor && l.size() >= rel.size() && StartsWithNoCase(l, rel)) *ancestor = true;
  }
  if (!include_subfolders && *in_scope && rel.size() > matched + 1) *in_scope = false;
}

// Lists the current folder into a sorted listing. False when asked to stop.
bool DriveScanner::List(std::vector<ListingEntry>* listing, StringPool* pool) {
  listing->clear();
  listing->reserve(1000);
  if (!index_->MayContinue()) return false;
  platform::FolderEnumerator folder;
  if (!folder.Open(native_path_)) return true;  // an unreadable folder lists as empty
  platform::FindData data;
  int count = 0;
  bool sorted = true;
  while (folder.NextName(&data)) {
    if (++count % kEntriesPerCheck == 0 && !index_->MayContinue()) return false;
    const std::uint32_t a = data.attributes;
    if (a & platform::kFileAttributeTemporary) continue;
    if ((a & platform::kFileAttributeHidden) && (a & platform::kFileAttributeSystem)) continue;
    const bool is_folder = (a & platform::kFileAttributeDirectory) != 0;
    if (data.name.empty() || data.name.size() > (is_folder ? index_format::kMaxFolderNameLength
                                                     : index_format::kMaxFileNameLength))
      continue;
    ListingEntry entry{pool->Add(data.name), is_folder};
    entry.name = std::string_view(entry.name.data(), data.name.size());
    if (!listing->empty() && CompareNames(listing->back().name, entry.name) > 0) sorted = false;
    listing->push_back(entry);
  }
  // Names that arrive in order cost one comparison each; any other order is
  // sorted once (equal names keep their order), which stays O(n log n) for
  // folders of many thousands of names where insertion would not.
  if (!sorted)
    std::stable_sort(listing->begin(), listing->end(),
                     [](const ListingEntry& x, const ListingEntry& y) {
                       return CompareNames(x.name, y.name) < 0;
                     });
  return true;
}

void DriveScanner::WriteRecord(std::vector<std::uint8_t>* rec, bool* dirty) {
  SetLength(rec);
  // A record that could not be written (a full disk) no longer agrees with
  // the walk's copy, whose entry positions the walk goes on using: the index
  // is condemned and rebuilt at its next open rather than patched wrongly.
  if (!index_->store_.WriteRecord(rec->data(), rec->size())) index_->store_.MarkDamaged();
  *dirty = false;
}

// Removes the entries in [from, to) of the record copy, deleting the
// subtrees of removed folders that have records.
bool DriveScanner::RemoveRange(std::vector<std::uint8_t>* rec, std::uint32_t from,
                               std::uint32_t to) {
  FolderEntry entry;
  for (std::uint32_t pos = from; pos < to && EntryAt(*rec, pos, &entry); pos += entry.size)
    if (entry.is_folder && entry.child_id != 0) DeleteFolderSubtree(index_->store_, entry.child_id);
  rec->erase(rec->begin() + from, rec->begin() + to);
  return true;
}

void DriveScanner::ReportNew(std::string_view name, int* result) {
  std::string full = drive_path_;
  full.append(name);
  if (index_->requested_phase_ == kPhaseStopped) {
    *result = -1;
    return;
  }
  index_->ReportResult(full);
}

// Merges the sorted listing into the record copy. Returns 0, or -1 when
// asked to stop (the merge then ends where it is).
int DriveScanner::Merge(const std::vector<ListingEntry>& listing, bool in_scope,
                        std::vector<std::uint8_t>* rec, bool* dirty) {
  FolderRecordView view;
  if (!view.Parse(*rec)) return 0;
  std::uint32_t cursor = view.entries_offset();
  std::vector<std::uint8_t> bytes;
  int result = 0;
  std::size_t n = 0;
  for (const ListingEntry& item : listing) {
    // A pause keeps what is merged so far: the partly merged list is sorted
    // and whole, and its old stamp has the folder listed again next time.
    // Unwritten, the names inserted before the pause would be missed by the
    // next find (its index phase cannot see them, and the resumed merge no
    // longer finds them new).
    if (n++ % kEntriesPerCheck == 0 &&
        !index_->MayContinue([&] {
          if (*dirty) WriteRecord(rec, dirty);
        }))
      return -1;
    for (;;) {
      FolderEntry entry;
      bool have = EntryAt(*rec, cursor, &entry);
      int cmp = have ? CompareNames(item.name, entry.name) : -1;
      if (cmp > 0) {
        // Entries gone from the disk: remove the run that sorts before the
        // listing name and write the record at once.
        std::uint32_t end = cursor;
        FolderEntry e;
        while (EntryAt(*rec, end, &e) && CompareNames(e.name, item.name) < 0) end += e.size;
        RemoveRange(rec, cursor, end);
        WriteRecord(rec, dirty);
        continue;
      }
      if (cmp == 0) {
        if (entry.is_folder == item.is_folder) {
          cursor += entry.size;
          break;
        }
        // A file became a folder or the reverse: the old entry goes, and like
        // every removal it is written at once. Left for the end of the merge,
        // a walk abandoned meanwhile (a close while paused) would leave the
        // stored entry naming a folder record already deleted, whose id a
        // later folder may be given.
        RemoveRange(rec, cursor, cursor + entry.size);
        WriteRecord(rec, dirty);
      }
      // A new name.
      EncodeEntry(item.name, item.is_folder, &bytes);
      if (rec->capacity() < rec->size() + bytes.size())
        rec->reserve(rec->size() + bytes.size() + kEntryListGrowth);
      rec->insert(rec->begin() + cursor, bytes.begin(), bytes.end());
      *dirty = true;
      cursor += static_cast<std::uint32_t>(bytes.size());
      if (in_scope && index_->patterns_.match(item.name)) ReportNew(item.name, &result);
      break;
    }
    if (result != 0) return result;
  }
  // Whatever is left after the cursor is gone from the disk.
  FolderEntry entry;
  if (EntryAt(*rec, cursor, &entry)) {
    std::uint32_t end = cursor;
    while (EntryAt(*rec, end, &entry)) end += entry.size;
    RemoveRange(rec, cursor, end);
    WriteRecord(rec, dirty);
  }
  return result;
}

int DriveScanner::Walk(std::uint16_t parent_id, std::uint16_t folder_id, int depth,
                       bool look_in_only) {
  if (depth == 1) index_->PostProgress(kCodeRefresh, drive_path_);
  if (!index_->MayContinue()) return -1;

  bool in_scope, ancestor;
  Scope(&in_scope, &ancestor);
  if (look_in_only && !in_scope && !ancestor) return 0;

  std::vector<std::uint8_t> rec;
  FolderRecordView view;
  index_->store_.UseReadWindow();
  if (!ReadFolderRecord(index_->store_, folder_id, &rec, &view)) return 0;
  rec.resize(view.length());
  bool dirty = false;
  int result = 0;

  platform::FindData own;
  const bool have_own = platform::GetFindData(native_path_, &own);
  // Folders on another file system are reached through their own drive.
  if (have_own && parent_id != 0 && own.device != index_->root_device_) return 0;
  const std::uint32_t stamp = have_own ? FolderStamp(own) : 0;
  if ((stamp != view.stamp() || stamp == 0) && (have_own || parent_id == 0)) {
    StringPool pool;
    std::vector<ListingEntry> listing;
    if (!List(&listing, &pool)) return -1;
    ++index_->folders_listed_;
    result = Merge(listing, in_scope, &rec, &dirty);
    if (result == 0) {
      index_format::PutU32(rec.data() + index_format::kFolderStampOffset, stamp);
      dirty = true;
    }
  }
  // A walk that was told to give up writes nothing more: the store may be
  // closed (or another walk's) by now. What a pause had to keep, it wrote.
  if (result != 0) return result;
  if (dirty) WriteRecord(&rec, &dirty);

  if (!index_->MayContinue()) return -1;
  if (!view.Parse(rec)) return 0;
  EntryIterator it(view);
  FolderEntry entry;
  const std::size_t drive_len = drive_path_.size();
  const std::size_t native_len = native_path_.size();
  while (it.Next(&entry)) {
    if (!index_->MayContinue()) return -1;
    if (!entry.is_folder) continue;
    index_->store_.CheckpointIfOlderThan(kCheckpointInterval);
    drive_path_.append(entry.name).push_back('\\');
    native_path_.append(entry.name).push_back('/');
    std::uint16_t child = entry.child_id;
    if (child == 0 && ids_left_) {
      child = CreateFolderRecord(index_->store_, folder_id, entry.name);
      if (child != 0) {
        index_->PostProgress(kCodeRefresh, drive_path_);
        // The copy and the stored record both get the new child id; the copy
        // is not dirty for it.
        index_format::PutU16(rec.data() + entry.position + 1, child);
        SetChildId(index_->store_, folder_id, entry.position, child);
      } else {
        // A record that could not be written (the store keeps the cause and
        // is condemned) is not a drive with too many folders.
        ids_left_ = false;
        if (!index_->store_.write_failed()) index_->NoteIdsExhausted();
      }
    }
    if (child != 0) result = Walk(folder_id, child, depth + 1, look_in_only);
    drive_path_.resize(drive_len);
    native_path_.resize(native_len);
    if (result != 0) break;
  }
  return result;
}

}  // namespace quindelo
