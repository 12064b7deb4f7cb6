// Drive and folder records: see index_records.h.
#include "index/index_records.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace quindelo {

namespace fmt = index_format;
using fmt::GetU16;
using fmt::GetU32;
using fmt::PutU16;
using fmt::PutU32;

namespace {

std::uint32_t Now() { return static_cast<std::uint32_t>(std::time(nullptr)); }

inline unsigned char Fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

}  // namespace

// ---- Name order ---------------------------------------------------------------------

int CompareNamesFolded(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = Fold(static_cast<unsigned char>(a[i]));
    unsigned char y = Fold(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CompareNames(std::string_view a, std::string_view b) {
  int folded = CompareNamesFolded(a, b);
  if (folded != 0) return folded;
  // Equal when folded means equal lengths: compare the raw bytes.
  int raw = a.empty() ? 0 : std::memcmp(a.data(), b.data(), a.size());
  return raw < 0 ? -1 : raw > 0 ? 1 : 0;
}

// ---- DriveRecord ------------------------------------------------------------------------

std::vector<std::uint8_t> DriveRecord::Encode() const {
  std::vector<std::uint8_t> out(fmt::kDriveRecordLength, 0);
  fmt::EncodeBlockHeader(out.data(),
                         {fmt::kDriveRecordLength, fmt::kDriveRecordId, fmt::kKindDriveRecord});
  PutU32(out.data() + fmt::kDriveCreatedOffset, created);
  PutU32(out.data() + fmt::kDriveLastRefreshOffset, last_refresh);
  PutU32(out.data() + fmt::kDriveLastSavedOffset, last_saved);
  PutU16(out.data() + fmt::kDriveRootFolderOffset, root_folder_id);
  std::memcpy(out.data() + fmt::kDriveDescriptionOffset, description.bytes.data(),
              fmt::kDriveDescriptionSize);
  PutU32(out.data() + fmt::kDriveRootIdOffset, root_id);
  return out;
}

bool DriveRecord::Decode(const std::uint8_t* data, std::size_t size, DriveRecord* out) {
  if (size < fmt::kDriveRecordLength) return false;
  fmt::BlockHeader h = fmt::DecodeBlockHeader(data);
  if (h.length != fmt::kDriveRecordLength || h.id != fmt::kDriveRecordId ||
      h.kind != fmt::kKindDriveRecord) {
    return false;
  }
  out->created = GetU32(data + fmt::kDriveCreatedOffset);
  out->last_refresh = GetU32(data + fmt::kDriveLastRefreshOffset);
  out->last_saved = GetU32(data + fmt::kDriveLastSavedOffset);
  out->root_folder_id = GetU16(data + fmt::kDriveRootFolderOffset);
  std::memcpy(out->description.bytes.data(), data + fmt::kDriveDescriptionOffset,
              fmt::kDriveDescriptionSize);
  out->root_id = GetU32(data + fmt::kDriveRootIdOffset);
  return true;
}

// ---- FolderRecord parsing ---------------------------------------------------------------

bool FolderRecordView::Parse(const std::uint8_t* data, std::size_t size) {
  if (size < fmt::kFolderFixedLength) return false;
  fmt::BlockHeader h = fmt::DecodeBlockHeader(data);
  if (h.kind != fmt::kKindFolderRecord || h.length > size ||
      h.length < fmt::kFolderFixedLength) {
    return false;
  }
  const std::uint32_t n = data[fmt::kFolderNameLengthOffset];
  if (h.length < fmt::kFolderFixedLength + n) return false;
  data_ = data;
  length_ = h.length;
  id_ = h.id;
  stamp_ = GetU32(data + fmt::kFolderStampOffset);
  parent_id_ = GetU16(data + fmt::kFolderParentOffset);
  name_ = std::string_view(reinterpret_cast<const char*>(data + fmt::kFolderNameOffset), n);
  entries_offset_ = fmt::kFolderNameOffset + n;
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
    // 0xFF, child id (2), length (1), name.
    if (std::uint64_t{pos_} + 4 > limit_) return fail();
    const std::uint32_t m = data_[pos_ + 3];
    if (m == 0 || std::uint64_t{pos_} + 4 + m > limit_) return fail();
    entry->is_folder = true;
    entry->child_id = GetU16(data_ + pos_ + 1);
    entry->name = std::string_view(reinterpret_cast<const char*>(data_ + pos_ + 4), m);
    entry->position = pos_;
    entry->size = 4 + m;
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

bool FolderRecordBuilder::Begin(std::uint16_t id, std::uint32_t stamp, std::uint16_t parent_id,
                                std::string_view name) {
  buffer_.clear();
  if (name.size() > fmt::kMaxFolderNameLength) return false;
  buffer_.resize(fmt::kFolderNameOffset + name.size(), 0);
  fmt::EncodeBlockHeader(buffer_.data(), {0, id, fmt::kKindFolderRecord});
  PutU32(buffer_.data() + fmt::kFolderStampOffset, stamp);
  PutU16(buffer_.data() + fmt::kFolderParentOffset, parent_id);
  buffer_[fmt::kFolderNameLengthOffset] = static_cast<std::uint8_t>(name.size());
  if (!name.empty()) std::memcpy(buffer_.data() + fmt::kFolderNameOffset, name.data(), name.size());
  return true;
}

std::uint32_t FolderRecordBuilder::AddFile(std::string_view name) {
  if (buffer_.empty() || name.empty() || name.size() > fmt::kMaxFileNameLength) return 0;
  const std::uint32_t position = static_cast<std::uint32_t>(buffer_.size());
  buffer_.push_back(static_cast<std::uint8_t>(name.size()));
  buffer_.insert(buffer_.end(), name.begin(), name.end());
  return position;
}

std::uint32_t FolderRecordBuilder::AddFolder(std::string_view name, std::uint16_t child_id) {
  if (buffer_.empty() || name.empty() || name.size() > fmt::kMaxFolderNameLength) return 0;
  const std::uint32_t position = static_cast<std::uint32_t>(buffer_.size());
  buffer_.push_back(fmt::kFolderEntryMarker);
  buffer_.push_back(static_cast<std::uint8_t>(child_id));
  buffer_.push_back(static_cast<std::uint8_t>(child_id >> 8));
  buffer_.push_back(static_cast<std::uint8_t>(name.size()));
  buffer_.insert(buffer_.end(), name.begin(), name.end());
  return position;
}

const std::vector<std::uint8_t>& FolderRecordBuilder::Finish() {
  if (buffer_.empty()) return buffer_;
  buffer_.push_back(fmt::kEntryListEnd);
  if (buffer_.size() > 0xFFFFFFF0u) {
    buffer_.clear();
    return buffer_;
  }
  const std::uint32_t length = static_cast<std::uint32_t>(buffer_.size());
  PutU32(buffer_.data() + fmt::kBlockLengthOffset, length);
  buffer_.resize(fmt::Round8(length), 0);
  return buffer_;
}

std::vector<std::uint8_t> EncodeEmptyFolderRecord(std::uint16_t id, std::uint16_t parent_id,
                                                  std::string_view name) {
  FolderRecordBuilder builder;
  if (!builder.Begin(id, 0, parent_id, name)) return {};
  return builder.Finish();
}

// ---- Operations -------------------------------------------------------------------------------

bool ReadDriveRecord(IndexStore& store, DriveRecord* record) {
  std::vector<std::uint8_t> buffer;
  if (!store.ReadRecord(fmt::kDriveRecordId, &buffer)) return false;
  return DriveRecord::Decode(buffer.data(), buffer.size(), record);
}

bool SaveDriveRecord(IndexStore& store, std::uint32_t last_refresh,
                     std::uint16_t root_folder_id) {
  std::vector<std::uint8_t> buffer;
  if (!store.ReadRecord(fmt::kDriveRecordId, &buffer) ||
      buffer.size() != fmt::kDriveRecordLength) {
    return false;
  }
  PutU32(buffer.data() + fmt::kDriveLastRefreshOffset, last_refresh);
  PutU16(buffer.data() + fmt::kDriveRootFolderOffset, root_folder_id);
  PutU32(buffer.data() + fmt::kDriveLastSavedOffset, Now());
  bool written = store.WriteRecord(buffer);
  bool flushed = store.Flush();
  return written && flushed;
}

bool CreateDriveRecord(IndexStore& store, const DriveDescription& description,
                       std::uint32_t root_id) {
  DriveRecord record;
  record.created = Now();
  record.description = description;
  record.root_id = root_id;
  return store.WriteRecord(record.Encode());
}

bool ReadFolderRecord(IndexStore& store, std::uint16_t id, std::vector<std::uint8_t>* buffer,
                      FolderRecordView* view) {
  if (!store.ReadRecord(id, buffer)) return false;
  if (!view->Parse(*buffer)) {
    store.MarkDamaged();
    return false;
  }
  return true;
}

std::uint16_t CreateFolderRecord(IndexStore& store, std::uint16_t parent_id,
                                 std::string_view name) {
  if (name.size() > fmt::kMaxFolderNameLength) return 0;
  const std::uint16_t id = store.AllocateId();
  if (id == 0) return 0;  // every id is taken: write nothing, keep the store sound
  if (!store.WriteRecord(EncodeEmptyFolderRecord(id, parent_id, name))) return 0;
  return id;
}

namespace {

// check_top: the record id must name top_parent and top_name.
bool DeleteSubtree(IndexStore& store, std::uint16_t id, bool check_top, std::uint16_t top_parent,
                   std::string_view top_name) {
  struct Frame {
    std::uint16_t id;
    std::vector<std::pair<std::uint16_t, std::string>> children;  // id and entry name
    std::size_t next = 0;
  };
  std::vector<std::uint8_t> buffer;
  FolderRecordView view;
  // Reads a record's child ids; false when it cannot be read or its list
  // is malformed (then nothing below it is known).
  auto load = [&](std::uint16_t record_id, bool check, std::uint16_t expected_parent,
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

  std::vector<std::uint8_t> visited(fmt::kMaxTableLength, 0);
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
      const std::uint16_t parent = top.id;
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

bool DeleteFolderSubtree(IndexStore& store, std::uint16_t id) {
  return DeleteSubtree(store, id, false, 0, {});
}

bool DeleteFolderSubtree(IndexStore& store, std::uint16_t id, std::uint16_t parent_id,
                         std::string_view name) {
  return DeleteSubtree(store, id, true, parent_id, name);
}

bool BuildFolderPath(IndexStore& store, std::uint16_t id, NameCache* cache, StringPool* pool,
                     std::string* path) {
  std::vector<const char*> names;  // from the folder itself up to below the root
  std::vector<std::uint8_t> buffer;
  FolderRecordView view;
  std::size_t steps = 0;
  while (id != 0) {
    if (++steps > fmt::kMaxTableLength) {
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

bool SetChildId(IndexStore& store, std::uint16_t folder_id, std::uint32_t entry_position,
                std::uint16_t child_id) {
  std::uint8_t bytes[2];
  PutU16(bytes, child_id);
  return store.PatchRecord(folder_id, entry_position + 1, bytes, sizeof bytes);
}

}  // namespace quindelo
