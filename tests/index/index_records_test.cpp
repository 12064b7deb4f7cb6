// Index records: name order, drive record, folder record layout and entry
// lists, and the record-level operations (subtree delete, folder paths,
// child links, running out of ids).
#include "index/index_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "index/raw_index_file.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

namespace fmt = index_format;

std::vector<FolderEntry> Entries(const std::vector<std::uint8_t>& record, bool* damaged) {
  FolderRecordView view;
  EXPECT_TRUE(view.Parse(record));
  std::vector<FolderEntry> out;
  EntryIterator it(view);
  FolderEntry e;
  while (it.Next(&e)) out.push_back(e);
  *damaged = it.damaged();
  return out;
}

// Writes a folder record with the given entries ("name" a file, "name/" a
// folder with the child id from children in order).
std::uint16_t WriteFolder(IndexStore& store, std::uint16_t id, std::uint16_t parent,
                          const std::string& name,
                          const std::vector<std::pair<std::string, std::uint16_t>>& folders,
                          const std::vector<std::string>& files = {}) {
  if (id == 0) id = store.AllocateId();
  FolderRecordBuilder b;
  EXPECT_TRUE(b.Begin(id, 0, parent, name));
  for (const auto& f : files) EXPECT_NE(b.AddFile(f), 0u);
  for (const auto& [folder, child] : folders) EXPECT_NE(b.AddFolder(folder, child), 0u);
  EXPECT_TRUE(store.WriteRecord(b.Finish()));
  return id;
}

TEST(NameOrder, FoldsAsciiCaseThenBreaksTiesByRawBytes) {
  std::vector<std::string> names = {"abc", "ABD", "ab"};
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return CompareNames(a, b) < 0; });
  EXPECT_EQ(names, (std::vector<std::string>{"ab", "abc", "ABD"}));

  EXPECT_EQ(CompareNamesFolded("Makefile", "makefile"), 0);
  EXPECT_LT(CompareNames("Makefile", "makefile"), 0);
  EXPECT_GT(CompareNames("makefile", "Makefile"), 0);
  EXPECT_EQ(CompareNames("makefile", "makefile"), 0);
  EXPECT_EQ(CompareNames("", ""), 0);
  EXPECT_LT(CompareNames("", "a"), 0);
  // Unsigned bytes: a high byte sorts after every ASCII letter.
  EXPECT_GT(CompareNames("\xE9t\xE9", "zz"), 0);
  // Only A-Z fold: '_' (0x5F) lies between 'Z' and 'a', so it sorts before
  // letters once they are folded.
  EXPECT_LT(CompareNames("_x", "Ax"), 0);
  EXPECT_LT(CompareNamesFolded("a[", "AB"), 0);
}

TEST(DriveRecordTest, NewIndexHoldsPageZeroAndTheDriveRecord) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("DriveC.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  DriveDescription description;
  description.set_root_text("C:");
  description.set_label("Data Disk");
  description.set_type(3);
  description.set_serial(0xDEADBEEF);
  const auto before = static_cast<std::uint32_t>(std::time(nullptr));
  ASSERT_TRUE(CreateDriveRecord(store, description, 0xA1B2C3D4));
  ASSERT_TRUE(store.Close());

  ASSERT_TRUE(store.Open(path));
  std::vector<std::uint8_t> buffer;
  int records = 0;
  store.BeginScan();
  while (store.NextRecord(&buffer)) ++records;
  EXPECT_EQ(records, 1);  // page 0 is a block but not a record of the scan
  EXPECT_EQ(store.live_bytes(), 4296 + 192);

  DriveRecord record;
  ASSERT_TRUE(ReadDriveRecord(store, &record));
  EXPECT_GE(record.created, before);
  EXPECT_LE(record.created, static_cast<std::uint32_t>(std::time(nullptr)));
  EXPECT_EQ(record.last_refresh, 0u);
  EXPECT_EQ(record.root_folder_id, 0);
  EXPECT_EQ(record.description.bytes, description.bytes);
  EXPECT_EQ(record.root_id, 0xA1B2C3D4u);

  ASSERT_TRUE(SaveDriveRecord(store, 1234567, 4));
  // Saved and flushed: the file holds it while still open.
  auto raw = test::ReadRaw(path);
  const std::size_t at = store.table_entry(3);
  EXPECT_EQ(test::RawU32(raw, at), 192u);
  EXPECT_EQ(test::RawU32(raw, at + 12), 1234567u);
  EXPECT_EQ(test::RawU16(raw, at + 20), 4);
  EXPECT_GE(test::RawU32(raw, at + 16), before);
  EXPECT_EQ(test::RawU32(raw, at + 8), record.created);
  EXPECT_EQ(std::vector<std::uint8_t>(raw.begin() + at + 24, raw.begin() + at + 152),
            std::vector<std::uint8_t>(description.bytes.begin(), description.bytes.end()));
  // The root folder's identification, then zero to the end of the record.
  EXPECT_EQ(test::RawU32(raw, at + 152), 0xA1B2C3D4u);
  for (std::size_t i = at + 156; i < at + 192; ++i) EXPECT_EQ(raw[i], 0);

  // A record 3 that is not a 192-byte drive record is unusable.
  std::vector<std::uint8_t> wrong = test::MakeBlock(3, 200, 0, fmt::kKindDriveRecord);
  ASSERT_TRUE(store.WriteRecord(wrong));
  EXPECT_FALSE(ReadDriveRecord(store, &record));
  EXPECT_FALSE(SaveDriveRecord(store, 1, 4));
}

TEST(FolderRecordTest, EmptyFolderLayout) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  const std::uint16_t id = CreateFolderRecord(store, 9, "Windows");
  ASSERT_EQ(id, 4);
  ASSERT_TRUE(store.Flush());
  auto raw = test::ReadRaw(path);
  const std::size_t at = store.table_entry(id);
  EXPECT_EQ(test::RawU32(raw, at), 16u + 7u);
  EXPECT_EQ(test::RawU16(raw, at + 4), id);
  EXPECT_EQ(test::RawU16(raw, at + 6), 3);
  EXPECT_EQ(test::RawU32(raw, at + 8), 0u);  // never listed
  EXPECT_EQ(test::RawU16(raw, at + 12), 9);
  EXPECT_EQ(raw[at + 14], 7);
  EXPECT_EQ(std::string(raw.begin() + at + 15, raw.begin() + at + 22), "Windows");
  EXPECT_EQ(raw[at + 22], 0);  // the entry list is its terminator alone

  const std::uint16_t root = CreateFolderRecord(store, 0, "");
  std::vector<std::uint8_t> buffer;
  FolderRecordView view;
  ASSERT_TRUE(ReadFolderRecord(store, root, &buffer, &view));
  EXPECT_EQ(view.length(), 16u);
  EXPECT_EQ(view.name(), "");
  EXPECT_EQ(view.parent_id(), 0);
  bool damaged = true;
  EXPECT_TRUE(Entries(buffer, &damaged).empty());
  EXPECT_FALSE(damaged);

  EXPECT_EQ(CreateFolderRecord(store, root, std::string(256, 'x')), 0);
  EXPECT_NE(CreateFolderRecord(store, root, std::string(255, 'x')), 0);
}

TEST(FolderRecordTest, EntriesRoundTripAndChildIdsArePatched) {
  test::ScopedTestEnv env;
  IndexStore store;
  ASSERT_TRUE(store.Open(env.Path("x.idx")));
  FolderRecordBuilder b;
  ASSERT_TRUE(b.Begin(4, 0x01020304, 0, ""));
  const std::uint32_t first = b.AddFile("a.txt");
  const std::uint32_t bin = b.AddFolder("bin", 0);
  EXPECT_EQ(b.AddFile(""), 0u);
  EXPECT_EQ(b.AddFile(std::string(255, 'f')), 0u);  // would read as the folder marker
  EXPECT_NE(b.AddFile(std::string(254, 'f')), 0u);
  EXPECT_NE(b.AddFolder(std::string(255, 'g'), 77), 0u);
  const auto& record = b.Finish();
  EXPECT_EQ(first, 15u);
  EXPECT_EQ(bin, 15u + 6u);
  EXPECT_EQ(record.size() % 8, 0u);
  EXPECT_EQ(fmt::GetU32(record.data()), 16u + 6u + 7u + 255u + 259u);
  ASSERT_TRUE(store.WriteRecord(record));

  const std::uint16_t child = CreateFolderRecord(store, 4, "bin");
  ASSERT_TRUE(SetChildId(store, 4, bin, child));
  std::vector<std::uint8_t> buffer;
  FolderRecordView view;
  ASSERT_TRUE(ReadFolderRecord(store, 4, &buffer, &view));
  EXPECT_EQ(view.stamp(), 0x01020304u);
  bool damaged = true;
  auto entries = Entries(buffer, &damaged);
  EXPECT_FALSE(damaged);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_FALSE(entries[0].is_folder);
  EXPECT_EQ(entries[0].name, "a.txt");
  EXPECT_TRUE(entries[1].is_folder);
  EXPECT_EQ(entries[1].name, "bin");
  EXPECT_EQ(entries[1].child_id, child);
  EXPECT_EQ(entries[1].position, bin);
  EXPECT_EQ(entries[2].name.size(), 254u);
  EXPECT_EQ(entries[3].child_id, 77);
  EXPECT_EQ(entries[3].name.size(), 255u);
}

TEST(FolderRecordTest, MalformedRecordsNeverReadPastTheBuffer) {
  // Each list is the exact record buffer (no slack), so a reader running
  // past it is caught by AddressSanitizer.
  auto record_with_list = [](std::vector<std::uint8_t> list) {
    std::vector<std::uint8_t> r(15 + list.size(), 0);
    fmt::EncodeBlockHeader(r.data(), {static_cast<std::uint32_t>(r.size()), 4, 3});
    std::copy(list.begin(), list.end(), r.begin() + 15);
    return r;
  };
  const std::vector<std::vector<std::uint8_t>> bad_lists = {
      {3, 'a', 'b', 'c'},                // no terminator
      {5, 'a', 'b'},                     // file name longer than the record
      {0xFF, 4},                         // folder entry cut in its child id
      {0xFF, 4, 0, 9, 'a'},              // folder name longer than the record
      {0xFF, 4, 0, 0, 0},                // folder entry with an empty name
  };
  for (const auto& list : bad_lists) {
    auto r = record_with_list(list);
    auto* heap = new std::uint8_t[r.size()];
    std::copy(r.begin(), r.end(), heap);
    FolderRecordView view;
    ASSERT_TRUE(view.Parse(heap, r.size()));
    EntryIterator it(view);
    FolderEntry e;
    int n = 0;
    while (it.Next(&e)) ++n;
    EXPECT_TRUE(it.damaged()) << "list of " << list.size() << " bytes";
    EXPECT_LE(it.position(), r.size());
    delete[] heap;
  }

  // Fixed parts that cannot be trusted are refused outright.
  std::vector<std::uint8_t> r = record_with_list({0});
  FolderRecordView view;
  EXPECT_TRUE(view.Parse(r));
  EXPECT_FALSE(view.Parse(r.data(), r.size() - 1)) << "length beyond the buffer";
  r[14] = 200;
  EXPECT_FALSE(view.Parse(r)) << "name beyond the length";
  r[14] = 0;
  r[6] = 2;
  EXPECT_FALSE(view.Parse(r)) << "not a folder record";

  // Random lists: the walk always ends inside the record.
  std::mt19937 rng(99);
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint8_t> list(1 + rng() % 40);
    for (auto& b : list) b = static_cast<std::uint8_t>(rng() % 5 == 0 ? 0xFF : rng() % 12);
    auto rec = record_with_list(list);
    ASSERT_TRUE(view.Parse(rec));
    EntryIterator it(view);
    FolderEntry e;
    while (it.Next(&e)) {
      ASSERT_LE(e.position + e.size, rec.size());
      ASSERT_LE(static_cast<const void*>(e.name.data() + e.name.size()),
                static_cast<const void*>(rec.data() + rec.size()));
    }
  }
}

TEST(FolderPathTest, PathsFromTheRootAndLoopsInParents) {
  test::ScopedTestEnv env;
  IndexStore store;
  ASSERT_TRUE(store.Open(env.Path("x.idx")));
  const std::uint16_t root = CreateFolderRecord(store, 0, "");
  const std::uint16_t windows = CreateFolderRecord(store, root, "Windows");
  const std::uint16_t system = CreateFolderRecord(store, windows, "System32");
  NameCache cache(store.table_length());
  StringPool pool;
  std::string path;
  ASSERT_TRUE(BuildFolderPath(store, root, &cache, &pool, &path));
  EXPECT_EQ(path, "\\");
  ASSERT_TRUE(BuildFolderPath(store, windows, &cache, &pool, &path));
  EXPECT_EQ(path, "\\Windows\\");
  ASSERT_TRUE(BuildFolderPath(store, system, &cache, &pool, &path));
  EXPECT_EQ(path, "\\Windows\\System32\\");
  EXPECT_EQ(cache.slot(system).parent_id, windows);

  // Two folders that name each other as parent.
  const std::uint16_t a = store.AllocateId();
  const std::uint16_t b = store.AllocateId();
  ASSERT_TRUE(store.WriteRecord(EncodeEmptyFolderRecord(a, b, "a")));
  ASSERT_TRUE(store.WriteRecord(EncodeEmptyFolderRecord(b, a, "b")));
  EXPECT_FALSE(store.is_damaged());
  NameCache loop_cache;
  EXPECT_FALSE(BuildFolderPath(store, a, &loop_cache, &pool, &path));
  EXPECT_TRUE(store.is_damaged());

  // Cached folders are not read again.
  ASSERT_TRUE(store.DeleteRecord(windows));
  ASSERT_TRUE(BuildFolderPath(store, system, &cache, &pool, &path));
  EXPECT_EQ(path, "\\Windows\\System32\\");
  NameCache fresh;
  EXPECT_FALSE(BuildFolderPath(store, system, &fresh, &pool, &path)) << "parent unreadable";

}

TEST(SubtreeTest, DeletesDescendantsOnly) {
  test::ScopedTestEnv env;
  IndexStore store;
  ASSERT_TRUE(store.Open(env.Path("x.idx")));
  // root -> a -> (b, c -> d, "nochild" without a record), root -> e
  const std::uint16_t root = store.AllocateId(), a = store.AllocateId(),
                      b = store.AllocateId(), c = store.AllocateId(),
                      d = store.AllocateId(), e = store.AllocateId();
  WriteFolder(store, root, 0, "", {{"a", a}, {"e", e}}, {"file1"});
  WriteFolder(store, a, root, "a", {{"b", b}, {"c", c}, {"nochild", 0}}, {"x"});
  WriteFolder(store, b, a, "b", {});
  WriteFolder(store, c, a, "c", {{"d", d}});
  WriteFolder(store, d, c, "d", {});
  WriteFolder(store, e, root, "e", {});
  const std::uint16_t drive = fmt::kDriveRecordId;
  ASSERT_TRUE(CreateDriveRecord(store, DriveDescription{}));

  EXPECT_TRUE(DeleteFolderSubtree(store, a));
  for (std::uint16_t gone : {a, b, c, d}) EXPECT_EQ(store.table_entry(gone), 0u) << gone;
  for (std::uint16_t kept : {root, e, drive}) EXPECT_NE(store.table_entry(kept), 0u) << kept;
  EXPECT_FALSE(store.is_damaged());
  EXPECT_EQ(store.live_bytes(), 4296 + 192 + static_cast<std::int32_t>(
                                                 fmt::Round8(16 + 6 + 5 + 5) + fmt::Round8(17)));
}

TEST(SubtreeTest, LoopingChildLinksEnd) {
  test::ScopedTestEnv env;
  IndexStore store;
  ASSERT_TRUE(store.Open(env.Path("x.idx")));
  const std::uint16_t a = store.AllocateId(), b = store.AllocateId(),
                      c = store.AllocateId();
  WriteFolder(store, a, 0, "", {{"b", b}, {"self", a}});
  WriteFolder(store, b, a, "b", {{"up", a}, {"c", c}, {"c again", c}});
  WriteFolder(store, c, b, "c", {{"b", b}});
  EXPECT_FALSE(DeleteFolderSubtree(store, a));
  for (std::uint16_t gone : {a, b, c}) EXPECT_EQ(store.table_entry(gone), 0u) << gone;
  EXPECT_TRUE(store.is_damaged());

  // A child link to a record of another parent leaves that record alone.
  const std::uint16_t x = store.AllocateId(), y = store.AllocateId(), z = store.AllocateId();
  WriteFolder(store, x, 0, "x", {{"y", y}});
  WriteFolder(store, y, z, "y", {});
  WriteFolder(store, z, 0, "z", {});
  EXPECT_FALSE(DeleteFolderSubtree(store, x));
  EXPECT_EQ(store.table_entry(x), 0u);
  EXPECT_NE(store.table_entry(y), 0u);
}

// A deep chain is deleted without recursion on the call stack.
TEST(SubtreeTest, DeepChain) {
  test::ScopedTestEnv env;
  IndexStore store;
  ASSERT_TRUE(store.Open(env.Path("x.idx")));
  std::vector<std::uint16_t> ids(5000);
  for (auto& id : ids) id = store.AllocateId();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    std::vector<std::pair<std::string, std::uint16_t>> child;
    if (i + 1 < ids.size()) child.push_back({"n", ids[i + 1]});
    WriteFolder(store, ids[i], i ? ids[i - 1] : 0, i ? "n" : "", child);
  }
  ASSERT_TRUE(store.Flush());  // writes table pages 1 to 4
  EXPECT_TRUE(DeleteFolderSubtree(store, ids[0]));
  EXPECT_EQ(store.live_bytes(), 4296 + 4104 * 4);  // the table pages are all that is left
  NameCache cache;
  StringPool pool;
  std::string path;
  EXPECT_FALSE(BuildFolderPath(store, ids[100], &cache, &pool, &path));
}

TEST(FolderRecordTest, RunningOutOfIdsCreatesNothingAndKeepsTheIndexSound) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  ASSERT_TRUE(CreateDriveRecord(store, DriveDescription{}));
  const std::uint16_t root = CreateFolderRecord(store, 0, "");
  int created = 1;
  std::uint16_t last = root;
  for (std::uint16_t id; (id = CreateFolderRecord(store, root, "f")) != 0; last = id) ++created;
  EXPECT_EQ(created, 61377);
  EXPECT_EQ(last, 61439);
  const std::uint32_t end = store.end_offset();
  const std::int32_t live = store.live_bytes();
  EXPECT_EQ(CreateFolderRecord(store, root, "one too many"), 0);
  EXPECT_EQ(store.end_offset(), end);
  EXPECT_EQ(store.live_bytes(), live);
  EXPECT_FALSE(store.is_damaged());
  ASSERT_TRUE(SaveDriveRecord(store, 5, root));
  ASSERT_TRUE(store.Close());

  // Reopened (also as after a crash) the index is sound, and a freed id is
  // handed out again.
  test::PatchRawU16(path, fmt::kOpenFlagOffset, 1);
  ASSERT_TRUE(store.Open(path));
  EXPECT_FALSE(store.is_damaged());
  DriveRecord record;
  ASSERT_TRUE(ReadDriveRecord(store, &record));
  EXPECT_EQ(record.root_folder_id, root);
  ASSERT_TRUE(store.DeleteRecord(777));
  EXPECT_EQ(CreateFolderRecord(store, root, "again"), 777);
}

}  // namespace
}  // namespace quindelo
