// IndexStore: see index_store.h for the contract and index_format.h for the
// byte layout.
#include "index/index_store.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace quindelo {

namespace fmt = index_format;
using fmt::GetU16;
using fmt::GetU32;
using fmt::PutU16;
using fmt::PutU32;
using fmt::Round8;
using fmt::RecordId;

namespace {

// The undo file (see "Crash safety" in index_store.h).
constexpr char kUndoMagic[8] = {'Q', 'I', 'd', 'x', 'U', 'n', 'd', 'o'};
constexpr std::uint64_t kUndoStart = sizeof kUndoMagic;
constexpr std::uint32_t kUndoRecordHeader = 8;  // file offset, length

std::string UndoPath(const std::string& index_path) { return index_path + ".undo"; }

platform::Mutex g_default_options_lock;
IndexStore::Options g_default_options GUARDED_BY(g_default_options_lock);

}  // namespace

IndexStore::Options IndexStore::DefaultOptions() {
  platform::MutexLock lock(&g_default_options_lock);
  return g_default_options;
}

void IndexStore::SetDefaultOptions(const Options& options) {
  platform::MutexLock lock(&g_default_options_lock);
  g_default_options = options;
}

IndexStore::IndexStore() : IndexStore(DefaultOptions()) {}

IndexStore::IndexStore(const Options& options) : options_(options) {
  if (options_.file_system == nullptr) options_.file_system = platform::FileSystem::Default();
}

IndexStore::~IndexStore() { Close(); }

// ---- Header image ---------------------------------------------------------------

std::uint32_t IndexStore::end_offset() const {
  return GetU32(header_.data() + fmt::kEndOffsetOffset);
}
std::int32_t IndexStore::live_bytes() const {
  return static_cast<std::int32_t>(GetU32(header_.data() + fmt::kLiveBytesOffset));
}
bool IndexStore::is_damaged() const {
  return GetU16(header_.data() + fmt::kDamagedFlagOffset) != 0;
}
std::uint16_t IndexStore::open_flag() const {
  return GetU16(header_.data() + fmt::kOpenFlagOffset);
}
void IndexStore::set_end_offset(std::uint32_t v) {
  PutU32(header_.data() + fmt::kEndOffsetOffset, v);
  header_dirty_ = true;
}
void IndexStore::set_live_bytes(std::int32_t v) {
  PutU32(header_.data() + fmt::kLiveBytesOffset, static_cast<std::uint32_t>(v));
  header_dirty_ = true;
}
void IndexStore::set_open_flag(std::uint16_t v) {
  PutU16(header_.data() + fmt::kOpenFlagOffset, v);
  header_dirty_ = true;
}
void IndexStore::MarkDamaged() {
  PutU16(header_.data() + fmt::kDamagedFlagOffset, 1);
  header_dirty_ = true;
}

// ---- Validity -------------------------------------------------------------------

bool IndexStore::IsValidOffset(std::uint32_t offset) const {
  return offset >= fmt::kFirstBlockOffset && offset < end_offset() && offset % 8 == 0;
}

std::uint32_t IndexStore::ValidEntry(RecordId id, bool* damaged_entry) const {
  *damaged_entry = false;
  if (id >= table_.size()) {
    *damaged_entry = true;
    return 0;
  }
  std::uint32_t entry = table_[id];
  if (entry != 0 && !IsValidOffset(entry)) {
    *damaged_entry = true;
    return 0;
  }
  return entry;
}

bool IndexStore::BlockFits(std::uint32_t offset, std::uint32_t length) const {
  return length >= fmt::kBlockHeaderSize &&
         std::uint64_t{offset} + length <= std::uint64_t{end_offset()};
}

// ---- File access ----------------------------------------------------------------

platform::Status IndexStore::ReadExactly(platform::LockedFile& file, std::uint64_t offset,
                                         void* buffer, std::size_t count) {
  std::size_t moved = 0;
  platform::Status status = file.ReadAt(offset, buffer, count, &moved);
  if (status.ok() && moved != count)
    return platform::PosixError(platform::kErrorShortTransfer, file.path());
  return status;
}

bool IndexStore::ReadBytes(std::uint32_t offset, void* buffer, std::size_t count) {
  if (window_mode_) return ReadWindowed(offset, static_cast<std::uint8_t*>(buffer), count);
  return ReadExactly(*file_, offset, buffer, count).ok();
}

bool IndexStore::WriteBytes(std::uint32_t offset, const void* buffer, std::size_t count) {
  window_mode_ = false;
  scan_piece_count_ = 0;  // a scan under way reads what was written
  if (write_failed_) return false;
  platform::Status status = SaveForUndo(offset, count);
  if (status.ok()) status = file_->WriteAt(offset, buffer, count);
  return status.ok() || FailWrite(status);
}

bool IndexStore::FailWrite(const platform::Status& cause) {
  if (!write_failed_.exchange(true)) {
    platform::MutexLock lock(&failure_lock_);
    write_status_ = cause;
  }
  MarkDamaged();
  return false;
}

platform::Status IndexStore::write_status() const {
  platform::MutexLock lock(&failure_lock_);
  return write_status_;
}

platform::Status IndexStore::SaveForUndo(std::uint32_t offset, std::size_t count) {
  if (!undo_ || offset >= committed_end_ || count == 0) return platform::Status();
  // The header is written whole, often several times between commits; its
  // state at the commit is the one to keep.
  if (offset == 0 && header_saved_) return platform::Status();
  const std::size_t n = std::min<std::size_t>(count, committed_end_ - offset);
  std::vector<std::uint8_t> record(kUndoRecordHeader + n);
  std::size_t got = 0;
  platform::Status status = file_->ReadAt(offset, record.data() + kUndoRecordHeader, n, &got);
  if (!status.ok()) return status;
  record.resize(kUndoRecordHeader + got);
  PutU32(record.data(), offset);
  PutU32(record.data() + 4, static_cast<std::uint32_t>(got));
  status = undo_->WriteAt(undo_size_, record.data(), record.size());
  if (!status.ok()) return status;
  undo_size_ += record.size();
  if (offset == 0) header_saved_ = true;
  return status;
}

platform::Status IndexStore::RollBack() {
  std::uint64_t size = 0, index_size = 0;
  char magic[sizeof kUndoMagic];
  platform::Status status = undo_->Size(&size);
  if (status.ok()) status = file_->Size(&index_size);
  if (!status.ok()) return status;
  if (size < kUndoStart || !ReadExactly(*undo_, 0, magic, sizeof magic).ok() ||
      std::memcmp(magic, kUndoMagic, sizeof magic) != 0) {
    return status;  // nothing saved (or not an undo file of ours)
  }
  struct Saved {
    std::uint64_t at;
    std::uint32_t offset, length;
  };
  std::vector<Saved> saved;
  std::uint8_t head[kUndoRecordHeader];
  for (std::uint64_t at = kUndoStart; at + kUndoRecordHeader <= size;) {
    status = ReadExactly(*undo_, at, head, sizeof head);
    if (!status.ok()) return status;
    const Saved one{at + kUndoRecordHeader, GetU32(head), GetU32(head + 4)};
    if (one.at + one.length > size) break;  // cut short: its write never began
    // Saved bytes always lie inside the file (below its committed end).
    if (std::uint64_t{one.offset} + one.length > index_size) return status;
    saved.push_back(one);
    at = one.at + one.length;
  }
  std::vector<std::uint8_t> bytes;
  for (auto it = saved.rbegin(); it != saved.rend() && status.ok(); ++it) {
    bytes.resize(it->length);
    status = ReadExactly(*undo_, it->at, bytes.data(), bytes.size());
    if (status.ok()) status = file_->WriteAt(it->offset, bytes.data(), bytes.size());
  }
  return status;
}

bool IndexStore::Commit(bool sync) {
  if (sync) {
    const platform::Status status = file_->Sync();
    if (!status.ok()) return FailWrite(status);
  }
  if (undo_ && undo_size_ != kUndoStart) {
    const platform::Status status = undo_->Truncate(kUndoStart);
    if (!status.ok()) return FailWrite(status);
    undo_size_ = kUndoStart;
  }
  committed_end_ = end_offset();
  header_saved_ = false;
  last_commit_ = std::chrono::steady_clock::now();
  return true;
}

void IndexStore::WriteDamagedFlag() {
  MarkDamaged();
  // Straight to the file: saving the old header would need room that a full
  // disk does not have, and a roll-back would take the flag away again.
  if (!file_->WriteAt(0, header_.data(), header_.size()).ok()) return;
  header_dirty_ = false;
  if (undo_ && undo_->Truncate(kUndoStart).ok()) undo_size_ = kUndoStart;
}

// Positioning inside [window offset, window offset + count] only moves the
// position; anywhere else empties the window there. Refills read up to the
// next 8192-byte boundary of the file, so that every refill after the first
// is aligned.
bool IndexStore::ReadWindowed(std::uint32_t offset, std::uint8_t* out, std::size_t count) {
  if (window_.size() != fmt::kReadWindowSize) window_.assign(fmt::kReadWindowSize, 0);
  if (offset >= window_offset_ &&
      std::uint64_t{offset} <= std::uint64_t{window_offset_} + window_count_) {
    window_position_ = offset - window_offset_;
  } else {
    window_offset_ = offset;
    window_position_ = 0;
    window_count_ = 0;
  }
  while (count > 0) {
    if (window_position_ >= window_count_) {
      window_offset_ += window_position_;
      window_position_ = 0;
      window_count_ = 0;
      std::uint32_t want = fmt::kReadWindowSize - window_offset_ % fmt::kReadWindowSize;
      std::size_t got = 0;
      if (!file_->ReadAt(window_offset_, window_.data(), want, &got).ok() || got == 0) return false;
      window_count_ = static_cast<std::uint32_t>(got);
    }
    std::size_t n = std::min<std::size_t>(count, window_count_ - window_position_);
    std::memcpy(out, window_.data() + window_position_, n);
    out += n;
    count -= n;
    window_position_ += static_cast<std::uint32_t>(n);
  }
  return true;
}

bool IndexStore::ReadBlockHeader(std::uint32_t offset, BlockHeader* header) {
  std::uint8_t bytes[fmt::kBlockHeaderSize];
  if (!ReadBytes(offset, bytes, sizeof bytes)) return false;
  *header = fmt::DecodeBlockHeader(bytes, *layout_);
  return true;
}

bool IndexStore::WriteBlockHeader(std::uint32_t offset, const BlockHeader& header) {
  std::uint8_t bytes[fmt::kBlockHeaderSize];
  fmt::EncodeBlockHeader(bytes, header, *layout_);
  return WriteBytes(offset, bytes, sizeof bytes);
}

bool IndexStore::WriteHeader() {
  if (!WriteBytes(0, header_.data(), header_.size())) return false;
  header_dirty_ = false;
  return true;
}

bool IndexStore::Truncate() {
  const platform::Status status = file_->Truncate(end_offset());
  return status.ok() || FailWrite(status);
}

void IndexStore::ResetState() {
  layout_ = &fmt::kNarrow;
  std::vector<std::uint8_t>().swap(dirty_pages_);
  std::vector<std::uint32_t>().swap(table_);
  std::vector<std::uint8_t>().swap(window_);
  header_dirty_ = false;
  table_dirty_ = false;
  next_id_hint_ = fmt::kFirstFreshId;
  scan_cursor_ = 0;
  compaction_resume_id_ = 0;
  window_mode_ = false;
  window_offset_ = window_position_ = window_count_ = 0;
  undo_size_ = 0;
  committed_end_ = 0;
  header_saved_ = false;
}

// ---- Open, close, flush ---------------------------------------------------------

platform::Status IndexStore::Open(const std::string& native_path,
                                  const fmt::Layout& new_file_layout) {
  Close();
  ResetState();
  header_.fill(0);
  new_file_ = false;
  write_failed_ = false;
  {
    platform::MutexLock lock(&failure_lock_);
    write_status_ = platform::Status();
  }
  bool existed = false;
  platform::Status status =
      options_.file_system->OpenLocked(native_path, options_.lock_wait, &file_, &existed);
  if (!status.ok()) return status;
  path_ = native_path;
  new_file_ = !existed;

  // The undo file is guarded by the index file's lock, held from here on.
  // What it saved is put back before the file is looked at.
  bool undo_existed = false;
  status = options_.file_system->OpenLocked(UndoPath(native_path), std::chrono::milliseconds(0),
                                            &undo_, &undo_existed);
  if (status.ok() && !new_file_ && undo_existed) status = RollBack();
  if (status.ok()) status = undo_->Truncate(0);
  if (status.ok()) status = undo_->WriteAt(0, kUndoMagic, sizeof kUndoMagic);
  if (!status.ok()) {
    CloseFiles();
    if (new_file_) options_.file_system->RemoveFile(native_path);
    ResetState();
    return status;
  }
  undo_size_ = kUndoStart;

  if (new_file_) {
    layout_ = &new_file_layout;
    std::memcpy(header_.data() + fmt::kBannerOffset, fmt::kBanner, sizeof(fmt::kBanner));
    PutU32(header_.data() + fmt::kMagicOffset, fmt::kMagic);
    PutU32(header_.data() + fmt::kVersionOffset, layout_->version);
    set_end_offset(fmt::kHeaderSize);
    set_live_bytes(static_cast<std::int32_t>(fmt::kHeaderSize));
    set_open_flag(1);
    table_.assign(fmt::kEntriesPerPage, 0);
    SetEntry(fmt::kPage0Id, 0);
    // The table write places page 0 at offset 192; the header is written
    // again so that the file on disk is complete at once.
    if (!WriteHeader() || !WriteTable() || !WriteHeader() || !Commit(false) || !Truncate()) {
      status = write_status();
      if (status.ok()) status = platform::PosixError(platform::kErrorShortTransfer, native_path);
      CloseFiles();
      options_.file_system->RemoveFile(native_path);
      ResetState();
      return status;
    }
    return status;
  }

  std::uint64_t size = 0;
  status = ReadExactly(*file_, 0, header_.data(), header_.size());
  if (status.ok()) status = file_->Size(&size);
  bool accepted = status.ok() && GetU32(header_.data() + fmt::kMagicOffset) == fmt::kMagic &&
                  !is_damaged();
  if (accepted) {
    const std::uint32_t version = GetU32(header_.data() + fmt::kVersionOffset);
    if (version == fmt::kWide.version)
      layout_ = &fmt::kWide;
    else if (version != fmt::kNarrow.version)
      accepted = false;
  }
  if (accepted && open_flag() != 0 && size > end_offset() && end_offset() >= fmt::kNewFileSize &&
      end_offset() % 8 == 0) {
    // A process that died after its last commit leaves the records it wrote
    // since then beyond the committed end offset: they are not part of the
    // file.
    status = file_->Truncate(end_offset());
    accepted = status.ok();
    size = end_offset();
  }
  accepted = accepted && std::uint64_t{end_offset()} == fmt::Round8Wide(size) &&
             end_offset() >= fmt::kNewFileSize && LoadTable();
  if (accepted) {
    committed_end_ = end_offset();
    set_open_flag(1);
    accepted = (!table_dirty_ || WriteTable()) && WriteHeader() && Commit(false) && Truncate();
    if (!accepted) status = write_status();
  }
  if (!accepted) {
    // A file that could be read but is not a sound index of either variant.
    if (status.ok() || status.code() == platform::kErrorShortTransfer)
      status = platform::PosixError(platform::kErrorUnusableFile, native_path);
    CloseFiles();
    ResetState();
    return status;
  }
  return status;
}

void IndexStore::CloseFiles() {
  undo_.reset();
  file_.reset();
  path_.clear();
}

platform::Status IndexStore::Close() {
  bool ok = true;
  std::string path = path_;
  if (IsOpen()) {
    set_open_flag(0);
    ok = FlushAndCommit(true, true);
    // An undo file still holding saved bytes (a write failed and even the
    // damaged flag could not be written) is what the next open needs.
    if (undo_ && undo_size_ == kUndoStart) {
      const std::string undo_path = undo_->path();
      undo_.reset();
      options_.file_system->RemoveFile(undo_path);
    }
    CloseFiles();
  }
  ResetState();
  if (ok) return platform::Status();
  const platform::Status status = write_status();
  return status.ok() ? platform::PosixError(platform::kErrorUnusableFile, path) : status;
}

platform::Status IndexStore::Flush() {
  if (!IsOpen()) return platform::PosixError(EBADF, path_);
  return FlushAndCommit(false, false) ? platform::Status() : FailureCause();
}

platform::Status IndexStore::CheckpointIfOlderThan(std::chrono::milliseconds min_age) {
  if (!IsOpen() || std::chrono::steady_clock::now() - last_commit_ < min_age)
    return platform::Status();
  return FlushAndCommit(true, false) ? platform::Status() : FailureCause();
}

platform::Status IndexStore::FailureCause() const {
  const platform::Status status = write_status();
  return status.ok() ? platform::PosixError(platform::kErrorUnusableFile, path_) : status;
}

bool IndexStore::FlushAndCommit(bool sync, bool header_always) {
  if (!IsOpen()) return false;
  bool ok = true;
  if (table_dirty_ && !WriteTable()) ok = false;
  if ((header_always || header_dirty_) && !write_failed_ && !WriteHeader()) ok = false;
  if (write_failed_ || !Commit(sync)) {
    WriteDamagedFlag();
    return false;
  }
  return Truncate() && ok;
}

// ---- Record table -----------------------------------------------------------------

// Follows the page chain from offset 192. Besides what every page must be
// (kind 1, the page's own id), a page must have the page length, lie inside
// the file, and the chain must not revisit a page or exceed the variant's
// page count (60 in a narrow file).
bool IndexStore::LoadTable() {
  table_.clear();
  // Room for as many pages as the file can hold (address space only: the
  // memory is touched as the pages load), so that the table is not copied
  // as it grows.
  table_.reserve(std::min<std::size_t>(
      layout_->max_table_length,
      std::size_t{end_offset() / fmt::kPageLength + 1} * fmt::kEntriesPerPage));
  const bool unclean = open_flag() != 0;
  std::unordered_set<std::uint32_t> page_offsets;
  std::uint8_t data[fmt::kPageDataSize];
  std::uint32_t offset = fmt::kFirstBlockOffset;
  for (std::uint32_t page = 0;; ++page) {
    if (page >= layout_->max_pages || !IsValidOffset(offset) ||
        !BlockFits(offset, fmt::kPageLength)) {
      MarkDamaged();
      return false;
    }
    if (!page_offsets.insert(offset).second) {  // the chain comes back: it loops
      MarkDamaged();
      return false;
    }
    BlockHeader h;
    if (!ReadBlockHeader(offset, &h) ||
        !ReadExactly(*file_, offset + fmt::kBlockHeaderSize, data, sizeof data).ok()) {
      MarkDamaged();
      return false;
    }
    if (h.id != fmt::PageRecordId(page) || h.kind != fmt::kKindTablePage ||
        h.length != fmt::kPageLength) {
      MarkDamaged();
      return false;
    }
    for (std::uint32_t i = 0; i < fmt::kEntriesPerPage; ++i) table_.push_back(GetU32(data + 4 * i));
    if (page == 0 && table_[fmt::kPage0Id] != fmt::kFirstBlockOffset) {
      MarkDamaged();
      return false;
    }
    std::uint32_t next =
        page == 0 ? table_[fmt::kPage1Id] : table_[fmt::kEntriesPerPage * page];
    if (next == 0) break;
    offset = next;
  }

  next_id_hint_ = static_cast<RecordId>(table_.size());
  for (std::uint32_t id = fmt::kFirstFreshId; id < table_.size(); ++id) {
    if (table_[id] == 0) {
      next_id_hint_ = id;
      break;
    }
  }
  if (unclean) return CheckConsistency();
  return true;
}

// Every block must be well formed and its id must point back at it; every
// id that no block carries must have no entry.
bool IndexStore::CheckConsistency() {
  std::vector<std::uint8_t> seen(table_.size(), 0);
  const std::uint32_t end = end_offset();
  bool damage = false;
  window_mode_ = true;  // the walk reads block headers in file order
  window_offset_ = window_position_ = window_count_ = 0;
  std::uint32_t offset = fmt::kFirstBlockOffset;
  while (offset < end) {
    BlockHeader h;
    if (!ReadBlockHeader(offset, &h) || !BlockFits(offset, h.length)) {
      damage = true;
      break;
    }
    if (h.id != 0) {
      bool bad = false;
      if (h.id >= table_.size() || ValidEntry(h.id, &bad) != offset || seen[h.id]) {
        damage = true;
        break;
      }
      seen[h.id] = 1;
    }
    offset += Round8(h.length);
  }
  window_mode_ = false;
  for (std::uint32_t id = 1; !damage && id < table_.size(); ++id) {
    if (seen[id] || table_[id] == 0) continue;
    if (IsValidOffset(table_[id])) {
      damage = true;
    } else {
      MarkDamaged();
    }
  }
  if (damage) MarkDamaged();
  return !damage;
}

void IndexStore::SetEntry(RecordId id, std::uint32_t value) {
  table_[id] = value;
  const std::size_t page = id / fmt::kEntriesPerPage;
  if (dirty_pages_.size() <= page) dirty_pages_.resize(page + 1, 0);
  dirty_pages_[page] = 1;
  table_dirty_ = true;
}

// Writes the pages whose entries changed since the last write, and places
// new pages at the end of the file, linked from the page before.
bool IndexStore::WriteTable() {
  const std::uint32_t pages = static_cast<std::uint32_t>(table_.size()) / fmt::kEntriesPerPage;
  std::uint8_t data[fmt::kPageDataSize];
  for (std::uint32_t k = 0; k < pages; ++k) {
    const std::uint32_t page_id = fmt::PageRecordId(k);
    std::uint32_t place = table_[page_id];
    if (place != 0 && (k >= dirty_pages_.size() || !dirty_pages_[k])) continue;
    if (place != 0) {
      BlockHeader h;
      if (!IsValidOffset(place) || !ReadBlockHeader(place, &h) || h.id != page_id ||
          h.kind != fmt::kKindTablePage || h.length != fmt::kPageLength) {
        MarkDamaged();
        return false;
      }
    } else {
      place = end_offset();
      if (std::uint64_t{place} + fmt::kPageLength > fmt::kMaxEndOffset) {
        MarkDamaged();
        return false;
      }
      table_[page_id] = place;
      set_end_offset(place + fmt::kPageLength);
      if (k > 0) {
        std::uint32_t link_at = k == 1 ? table_[fmt::kPage0Id] + 8 + 4 * fmt::kPage1Id
                                       : table_[fmt::PageRecordId(k - 1)] + 8;
        std::uint8_t link[4];
        PutU32(link, place);
        if (!WriteBytes(link_at, link, sizeof link)) return false;
      }
      if (!WriteBlockHeader(place, {fmt::kPageLength, page_id, fmt::kKindTablePage})) {
        return false;
      }
      set_live_bytes(live_bytes() + static_cast<std::int32_t>(fmt::kPageLength));
    }
    for (std::uint32_t i = 0; i < fmt::kEntriesPerPage; ++i) {
      PutU32(data + 4 * i, table_[k * fmt::kEntriesPerPage + i]);
    }
    if (!WriteBytes(place + fmt::kBlockHeaderSize, data, sizeof data)) return false;
  }
  dirty_pages_.clear();
  table_dirty_ = false;
  return true;
}

// ---- Records ------------------------------------------------------------------------

void IndexStore::UseReadWindow() {
  if (window_mode_) return;
  window_mode_ = true;
  window_offset_ = window_position_ = window_count_ = 0;
}

bool IndexStore::ReadRecord(RecordId id, std::vector<std::uint8_t>* buffer) {
  if (!IsOpen() || id == 0) return false;
  bool bad = false;
  std::uint32_t place = ValidEntry(id, &bad);
  BlockHeader h;
  if (place == 0 || !ReadBlockHeader(place, &h) || h.id != id || h.kind == fmt::kKindFree ||
      !BlockFits(place, h.length)) {
    MarkDamaged();
    return false;
  }
  buffer->resize(h.length);
  fmt::EncodeBlockHeader(buffer->data(), h, *layout_);
  if (!ReadBytes(place + fmt::kBlockHeaderSize, buffer->data() + fmt::kBlockHeaderSize,
                 h.length - fmt::kBlockHeaderSize)) {
    MarkDamaged();
    return false;
  }
  return true;
}

void IndexStore::NoteChange(RecordId id) {
  ++changes_;
  if (change_log_full_) return;
  if (change_log_.size() >= kMaxChangeLog) {
    change_log_full_ = true;
    change_log_.clear();
    return;
  }
  change_log_.push_back(id);
}

bool IndexStore::ChangedSince(std::uint64_t since, std::vector<RecordId>* ids) const {
  ids->clear();
  if (since > changes_) return false;
  if (since == changes_) return true;
  if (change_log_full_ || since < change_log_base_) return false;
  ids->assign(change_log_.begin() + static_cast<std::ptrdiff_t>(since - change_log_base_),
              change_log_.end());
  return true;
}

void IndexStore::ForgetChanges() {
  change_log_.clear();
  change_log_full_ = false;
  change_log_base_ = changes_;
}

bool IndexStore::WriteRecord(const std::uint8_t* data, std::size_t size) {
  if (!IsOpen() || size < fmt::kBlockHeaderSize) {
    NoteChange(0);
    return false;
  }
  const BlockHeader in = fmt::DecodeBlockHeader(data, *layout_);
  NoteChange(in.id);
  if (in.length < fmt::kBlockHeaderSize || in.length > size || in.length > fmt::kMaxRecordLength ||
      in.id == 0 || in.kind == fmt::kKindFree || in.kind == fmt::kKindTablePage ||
      in.id == fmt::kPage0Id || in.id == fmt::kPage1Id || in.id % fmt::kEntriesPerPage == 0) {
    return false;
  }
  if (in.id >= table_.size()) {
    MarkDamaged();
    return false;
  }
  const std::uint32_t id = in.id;
  const std::uint32_t new_size = Round8(in.length);
  std::uint32_t end = end_offset();

  bool bad = false;
  std::uint32_t place = ValidEntry(in.id, &bad);
  if (bad) MarkDamaged();
  std::uint32_t old_size = 0;
  if (place != 0) {
    BlockHeader old;
    if (!ReadBlockHeader(place, &old)) {
      MarkDamaged();
      return false;
    }
    if (old.id != id || !BlockFits(place, old.length)) {
      // The entry points at a block that is not this record: leave that
      // block alone and give the record a new place.
      MarkDamaged();
      place = 0;
    } else {
      old_size = Round8(old.length);
    }
  }

  std::uint32_t room = 0;
  if (place == 0) {
    room = 0;
  } else if (new_size == old_size) {
    room = old_size;
  } else if (place + old_size == end) {
    room = new_size;
    set_end_offset(place + new_size);
  } else if (new_size < old_size) {
    room = old_size;
  } else {
    std::uint32_t sum = old_size;
    std::uint32_t pos = place + old_size;
    while (pos < end && sum < new_size) {
      BlockHeader next;
      if (!ReadBlockHeader(pos, &next) || next.id != 0) break;
      if (!BlockFits(pos, next.length)) {
        MarkDamaged();
        break;
      }
      sum += Round8(next.length);
      pos += Round8(next.length);
    }
    room = sum >= new_size ? sum : 0;
  }

  if (room == 0) {
    if (std::uint64_t{end} + new_size > fmt::kMaxEndOffset) return false;  // the file cannot grow
    if (place != 0 &&
        !WriteBlockHeader(place, {old_size, 0, fmt::kKindFree})) {
      return false;
    }
    place = end;
    room = new_size;
    set_end_offset(end + new_size);
    SetEntry(id, place);
  }

  if (size >= new_size) {
    if (!WriteBytes(place, data, new_size)) return false;
  } else {
    static constexpr std::uint8_t kZeros[8] = {};
    if (!WriteBytes(place, data, in.length) ||
        !WriteBytes(place + in.length, kZeros, new_size - in.length)) {
      return false;
    }
  }
  if (room > new_size &&
      !WriteBlockHeader(place + new_size, {room - new_size, 0, fmt::kKindFree})) {
    return false;
  }
  set_live_bytes(live_bytes() + static_cast<std::int32_t>(new_size) -
                 static_cast<std::int32_t>(old_size));
  return true;
}

bool IndexStore::PatchRecord(RecordId id, std::uint32_t offset, const void* bytes,
                             std::uint32_t count) {
  NoteChange(id);
  if (!IsOpen() || id == 0) return false;
  bool bad = false;
  std::uint32_t place = ValidEntry(id, &bad);
  if (bad) MarkDamaged();
  if (place == 0) return false;
  if (std::uint64_t{place} + offset + count > end_offset()) return false;
  return WriteBytes(place + offset, bytes, count);
}

bool IndexStore::DeleteRecord(RecordId id) {
  NoteChange(id);
  if (!IsOpen() || id == 0) return false;
  bool bad = false;
  std::uint32_t place = ValidEntry(id, &bad);
  if (bad) MarkDamaged();
  if (place == 0) return false;
  BlockHeader h;
  if (!ReadBlockHeader(place, &h) || h.id != id || !BlockFits(place, h.length)) {
    MarkDamaged();
    return false;
  }
  if (!WriteBlockHeader(place, {h.length, 0, fmt::kKindFree})) return false;
  SetEntry(id, 0);
  if (id < next_id_hint_) next_id_hint_ = id;
  set_live_bytes(live_bytes() - static_cast<std::int32_t>(Round8(h.length)));
  return true;
}

RecordId IndexStore::AllocateId() {
  if (!IsOpen()) return 0;
  // A narrow file hands out ids below the injected limit only (its table
  // length unless a test moves the point where the index must widen).
  const std::uint32_t limit =
      wide() ? layout_->max_table_length
             : std::min(layout_->max_table_length, options_.narrow_id_limit);
  RecordId id = std::max<RecordId>(next_id_hint_, fmt::kFirstFreshId);
  for (;;) {
    // Reaching the limit means every id is taken. That is a full index, not
    // a damaged one: the caller stops creating records (or moves to the
    // wide variant) and the file stays sound.
    if (id >= limit) {
      next_id_hint_ = limit;
      return 0;
    }
    if (id % fmt::kEntriesPerPage == 0) {
      ++id;
      continue;
    }
    if (id >= table_.size() && !ExtendTable(id)) return 0;
    if (table_[id] == 0) {
      next_id_hint_ = id + 1;
      return id;
    }
    ++id;
  }
}

bool IndexStore::ExtendTable(RecordId id) {
  if (!IsOpen() || id >= layout_->max_table_length) return false;
  if (id < table_.size()) return true;
  const std::size_t pages = id / fmt::kEntriesPerPage + 1;
  table_.resize(pages * fmt::kEntriesPerPage, 0);
  table_dirty_ = true;
  return true;
}

// ---- Sequential scan ------------------------------------------------------------------

void IndexStore::BeginScan() {
  window_mode_ = true;
  scan_cursor_ = 0;
  window_offset_ = window_position_ = window_count_ = 0;
}

bool IndexStore::NextRecord(std::vector<std::uint8_t>* buffer) {
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  if (!NextRecordInPlace(&data, &length)) return false;
  buffer->assign(data, data + length);
  return true;
}

const std::uint8_t* IndexStore::ScanBytes(std::uint32_t offset, std::uint32_t count) {
  constexpr std::uint32_t kScanPieceSize = 64 * 1024;
  if (offset >= scan_piece_offset_ &&
      std::uint64_t{offset} + count <= std::uint64_t{scan_piece_offset_} + scan_piece_count_) {
    return scan_piece_.data() + (offset - scan_piece_offset_);
  }
  const std::uint32_t end = end_offset();
  if (offset >= end || count > end - offset) return nullptr;
  const std::uint32_t want = std::min(std::max(count, kScanPieceSize), end - offset);
  if (scan_piece_.size() < want) scan_piece_.resize(want);
  scan_piece_count_ = 0;
  std::size_t got = 0;
  if (!file_->ReadAt(offset, scan_piece_.data(), want, &got).ok() || got < count) return nullptr;
  scan_piece_offset_ = offset;
  scan_piece_count_ = static_cast<std::uint32_t>(got);
  return scan_piece_.data();
}

bool IndexStore::NextRecordInPlace(const std::uint8_t** data, std::uint32_t* length) {
  if (!IsOpen()) return false;
  if (scan_cursor_ == 0) {
    scan_cursor_ = fmt::kFirstBlockOffset;
    scan_piece_count_ = 0;
  }
  const std::uint32_t end = end_offset();
  while (scan_cursor_ < end) {
    const std::uint32_t at = scan_cursor_;
    const std::uint8_t* head = ScanBytes(at, fmt::kBlockHeaderSize);
    const BlockHeader h = head ? fmt::DecodeBlockHeader(head, *layout_) : BlockHeader{};
    if (!head || !BlockFits(at, h.length)) {
      // Nothing after a broken block can be trusted: end the scan here.
      MarkDamaged();
      scan_cursor_ = end;
      break;
    }
    if (h.id != 0) {
      bool bad = false;
      if (ValidEntry(h.id, &bad) == 0) MarkDamaged();
    }
    scan_cursor_ = at + Round8(h.length);
    if (h.id == 0 || h.kind < fmt::kKindDriveRecord) continue;
    const std::uint8_t* block = ScanBytes(at, h.length);
    if (!block) {
      MarkDamaged();
      scan_cursor_ = end;
      break;
    }
    *data = block;
    *length = h.length;
    return true;
  }
  window_mode_ = false;
  std::vector<std::uint8_t>().swap(scan_piece_);
  scan_piece_count_ = 0;
  return false;
}

// ---- Compaction -------------------------------------------------------------------------

int IndexStore::Compact(int (*stop_test)(void*), void* argument) {
  if (stop_test == nullptr) return Compact(std::function<int()>());
  return Compact([stop_test, argument] { return stop_test(argument); });
}

int IndexStore::Compact(const std::function<int()>& stop_test) {
  if (!IsOpen()) return 0;
  const std::uint32_t end = end_offset();
  if (end < fmt::kCompactMinEndOffset ||
      std::int64_t{live_bytes()} * 100 / end >= fmt::kCompactLivePercent) {
    return 0;
  }
  std::uint32_t start = fmt::kFirstBlockOffset;
  bool full_pass = true;
  if (compaction_resume_id_ != 0) {
    bool bad = false;
    std::uint32_t entry = ValidEntry(compaction_resume_id_, &bad);
    if (bad) MarkDamaged();
    if (entry != 0) {
      start = entry;
      full_pass = false;
    }
  }
  window_mode_ = false;
  std::uint32_t read = start;
  std::uint32_t write = start;
  std::int64_t live = fmt::kHeaderSize;
  int result = 0;
  bool early = false;
  std::vector<std::uint8_t> block;
  while (read < end) {
    if (stop_test) {
      result = stop_test();
      if (result != 0) {
        early = true;
        break;
      }
    }
    BlockHeader h;
    if (!ReadBlockHeader(read, &h) || !BlockFits(read, h.length)) {
      MarkDamaged();
      early = true;
      break;
    }
    const std::uint32_t span = Round8(h.length);
    if (h.id != 0) {
      bool bad = false;
      if (ValidEntry(h.id, &bad) == 0) MarkDamaged();
      live += span;
      if (read != write) {
        block.resize(h.length);
        if (!ReadExactly(*file_, read, block.data(), h.length).ok() ||
            !WriteBytes(write, block.data(), h.length)) {
          early = true;
          break;
        }
        if (h.id < table_.size()) SetEntry(h.id, write);
      }
      write += span;
      compaction_resume_id_ = h.id;
    }
    read += span;
  }
  if (!early) {
    compaction_resume_id_ = 0;
    set_end_offset(write);
    if (full_pass) set_live_bytes(static_cast<std::int32_t>(live));
  } else if (read != write) {
    WriteBlockHeader(write, {read - write, 0, fmt::kKindFree});
  }
  Flush();
  return result;
}

}  // namespace quindelo
