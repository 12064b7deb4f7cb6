#include "index/drive_scanner.h"

#include <algorithm>
#include <chrono>

#include "base/string_pool.h"
#include "index/index_records.h"
#include "index/index_store.h"
#include "platform/folder.h"

namespace quindelo {
namespace {

constexpr int kEntriesPerCheck = 10;
constexpr std::uint32_t kEntryListGrowth = 4096;
// Between two folders of the walk the records agree with each other; the
// store commits there at most this long after its last commit, so that a
// process killed in a long walk loses no more than this much of it.
constexpr auto kCheckpointInterval = std::chrono::seconds(2);
// Reading the clock costs more than the visit of a folder that did not
// change: after such folders the clock is read every this many folders,
// after a folder that was listed at once.
constexpr unsigned kUnchangedFoldersPerCheckpointTest = 32;

void SetLength(std::vector<std::uint8_t>* rec) {
  index_format::PutU32(rec->data(), static_cast<std::uint32_t>(rec->size()));
}

std::uint32_t FolderStamp(const platform::FolderTimes& data) {
  if (static_cast<std::uint32_t>(data.creation_time) == 0) return 0;
  return static_cast<std::uint32_t>(data.last_write_time) ^
         static_cast<std::uint32_t>(data.last_write_time >> 32);
}

// Bytes of a new entry.
void EncodeEntry(std::string_view name, bool is_folder, const index_format::Layout& layout,
                 std::vector<std::uint8_t>* out) {
  out->clear();
  if (is_folder) {
    out->push_back(0xFF);
    out->insert(out->end(), layout.id_bytes, 0);  // no child record yet
  }
  out->push_back(static_cast<std::uint8_t>(name.size()));
  out->insert(out->end(), name.begin(), name.end());
}

}  // namespace

DriveScanner::DriveScanner(ScanHost* host) : host_(host), store_(host->store()) {}

bool DriveScanner::EntryAt(const std::vector<std::uint8_t>& rec, std::uint32_t pos,
                           FolderEntry* entry) const {
  EntryIterator it(rec.data(), pos, static_cast<std::uint32_t>(rec.size()), store_.layout());
  return it.Next(entry);
}

void DriveScanner::StartPaths() {
  drive_path_ = host_->drive_root_text() + "\\";
  native_path_ = host_->native_root();
  if (native_path_.empty() || native_path_.back() != '/') native_path_ += '/';
  // A root that cannot be opened lists nothing: every folder is then
  // unreadable and keeps what it held.
  walk_.Start(native_path_);
}

void DriveScanner::Enter(Frame* frame) {
  // The copy was parsed and checked by the visit; should it no longer
  // parse, nothing of it is descended into.
  FolderRecordView view(store_.layout());
  frame->next = view.Parse(frame->rec) ? view.entries_offset()
                                       : static_cast<std::uint32_t>(frame->rec.size());
  frame->drive_length = drive_path_.size();
  frame->native_length = native_path_.size();
}

DriveScanner::WalkResult DriveScanner::WalkRoot(index_format::RecordId root_id,
                                                 bool look_in_only) {
  StartPaths();
  std::vector<Frame> stack(1);
  stack[0].id = root_id;
  switch (VisitFolder(0, std::string_view(), root_id, 0, look_in_only, false, &stack[0].rec)) {
    case Visit::kStopped: return WalkResult::kStopped;
    case Visit::kSkip: return WalkResult::kCompleted;
    case Visit::kDescend: break;
  }
  Enter(&stack[0]);
  return Descend(&stack, look_in_only);
}

DriveScanner::WalkResult DriveScanner::WalkFolder(index_format::RecordId root_id,
                                                   const std::string& rel, Target target) {
  StartPaths();
  // The record of each folder on the way, from the entry of its name in the
  // folder above.
  index_format::RecordId parent_id = 0;
  index_format::RecordId id = root_id;
  std::string_view name;
  std::size_t depth = 0;
  std::vector<std::uint8_t> rec;
  if (!spare_records_.empty()) {
    rec = std::move(spare_records_.back());
    spare_records_.pop_back();
  }
  for (std::size_t at = 0; at < rel.size();) {
    const std::size_t slash = rel.find('/', at);
    if (slash == std::string::npos || slash == at) return WalkResult::kCompleted;
    const std::string_view part(rel.data() + at, slash - at);
    FolderRecordView view;
    store_.UseReadWindow();
    if (!ReadFolderRecord(store_, id, &rec, &view)) return WalkResult::kCompleted;
    EntryIterator it(view);
    FolderEntry entry;
    index_format::RecordId child = 0;
    while (it.Next(&entry)) {
      if (entry.name == part) {
        if (entry.is_folder) child = entry.child_id;
        break;
      }
    }
    if (child == 0) return WalkResult::kCompleted;
    parent_id = id;
    id = child;
    name = part;
    drive_path_.append(part).push_back('\\');
    native_path_.append(part).push_back('/');
    at = slash + 1;
    ++depth;
  }
  // name points into rel, which outlives the visit.
  std::vector<Frame> stack(1);
  stack[0].id = id;
  stack[0].rec = std::move(rec);
  stack[0].force = target == Target::kTree;
  stack[0].only_new = target == Target::kFolder;
  switch (VisitFolder(parent_id, name, id, depth, false, target != Target::kStamps,
                      &stack[0].rec)) {
    case Visit::kStopped: return WalkResult::kStopped;
    case Visit::kSkip: return WalkResult::kCompleted;
    case Visit::kDescend: break;
  }
  Enter(&stack[0]);
  return Descend(&stack, false);
}

DriveScanner::WalkResult DriveScanner::Descend(std::vector<Frame>* frames, bool look_in_only) {
  std::vector<Frame>& stack = *frames;
  while (!stack.empty()) {
    Frame& top = stack.back();
    drive_path_.resize(top.drive_length);
    native_path_.resize(top.native_length);
    FolderEntry entry;
    if (!EntryAt(top.rec, top.next, &entry)) {
      spare_records_.push_back(std::move(top.rec));
      stack.pop_back();
      continue;
    }
    top.next += entry.size;
    if (!entry.is_folder) continue;
    if (top.only_new && entry.child_id != 0) continue;
    if (!host_->MayContinue(nullptr)) return WalkResult::kStopped;
    if (host_->folders_listed() != listed_at_checkpoint_test_ ||
        ++unchanged_since_checkpoint_test_ >= kUnchangedFoldersPerCheckpointTest) {
      store_.CheckpointIfOlderThan(kCheckpointInterval);
      listed_at_checkpoint_test_ = host_->folders_listed();
      unchanged_since_checkpoint_test_ = 0;
    }
    drive_path_.append(entry.name).push_back('\\');
    native_path_.append(entry.name).push_back('/');
    index_format::RecordId child = entry.child_id;
    if (child == 0 && ids_left_) {
      child = CreateFolderRecord(store_, top.id, entry.name);
      if (child != 0) {
        host_->PostProgress(drive_path_);
        // The copy and the stored record both get the new child id; the copy
        // is not dirty for it.
        index_format::PutId(top.rec.data() + entry.position + 1, child, store_.layout());
        SetChildId(store_, top.id, entry.position, child);
      } else if (!store_.write_failed()) {
        // Every id of a narrow index is taken. Every record written so far
        // agrees with the others (this entry keeps child id 0), so the walk
        // ends here; once the index is wide, the next walk goes on from here
        // (folders it has seen keep their stamps and are not listed again).
        if (!store_.wide()) return WalkResult::kOutOfIds;
        ids_left_ = false;
        host_->NoteIdsExhausted();
      } else {
        // A record that could not be written (the store keeps the cause and
        // is condemned) is not a drive with too many folders.
        ids_left_ = false;
      }
    }
    if (child == 0) continue;
    Frame frame;
    frame.id = child;
    frame.force = top.force;
    if (!spare_records_.empty()) {
      frame.rec = std::move(spare_records_.back());
      spare_records_.pop_back();
    }
    switch (VisitFolder(top.id, entry.name, child, stack.size(), look_in_only, top.force,
                        &frame.rec)) {
      case Visit::kStopped: return WalkResult::kStopped;
      case Visit::kSkip:
        spare_records_.push_back(std::move(frame.rec));
        continue;
      case Visit::kDescend: break;
    }
    Enter(&frame);
    stack.push_back(std::move(frame));  // top is gone from here on
  }
  return WalkResult::kCompleted;
}

// Lists the current folder into a sorted listing.
DriveScanner::Listing DriveScanner::List(std::vector<ListingEntry>* listing, StringPool* pool) {
  listing->clear();
  listing->reserve(1000);
  if (!host_->MayContinue(nullptr)) return Listing::kStopped;
  platform::FolderEnumerator folder;
  if (!walk_.OpenListing(native_path_, &folder)) return Listing::kUnreadable;
  platform::FindData data;
  int count = 0;
  bool sorted = true;
  while (folder.NextName(&data)) {
    if (++count % kEntriesPerCheck == 0 && !host_->MayContinue(nullptr)) return Listing::kStopped;
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
  return Listing::kListed;
}

void DriveScanner::WriteRecord(std::vector<std::uint8_t>* rec, bool* dirty) {
  SetLength(rec);
  // A record that could not be written (a full disk) no longer agrees with
  // the walk's copy, whose entry positions the walk goes on using: the index
  // is condemned and rebuilt at its next open rather than patched wrongly.
  if (!store_.WriteRecord(rec->data(), rec->size())) store_.MarkDamaged();
  *dirty = false;
}

// Removes the entries in [from, to) of the record copy, deleting the
// subtrees of removed folders that have records.
bool DriveScanner::RemoveRange(std::vector<std::uint8_t>* rec, std::uint32_t from,
                               std::uint32_t to) {
  FolderEntry entry;
  const index_format::RecordId folder_id =
      index_format::DecodeBlockHeader(rec->data(), store_.layout()).id;
  for (std::uint32_t pos = from; pos < to && EntryAt(*rec, pos, &entry); pos += entry.size)
    if (entry.is_folder && entry.child_id != 0)
      DeleteFolderSubtree(store_, entry.child_id, folder_id, entry.name);
  rec->erase(rec->begin() + from, rec->begin() + to);
  return true;
}

// Merges the sorted listing into the record copy; kStopped when asked to
// stop (the merge then ends where it is).
DriveScanner::Merged DriveScanner::Merge(const std::vector<ListingEntry>& listing,
                                         std::vector<std::uint8_t>* rec, bool* dirty) {
  FolderRecordView view(store_.layout());
  if (!view.Parse(*rec)) return Merged::kDone;
  // What becomes of a new name is decided by the find under way, which may
  // have changed while the walk was paused (a pass paused for a find goes on
  // as that find's refresh, with its look-in folders and patterns): the host
  // decides, name by name.
  std::uint32_t cursor = view.entries_offset();
  std::vector<std::uint8_t> bytes;
  std::size_t n = 0;
  for (const ListingEntry& item : listing) {
    // A pause keeps what is merged so far: the partly merged list is sorted
    // and whole, and its old stamp has the folder listed again next time.
    // Unwritten, the names inserted before the pause would be missed by the
    // next find (its index phase cannot see them, and the resumed merge no
    // longer finds them new).
    if (n++ % kEntriesPerCheck == 0) {
      if (!host_->MayContinue([&] {
            if (*dirty) WriteRecord(rec, dirty);
          }))
        return Merged::kStopped;
    }
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
          if (report_kept_ && host_->NewName(drive_path_, item.name) == ScanAnswer::kStop)
            return Merged::kStopped;
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
      EncodeEntry(item.name, item.is_folder, store_.layout(), &bytes);
      if (rec->capacity() < rec->size() + bytes.size())
        rec->reserve(rec->size() + bytes.size() + kEntryListGrowth);
      rec->insert(rec->begin() + cursor, bytes.begin(), bytes.end());
      *dirty = true;
      cursor += static_cast<std::uint32_t>(bytes.size());
      if (host_->NewName(drive_path_, item.name) == ScanAnswer::kStop) return Merged::kStopped;
      break;
    }
  }
  // Whatever is left after the cursor is gone from the disk.
  FolderEntry entry;
  if (EntryAt(*rec, cursor, &entry)) {
    std::uint32_t end = cursor;
    while (EntryAt(*rec, end, &entry)) end += entry.size;
    RemoveRange(rec, cursor, end);
    WriteRecord(rec, dirty);
  }
  return Merged::kDone;
}

DriveScanner::Visit DriveScanner::VisitFolder(index_format::RecordId parent_id,
                                              std::string_view name,
                                              index_format::RecordId folder_id, std::size_t depth,
                                              bool look_in_only, bool force,
                                              std::vector<std::uint8_t>* rec) {
  if (depth == 1) host_->PostProgress(drive_path_);
  if (!host_->MayContinue(nullptr)) return Visit::kStopped;

  const FolderScope scope = host_->ScopeOf(drive_path_);
  if (look_in_only && !scope.in_scope && !scope.above) return Visit::kSkip;

  FolderRecordView view;
  store_.UseReadWindow();
  if (!ReadFolderRecord(store_, folder_id, rec, &view)) return Visit::kSkip;
  // The entry that led here must be the one this record belongs to (a child
  // link pointing elsewhere, up the tree perhaps, would walk the wrong folder
  // or go round for ever), and a broken or unordered list would be merged
  // wrongly (names written again in front of the damage).
  if (view.parent_id() != parent_id || view.name() != name || !EntryListIsSound(view)) {
    store_.MarkDamaged();
    return Visit::kSkip;
  }
  rec->resize(view.length());
  bool dirty = false;

  // A folder with subfolders is entered next: the walk opens it at once.
  bool has_subfolders = false;
  {
    EntryIterator it(view);
    FolderEntry entry;
    while (!has_subfolders && it.Next(&entry)) has_subfolders = entry.is_folder;
  }
  platform::FolderTimes own;
  const bool have_own = walk_.GetTimes(native_path_, &own, has_subfolders);
  // Folders on another file system are reached through their own drive.
  if (have_own && parent_id != 0 && own.device != host_->root_device()) return Visit::kSkip;
  const std::uint32_t stamp = have_own ? FolderStamp(own) : 0;
  const bool relist = force || (host_->relisting() && (scope.in_scope || scope.above));
  if ((stamp != view.stamp() || stamp == 0 || relist) && (have_own || parent_id == 0)) {
    StringPool pool;
    std::vector<ListingEntry> listing;
    report_kept_ = host_->ReportsKeptNames(drive_path_);
    switch (List(&listing, &pool)) {
      case Listing::kStopped:
        return Visit::kStopped;
      case Listing::kUnreadable:
        // Nothing is known of the folder now: it keeps what it held, and
        // stamp 0 has it listed again by the next walk. Its stamp would not
        // change when it becomes readable again (a change of permissions
        // leaves the last-write time alone).
        if (view.stamp() != 0) {
          index_format::PutU32(rec->data() + index_format::kFolderStampOffset, 0);
          dirty = true;
        }
        break;
      case Listing::kListed:
        host_->CountFolderListed();
        // A walk that was told to give up writes nothing more: the store may
        // be closed (or another walk's) by now. What a pause had to keep, it
        // wrote.
        if (Merge(listing, rec, &dirty) == Merged::kStopped) return Visit::kStopped;
        index_format::PutU32(rec->data() + index_format::kFolderStampOffset, stamp);
        dirty = true;
        break;
    }
  }
  if (dirty) WriteRecord(rec, &dirty);
  if (!host_->MayContinue(nullptr)) return Visit::kStopped;
  return Visit::kDescend;
}

}  // namespace quindelo
