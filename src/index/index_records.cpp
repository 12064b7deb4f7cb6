// Drive and folder records: see index_records.h.
#include "index/index_records.h"

#include <cstring>
#include <ctime>

#include "base/ascii.h"
#include "platform/file.h"

namespace quindelo {

namespace fmt = index_format;
using fmt::GetU16;
using fmt::GetU32;
using fmt::PutU16;
using fmt::PutU32;
using fmt::RecordId;

namespace {

std::uint32_t Now() { return static_cast<std::uint32_t>(std::time(nullptr)); }

}  // namespace

// ---- Name order ---------------------------------------------------------------------

int CompareNamesFolded(std::string_view a, std::string_view b) {
  return ascii::CompareNoCase(a, b);
}

int CompareNames(std::string_view a, std::string_view b) {
  int folded = CompareNamesFolded(a, b);
  if (folded != 0) return folded;
  // Equal when folded means equal lengths: compare the raw bytes.
  int raw = a.empty() ? 0 : std::memcmp(a.data(), b.data(), a.size());
  return raw < 0 ? -1 : raw > 0 ? 1 : 0;
}

// ---- DriveRecord ------------------------------------------------------------------------

std::vector<std::uint8_t> DriveRecord::Encode(const fmt::Layout& layout) const {
  std::vector<std::uint8_t> out(fmt::kDriveRecordLength, 0);
  fmt::EncodeBlockHeader(out.data(),
                         {fmt::kDriveRecordLength, fmt::kDriveRecordId, fmt::kKindDriveRecord},
                         layout);
  PutU32(out.data() + fmt::kDriveCreatedOffset, created);
  PutU32(out.data() + fmt::kDriveLastRefreshOffset, last_refresh);
  PutU32(out.data() + fmt::kDriveLastSavedOffset, last_saved);
  if (layout.wide)
    PutU32(out.data() + fmt::kDriveRootFolderOffset, root_folder_id);
  else
    PutU16(out.data() + fmt::kDriveRootFolderOffset, static_cast<std::uint16_t>(root_folder_id));
  std::memcpy(out.data() + fmt::kDriveDescriptionOffset, description.bytes.data(),
              fmt::kDriveDescriptionSize);
  PutU32(out.data() + fmt::kDriveRootIdOffset, root_id);
  return out;
}

bool DriveRecord::Decode(const std::uint8_t* data, std::size_t size, DriveRecord* out,
                         const fmt::Layout& layout) {
  if (size < fmt::kDriveRecordLength) return false;
  fmt::BlockHeader h = fmt::DecodeBlockHeader(data, layout);
  if (h.length != fmt::kDriveRecordLength || h.id != fmt::kDriveRecordId ||
      h.kind != fmt::kKindDriveRecord) {
    return false;
  }
  out->created = GetU32(data + fmt::kDriveCreatedOffset);
  out->last_refresh = GetU32(data + fmt::kDriveLastRefreshOffset);
  out->last_saved = GetU32(data + fmt::kDriveLastSavedOffset);
  out->root_folder_id = layout.wide ? GetU32(data + fmt::kDriveRootFolderOffset)
                                    : GetU16(data + fmt::kDriveRootFolderOffset);
  std::memcpy(out->description.bytes.data(), data + fmt::kDriveDescriptionOffset,
              fmt::kDriveDescriptionSize);
  out->root_id = GetU32(data + fmt::kDriveRootIdOffset);
  return true;
}

// ---- FolderRecord parsing ---------------------------------------------------------------

bool FolderRecordView::Parse(const std::uint8_t* data, std::size_t size) {
  const fmt::Layout& l = *layout_;
  if (size < l.folder_fixed_length) return false;
  fmt::BlockHeader h = fmt::DecodeBlockHeader(data, l);
  if (h.kind != fmt::kKindFolderRecord || h.length > size || h.length < l.folder_fixed_length) {
    return false;
  }
  const std::uint32_t n = data[l.folder_name_length_offset];
  if (h.length < l.folder_fixed_length + n) return false;
  data_ = data;
  length_ = h.length;
  id_ = h.id;
  stamp_ = GetU32(data + fmt::kFolderStampOffset);
  parent_id_ = fmt::GetId(data + l.folder_parent_offset, l);
  name_ = std::string_view(reinterpret_cast<const char*>(data + l.folder_name_offset), n);
  entries_offset_ = l.folder_name_offset + n;
  return true;
}

bool EntryIterator::Next(FolderEntry* entry) {
  if (done_) return false;
  auto fail = [this] {
    done_ = true;
    damaged_ = true;
    return false;
  };
  if (pos_ >= limit_) return fail();  // no terminator inside the record
  const std::uint8_t first = data_[pos_];
  if (first == fmt::kEntryListEnd) {
    done_ = true;
    return false;
  }
  if (first == fmt::kFolderEntryMarker) {
    // 0xFF, child id (2 or 3), length (1), name.
    const std::uint32_t head = 2 + id_bytes_;
    if (std::uint64_t{pos_} + head > limit_) return fail();
    const std::uint32_t m = data_[pos_ + head - 1];
    if (m == 0 || std::uint64_t{pos_} + head + m > limit_) return fail();
    entry->is_folder = true;
    entry->child_id = GetU16(data_ + pos_ + 1);
    if (id_bytes_ == 3) entry->child_id |= RecordId{data_[pos_ + 3]} << 16;
    entry->name = std::string_view(reinterpret_cast<const char*>(data_ + pos_ + head), m);
    entry->position = pos_;
    entry->size = head + m;
  } else {
    const std::uint32_t m = first;
    if (std::uint64_t{pos_} + 1 + m > limit_) return fail();
    entry->is_folder = false;
    entry->child_id = 0;
    entry->name = std::string_view(reinterpret_cast<const char*>(data_ + pos_ + 1), m);
    entry->position = pos_;
    entry->size = 1 + m;
  }
  pos_ += entry->size;
  return true;
}

bool EntryListIsSound(const FolderRecordView& record) {
  EntryIterator it(record);
  FolderEntry entry;
  std::string_view last;
  bool first = true;
  while (it.Next(&entry)) {
    if (!first && CompareNames(last, entry.name) >= 0) return false;
    last = entry.name;
    first = false;
  }
  return !it.damaged();
}

// ---- FolderRecord building ----------------------------------------------------------------

bool FolderRecordBuilder::Begin(RecordId id, std::uint32_t stamp, RecordId parent_id,
                                std::string_view name) {
  const fmt::Layout& l = *layout_;
  buffer_.clear();
  if (name.size() > fmt::kMaxFolderNameLength) return false;
  buffer_.resize(l.folder_name_offset + name.size(), 0);
  fmt::EncodeBlockHeader(buffer_.data(), {0, id, fmt::kKindFolderRecord}, l);
  PutU32(buffer_.data() + fmt::kFolderStampOffset, stamp);
  fmt::PutId(buffer_.data() + l.folder_parent_offset, parent_id, l);
  buffer_[l.folder_name_length_offset] = static_cast<std::uint8_t>(name.size());
  if (!name.empty()) std::memcpy(buffer_.data() + l.folder_name_offset, name.data(), name.size());
  return true;
}

std::uint32_t FolderRecordBuilder::AddFile(std::string_view name) {
  if (buffer_.empty() || name.empty() || name.size() > fmt::kMaxFileNameLength) return 0;
  const std::uint32_t position = static_cast<std::uint32_t>(buffer_.size());
  buffer_.push_back(static_cast<std::uint8_t>(name.size()));
  buffer_.insert(buffer_.end(), name.begin(), name.end());
  return position;
}

std::uint32_t FolderRecordBuilder::AddFolder(std::string_view name, RecordId child_id) {
  if (buffer_.empty() || name.empty() || name.size() > fmt::kMaxFolderNameLength) return 0;
  const std::uint32_t position = static_cast<std::uint32_t>(buffer_.size());
  buffer_.push_back(fmt::kFolderEntryMarker);
  buffer_.push_back(static_cast<std::uint8_t>(child_id));
  buffer_.push_back(static_cast<std::uint8_t>(child_id >> 8));
  if (layout_->id_bytes == 3) buffer_.push_back(static_cast<std::uint8_t>(child_id >> 16));
  buffer_.push_back(static_cast<std::uint8_t>(name.size()));
  buffer_.insert(buffer_.end(), name.begin(), name.end());
  return position;
}

const std::vector<std::uint8_t>& FolderRecordBuilder::Finish() {
  if (buffer_.empty()) return buffer_;
  buffer_.push_back(fmt::kEntryListEnd);
  if (buffer_.size() > fmt::kMaxRecordLength) {
    buffer_.clear();
    return buffer_;
  }
  const std::uint32_t length = static_cast<std::uint32_t>(buffer_.size());
  PutU32(buffer_.data() + fmt::kBlockLengthOffset, length);
  buffer_.resize(fmt::Round8(length), 0);
  return buffer_;
}

std::vector<std::uint8_t> EncodeEmptyFolderRecord(RecordId id, RecordId parent_id,
                                                  std::string_view name,
                                                  const fmt::Layout& layout) {
  FolderRecordBuilder builder(layout);
  if (!builder.Begin(id, 0, parent_id, name)) return {};
  return builder.Finish();
}

// ---- Operations -------------------------------------------------------------------------------

bool ReadDriveRecord(IndexStore& store, DriveRecord* record) {
  std::vector<std::uint8_t> buffer;
  if (!store.ReadRecord(fmt::kDriveRecordId, &buffer)) return false;
  return DriveRecord::Decode(buffer.data(), buffer.size(), record, store.layout());
}

bool SaveDriveRecord(IndexStore& store, std::uint32_t last_refresh,
                     RecordId root_folder_id) {
  std::vector<std::uint8_t> buffer;
  if (!store.ReadRecord(fmt::kDriveRecordId, &buffer) ||
      buffer.size() != fmt::kDriveRecordLength) {
    return false;
  }
  PutU32(buffer.data() + fmt::kDriveLastRefreshOffset, last_refresh);
  if (store.wide())
    PutU32(buffer.data() + fmt::kDriveRootFolderOffset, root_folder_id);
  else
    PutU16(buffer.data() + fmt::kDriveRootFolderOffset, static_cast<std::uint16_t>(root_folder_id));
  PutU32(buffer.data() + fmt::kDriveLastSavedOffset, Now());
  bool written = store.WriteRecord(buffer);
  bool flushed = store.Flush().ok();
  return written && flushed;
}

bool CreateDriveRecord(IndexStore& store, const DriveDescription& description,
                       std::uint32_t root_id) {
  DriveRecord record;
  record.created = Now();
  record.description = description;
  record.root_id = root_id;
  return store.WriteRecord(record.Encode(store.layout()));
}

bool ReadFolderRecord(IndexStore& store, RecordId id, std::vector<std::uint8_t>* buffer,
                      FolderRecordView* view) {
  if (!store.ReadRecord(id, buffer)) return false;
  *view = FolderRecordView(store.layout());
  if (!view->Parse(*buffer)) {
    store.MarkDamaged();
    return false;
  }
  return true;
}

RecordId CreateFolderRecord(IndexStore& store, RecordId parent_id, std::string_view name) {
  if (name.size() > fmt::kMaxFolderNameLength) return 0;
  const RecordId id = store.AllocateId();
  if (id == 0) return 0;  // every id is taken: write nothing, keep the store sound
  if (!store.WriteRecord(EncodeEmptyFolderRecord(id, parent_id, name, store.layout()))) return 0;
  return id;
}

namespace {

// check_top: the record id must name top_parent and top_name.
bool DeleteSubtree(IndexStore& store, RecordId id, bool check_top, RecordId top_parent,
                   std::string_view top_name) {
  struct Frame {
    RecordId id;
    std::vector<std::pair<RecordId, std::string>> children;  // id and entry name
    std::size_t next = 0;
  };
  std::vector<std::uint8_t> buffer;
  FolderRecordView view;
  // Reads a record's child ids; false when it cannot be read or its list
  // is malformed (then nothing below it is known).
  auto load = [&](RecordId record_id, bool check, RecordId expected_parent,
                  std::string_view expected_name, Frame* frame) {
    if (!ReadFolderRecord(store, record_id, &buffer, &view)) return false;
    if (check && (view.parent_id() != expected_parent || view.name() != expected_name)) {
      store.MarkDamaged();
      return false;
    }
    frame->id = record_id;
    EntryIterator it(view);
    FolderEntry entry;
    while (it.Next(&entry)) {
      if (entry.is_folder && entry.child_id != 0)
        frame->children.emplace_back(entry.child_id, std::string(entry.name));
    }
    if (it.damaged()) {
      store.MarkDamaged();
      return false;
    }
    return true;
  };

  std::vector<std::uint8_t> visited(store.table_length(), 0);
  std::vector<Frame> stack(1);
  if (!load(id, check_top, top_parent, top_name, &stack.back())) return false;
  visited[id] = 1;
  bool ok = true;
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next < top.children.size()) {
      const auto& [child, child_name] = top.children[top.next++];
      if (child >= visited.size() || visited[child]) {
        store.MarkDamaged();  // a child listed twice or a link back up the tree
        ok = false;
        continue;
      }
      visited[child] = 1;
      Frame frame;
      const RecordId parent = top.id;
      if (!load(child, true, parent, child_name, &frame)) {
        ok = false;
        continue;
      }
      stack.push_back(std::move(frame));  // invalidates top
      continue;
    }
    if (!store.DeleteRecord(top.id)) ok = false;
    stack.pop_back();
  }
  return ok;
}

}  // namespace

bool DeleteFolderSubtree(IndexStore& store, RecordId id) {
  return DeleteSubtree(store, id, false, 0, {});
}

bool DeleteFolderSubtree(IndexStore& store, RecordId id, RecordId parent_id,
                         std::string_view name) {
  return DeleteSubtree(store, id, true, parent_id, name);
}

bool BuildFolderPath(IndexStore& store, RecordId id, NameCache* cache, StringPool* pool,
                     std::string* path) {
  std::vector<const char*> names;  // from the folder itself up to below the root
  std::vector<std::uint8_t> buffer;
  FolderRecordView view;
  std::size_t steps = 0;
  while (id != 0) {
    if (++steps > store.table_length()) {
      store.MarkDamaged();  // the parent chain loops
      return false;
    }
    NameCache::Slot& slot = cache->slot(id);
    if (slot.name == nullptr) {
      if (!ReadFolderRecord(store, id, &buffer, &view)) return false;
      slot.parent_id = view.parent_id();
      slot.name = pool->Add(view.name());
    }
    if (slot.name[0] == '\0') break;  // the root folder
    names.push_back(slot.name);
    id = slot.parent_id;
  }
  path->clear();
  path->push_back('\\');
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    path->append(*it);
    path->push_back('\\');
  }
  return true;
}

bool SetChildId(IndexStore& store, RecordId folder_id, std::uint32_t entry_position,
                RecordId child_id) {
  std::uint8_t bytes[3];
  fmt::PutId(bytes, child_id, store.layout());
  return store.PatchRecord(folder_id, entry_position + 1, bytes, store.layout().id_bytes);
}

// ---- Moving to the wide variant -----------------------------------------------------

namespace {

// Copies every record of the narrow store into the empty wide one, under the
// same ids, re-encoded where the variants differ.
bool CopyRecordsWide(IndexStore& narrow, IndexStore& wide) {
  std::vector<std::uint8_t> record;
  std::vector<std::uint8_t> copy;
  FolderRecordBuilder builder(fmt::kWide);
  narrow.BeginScan();
  while (narrow.NextRecord(&record)) {
    const fmt::BlockHeader h = fmt::DecodeBlockHeader(record.data(), fmt::kNarrow);
    if (!wide.ExtendTable(h.id)) return false;
    if (h.kind == fmt::kKindDriveRecord) {
      DriveRecord drive;
      if (!DriveRecord::Decode(record.data(), record.size(), &drive, fmt::kNarrow)) {
        narrow.MarkDamaged();
        return false;
      }
      copy = drive.Encode(fmt::kWide);
    } else if (h.kind == fmt::kKindFolderRecord) {
      FolderRecordView view(fmt::kNarrow);
      if (!view.Parse(record) ||
          !builder.Begin(view.id(), view.stamp(), view.parent_id(), view.name())) {
        narrow.MarkDamaged();
        return false;
      }
      EntryIterator it(view);
      FolderEntry entry;
      bool names_fit = true;
      while (names_fit && it.Next(&entry)) names_fit = builder.Add(entry) != 0;
      if (!names_fit || it.damaged()) {
        narrow.MarkDamaged();
        return false;
      }
      copy = builder.Finish();
    } else {
      copy = record;
      fmt::EncodeBlockHeader(copy.data(), h, fmt::kWide);
    }
    if (copy.empty() || !wide.WriteRecord(copy)) return false;
  }
  return !narrow.is_damaged();
}

}  // namespace

bool WidenIndex(IndexStore& store) {
  if (!store.IsOpen() || store.wide()) return false;
  const std::string path = store.path();
  const std::string wide_path = path + ".wide";
  // The copy is made through the same files as the store (a test's
  // failing wrapper sees it too).
  platform::FileSystem& files = *store.options().file_system;
  // What the narrow store wrote since its last commit becomes part of it, so
  // that nothing of it is left to put back over the wide file.
  if (!store.Flush().ok()) return false;
  files.RemoveFile(wide_path);  // a copy left by an attempt that was cut short
  files.RemoveFile(wide_path + ".undo");
  IndexStore wide(store.options());
  bool copied = wide.Open(wide_path, fmt::kWide).ok() && wide.is_new_file();
  copied = copied && CopyRecordsWide(store, wide);
  copied = wide.Close().ok() && copied;
  if (!copied) {
    files.RemoveFile(wide_path);
    return false;
  }
  // The narrow file is closed cleanly first: its undo file is gone before the
  // wide file takes its name.
  store.Close();
  if (!files.ReplaceFileWith(path, wide_path).ok()) {
    files.RemoveFile(wide_path);
    store.Open(path);
    return false;
  }
  return store.Open(path).ok();
}

}  // namespace quindelo
