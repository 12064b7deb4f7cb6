// NameIndex: see name_index.h.
#include "index/name_index.h"

#include <algorithm>
#include <iterator>

#include "base/ascii.h"
#include "base/crc32c.h"
#include "platform/file.h"

namespace quindelo {
namespace {

namespace fmt = name_index_format;
constexpr std::uint32_t kRecordsBetweenStopTests = 256;
using index_format::GetU32;
using index_format::PutU32;
using RecordId = index_format::RecordId;

// A trigram as a number: its three (lowered) bytes, the first lowest.
inline std::uint32_t TrigramAt(const unsigned char* p) {
  return std::uint32_t{ascii::ToLower(p[0])} | std::uint32_t{ascii::ToLower(p[1])} << 8 |
         std::uint32_t{ascii::ToLower(p[2])} << 16;
}

inline void AddTrigramsOf(std::string_view text, std::vector<std::uint32_t>* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i + 3 <= text.size(); ++i) out->push_back(TrigramAt(p + i));
}

inline void SortDistinct(std::vector<std::uint32_t>* v) {
  std::sort(v->begin(), v->end());
  v->erase(std::unique(v->begin(), v->end()), v->end());
}

void PutVarint(std::string* out, std::uint32_t v) {
  while (v >= 0x80) {
    out->push_back(static_cast<char>((v & 0x7F) | 0x80));
    v >>= 7;
  }
  out->push_back(static_cast<char>(v));
}

void PutFixed32(std::string* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}

// Reads bytes [pos_, end_) of a section; every read checks what is left.
class SectionReader {
 public:
  SectionReader(const std::uint8_t* data, std::size_t begin, std::size_t end)
      : data_(data), pos_(begin), end_(end) {}

  bool Varint(std::uint32_t* v) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < fmt::kMaxVarintBytes; ++i) {
      if (pos_ >= end_) return false;
      const std::uint8_t byte = data_[pos_++];
      value |= std::uint64_t{byte & 0x7Fu} << (7 * i);
      if ((byte & 0x80) == 0) {
        // The shortest form only, so that a file reads back as it is written.
        if ((i > 0 && byte == 0) || value > 0xFFFFFFFFu) return false;
        *v = static_cast<std::uint32_t>(value);
        return true;
      }
    }
    return false;
  }
  // count bytes, pointed at in place.
  bool Bytes(std::size_t count, const std::uint8_t** bytes) {
    if (end_ - pos_ < count) return false;
    *bytes = data_ + pos_;
    pos_ += count;
    return true;
  }
  bool Fixed32(std::uint32_t* v) {
    if (end_ - pos_ < 4) return false;
    *v = GetU32(data_ + pos_);
    pos_ += 4;
    return true;
  }
  std::size_t left() const { return end_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t pos_;
  std::size_t end_;
};

std::size_t VarintSize(std::uint32_t v) {
  std::size_t n = 1;
  for (; v >= 0x80; v >>= 7) ++n;
  return n;
}

// A posting list (ascending, not empty) takes the smaller of two forms:
// its id gaps, or a bitmap from its first id (first id, byte count, bytes;
// bit b of byte k stands for first id + 8k + b). A tie goes to the gaps.
bool WrittenAsBitmap(const std::vector<RecordId>& ids) {
  std::size_t gaps = 0;
  RecordId last = 0;
  for (const RecordId id : ids) {
    gaps += VarintSize(id - last);
    last = id;
  }
  const std::uint32_t bytes = (ids.back() - ids.front()) / 8 + 1;
  return VarintSize(ids.front()) + VarintSize(bytes) + bytes < gaps;
}

// A gap-coded ascending sequence: each value is the last plus a gap of at
// least 1, below limit.
inline bool NextAscending(SectionReader* reader, std::uint64_t* last, bool first,
                          std::uint64_t limit, std::uint32_t* value) {
  std::uint32_t gap = 0;
  if (!reader->Varint(&gap) || (!first && gap == 0)) return false;
  const std::uint64_t v = (first ? 0 : *last) + gap;
  if (v >= limit) return false;
  *last = v;
  *value = static_cast<std::uint32_t>(v);
  return true;
}

// The literal runs of a lowered pattern: between wildcards, or the whole
// pattern when it has none.
void AddLiteralRuns(std::string_view pattern, bool wildcard, std::vector<std::string_view>* runs) {
  if (!wildcard) {
    runs->push_back(pattern);
    return;
  }
  std::size_t start = 0;
  while (start <= pattern.size()) {
    std::size_t stop = pattern.find_first_of("*?", start);
    if (stop == std::string_view::npos) stop = pattern.size();
    if (stop > start) runs->push_back(pattern.substr(start, stop - start));
    start = stop + 1;
  }
}

// The distinct trigrams of a folder record's entry names, ascending. A
// list that breaks off holds the names before the break: those are the
// names a find reports from it.
void TrigramsOfNames(const FolderRecordView& folder, std::vector<std::uint32_t>* trigrams) {
  trigrams->clear();
  EntryIterator it(folder);
  FolderEntry entry;
  while (it.Next(&entry)) AddTrigramsOf(entry.name, trigrams);
  SortDistinct(trigrams);
}

}  // namespace

std::string NameIndexPath(const std::string& index_path) {
  constexpr std::string_view kIndexExtension = ".idx";
  if (index_path.size() >= kIndexExtension.size() &&
      index_path.compare(index_path.size() - kIndexExtension.size(), kIndexExtension.size(),
                         kIndexExtension) == 0) {
    return index_path.substr(0, index_path.size() - kIndexExtension.size()) + ".tri";
  }
  return index_path + ".tri";
}

// ---- State ------------------------------------------------------------------------

bool NameIndex::Identity::SameState(const Identity& other) const {
  return end_offset == other.end_offset && live_bytes == other.live_bytes &&
         created == other.created && last_saved == other.last_saved && wide == other.wide &&
         (store_changes == kNotTied || other.store_changes == kNotTied ||
          store_changes == other.store_changes);
}

bool NameIndex::IdentityOf(IndexStore& store, Identity* identity) {
  if (!store.IsOpen()) return false;
  DriveRecord drive;
  if (!ReadDriveRecord(store, &drive)) return false;
  *identity = Identity{store.end_offset(), store.live_bytes(), drive.created, drive.last_saved,
                       store.wide(), store.changes()};
  return true;
}

void NameIndex::Clear() {
  identity_ = Identity{};
  loaded_ = false;
  folders_.clear();
  postings_.clear();
  folder_trigrams_known_ = true;
}

void NameIndex::KnowFolderTrigrams() {
  if (folder_trigrams_known_) return;
  std::vector<std::uint32_t> keys;
  keys.reserve(postings_.size());
  for (const auto& [trigram, ids] : postings_) keys.push_back(trigram);
  std::sort(keys.begin(), keys.end());
  for (const std::uint32_t key : keys)
    for (const RecordId id : postings_.at(key)) folders_[id].trigrams.push_back(key);
  folder_trigrams_known_ = true;
}

bool NameIndex::Describes(IndexStore& store) const {
  Identity now;
  if (!loaded_ || !IdentityOf(store, &now) || !now.SameState(identity_)) return false;
  // Every record from the first fresh id up that is no table page is a
  // folder record: as many as the index describes.
  std::size_t records = 0;
  for (RecordId id = index_format::kFirstFreshId; id < store.table_length(); ++id)
    if (id % index_format::kEntriesPerPage != 0 && store.table_entry(id) != 0) ++records;
  return records == folders_.size();
}

bool NameIndex::UsableFor(IndexStore& store, std::vector<RecordId>* changed) const {
  changed->clear();
  if (!loaded_ || identity_.wide != store.wide()) return false;
  if (identity_.store_changes == Identity::kNotTied || store.changes() == identity_.store_changes)
    return Describes(store);
  if (!store.ChangedSince(identity_.store_changes, changed)) return false;
  std::sort(changed->begin(), changed->end());
  changed->erase(std::unique(changed->begin(), changed->end()), changed->end());
  return true;
}

bool NameIndex::CatchUp(IndexStore& store) {
  std::vector<RecordId> changed;
  if (!UsableFor(store, &changed)) return false;
  if (changed.empty()) {
    identity_.store_changes = store.changes();
    return true;
  }
  std::vector<std::uint8_t> buffer;
  for (RecordId id : changed) {
    if (id < index_format::kFirstFreshId || id % index_format::kEntriesPerPage == 0) continue;
    if (id >= store.table_length() || store.table_entry(id) == 0 || !store.ReadRecord(id, &buffer) ||
        !UpdateFolder(id, buffer.data(), static_cast<std::uint32_t>(buffer.size())))
      RemoveFolder(id);
  }
  Identity now;
  if (!IdentityOf(store, &now)) return false;
  identity_ = now;
  store.ForgetChanges();
  return true;
}

bool NameIndex::Build(IndexStore& store, const std::function<bool()>& stop) {
  Clear();
  Identity identity;
  if (!IdentityOf(store, &identity)) return false;
  identity_ = identity;
  loaded_ = true;
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  std::uint32_t records = 0;
  store.BeginScan();
  while (store.NextRecordInPlace(&data, &length)) {
    if (stop && ++records % kRecordsBetweenStopTests == 0 && stop()) {
      Clear();
      return false;
    }
    FolderRecordView folder(store.layout());
    if (!folder.Parse(data, length)) continue;
    // Two blocks that carry one id: a scan gives the names of both, a read
    // by id those of one. No name index describes such a file.
    const auto [kept, added] = folders_.try_emplace(folder.id());
    if (!added) {
      Clear();
      return false;
    }
    // Each folder's own trigrams are left to KnowFolderTrigrams. A folder's
    // ids follow each other in every list, so a repeated trigram is seen at
    // the list's end; the lists are put in id order once the scan is done
    // (the file's order is not the ids').
    const RecordId id = folder.id();
    kept->second.checksum = Crc32c(data, folder.length());
    EntryIterator it(folder);
    FolderEntry entry;
    while (it.Next(&entry)) {
      const auto* p = reinterpret_cast<const unsigned char*>(entry.name.data());
      for (std::size_t i = 0; i + 3 <= entry.name.size(); ++i) {
        std::vector<RecordId>& ids = postings_[TrigramAt(p + i)];
        if (ids.empty() || ids.back() != id) ids.push_back(id);
      }
    }
  }
  if (store.is_damaged()) {
    Clear();
    return false;
  }
  for (auto& [trigram, ids] : postings_)
    if (!std::is_sorted(ids.begin(), ids.end())) std::sort(ids.begin(), ids.end());
  folder_trigrams_known_ = postings_.empty();
  return true;
}

void NameIndex::Post(std::uint32_t trigram, RecordId id) {
  std::vector<RecordId>& ids = postings_[trigram];
  const auto at = std::lower_bound(ids.begin(), ids.end(), id);
  if (at == ids.end() || *at != id) ids.insert(at, id);
}

void NameIndex::Unpost(std::uint32_t trigram, RecordId id) {
  const auto found = postings_.find(trigram);
  if (found == postings_.end()) return;
  std::vector<RecordId>& ids = found->second;
  const auto at = std::lower_bound(ids.begin(), ids.end(), id);
  if (at != ids.end() && *at == id) ids.erase(at);
  if (ids.empty()) postings_.erase(found);
}

bool NameIndex::UpdateFolder(RecordId id, const std::uint8_t* data, std::uint32_t length) {
  FolderRecordView folder(identity_.wide ? index_format::kWide : index_format::kNarrow);
  if (data == nullptr || !folder.Parse(data, length) || folder.id() != id) {
    RemoveFolder(id);
    return false;
  }
  loaded_ = true;
  KnowFolderTrigrams();
  std::vector<std::uint32_t> trigrams;
  TrigramsOfNames(folder, &trigrams);

  Folder& kept = folders_[id];
  kept.checksum = Crc32c(data, folder.length());
  // Only the trigrams that came or went change a posting list.
  std::size_t i = 0, j = 0;
  const std::vector<std::uint32_t>& old = kept.trigrams;
  while (i < old.size() || j < trigrams.size()) {
    if (j == trigrams.size() || (i < old.size() && old[i] < trigrams[j])) {
      Unpost(old[i++], id);
    } else if (i == old.size() || trigrams[j] < old[i]) {
      Post(trigrams[j++], id);
    } else {
      ++i;
      ++j;
    }
  }
  kept.trigrams = std::move(trigrams);
  return true;
}

void NameIndex::RemoveFolder(RecordId id) {
  KnowFolderTrigrams();
  const auto found = folders_.find(id);
  if (found == folders_.end()) return;
  for (const std::uint32_t trigram : found->second.trigrams) Unpost(trigram, id);
  folders_.erase(found);
}

bool NameIndex::ChecksumMatches(RecordId id, const std::uint8_t* data, std::uint32_t length) const {
  const auto found = folders_.find(id);
  return found != folders_.end() && data != nullptr &&
         Crc32c(data, length) == found->second.checksum;
}

// ---- Candidates --------------------------------------------------------------------

bool NameIndex::Candidates(const PatternSet& patterns, std::vector<RecordId>* ids) const {
  ids->clear();
  if (patterns.count() == 0) return false;
  std::vector<std::string_view> runs;
  std::vector<std::uint32_t> trigrams;
  std::vector<const std::vector<RecordId>*> lists;
  std::vector<RecordId> common, next;
  for (int p = 0; p < patterns.count(); ++p) {
    runs.clear();
    trigrams.clear();
    AddLiteralRuns(patterns.pattern(p), patterns.has_wildcard(p), &runs);
    for (const std::string_view run : runs) AddTrigramsOf(run, &trigrams);
    if (trigrams.empty()) {
      ids->clear();
      return false;
    }
    SortDistinct(&trigrams);
    lists.clear();
    bool absent = false;
    for (const std::uint32_t trigram : trigrams) {
      const auto found = postings_.find(trigram);
      if (found == postings_.end()) {
        absent = true;
        break;
      }
      lists.push_back(&found->second);
    }
    if (absent) continue;  // no folder holds a name with this pattern's literal
    // Shortest list first: the intersection is never longer than it.
    std::sort(lists.begin(), lists.end(),
              [](const auto* a, const auto* b) { return a->size() < b->size(); });
    common = *lists.front();
    for (std::size_t k = 1; k < lists.size() && !common.empty(); ++k) {
      next.clear();
      std::set_intersection(common.begin(), common.end(), lists[k]->begin(), lists[k]->end(),
                            std::back_inserter(next));
      common.swap(next);
    }
    ids->insert(ids->end(), common.begin(), common.end());
  }
  std::sort(ids->begin(), ids->end());
  ids->erase(std::unique(ids->begin(), ids->end()), ids->end());
  return true;
}

void SortInFileOrder(const IndexStore& store, std::vector<RecordId>* ids) {
  auto place = [&](RecordId id) -> std::uint64_t {
    const std::uint32_t entry = store.table_entry(id);
    return entry == 0 ? std::uint64_t{1} << 32 : entry;
  };
  std::sort(ids->begin(), ids->end(), [&](RecordId a, RecordId b) {
    const std::uint64_t pa = place(a), pb = place(b);
    return pa != pb ? pa < pb : a < b;
  });
}

// ---- File --------------------------------------------------------------------------

std::string NameIndex::Encode() const {
  std::string out(fmt::kHeaderSize, '\0');
  std::vector<RecordId> folder_ids;
  folder_ids.reserve(folders_.size());
  for (const auto& [id, folder] : folders_) folder_ids.push_back(id);
  std::sort(folder_ids.begin(), folder_ids.end());
  RecordId last_id = 0;
  for (const RecordId id : folder_ids) {
    PutVarint(&out, id - last_id);
    PutFixed32(&out, folders_.at(id).checksum);
    last_id = id;
  }
  const std::size_t folders_end = out.size();

  std::vector<std::uint32_t> keys;
  keys.reserve(postings_.size());
  for (const auto& [trigram, ids] : postings_) keys.push_back(trigram);
  std::sort(keys.begin(), keys.end());
  std::uint32_t last_key = 0;
  for (const std::uint32_t key : keys) {
    const std::vector<RecordId>& ids = postings_.at(key);
    const bool bitmap = WrittenAsBitmap(ids);
    PutVarint(&out, key - last_key);
    PutVarint(&out, static_cast<std::uint32_t>(ids.size()) << 1 | (bitmap ? 1u : 0u));
    if (bitmap) {
      const RecordId first = ids.front();
      std::string bits((ids.back() - first) / 8 + 1, '\0');
      for (const RecordId id : ids)
        bits[(id - first) / 8] =
            static_cast<char>(bits[(id - first) / 8] | 1 << ((id - first) % 8));
      PutVarint(&out, first);
      PutVarint(&out, static_cast<std::uint32_t>(bits.size()));
      out += bits;
    } else {
      last_id = 0;
      for (const RecordId id : ids) {
        PutVarint(&out, id - last_id);
        last_id = id;
      }
    }
    last_key = key;
  }

  auto* header = reinterpret_cast<std::uint8_t*>(out.data());
  PutU32(header + fmt::kMagicOffset, fmt::kMagic);
  PutU32(header + fmt::kVersionOffset, fmt::kVersion);
  PutU32(header + fmt::kFileSizeOffset, static_cast<std::uint32_t>(out.size()));
  PutU32(header + fmt::kFlagsOffset, identity_.wide ? fmt::kFlagWide : 0);
  PutU32(header + fmt::kEndOffsetOffset, identity_.end_offset);
  PutU32(header + fmt::kLiveBytesOffset, static_cast<std::uint32_t>(identity_.live_bytes));
  PutU32(header + fmt::kCreatedOffset, identity_.created);
  PutU32(header + fmt::kLastSavedOffset, identity_.last_saved);
  PutU32(header + fmt::kFolderCountOffset, static_cast<std::uint32_t>(folder_ids.size()));
  PutU32(header + fmt::kFolderSectionOffset, fmt::kHeaderSize);
  PutU32(header + fmt::kFolderSectionSizeOffset,
         static_cast<std::uint32_t>(folders_end - fmt::kHeaderSize));
  PutU32(header + fmt::kTrigramCountOffset, static_cast<std::uint32_t>(keys.size()));
  PutU32(header + fmt::kTrigramSectionOffset, static_cast<std::uint32_t>(folders_end));
  PutU32(header + fmt::kTrigramSectionSizeOffset,
         static_cast<std::uint32_t>(out.size() - folders_end));
  PutU32(header + fmt::kChecksumOffset, Crc32c(out.data(), out.size()));
  return out;
}

bool NameIndex::Decode(const std::uint8_t* data, std::size_t size) {
  Clear();
  if (data == nullptr || size < fmt::kHeaderSize || size > fmt::kMaxFileSize) return false;
  if (GetU32(data + fmt::kMagicOffset) != fmt::kMagic ||
      GetU32(data + fmt::kVersionOffset) != fmt::kVersion ||
      GetU32(data + fmt::kFileSizeOffset) != size ||
      (GetU32(data + fmt::kFlagsOffset) & ~fmt::kFlagWide) != 0 ||
      GetU32(data + fmt::kReservedOffset) != 0) {
    return false;
  }
  std::uint8_t zero[4] = {};
  std::uint32_t crc = Crc32c(data, fmt::kChecksumOffset);
  crc = Crc32cExtend(crc, zero, sizeof zero);
  crc = Crc32cExtend(crc, data + fmt::kChecksumOffset + 4, size - fmt::kChecksumOffset - 4);
  if (crc != GetU32(data + fmt::kChecksumOffset)) return false;

  const bool wide = (GetU32(data + fmt::kFlagsOffset) & fmt::kFlagWide) != 0;
  const std::uint64_t id_limit =
      wide ? index_format::kWideMaxTableLength : index_format::kMaxTableLength;
  const std::uint64_t folder_count = GetU32(data + fmt::kFolderCountOffset);
  const std::uint64_t folder_begin = GetU32(data + fmt::kFolderSectionOffset);
  const std::uint64_t folder_end = folder_begin + GetU32(data + fmt::kFolderSectionSizeOffset);
  const std::uint64_t trigram_count = GetU32(data + fmt::kTrigramCountOffset);
  const std::uint64_t trigram_begin = GetU32(data + fmt::kTrigramSectionOffset);
  const std::uint64_t trigram_end = trigram_begin + GetU32(data + fmt::kTrigramSectionSizeOffset);
  // The sections follow the header and each other without a gap up to the
  // end of the file, and each entry takes at least its smallest size.
  if (folder_begin != fmt::kHeaderSize || folder_end != trigram_begin || trigram_end != size ||
      folder_count > (folder_end - folder_begin) / 5 ||
      trigram_count > (trigram_end - trigram_begin) / 3) {
    return false;
  }

  SectionReader folders(data, folder_begin, folder_end);
  std::uint64_t last = 0;
  folders_.reserve(folder_count);
  // One bit per id up to the largest folder id: at most 2 MiB.
  std::vector<std::uint64_t> is_folder;
  for (std::uint64_t n = 0; n < folder_count; ++n) {
    std::uint32_t id = 0, checksum = 0;
    if (!NextAscending(&folders, &last, n == 0, id_limit, &id) || id == 0 ||
        !folders.Fixed32(&checksum)) {
      Clear();
      return false;
    }
    folders_[id].checksum = checksum;
    const std::size_t word = id / 64;
    if (is_folder.size() <= word) is_folder.resize(word + 1);
    is_folder[word] |= std::uint64_t{1} << (id % 64);
  }
  if (folders.left() != 0) {
    Clear();
    return false;
  }

  SectionReader trigrams(data, trigram_begin, trigram_end);
  std::uint64_t last_key = 0;
  postings_.reserve(trigram_count);
  for (std::uint64_t n = 0; n < trigram_count; ++n) {
    std::uint32_t key = 0, tagged = 0;
    if (!NextAscending(&trigrams, &last_key, n == 0, std::uint64_t{1} << 24, &key) ||
        !trigrams.Varint(&tagged) || (tagged >> 1) == 0) {
      Clear();
      return false;
    }
    const std::uint32_t count = tagged >> 1;
    const bool bitmap = (tagged & 1) != 0;
    std::vector<RecordId>& ids = postings_[key];
    auto take = [&](std::uint64_t id) {
      if (id / 64 >= is_folder.size() || ((is_folder[id / 64] >> (id % 64)) & 1) == 0) return false;
      ids.push_back(static_cast<RecordId>(id));
      return true;
    };
    bool sound = true;
    if (bitmap) {
      std::uint32_t first = 0, size = 0;
      std::uint64_t unused = 0;
      const std::uint8_t* bits = nullptr;
      sound = NextAscending(&trigrams, &unused, true, id_limit, &first) && trigrams.Varint(&size) &&
              size != 0 && count <= std::uint64_t{size} * 8 && trigrams.Bytes(size, &bits) &&
              (bits[0] & 1) != 0 && bits[size - 1] != 0;
      if (sound) ids.reserve(count);
      for (std::uint32_t k = 0; sound && k < size; ++k) {
        for (unsigned byte = bits[k]; sound && byte != 0; byte &= byte - 1) {
          sound = ids.size() < count &&
                  take(std::uint64_t{first} + 8 * std::uint64_t{k} + __builtin_ctz(byte));
        }
      }
    } else {
      sound = count <= trigrams.left();
      if (sound) ids.reserve(count);
      std::uint64_t last_id = 0;
      for (std::uint32_t k = 0; sound && k < count; ++k) {
        std::uint32_t id = 0;
        sound = NextAscending(&trigrams, &last_id, k == 0, id_limit, &id) && take(id);
      }
    }
    // Only the form Encode would choose reads back byte for byte.
    if (!sound || ids.size() != count || WrittenAsBitmap(ids) != bitmap) {
      Clear();
      return false;
    }
  }
  if (trigrams.left() != 0) {
    Clear();
    return false;
  }
  identity_ =
      Identity{GetU32(data + fmt::kEndOffsetOffset),
               static_cast<std::int32_t>(GetU32(data + fmt::kLiveBytesOffset)),
               GetU32(data + fmt::kCreatedOffset), GetU32(data + fmt::kLastSavedOffset), wide};
  loaded_ = true;
  folder_trigrams_known_ = postings_.empty();
  return true;
}

platform::Status NameIndex::Save(const std::string& native_path) const {
  return platform::ReplaceFileContents(native_path, Encode(), 0600);
}

bool NameIndex::Load(const std::string& native_path) {
  Clear();
  platform::File file;
  std::uint64_t size = 0;
  if (!file.OpenForReading(native_path).ok() || !file.Size(&size).ok() || size < fmt::kHeaderSize ||
      size > fmt::kMaxFileSize) {
    return false;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (!file.ReadExact(0, bytes.data(), bytes.size()).ok()) return false;
  // The file may have grown since its size was taken: then it is not the
  // file that was measured.
  std::uint8_t more = 0;
  std::size_t moved = 0;
  if (!file.ReadSome(size, &more, 1, &moved).ok() || moved != 0) return false;
  return Decode(bytes.data(), bytes.size());
}

// ---- The index find's folders --------------------------------------------------------

FoldersToSearch::FoldersToSearch(IndexStore& store, const NameIndex* index,
                                 const PatternSet& patterns)
    : store_(store), index_(index) {
  // Reading more than half the folders one by one takes longer than a scan.
  // Records changed since the index was made are read as well, whatever
  // it says of them.
  if (index != nullptr && index->UsableFor(store, &changed_) &&
      index->Candidates(patterns, &candidates_) &&
      candidates_.size() + changed_.size() <= index->folder_count() / 2) {
    narrowed_ = true;
    if (!changed_.empty()) {
      std::vector<RecordId> both;
      std::set_union(candidates_.begin(), candidates_.end(), changed_.begin(), changed_.end(),
                     std::back_inserter(both));
      candidates_ = std::move(both);
    }
    SortInFileOrder(store, &candidates_);
    store.UseReadWindow();
    return;
  }
  candidates_.clear();
  scanning_ = true;
  store.BeginScan();
}

bool FoldersToSearch::NextCandidate(const std::uint8_t** data, std::uint32_t* length) {
  while (next_ < candidates_.size()) {
    const RecordId id = candidates_[next_++];
    // A record changed since the index was made may be gone or be no folder
    // now, and has a checksum the index does not know.
    const bool changed = std::binary_search(changed_.begin(), changed_.end(), id);
    if (changed) {
      if (id < index_format::kFirstFreshId || id % index_format::kEntriesPerPage == 0 ||
          id >= store_.table_length() || store_.table_entry(id) == 0 ||
          !store_.ReadRecord(id, &buffer_))
        continue;
      FolderRecordView folder(store_.layout());
      if (!folder.Parse(buffer_) || folder.id() != id) continue;
      given_.push_back(id);
      *data = buffer_.data();
      *length = folder.length();
      return true;
    }
    // The index describes a folder record of id: a store without one, or
    // with another there, is not the state it describes (a read that fails
    // has marked the store damaged already).
    if (id >= store_.table_length() || store_.table_entry(id) == 0 ||
        !store_.ReadRecord(id, &buffer_)) {
      damage_found_ = true;
      return false;
    }
    FolderRecordView folder(store_.layout());
    if (!folder.Parse(buffer_) || folder.id() != id ||
        !index_->ChecksumMatches(id, buffer_.data(), folder.length())) {
      store_.MarkDamaged();
      damage_found_ = true;
      return false;
    }
    given_.push_back(id);
    *data = buffer_.data();
    *length = folder.length();
    return true;
  }
  return false;
}

bool FoldersToSearch::Next(const std::uint8_t** data, std::uint32_t* length) {
  if (!scanning_) {
    if (NextCandidate(data, length)) return true;
    if (!damage_found_) return false;
    // The index no longer tells the folders apart: the rest of the find
    // scans, without giving a folder twice.
    std::sort(given_.begin(), given_.end());
    narrowed_ = false;
    scanning_ = true;
    store_.BeginScan();
  }
  while (store_.NextRecordInPlace(data, length)) {
    if (!given_.empty()) {
      FolderRecordView folder(store_.layout());
      if (folder.Parse(*data, *length) &&
          std::binary_search(given_.begin(), given_.end(), folder.id())) {
        continue;
      }
    }
    return true;
  }
  return false;
}

// ---- Over the drive index's life ----------------------------------------------------

void NameIndexKeeper::Opened(IndexStore& store, bool read_only) {
  index_.Clear();
  on_disk_ = false;
  if (!store.IsOpen()) return;
  const std::string path = NameIndexPath(store.path());
  if (store.is_new_file()) {
    RemoveBeside(store.path());  // of an index file that is gone
    return;
  }
  bool loaded = index_.Load(path);
  // The file knows nothing of this process's count of changes: a file that
  // describes the store as it was opened describes it as it is now.
  if (loaded) {
    NameIndex::Identity identity = index_.identity();
    identity.store_changes = store.changes();
    index_.set_identity(identity);
    if (!index_.Describes(store)) {
      index_.Clear();
      loaded = false;
    }
  }
  if (read_only) {
    on_disk_ = loaded;
    return;
  }
  if (platform::PathExists(path)) platform::RemoveFile(path);
}

void NameIndexKeeper::Closing(IndexStore& store) {
  if (!store.IsOpen()) return;
  const std::string path = NameIndexPath(store.path());
  if (store.is_damaged() || store.write_failed()) {
    // The index file is rebuilt at its next open.
    index_.Clear();
    on_disk_ = false;
    RemoveBeside(store.path());
    return;
  }
  if (index_.Describes(store)) {
    if (on_disk_) return;
  } else if (!index_.CatchUp(store) && !index_.Build(store)) {
    on_disk_ = false;
    RemoveBeside(store.path());
    return;
  }
  on_disk_ = index_.Save(path).ok();
}

void NameIndexKeeper::Refresh(IndexStore& store, const std::function<bool()>& stop,
                              bool may_build) {
  if (!store.IsOpen() || store.is_damaged()) return;
  if (store.changes() == index_.identity().store_changes && index_.Describes(store)) return;
  on_disk_ = false;
  // The records changed since are taken in one by one; only an index that
  // cannot follow them (too many, or none made yet) is built anew.
  if (index_.CatchUp(store) || !may_build) return;
  index_.Build(store, stop);
  if (!index_.empty()) store.ForgetChanges();
}

void NameIndexKeeper::RemoveBeside(const std::string& index_path) {
  const std::string path = NameIndexPath(index_path);
  if (platform::PathExists(path)) platform::RemoveFile(path);
}

}  // namespace quindelo
