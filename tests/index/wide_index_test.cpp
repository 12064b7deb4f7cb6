// The wide variant of the index file: its record bytes, the move of a
// narrow index to it, and a wide store past the narrow table's 60 pages
// through reopening, the check after an unclean close and compaction.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "index/index_records.h"
#include "index/index_store.h"
#include "index/raw_index_file.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

namespace fmt = index_format;

// Folder "ab" (stamp 0x11223344) with the file "x" and the folder "dir"
// whose record is child_id.
std::vector<std::uint8_t> SampleFolder(const fmt::Layout& layout, fmt::RecordId id,
                                       fmt::RecordId parent, fmt::RecordId child_id) {
  FolderRecordBuilder builder(layout);
  EXPECT_TRUE(builder.Begin(id, 0x11223344, parent, "ab"));
  EXPECT_NE(builder.AddFolder("dir", child_id), 0u);
  EXPECT_NE(builder.AddFile("x"), 0u);
  return builder.Finish();
}

TEST(WideIndexTest, RecordsEncodeAsDocumentedInBothVariants) {
  struct Case {
    const char* name;
    const fmt::Layout& layout;
    fmt::RecordId id, parent, child;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {"narrow",
       fmt::kNarrow,
       0x2345,
       0x0102,
       0xBEEF,
       {27, 0, 0, 0, 0x45, 0x23, 3, 0,           // length 27, id, kind 3
        0x44, 0x33, 0x22, 0x11, 0x02, 0x01,      // stamp, parent
        2, 'a', 'b',                             // name
        0xFF, 0xEF, 0xBE, 3, 'd', 'i', 'r',      // folder entry
        1, 'x', 0,                               // file entry, end of list
        0, 0, 0, 0, 0}},                         // padding to 32
      {"wide",
       fmt::kWide,
       0xAB2345,
       0x030102,
       0x12BEEF,
       {29, 0, 0, 0, 0x45, 0x23, 3, 0xAB,        // id bits 16-23 in byte 7
        0x44, 0x33, 0x22, 0x11, 0x02, 0x01, 0x03,
        2, 'a', 'b',
        0xFF, 0xEF, 0xBE, 0x12, 3, 'd', 'i', 'r',
        1, 'x', 0,
        0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> record = SampleFolder(c.layout, c.id, c.parent, c.child);
    EXPECT_EQ(record, c.bytes);
    FolderRecordView view(c.layout);
    ASSERT_TRUE(view.Parse(record));
    EXPECT_EQ(view.id(), c.id);
    EXPECT_EQ(view.parent_id(), c.parent);
    EXPECT_EQ(view.name(), "ab");
    EntryIterator it(view);
    FolderEntry entry;
    ASSERT_TRUE(it.Next(&entry));
    EXPECT_EQ(entry.name, "dir");
    EXPECT_EQ(entry.child_id, c.child);
    ASSERT_TRUE(it.Next(&entry));
    EXPECT_EQ(entry.name, "x");
    EXPECT_FALSE(it.Next(&entry));
    EXPECT_FALSE(it.damaged());

    DriveRecord drive;
    drive.root_folder_id = c.parent;
    const std::vector<std::uint8_t> encoded = drive.Encode(c.layout);
    EXPECT_EQ(fmt::GetU32(encoded.data() + 20), c.parent);  // narrow: 2 bytes, then 2 zero
    DriveRecord decoded;
    ASSERT_TRUE(DriveRecord::Decode(encoded.data(), encoded.size(), &decoded, c.layout));
    EXPECT_EQ(decoded.root_folder_id, c.parent);
  }
}

// A narrow index with a small tree, moved to the wide variant, then grown
// past every id a narrow file has.
TEST(WideIndexTest, WidenedIndexKeepsItsRecordsAndGrowsPastTheNarrowTable) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("DriveW.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  DriveDescription description;
  description.set_root_text("W:");
  description.set_serial(0x1234);
  ASSERT_TRUE(CreateDriveRecord(store, description, 77));
  const fmt::RecordId root = CreateFolderRecord(store, 0, "");
  const fmt::RecordId a = CreateFolderRecord(store, root, "a");
  {
    FolderRecordBuilder builder;
    ASSERT_TRUE(builder.Begin(root, 99, 0, ""));
    builder.AddFolder("a", a);
    builder.AddFile("readme.txt");
    ASSERT_TRUE(store.WriteRecord(builder.Finish()));
  }
  ASSERT_TRUE(SaveDriveRecord(store, 1234, root));
  const std::uint32_t page0_at = store.table_entry(fmt::kPage0Id);

  ASSERT_TRUE(WidenIndex(store));
  ASSERT_TRUE(store.IsOpen());
  EXPECT_TRUE(store.wide());
  EXPECT_FALSE(std::filesystem::exists(path + ".wide"));
  EXPECT_EQ(store.table_entry(fmt::kPage0Id), page0_at);
  DriveRecord drive;
  ASSERT_TRUE(ReadDriveRecord(store, &drive));
  EXPECT_EQ(drive.root_folder_id, root);
  EXPECT_EQ(drive.root_id, 77u);
  EXPECT_EQ(drive.description.bytes, description.bytes);
  std::vector<std::uint8_t> buffer;
  FolderRecordView view;
  ASSERT_TRUE(ReadFolderRecord(store, root, &buffer, &view));
  EXPECT_EQ(view.stamp(), 99u);
  EntryIterator it(view);
  FolderEntry entry;
  ASSERT_TRUE(it.Next(&entry));
  EXPECT_EQ(entry.name, "a");
  EXPECT_EQ(entry.child_id, a);
  ASSERT_TRUE(it.Next(&entry));
  EXPECT_EQ(entry.name, "readme.txt");
  ASSERT_TRUE(ReadFolderRecord(store, a, &buffer, &view));
  EXPECT_EQ(view.parent_id(), root);
  EXPECT_EQ(view.name(), "a");

  // Far past the narrow table: ids above 65535 need the header's byte 7.
  std::map<fmt::RecordId, std::string> names;
  for (int i = 0; i < 70000; ++i) {
    const std::string name = "f" + std::to_string(i);
    const fmt::RecordId id = CreateFolderRecord(store, a, name);
    ASSERT_NE(id, 0u) << i;
    ASSERT_NE(id % fmt::kEntriesPerPage, 0u);
    if (i % 997 == 0 || i == 69999) names[id] = name;
  }
  EXPECT_GT(names.rbegin()->first, 70000u);
  EXPECT_GT(store.table_length(), fmt::kMaxTableLength);
  // Free half of them, then compact: records slide down and keep their ids.
  for (fmt::RecordId id = 7; id < 60000; id += 2) {
    if (!names.count(id)) {
      ASSERT_TRUE(store.DeleteRecord(id)) << id;
    }
  }
  store.Compact(std::function<int()>());
  ASSERT_TRUE(store.Close());

  // An unclean close has every block checked against the table at the next
  // open; the wide table's chain of pages loads whole.
  test::PatchRawU16(path, fmt::kOpenFlagOffset, 1);
  ASSERT_TRUE(store.Open(path));
  EXPECT_TRUE(store.wide());
  EXPECT_FALSE(store.is_damaged());
  for (const auto& [id, name] : names) {
    ASSERT_TRUE(ReadFolderRecord(store, id, &buffer, &view)) << id;
    EXPECT_EQ(view.id(), id);
    EXPECT_EQ(view.parent_id(), a);
    EXPECT_EQ(view.name(), name);
  }
}

}  // namespace
}  // namespace quindelo
