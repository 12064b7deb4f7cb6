// IndexStore: file layout on disk, record placement, ids, scan and
// compaction of sound files.
#include "index/index_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "index/raw_index_file.h"
#include "platform/file.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

namespace fmt = index_format;
using test::FileSize;
using test::MakeBlock;
using test::ReadRaw;
using test::RawU16;
using test::RawU32;

// Offset in the file of table entry id, for ids held in page 0.
std::size_t Page0EntryAt(std::uint16_t id) { return 192 + 8 + 4 * std::size_t{id}; }

std::vector<std::uint8_t> Read(IndexStore& store, std::uint16_t id) {
  std::vector<std::uint8_t> buffer;
  EXPECT_TRUE(store.ReadRecord(id, &buffer)) << "id " << id;
  return buffer;
}

// Writes a record of the given length for a freshly allocated id.
std::uint16_t AddRecord(IndexStore& store, std::uint32_t length, std::uint8_t fill = 0x40) {
  std::uint16_t id = store.AllocateId();
  EXPECT_NE(id, 0);
  EXPECT_TRUE(store.WriteRecord(MakeBlock(id, length, fill)));
  return id;
}

TEST(IndexStoreLayout, FreshFileIsHeaderAndTablePageZero) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  EXPECT_TRUE(store.IsOpen());
  EXPECT_TRUE(store.is_new_file());
  EXPECT_EQ(store.table_length(), 1024u);

  auto raw = ReadRaw(path);
  ASSERT_EQ(raw.size(), 4296u);
  EXPECT_EQ(std::string(raw.begin(), raw.begin() + 15), "Quindelo File\r\n");
  std::size_t banner_end = 0;
  while (banner_end < 128 && raw[banner_end] != 0) ++banner_end;
  EXPECT_LT(banner_end, 128u);
  EXPECT_EQ(raw[banner_end - 2], '\r');
  EXPECT_EQ(raw[banner_end - 1], '\n');
  for (std::size_t i = banner_end; i < 128; ++i) EXPECT_EQ(raw[i], 0) << i;
  EXPECT_EQ(RawU32(raw, 128), 0x43218765u);
  EXPECT_EQ(RawU32(raw, 132), 0x00010001u);
  EXPECT_EQ(RawU32(raw, 136), 4296u);  // end offset
  EXPECT_EQ(RawU32(raw, 140), 4296u);  // live bytes
  EXPECT_EQ(RawU16(raw, 144), 1);      // open flag
  EXPECT_EQ(RawU16(raw, 146), 0);      // damaged flag
  for (std::size_t i = 148; i < 192; ++i) EXPECT_EQ(raw[i], 0) << i;
  // Page 0: block header, then entry 1 = its own offset, all else zero.
  EXPECT_EQ(RawU32(raw, 192), 4104u);
  EXPECT_EQ(RawU16(raw, 196), 1);
  EXPECT_EQ(RawU16(raw, 198), 1);
  EXPECT_EQ(RawU32(raw, Page0EntryAt(1)), 192u);
  for (std::uint16_t id = 2; id < 1024; ++id) ASSERT_EQ(RawU32(raw, Page0EntryAt(id)), 0u) << id;

  ASSERT_TRUE(store.Close());
  EXPECT_FALSE(store.IsOpen());
  raw = ReadRaw(path);
  EXPECT_EQ(raw.size(), 4296u);
  EXPECT_EQ(RawU16(raw, 144), 0);

  ASSERT_TRUE(store.Open(path));
  EXPECT_FALSE(store.is_new_file());
  EXPECT_EQ(store.end_offset(), 4296u);
  EXPECT_EQ(store.live_bytes(), 4296);
  EXPECT_EQ(store.table_entry(1), 192u);
  EXPECT_EQ(RawU16(ReadRaw(path), 144), 1);  // open again: flag back on disk
}

TEST(IndexStoreLayout, SizeCheckToleratesOnlyLostPadding) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(path));
    // A last block of length 193 occupies 200 bytes: 7 bytes of padding.
    std::uint16_t id = store.AllocateId();
    ASSERT_TRUE(store.WriteRecord(MakeBlock(id, 193)));
    ASSERT_TRUE(store.Close());
  }
  const auto clean = ReadRaw(path);
  ASSERT_EQ(clean.size(), 4496u);

  for (std::size_t cut = 1; cut <= 8; ++cut) {
    test::WriteRaw(path, std::vector<std::uint8_t>(clean.begin(), clean.end() - cut));
    IndexStore store;
    EXPECT_EQ(store.Open(path).ok(), cut < 8) << "cut " << cut;
    if (cut < 8) {
      std::vector<std::uint8_t> want = MakeBlock(4, 193);
      want.resize(193);
      EXPECT_EQ(Read(store, 4), want);
    } else {
      EXPECT_EQ(FileSize(path), clean.size() - 8);  // a refused file is left untouched
    }
  }

  auto longer = clean;
  longer.push_back(0);
  test::WriteRaw(path, longer);
  IndexStore store;
  EXPECT_FALSE(store.Open(path));
  EXPECT_EQ(ReadRaw(path), longer);
}

TEST(IndexStoreIds, FreshIdsSkipPageIdsAndGrowTheTable) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  std::uint16_t id = 0;
  for (int i = 1; i <= 1021; ++i) {
    id = store.AllocateId();
    ASSERT_NE(id, 1024);
  }
  EXPECT_EQ(id, 1025);
  EXPECT_EQ(store.table_length(), 2048u);
  ASSERT_TRUE(store.WriteRecord(MakeBlock(id, 40)));  // placed at 4296
  EXPECT_EQ(store.table_entry(1025), 4296u);

  ASSERT_TRUE(store.Flush());
  auto raw = ReadRaw(path);
  // Page 1 goes to the end offset at the flush, and its link is entry 2.
  EXPECT_EQ(RawU32(raw, Page0EntryAt(2)), 4336u);
  EXPECT_EQ(store.table_entry(2), 4336u);
  EXPECT_EQ(RawU32(raw, 4336), 4104u);
  EXPECT_EQ(RawU16(raw, 4336 + 4), 2);
  EXPECT_EQ(RawU16(raw, 4336 + 6), 1);
  EXPECT_EQ(RawU32(raw, 4336 + 8 + 4 * 1), 4296u);  // entry 1025 inside page 1
  EXPECT_EQ(store.end_offset(), 4336u + 4104u);
  EXPECT_EQ(RawU32(raw, 136), 4336u + 4104u);
  EXPECT_EQ(store.live_bytes(), 4296 + 40 + 4104);
  EXPECT_EQ(raw.size(), 4336u + 4104u);

  // Page 2 (id 1024) is linked from the first entry of page 1.
  while (id < 2049) id = store.AllocateId();
  ASSERT_TRUE(store.WriteRecord(MakeBlock(2049, 24)));
  ASSERT_TRUE(store.Close());
  raw = ReadRaw(path);
  const std::uint32_t page2 = RawU32(raw, 4336 + 8);
  EXPECT_EQ(page2, 4336u + 4104u + 24u);
  EXPECT_EQ(RawU16(raw, page2 + 4), 1024);

  ASSERT_TRUE(store.Open(path));
  EXPECT_EQ(store.table_length(), 3072u);
  EXPECT_EQ(Read(store, 1025), MakeBlock(1025, 40));
  EXPECT_EQ(Read(store, 2049), MakeBlock(2049, 24));
  EXPECT_EQ(store.next_id_hint(), 4);
}

TEST(IndexStoreIds, RunningOutOfIdsIsNotDamage) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  int handed_out = 0;
  std::uint16_t last = 0;
  for (std::uint16_t id; (id = store.AllocateId()) != 0;) {
    ASSERT_NE(id % 1024, 0);
    ASSERT_GT(id, last);
    last = id;
    ++handed_out;
  }
  EXPECT_EQ(handed_out, 61440 - 4 - 59);
  EXPECT_EQ(last, 61439);
  EXPECT_EQ(store.table_length(), 61440u);
  EXPECT_EQ(store.AllocateId(), 0);
  EXPECT_FALSE(store.is_damaged());
  ASSERT_TRUE(store.Close());
  ASSERT_TRUE(store.Open(path));
  EXPECT_FALSE(store.is_damaged());
  EXPECT_EQ(store.table_length(), 61440u);
  EXPECT_EQ(FileSize(path), 192u + 60u * 4104u);
}

TEST(IndexStoreIds, DeletedIdIsHandedOutAgain) {
  test::ScopedTestEnv env;
  IndexStore store;
  ASSERT_TRUE(store.Open(env.Path("x.idx")));
  std::uint16_t a = AddRecord(store, 24);
  std::uint16_t b = AddRecord(store, 24);
  std::uint16_t c = AddRecord(store, 24);
  EXPECT_EQ(a, 4);
  EXPECT_EQ(c, 6);
  const std::int32_t live = store.live_bytes();
  ASSERT_TRUE(store.DeleteRecord(b));
  EXPECT_EQ(store.table_entry(b), 0u);
  EXPECT_EQ(store.live_bytes(), live - 24);
  EXPECT_FALSE(store.DeleteRecord(b));  // no record: quiet failure
  EXPECT_FALSE(store.is_damaged());
  EXPECT_EQ(store.AllocateId(), b);
  EXPECT_EQ(store.AllocateId(), 7);
}

TEST(IndexStoreRecords, ReadWritePatchRoundTrip) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  std::uint16_t id = store.AllocateId();
  ASSERT_TRUE(store.WriteRecord(MakeBlock(id, 21)));
  std::vector<std::uint8_t> buffer(1000, 0xAA);
  ASSERT_TRUE(store.ReadRecord(id, &buffer));
  auto want = MakeBlock(id, 21);
  want.resize(21);
  EXPECT_EQ(buffer, want);

  const std::uint8_t patch[3] = {1, 2, 3};
  ASSERT_TRUE(store.PatchRecord(id, 10, patch, 3));
  want[10] = 1, want[11] = 2, want[12] = 3;
  EXPECT_EQ(Read(store, id), want);
  EXPECT_FALSE(store.PatchRecord(id, 100, patch, 3));  // past the end of the file
  EXPECT_FALSE(store.PatchRecord(40, 8, patch, 3));    // no such record

  // Ids and kinds that belong to table pages are refused.
  EXPECT_FALSE(store.WriteRecord(MakeBlock(1, 24)));
  EXPECT_FALSE(store.WriteRecord(MakeBlock(1024, 24)));
  EXPECT_FALSE(store.WriteRecord(MakeBlock(5, 24, 0, fmt::kKindTablePage)));
  EXPECT_FALSE(store.WriteRecord(MakeBlock(5, 24, 0, fmt::kKindFree)));
  EXPECT_FALSE(store.is_damaged());

  ASSERT_TRUE(store.Close());
  ASSERT_TRUE(store.Open(path));
  EXPECT_EQ(Read(store, id), want);
}

TEST(IndexStoreRecords, RecordAtTheEndGrowsAndShrinksInPlace) {
  test::ScopedTestEnv env;
  IndexStore store;
  ASSERT_TRUE(store.Open(env.Path("x.idx")));
  std::uint16_t id = AddRecord(store, 24);
  EXPECT_EQ(store.table_entry(id), 4296u);
  EXPECT_EQ(store.end_offset(), 4320u);

  ASSERT_TRUE(store.WriteRecord(MakeBlock(id, 100)));
  EXPECT_EQ(store.table_entry(id), 4296u);
  EXPECT_EQ(store.end_offset(), 4296u + 104u);
  EXPECT_EQ(store.live_bytes(), 4296 + 104);

  ASSERT_TRUE(store.WriteRecord(MakeBlock(id, 30)));
  EXPECT_EQ(store.table_entry(id), 4296u);
  EXPECT_EQ(store.end_offset(), 4296u + 32u);
  EXPECT_EQ(store.live_bytes(), 4296 + 32);
  ASSERT_TRUE(store.Flush());
  EXPECT_EQ(FileSize(env.Path("x.idx")), 4328u);
  EXPECT_EQ(Read(store, id).size(), 30u);
}

TEST(IndexStoreRecords, RecordInTheMiddleKeepsItsRoomOrMoves) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  std::uint16_t a = AddRecord(store, 64);  // 4296
  std::uint16_t b = AddRecord(store, 24);  // 4360
  std::uint16_t c = AddRecord(store, 24);  // 4384
  const std::uint32_t end = store.end_offset();
  ASSERT_EQ(end, 4408u);

  // Shrinking in the middle leaves a free block of the difference.
  ASSERT_TRUE(store.WriteRecord(MakeBlock(a, 20, 1)));
  EXPECT_EQ(store.table_entry(a), 4296u);
  EXPECT_EQ(store.end_offset(), end);
  EXPECT_EQ(store.live_bytes(), 4296 + 24 + 24 + 24);
  ASSERT_TRUE(store.Flush());
  auto raw = ReadRaw(path);
  EXPECT_EQ(RawU32(raw, 4296 + 24), 40u);
  EXPECT_EQ(RawU16(raw, 4296 + 24 + 4), 0);
  EXPECT_EQ(RawU16(raw, 4296 + 24 + 6), 0);

  // Growing takes over the free block behind it (and the freed b).
  ASSERT_TRUE(store.DeleteRecord(b));
  ASSERT_TRUE(store.WriteRecord(MakeBlock(a, 80, 2)));
  EXPECT_EQ(store.table_entry(a), 4296u);
  ASSERT_TRUE(store.Flush());
  raw = ReadRaw(path);
  EXPECT_EQ(RawU32(raw, 4296 + 80), 8u);  // 64 + 24 = 88 bytes of room, 80 used
  EXPECT_EQ(RawU16(raw, 4296 + 80 + 4), 0);

  // Growing beyond the free space moves the record to the end.
  ASSERT_TRUE(store.WriteRecord(MakeBlock(a, 200, 3)));
  EXPECT_EQ(store.table_entry(a), end);
  EXPECT_EQ(store.end_offset(), end + 200);
  ASSERT_TRUE(store.Flush());
  raw = ReadRaw(path);
  EXPECT_EQ(RawU32(raw, 4296), 80u);  // the old block is free; its 8-byte tail stays apart
  EXPECT_EQ(RawU16(raw, 4296 + 4), 0);
  EXPECT_EQ(store.live_bytes(), 4296 + 24 + 200);
  EXPECT_EQ(Read(store, a), MakeBlock(a, 200, 3));
  EXPECT_EQ(Read(store, c), MakeBlock(c, 24));
  EXPECT_FALSE(store.is_damaged());
}

TEST(IndexStoreRecords, GrowingBeforeTooLittleFreeSpaceMovesToTheEnd) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  std::uint16_t a = AddRecord(store, 24);
  std::uint16_t b = AddRecord(store, 24);
  ASSERT_TRUE(store.DeleteRecord(b));  // a is followed only by free space up to the end
  ASSERT_TRUE(store.WriteRecord(MakeBlock(a, 64, 9)));
  EXPECT_EQ(store.table_entry(a), 4344u);
  EXPECT_EQ(store.end_offset(), 4344u + 64u);
  EXPECT_EQ(store.live_bytes(), 4296 + 64);
  EXPECT_FALSE(store.is_damaged());
  ASSERT_TRUE(store.Close());

  // The file is consistent: with its open flag forced on it passes the check.
  test::PatchRawU16(path, fmt::kOpenFlagOffset, 1);
  ASSERT_TRUE(store.Open(path));
  EXPECT_EQ(Read(store, a), MakeBlock(a, 64, 9));
  EXPECT_FALSE(store.is_damaged());
}

TEST(IndexStoreScan, WalksRecordsInFileOrderThroughTheWindow) {
  test::ScopedTestEnv env;
  IndexStore store;
  ASSERT_TRUE(store.Open(env.Path("x.idx")));
  std::map<std::uint16_t, std::vector<std::uint8_t>> written;
  std::vector<std::uint16_t> order;
  // Sizes straddle the 8192-byte window, including a record larger than it.
  const std::uint32_t sizes[] = {24, 8000, 300, 20000, 17, 5000, 8192, 9};
  for (std::uint32_t size : sizes) {
    std::uint16_t id = AddRecord(store, size, static_cast<std::uint8_t>(size));
    written[id] = MakeBlock(id, size, static_cast<std::uint8_t>(size));
    written[id].resize(size);
    order.push_back(id);
  }
  ASSERT_TRUE(store.DeleteRecord(order[2]));  // a free block is skipped
  order.erase(order.begin() + 2);
  ASSERT_TRUE(store.Flush());  // page 0 stays the first block; pages are skipped

  std::vector<std::uint16_t> seen;
  std::vector<std::uint8_t> buffer;
  store.BeginScan();
  while (store.NextRecord(&buffer)) {
    std::uint16_t id = fmt::GetU16(buffer.data() + 4);
    ASSERT_EQ(buffer, written[id]);
    seen.push_back(id);
  }
  EXPECT_EQ(seen, order);
  EXPECT_FALSE(store.NextRecord(&buffer));
  EXPECT_FALSE(store.is_damaged());

  // A write in the middle of a scan turns the window off; the scan goes on
  // and sees the bytes just written.
  store.BeginScan();
  ASSERT_TRUE(store.NextRecord(&buffer));
  const std::uint8_t patch[2] = {0xEE, 0xEF};
  ASSERT_TRUE(store.PatchRecord(order[1], 20, patch, 2));
  ASSERT_TRUE(store.NextRecord(&buffer));
  EXPECT_EQ(buffer[20], 0xEE);
  EXPECT_EQ(buffer[21], 0xEF);
}

// Builds a file with end offset 20000 whose live share is live_bytes / 20000:
// record a (freed) followed by record b.
void BuildForThreshold(IndexStore& store, std::uint32_t a_size, std::uint32_t b_size) {
  std::uint16_t a = AddRecord(store, a_size);
  AddRecord(store, b_size, 7);
  ASSERT_TRUE(store.DeleteRecord(a));
  ASSERT_EQ(store.end_offset(), 20000u);
}

TEST(IndexStoreCompact, RunsOnlyBelowThreeQuartersLive) {
  test::ScopedTestEnv env;
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(env.Path("75.idx")));
    BuildForThreshold(store, 5000, 10704);  // live 15000: exactly 75%
    int calls = 0;
    EXPECT_EQ(store.Compact([&] { ++calls; return 0; }), 0);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(store.end_offset(), 20000u);
  }
  {
    const std::string path = env.Path("74.idx");
    IndexStore store;
    ASSERT_TRUE(store.Open(path));
    BuildForThreshold(store, 5008, 10696);  // live 14992: 74%
    int calls = 0;
    EXPECT_EQ(store.Compact([&] { ++calls; return 0; }), 0);
    EXPECT_EQ(calls, 3);  // page 0, the free block, b
    EXPECT_EQ(store.end_offset(), 4296u + 10696u);
    EXPECT_EQ(store.live_bytes(), 4296 + 10696);
    EXPECT_EQ(store.table_entry(5), 4296u);
    EXPECT_EQ(store.compaction_resume_id(), 0);
    EXPECT_EQ(FileSize(path), 4296u + 10696u);  // flushed
    ASSERT_TRUE(store.Close());
    ASSERT_TRUE(store.Open(path));
    EXPECT_EQ(Read(store, 5), MakeBlock(5, 10696, 7));
  }
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(env.Path("small.idx")));
    std::uint16_t a = AddRecord(store, 8000);
    AddRecord(store, 24);
    ASSERT_TRUE(store.DeleteRecord(a));  // 35% live, but under 16384 bytes
    EXPECT_LT(store.end_offset(), 16384u);
    EXPECT_EQ(store.Compact(nullptr, nullptr), 0);
    EXPECT_EQ(store.end_offset(), 4296u + 8000u + 24u);
  }
}

TEST(IndexStoreCompact, StoppedPassLeavesASoundFileAndResumes) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  std::map<std::uint16_t, std::vector<std::uint8_t>> kept;
  for (int i = 0; i < 60; ++i) {
    std::uint32_t size = 100 + 37 * i;
    std::uint16_t id = AddRecord(store, size, static_cast<std::uint8_t>(i));
    if (i % 3 == 0) {
      kept[id] = MakeBlock(id, size, static_cast<std::uint8_t>(i));
      kept[id].resize(size);
    }
  }
  for (std::uint16_t id = 4; id < 64; ++id) {
    if (!kept.count(id)) {
      ASSERT_TRUE(store.DeleteRecord(id));
    }
  }
  ASSERT_TRUE(store.Flush());  // the table is dirty until then
  const std::uint32_t end = store.end_offset();
  const std::int32_t live = store.live_bytes();
  ASSERT_GE(end, 16384u);
  ASSERT_LT(std::int64_t{live} * 100 / end, 75);

  int calls = 0;
  EXPECT_EQ(store.Compact([&] { return ++calls > 20 ? 5 : 0; }), 5);
  const std::uint16_t resume = store.compaction_resume_id();
  EXPECT_NE(resume, 0);
  EXPECT_TRUE(kept.count(resume));
  EXPECT_EQ(store.end_offset(), end);  // unchanged by a stopped pass
  EXPECT_EQ(store.live_bytes(), live);

  // As if the process died now: the file on disk carries open flag 1 and
  // must pass the consistency check.
  const std::string copy = env.Path("crashed.idx");
  std::filesystem::copy_file(path, copy);
  {
    IndexStore crashed;
    ASSERT_TRUE(crashed.Open(copy));
    EXPECT_FALSE(crashed.is_damaged());
    for (const auto& [id, bytes] : kept) EXPECT_EQ(Read(crashed, id), bytes);
  }

  // The next pass resumes after the remembered record and finishes.
  calls = 0;
  EXPECT_EQ(store.Compact([&] { ++calls; return 0; }), 0);
  // The first pass saw page 0 and records 0..18 (the last moved one is 18).
  // Resuming visits record 18, the one free block over the gap and records
  // 19..59; a restart from offset 192 would visit 51 blocks.
  EXPECT_EQ(resume, 4 + 18);
  EXPECT_EQ(calls, 1 + 1 + 41);
  EXPECT_EQ(store.compaction_resume_id(), 0);
  EXPECT_EQ(store.end_offset(), static_cast<std::uint32_t>(live));
  for (const auto& [id, bytes] : kept) EXPECT_EQ(Read(store, id), bytes);
  ASSERT_TRUE(store.Close());
  test::PatchRawU16(path, fmt::kOpenFlagOffset, 1);
  ASSERT_TRUE(store.Open(path));
  EXPECT_FALSE(store.is_damaged());
  for (const auto& [id, bytes] : kept) EXPECT_EQ(Read(store, id), bytes);
}

// A process killed between two commits leaves the index file and its undo
// file as they are at that moment (copied here while the store goes on).
// Whatever was written since the last commit, the next open finds the file
// exactly as it was committed: the same records, the same end offset.
TEST(IndexStoreCrash, KillBetweenCommitsBringsBackTheLastCommit) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  const std::string copy = env.Path("killed.idx");
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  std::map<std::uint16_t, std::vector<std::uint8_t>> committed;
  auto add = [&](std::uint32_t size, std::uint8_t fill) {
    const std::uint16_t id = AddRecord(store, size, fill);
    committed[id] = MakeBlock(id, size, fill);
    committed[id].resize(size);
    return id;
  };
  for (int i = 0; i < 40; ++i) add(60 + 29 * i, static_cast<std::uint8_t>(i));
  ASSERT_TRUE(store.Flush());
  std::uint32_t committed_end = store.end_offset();

  auto expect_committed_state = [&](const std::string& what) {
    namespace fs = std::filesystem;
    fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
    fs::remove(copy + ".undo");
    if (fs::exists(path + ".undo")) fs::copy_file(path + ".undo", copy + ".undo");
    IndexStore killed;
    ASSERT_TRUE(killed.Open(copy)) << what;
    EXPECT_FALSE(killed.is_damaged()) << what;
    EXPECT_EQ(killed.end_offset(), committed_end) << what;
    for (const auto& [id, bytes] : committed) EXPECT_EQ(Read(killed, id), bytes) << what;
    for (std::uint32_t id = 4; id < killed.table_length(); ++id) {
      if (!committed.count(static_cast<std::uint16_t>(id)) && id % 1024 != 0) {
        EXPECT_EQ(killed.table_entry(id), 0u) << what << ": id " << id;
      }
    }
  };

  const std::vector<std::pair<std::string, std::function<bool()>>> changes = {
      {"rewritten in place", [&] { return store.WriteRecord(MakeBlock(5, 60 + 29, 0xA0)); }},
      {"shrunk", [&] { return store.WriteRecord(MakeBlock(6, 20, 0xA1)); }},
      {"grown and moved", [&] { return store.WriteRecord(MakeBlock(7, 3000, 0xA2)); }},
      {"patched", [&] { return store.PatchRecord(8, 10, "xyz", 3); }},
      {"deleted", [&] { return store.DeleteRecord(9); }},
      {"added", [&] { return AddRecord(store, 500, 0xA3) != 0; }},
  };
  for (const auto& [what, change] : changes) {
    ASSERT_TRUE(change()) << what;
    expect_committed_state(what);
  }
  // A pass of compaction killed half-way. The deletions that make it run
  // are committed first.
  for (std::uint16_t id = 10; id < 44; id += 2) {
    ASSERT_TRUE(store.DeleteRecord(id));
    committed.erase(id);
  }
  committed.erase(9);
  for (std::uint16_t id : {5, 6, 7, 8}) ASSERT_TRUE(store.ReadRecord(id, &committed[id]));
  ASSERT_TRUE(store.WriteRecord(MakeBlock(7, 40, 0xA4)));  // frees its 3000 bytes
  ASSERT_TRUE(store.ReadRecord(7, &committed[7]));
  ASSERT_TRUE(store.Flush());
  committed_end = store.end_offset();
  for (std::uint16_t id = 4; id < store.table_length(); ++id) {
    if (store.table_entry(id) != 0 && id % 1024 != 0 && !committed.count(id)) {
      ASSERT_TRUE(store.ReadRecord(id, &committed[id]));
    }
  }
  int blocks = 0;
  store.Compact([&] {
    if (++blocks == 12) expect_committed_state("compaction");
    return 0;
  });
  EXPECT_GE(blocks, 12);
  EXPECT_LT(store.end_offset(), committed_end);  // the pass did move records
  ASSERT_TRUE(store.Close());
  EXPECT_FALSE(std::filesystem::exists(path + ".undo"));  // a clean close leaves none
}

// One holder at a time: a second open of the same file (another open file
// description, as another process has) waits for the holder, and gives up
// after its lock wait with a cause that says the index is in use.
TEST(IndexStoreLock, SecondOpenWaitsForTheHolderThenSaysInUse) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  IndexStore holder;
  ASSERT_TRUE(holder.Open(path));
  const std::uint16_t id = AddRecord(holder, 100, 0x33);

  IndexStore second;
  second.set_lock_wait(std::chrono::milliseconds(100));
  const platform::Status refused = second.Open(path);
  EXPECT_EQ(refused.code(), platform::kErrorFileInUse);
  EXPECT_EQ(refused.ToString(), path + ": in use by another process");

  second.set_lock_wait(std::chrono::seconds(20));
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    holder.Close();
  });
  const bool opened = second.Open(path).ok();
  release.join();
  ASSERT_TRUE(opened);
  EXPECT_FALSE(second.is_new_file());
  std::vector<std::uint8_t> buffer;
  EXPECT_TRUE(second.ReadRecord(id, &buffer));  // the holder's work, closed cleanly
}

}  // namespace
}  // namespace quindelo
