// The name index beside an index file: a find narrowed by it gives exactly
// the names a scan of every record gives, in the same order; a name index
// that is missing, stale, damaged or hostile is not used (and the find
// gives the same names); a record changed behind its back is caught by its
// checksum; keeping it up to date folder by folder gives what a rebuild
// gives; and a drive index reads, uses, rebuilds and writes it over its
// life.
#include "index/name_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "base/crc32c.h"
#include "index/drive_index.h"
#include "index/index_records.h"
#include "index/index_store.h"
#include "index/name_filter.h"
#include "index/pattern_set.h"
#include "index/request_of.h"
#include "platform/paths.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

namespace fmt = name_index_format;
using index_format::RecordId;

struct Entry {
  std::string name;
  RecordId child = 0;  // folders only
};

bool NameOrder(const Entry& a, const Entry& b) { return CompareNames(a.name, b.name) < 0; }

bool WriteFolder(IndexStore& store, RecordId id, RecordId parent, const std::string& name,
                 std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end(), NameOrder);
  entries.erase(std::unique(entries.begin(), entries.end(),
                            [](const Entry& a, const Entry& b) { return a.name == b.name; }),
                entries.end());
  FolderRecordBuilder builder(store.layout());
  if (!builder.Begin(id, 1, parent, name)) return false;
  for (const Entry& e : entries) {
    if ((e.child != 0 ? builder.AddFolder(e.name, e.child) : builder.AddFile(e.name)) == 0)
      return false;
  }
  return store.WriteRecord(builder.Finish());
}

// A drive of `count` folders in a tree, 4 to 24 names each: mixed-case
// names from a few stems, names ending in a dot, non-ASCII names, short
// names, and one rare name (in the folder returned); the records lie in
// the file in another order than their ids.
RecordId WriteTree(IndexStore& store, int count) {
  static const char* const kStems[] = {"report", "Invoice", "photo", "notes",
                                       "main",   "data",    "README", "draft"};
  static const char* const kExtensions[] = {".txt", ".jpg", ".PDF", ".md", ""};
  std::mt19937 rng(11);
  EXPECT_TRUE(CreateDriveRecord(store, DriveDescription{}));
  std::vector<RecordId> ids(count);
  std::vector<std::vector<Entry>> entries(count);
  for (auto& id : ids) id = store.AllocateId();
  for (int i = 1; i < count; ++i)
    entries[rng() % i].push_back({"dir_" + std::to_string(i), ids[i]});
  for (int i = 0; i < count; ++i) {
    const int names = 4 + static_cast<int>(rng() % 21);
    for (int k = 0; k < names; ++k) {
      std::string name = kStems[rng() % 8] + std::to_string(rng() % 300) + kExtensions[rng() % 5];
      for (char& c : name)
        if (rng() % 4 == 0) c = ascii::ToUpper(c);
      entries[i].push_back({name});
    }
    if (i % 7 == 0) entries[i].push_back({"letter."});
    if (i % 11 == 0) entries[i].push_back({"\xC3\x9C" "ber_plan.doc"});
    if (i % 5 == 0) entries[i].push_back({"ab"});
  }
  const int rare = count / 2;
  entries[rare].push_back({"Zebra_Quartz.cfg"});
  // Written in shuffled order: the file's order is not the ids' order.
  std::vector<int> order(count);
  for (int i = 0; i < count; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  for (int i : order)
    EXPECT_TRUE(WriteFolder(store, ids[i], i == 0 ? 0 : 1, i == 0 ? "" : "f" + std::to_string(i),
                            entries[i]));
  EXPECT_TRUE(store.Flush());
  return ids[rare];
}

// The names a scan of every record finds, each as "id/name", in file order:
// every name of every folder record matched in turn.
std::vector<std::string> ScanAll(IndexStore& store, const PatternSet& patterns) {
  std::vector<std::string> found;
  std::vector<std::uint8_t> buffer;
  store.BeginScan();
  while (store.NextRecord(&buffer)) {
    FolderRecordView folder(store.layout());
    if (!folder.Parse(buffer)) continue;
    EntryIterator it(folder);
    FolderEntry entry;
    while (it.Next(&entry))
      if (patterns.match(entry.name))
        found.push_back(std::to_string(folder.id()) + "/" + std::string(entry.name));
  }
  return found;
}

// The names the index find's walk finds with the name index (or none).
struct Narrowed {
  std::vector<std::string> found;
  int folders_read = 0;
  FolderWalk walk = FolderWalk::kEnded;
};
Narrowed FindWith(IndexStore& store, const NameIndex* index, const PatternSet& patterns) {
  Narrowed out;
  const NameFilter filter(patterns);
  out.walk = ForEachFolderToSearch(store, index, patterns, [&](const FolderRecordView& folder) {
    ++out.folders_read;
    filter.ForEachMatch(folder, [&](const FolderEntry& entry) {
      out.found.push_back(std::to_string(folder.id()) + "/" + std::string(entry.name));
      return true;
    });
    return true;
  });
  return out;
}

PatternSet Parsed(const std::string& text) {
  PatternSet patterns;
  patterns.parse(text);
  return patterns;
}

constexpr int kFolders = 300;

TEST(Crc32c, KnownValuesInAnyPieces) {
  const struct {
    std::string data;
    std::uint32_t crc;
  } kCases[] = {{"", 0}, {"123456789", 0xE3069283u}, {std::string(32, '\xFF'), 0x62A8AB43u}};
  for (const auto& c : kCases) {
    // Whichever byte the eight-byte steps start at.
    for (std::size_t cut = 0; cut <= c.data.size(); ++cut) {
      EXPECT_EQ(Crc32cExtend(Crc32c(c.data.data(), cut), c.data.data() + cut,
                             c.data.size() - cut),
                c.crc);
    }
  }
}

TEST(NameIndex, NarrowedFindGivesTheNamesOfAFullScan) {
  const struct {
    const char* patterns;
    bool narrows;
    int most_folders;  // read by the narrowed find, when it narrows
    bool finds;        // the full scan finds something
  } kCases[] = {
      {"zebra_quartz", true, 1, true},
      {"ZEBRA", true, 1, true},
      {"*quartz.cfg", true, 1, true},
      {"zeb*art?.cfg", true, 1, true},
      {"nothing_like_it", true, 0, false},
      {"report1*.txt", true, kFolders, true},
      {"*.txt", true, kFolders, true},
      {"*tter", true, kFolders, true},  // "letter." without its dot
      {"dir_12", true, kFolders, true},  // folder entries are names too
      {"\xC3\x9C" "BER", true, kFolders, true},
      {"\xC3\xBC" "ber", true, 0, false},  // only A-Z have a case
      {"photo;zebra", true, kFolders, true},
      {"**rep*ort**", true, kFolders, true},
      {"ab", false, 0, true},
      {"*", false, 0, true},
      {"a?c", false, 0, false},
      {"photo;ab", false, 0, true},
      {"re*po*rt*", false, 0, true},
  };
  for (const bool wide : {false, true}) {
    test::ScopedTestEnv env;
    IndexStore store;
    ASSERT_TRUE(store.Open(env.Path("DriveC.idx"),
                           wide ? index_format::kWide : index_format::kNarrow));
    WriteTree(store, kFolders);
    NameIndex built;
    ASSERT_TRUE(built.Build(store));
    ASSERT_TRUE(built.Save(NameIndexPath(store.path())));
    NameIndex index;
    ASSERT_TRUE(index.Load(env.Path("DriveC.tri")));
    ASSERT_TRUE(index.Describes(store));
    EXPECT_EQ(index.folder_count(), static_cast<std::size_t>(kFolders));
    for (const auto& c : kCases) {
      SCOPED_TRACE(std::string(c.patterns) + (wide ? " wide" : " narrow"));
      const PatternSet patterns = Parsed(c.patterns);
      const std::vector<std::string> expected = ScanAll(store, patterns);
      EXPECT_EQ(!expected.empty(), c.finds);
      std::vector<RecordId> candidates;
      EXPECT_EQ(index.Candidates(patterns, &candidates), c.narrows);
      const Narrowed narrowed = FindWith(store, &index, patterns);
      EXPECT_EQ(narrowed.found, expected);
      EXPECT_EQ(narrowed.walk, FolderWalk::kEnded);
      if (c.narrows) {
        EXPECT_LE(narrowed.folders_read, c.most_folders);
      } else {
        EXPECT_EQ(narrowed.folders_read, kFolders);
      }
    }
    EXPECT_FALSE(store.is_damaged());
  }
}

// Recomputes the whole-file checksum of a name index file, so that only
// the other checks can refuse it.
void Reseal(std::string* bytes) {
  auto* p = reinterpret_cast<std::uint8_t*>(bytes->data());
  index_format::PutU32(p + fmt::kChecksumOffset, 0);
  index_format::PutU32(p + fmt::kChecksumOffset, Crc32c(p, bytes->size()));
}

TEST(NameIndex, MissingStaleOrDamagedFileIsNotUsed) {
  using Change = std::function<void(std::string* file, IndexStore& store)>;
  // A header field set to a value, or moved by a step, with the checksum
  // made sound again.
  auto set = [](std::uint32_t offset, std::uint32_t value, bool relative = false) -> Change {
    return [=](std::string* file, IndexStore&) {
      auto* p = reinterpret_cast<std::uint8_t*>(file->data()) + offset;
      index_format::PutU32(p, (relative ? index_format::GetU32(p) : 0) + value);
      Reseal(file);
    };
  };
  const Change nothing = [](std::string*, IndexStore&) {};
  const struct {
    const char* what;
    Change change;
    bool used;
  } kCases[] = {
      {"unchanged", nothing, true},
      {"missing", [](std::string* file, IndexStore&) { file->clear(); }, false},
      {"empty", [](std::string* file, IndexStore&) { file->assign(""); }, false},
      {"header only", [](std::string* f, IndexStore&) { f->resize(fmt::kHeaderSize); }, false},
      {"cut by one byte", [](std::string* file, IndexStore&) { file->pop_back(); }, false},
      {"cut in half", [](std::string* f, IndexStore&) { f->resize(f->size() / 2); }, false},
      {"one byte more", [](std::string* file, IndexStore&) { file->push_back('\0'); }, false},
      {"byte flipped in the header", [](std::string* file, IndexStore&) { (*file)[17] ^= 1; },
       false},
      {"byte flipped in the folders", [](std::string* f, IndexStore&) { (*f)[70] ^= 0x40; }, false},
      {"last byte flipped", [](std::string* file, IndexStore&) { file->back() ^= 0x10; }, false},
      {"other magic", set(fmt::kMagicOffset, 0x49525452), false},
      {"other version", set(fmt::kVersionOffset, 2), false},
      {"unknown flag", set(fmt::kFlagsOffset, 2), false},
      {"other layout", set(fmt::kFlagsOffset, fmt::kFlagWide), false},
      {"huge folder count", set(fmt::kFolderCountOffset, 0xFFFFFFF0u), false},
      {"huge trigram count", set(fmt::kTrigramCountOffset, 0x7FFFFFFFu), false},
      {"folder section past the end", set(fmt::kFolderSectionSizeOffset, 0xFFFFFFFFu), false},
      {"trigram section past the end", set(fmt::kTrigramSectionOffset, 0xFFFFFF00u), false},
      {"trigram section cut short", set(fmt::kTrigramSectionSizeOffset, -1u, true), false},
      {"sections overlap", set(fmt::kTrigramSectionOffset, -5u, true), false},
      {"bytes after the sections",
       [&](std::string* file, IndexStore& store) {
         file->append(4, '\0');
         set(fmt::kFileSizeOffset, 4, true)(file, store);
       },
       false},
      {"bytes between the sections",
       [&](std::string* file, IndexStore& store) {
         file->insert(index_format::GetU32(reinterpret_cast<const std::uint8_t*>(file->data()) +
                                           fmt::kTrigramSectionOffset),
                      4, '\0');
         set(fmt::kFileSizeOffset, 4, true)(file, store);
         set(fmt::kTrigramSectionOffset, 4, true)(file, store);
       },
       false},
      {"other end offset", set(fmt::kEndOffsetOffset, 8, true), false},
      {"other save time", set(fmt::kLastSavedOffset, -1u, true), false},
      {"a folder left out",
       [](std::string* file, IndexStore&) {
         NameIndex index;
         ASSERT_TRUE(
             index.Decode(reinterpret_cast<const std::uint8_t*>(file->data()), file->size()));
         index.RemoveFolder(index_format::kFirstFreshId);
         *file = index.Encode();
       },
       false},
      {"stale: a folder added since",
       [](std::string*, IndexStore& store) {
         ASSERT_TRUE(WriteFolder(store, store.AllocateId(), 1, "new", {{"zebra_quartz.new"}}));
       },
       false},
      {"stale: a folder deleted since",
       [](std::string*, IndexStore& store) { ASSERT_TRUE(store.DeleteRecord(kFolders + 3)); },
       false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    test::ScopedTestEnv env;
    IndexStore store;
    ASSERT_TRUE(store.Open(env.Path("DriveC.idx")));
    WriteTree(store, kFolders);
    NameIndex built;
    ASSERT_TRUE(built.Build(store));
    std::string file = built.Encode();
    c.change(&file, store);
    const std::string path = NameIndexPath(store.path());
    if (!file.empty() || std::string(c.what) == "empty") test::WriteTextFile(path, file);
    NameIndex index;
    const bool loaded = index.Load(path);
    EXPECT_EQ(loaded && index.Describes(store), c.used);
    EXPECT_EQ(index.empty(), !loaded);
    for (const char* text : {"zebra_quartz", "*.txt;dir_1"}) {
      const PatternSet patterns = Parsed(text);
      const Narrowed narrowed = FindWith(store, &index, patterns);
      EXPECT_EQ(narrowed.found, ScanAll(store, patterns)) << text;
      if (!c.used) {
        EXPECT_GE(narrowed.folders_read, kFolders - 1) << text;
      }
    }
    EXPECT_FALSE(store.is_damaged());
  }
}

// Sections put together by hand with a sound header and checksum: what the
// reader must refuse although the whole file's checksum holds.
std::string FileOf(const std::string& folders, std::uint32_t folder_count,
                   const std::string& trigrams, std::uint32_t trigram_count) {
  std::string file(fmt::kHeaderSize, '\0');
  file += folders;
  file += trigrams;
  auto* p = reinterpret_cast<std::uint8_t*>(file.data());
  index_format::PutU32(p + fmt::kMagicOffset, fmt::kMagic);
  index_format::PutU32(p + fmt::kVersionOffset, fmt::kVersion);
  index_format::PutU32(p + fmt::kFileSizeOffset, static_cast<std::uint32_t>(file.size()));
  index_format::PutU32(p + fmt::kFolderCountOffset, folder_count);
  index_format::PutU32(p + fmt::kFolderSectionOffset, fmt::kHeaderSize);
  index_format::PutU32(p + fmt::kFolderSectionSizeOffset,
                       static_cast<std::uint32_t>(folders.size()));
  index_format::PutU32(p + fmt::kTrigramCountOffset, trigram_count);
  index_format::PutU32(p + fmt::kTrigramSectionOffset,
                       static_cast<std::uint32_t>(fmt::kHeaderSize + folders.size()));
  index_format::PutU32(p + fmt::kTrigramSectionSizeOffset,
                       static_cast<std::uint32_t>(trigrams.size()));
  Reseal(&file);
  return file;
}

TEST(NameIndex, HostileSectionsAreRefused) {
  const std::string kCrc = "\x01\x02\x03\x04";
  const std::string kAbc = "\xE1\xC4\x8D\x03";  // varint of 'a' | 'b' << 8 | 'c' << 16
  std::string kEight = "\x04" + kCrc;  // folders 4 to 11
  for (int i = 0; i < 7; ++i) kEight += "\x01" + kCrc;
  const struct {
    const char* what;
    std::string folders;
    std::uint32_t folder_count;
    std::string trigrams;
    std::uint32_t trigram_count;
    bool accepted;
  } kCases[] = {
      {"sound: folders 4 and 9, abc in both", "\x04" + kCrc + "\x05" + kCrc, 2,
       kAbc + "\x04\x04\x05", 1, true},
      {"sound: folders 4 to 11, abc in all", kEight, 8, kAbc + "\x11\x04\x01\xFF", 1, true},
      {"sound: no folders", "", 0, "", 0, true},
      {"posted id is no folder", "\x04" + kCrc, 1, kAbc + "\x02\x05", 1, false},
      {"id posted twice", "\x04" + kCrc, 1, kAbc + std::string("\x04\x04\x00", 3), 1, false},
      {"folder id 0", std::string("\x00", 1) + kCrc, 1, "", 0, false},
      {"folder twice", "\x04" + kCrc + std::string("\x00", 1) + kCrc, 2, "", 0, false},
      {"folder id past the narrow table", "\x80\xE0\x03" + kCrc, 1, "", 0, false},
      {"bytes after the folders", "\x04" + kCrc + std::string("\x00", 1), 1, "", 0, false},
      {"count beyond the bytes", "\x04" + kCrc, 1, kAbc + "\x7E\x04", 1, false},
      {"count 0", "\x04" + kCrc, 1, kAbc + std::string("\x00", 1), 1, false},
      {"varint of six bytes", "\x84\x80\x80\x80\x80\x00" + kCrc, 1, "", 0, false},
      {"varint longer than needed", "\x84\x00" + kCrc, 1, "", 0, false},
      {"trigram beyond 24 bits", "\x04" + kCrc, 1, "\x80\x80\x80\x08\x02\x04", 1, false},
      {"trigram twice", "\x04" + kCrc, 1, kAbc + "\x02\x04" + std::string("\x00\x02\x04", 3), 2,
       false},
      {"bytes after the trigrams", "\x04" + kCrc, 1, kAbc + std::string("\x02\x04\x00", 3), 1,
       false},
      {"bitmap of another count", kEight, 8, kAbc + "\x0F\x04\x01\xFF", 1, false},
      {"bitmap past a folder", kEight, 8, kAbc + "\x13\x04\x02\xFF\x01", 1, false},
      {"bitmap ending in a zero byte", kEight, 8, kAbc + std::string("\x11\x04\x02\xFF\x00", 5),
       1, false},
      {"bitmap not from its first id", kEight, 8, kAbc + "\x0F\x03\x01\xFE", 1, false},
      {"bitmap cut short", kEight, 8, kAbc + "\x11\x04\x02\xFF", 1, false},
      {"bitmap where gaps are shorter", "\x04" + kCrc + "\x05" + kCrc, 2,
       kAbc + "\x05\x04\x01\x21", 1, false},
      {"gaps where a bitmap is shorter", kEight, 8,
       kAbc + "\x10\x04\x01\x01\x01\x01\x01\x01\x01", 1, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string file = FileOf(c.folders, c.folder_count, c.trigrams, c.trigram_count);
    NameIndex index;
    EXPECT_EQ(index.Decode(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()),
              c.accepted);
    EXPECT_EQ(index.empty(), !c.accepted);
    // What is accepted is written back byte for byte.
    if (c.accepted) {
      EXPECT_EQ(index.Encode(), file);
    }
  }
}

TEST(NameIndex, FolderByFolderUpdatesGiveWhatARebuildGives) {
  test::ScopedTestEnv env;
  IndexStore store;
  ASSERT_TRUE(store.Open(env.Path("DriveC.idx")));
  const RecordId rare = WriteTree(store, kFolders);
  // As read from its file, which holds the posting lists alone.
  NameIndex built;
  ASSERT_TRUE(built.Build(store));
  const std::string file = built.Encode();
  NameIndex kept;
  ASSERT_TRUE(kept.Decode(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
  std::vector<std::uint8_t> buffer;
  auto update = [&](RecordId id) {
    ASSERT_TRUE(store.ReadRecord(id, &buffer));
    EXPECT_TRUE(kept.UpdateFolder(id, buffer.data(), static_cast<std::uint32_t>(buffer.size())));
  };
  // The rare folder loses its names for others, one folder grows, one is
  // new, one goes, one is rewritten as it was.
  ASSERT_TRUE(WriteFolder(store, rare, 1, "renamed", {{"Okapi_Basalt.cfg"}, {"report1.txt"}}));
  update(rare);
  ASSERT_TRUE(WriteFolder(store, rare + 1, 1, "grown",
                          {{"Zebra_Quartz.cfg"}, {std::string(200, 'x') + ".bin"}}));
  update(rare + 1);
  const RecordId added = store.AllocateId();
  ASSERT_TRUE(WriteFolder(store, added, 1, "added", {{"okapi.md"}, {"dir_3", rare}}));
  update(added);
  ASSERT_TRUE(store.DeleteRecord(rare + 2));
  kept.RemoveFolder(rare + 2);
  update(rare + 3);
  // Bytes that are no folder record of that id take its place away.
  EXPECT_FALSE(
      kept.UpdateFolder(rare + 4, buffer.data(), static_cast<std::uint32_t>(buffer.size())));
  ASSERT_TRUE(store.DeleteRecord(rare + 4));
  ASSERT_TRUE(store.Flush());
  NameIndex::Identity now;
  ASSERT_TRUE(NameIndex::IdentityOf(store, &now));
  kept.set_identity(now);

  NameIndex rebuilt;
  ASSERT_TRUE(rebuilt.Build(store));
  EXPECT_EQ(kept.Encode(), rebuilt.Encode());
  EXPECT_EQ(kept.folder_count(), static_cast<std::size_t>(kFolders - 1));
  for (const char* text : {"okapi", "zebra", "*.bin", "Quartz;basalt"}) {
    const PatternSet patterns = Parsed(text);
    const Narrowed narrowed = FindWith(store, &kept, patterns);
    EXPECT_EQ(narrowed.found, ScanAll(store, patterns)) << text;
    EXPECT_FALSE(narrowed.found.empty()) << text;
    EXPECT_LE(narrowed.folders_read, 2) << text;
  }
}

// Collects the names a drive index finds and waits for the end of a find.
class FoundNames : public IndexClient {
 public:
  IndexAnswer OnIndexMessage(const IndexMessage& message) override {
    std::lock_guard<std::mutex> lock(lock_);
    if (const auto* found = std::get_if<FoundName>(&message)) names_.push_back(found->path);
    if (std::holds_alternative<FindEnded>(message)) {
      ++ends_;
      cv_.notify_all();
    }
    return IndexAnswer::kGoOn;
  }
  void WaitForEnd() {
    std::unique_lock<std::mutex> lock(lock_);
    cv_.wait(lock, [&] { return ends_ > 0; });
    ends_ = 0;
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<std::string> out;
    out.swap(names_);
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  std::vector<std::string> names_;
  int ends_ = 0;
};

std::vector<std::string> DriveFind(DriveIndex& index, FoundNames& client,
                                   const std::string& named) {
  client.Take();
  std::string message;
  EXPECT_TRUE(index.StartFind(RequestOf(named), &message)) << message;
  client.WaitForEnd();
  return client.Take();
}

// Changes a name inside the index file in place: its size, its header and
// its drive record stay as they were.
void ChangeNameInFile(const std::string& idx, const std::string& from, const std::string& to) {
  std::string bytes = test::ReadWholeFile(idx);
  const std::size_t at = bytes.find(from);
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(from.size(), to.size());
  std::fstream file(idx, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(static_cast<std::streamoff>(at));
  file.write(to.data(), static_cast<std::streamsize>(to.size()));
  ASSERT_TRUE(file.good());
}

bool IndexFileIsRefused(const std::string& idx) {
  IndexStore store;
  return !store.Open(idx).ok();
}

TEST(NameIndex, RecordsChangedSinceItWasMadeAreReadAndTakenIn) {
  test::ScopedTestEnv env;
  IndexStore store;
  ASSERT_TRUE(store.Open(env.Path("DriveC.idx")));
  const RecordId rare = WriteTree(store, kFolders);
  NameIndex index;
  ASSERT_TRUE(index.Build(store));
  const PatternSet okapi = Parsed("okapi");
  ASSERT_TRUE(FindWith(store, &index, okapi).found.empty());
  // A name the index does not know, written in place (the record keeps its
  // rounded size, and the file its end and live bytes), a new folder and a
  // folder gone.
  ASSERT_TRUE(WriteFolder(store, rare + 1, 1, "dir_b", {{"okapi.md"}}));
  const RecordId added = store.AllocateId();
  ASSERT_TRUE(WriteFolder(store, added, 1, "added", {{"okapi2.md"}}));
  ASSERT_TRUE(store.DeleteRecord(rare + 2));
  const std::vector<std::string> expected = ScanAll(store, okapi);
  ASSERT_EQ(expected.size(), 2u);
  for (const bool caught_up : {false, true}) {
    SCOPED_TRACE(caught_up ? "caught up" : "as made");
    if (caught_up) {
      ASSERT_TRUE(index.CatchUp(store));
    }
    EXPECT_EQ(index.Describes(store), caught_up);
    const Narrowed narrowed = FindWith(store, &index, okapi);
    std::vector<std::string> found = narrowed.found;
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
    EXPECT_LE(narrowed.folders_read, caught_up ? 2 : 5);
    EXPECT_FALSE(store.is_damaged());
  }
  // A store that no longer knows every change since leaves the index unused.
  for (std::size_t i = 0; i <= IndexStore::kMaxChangeLog; ++i)
    ASSERT_TRUE(WriteFolder(store, rare + 3, 1, "dir_d", {{"x.txt"}}));
  std::vector<RecordId> changed;
  EXPECT_FALSE(index.UsableFor(store, &changed));
  EXPECT_FALSE(index.CatchUp(store));
}

TEST(NameIndex, DriveIndexFindsTheSameWithItsNameIndexAndCatchesChangedRecords) {
  test::ScopedTestEnv env;
  const std::string root = env.MakeDrive('T', "drive");
  std::vector<std::string> report3;
  for (int i = 0; i < 30; ++i) {
    const std::string folder = "f" + std::to_string(i);
    test::MakeFolder(root + "/" + folder);
    for (int k = 0; k < 5; ++k)
      test::WriteTextFile(root + "/" + folder + "/report" + std::to_string(k) + ".txt", "");
    report3.push_back("T:\\" + folder + "\\report3.txt");
  }
  test::WriteTextFile(root + "/f17/Zebra_Quartz.cfg", "");
  std::sort(report3.begin(), report3.end());
  std::vector<std::string> quartz_or_report3 = report3;
  quartz_or_report3.push_back("T:\\f17\\Zebra_Quartz.cfg");
  std::sort(quartz_or_report3.begin(), quartz_or_report3.end());
  std::vector<std::string> f1 = {"T:\\f1"};
  for (int i = 10; i < 20; ++i) f1.push_back("T:\\f" + std::to_string(i));
  std::sort(f1.begin(), f1.end());
  const struct {
    const char* named;
    std::vector<std::string> found;
  } kFinds[] = {
      {"zebra", {"T:\\f17\\Zebra_Quartz.cfg"}},
      {"*quartz*;report3", quartz_or_report3},
      {"REPORT3.txt", report3},
      {"f1", f1},
      {"ab", {}},
  };
  const std::string idx = platform::IndexFilePath('T');
  const std::string tri = NameIndexPath(idx);
  DriveIndex::Options options;
  options.watch_changes = false;
  FoundNames client;
  auto check_finds = [&](DriveIndex& index) {
    for (const auto& f : kFinds) EXPECT_EQ(DriveFind(index, client, f.named), f.found) << f.named;
  };
  {
    // Once the first walk has ended, the finds are narrowed: a record
    // changed behind the index's back is caught by its checksum.
    DriveIndex index(options);
    ASSERT_TRUE(index.Open(idx, "T:", &client, false));
    client.WaitForEnd();
    check_finds(index);
    ChangeNameInFile(idx, "Zebra_Quartz.cfg", "Zebra_quartz.cfg");
    EXPECT_EQ(DriveFind(index, client, "quartz"),
              std::vector<std::string>{"T:\\f17\\Zebra_quartz.cfg"});
    index.Close();
    EXPECT_FALSE(test::Exists(tri));
    EXPECT_TRUE(IndexFileIsRefused(idx));
  }
  {
    // Rebuilt; the name index file is written at close.
    DriveIndex index(options);
    ASSERT_TRUE(index.Open(idx, "T:", &client, false));
    client.WaitForEnd();
    EXPECT_FALSE(test::Exists(tri));
    check_finds(index);
    index.Close();
    EXPECT_TRUE(test::Exists(tri));
  }
  options.index_only = true;
  {
    // An index-only open finds with the file read at open and leaves it.
    DriveIndex index(options);
    ASSERT_TRUE(index.Open(idx, "T:", &client, false));
    check_finds(index);
    index.Close();
    EXPECT_TRUE(test::Exists(tri));
  }
  ChangeNameInFile(idx, "Zebra_Quartz.cfg", "Zebra_quartz.cfg");
  {
    DriveIndex index(options);
    ASSERT_TRUE(index.Open(idx, "T:", &client, false));
    EXPECT_EQ(DriveFind(index, client, "quartz"),
              std::vector<std::string>{"T:\\f17\\Zebra_quartz.cfg"});
    index.Close();
  }
  EXPECT_FALSE(test::Exists(tri));
  EXPECT_TRUE(IndexFileIsRefused(idx));
}

}  // namespace
}  // namespace quindelo
