// IndexStore on damaged files: refused at open when the damage shows there,
// otherwise noticed (damaged flag) wherever blocks are read, and never a
// loop, a hang or an allocation beyond the file.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "index/index_store.h"
#include "index/raw_index_file.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

namespace fmt = index_format;
using test::MakeBlock;
using test::PatchRawU16;
using test::PatchRawU32;
using test::ReadRaw;
using test::WriteRaw;

std::size_t Page0EntryAt(std::uint16_t id) { return 192 + 8 + 4 * std::size_t{id}; }

// Records 4 (24 bytes at 4296), 5 (40 at 4320), 6 (24 at 4360); end 4384.
void MakeSmallFile(const std::string& path) {
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  for (std::uint32_t size : {24u, 40u, 24u}) {
    ASSERT_TRUE(store.WriteRecord(MakeBlock(store.AllocateId(), size)));
  }
  ASSERT_EQ(store.end_offset(), 4384u);
  ASSERT_TRUE(store.Close());
}

// Opens path; true when it was accepted. Checks that a refused file is left
// exactly as it was.
bool OpenOrLeaveUntouched(IndexStore& store, const std::string& path) {
  const auto before = ReadRaw(path);
  if (store.Open(path)) return true;
  EXPECT_EQ(ReadRaw(path), before) << "a refused file must not be touched";
  return false;
}

void DrainScan(IndexStore& store, int* records) {
  std::vector<std::uint8_t> buffer;
  *records = 0;
  store.BeginScan();
  while (store.NextRecord(&buffer)) {
    ++*records;
    ASSERT_LT(*records, 100000) << "scan does not end";
  }
}

TEST(IndexStoreDamage, BadHeadersAndSizesAreRefused) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  MakeSmallFile(path);
  const auto sound = ReadRaw(path);
  IndexStore store;

  WriteRaw(path, std::vector<std::uint8_t>(sound.begin(), sound.begin() + 2000));
  EXPECT_FALSE(OpenOrLeaveUntouched(store, path)) << "truncated";

  WriteRaw(path, {});
  EXPECT_FALSE(OpenOrLeaveUntouched(store, path)) << "empty";

  std::mt19937 rng(7);
  std::vector<std::uint8_t> noise(5000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
  WriteRaw(path, noise);
  EXPECT_FALSE(OpenOrLeaveUntouched(store, path)) << "random bytes";

  struct Field {
    std::size_t offset;
    std::uint32_t value;
    const char* what;
  };
  for (const Field& f : {Field{128, 0x43218764, "magic"}, Field{132, 0x00010002, "version"},
                         Field{136, 4376, "end offset below the size"}}) {
    WriteRaw(path, sound);
    PatchRawU32(path, f.offset, f.value);
    EXPECT_FALSE(OpenOrLeaveUntouched(store, path)) << f.what;
  }
  WriteRaw(path, sound);
  PatchRawU16(path, fmt::kDamagedFlagOffset, 1);
  EXPECT_FALSE(OpenOrLeaveUntouched(store, path)) << "damaged flag";

  WriteRaw(path, sound);
  EXPECT_TRUE(store.Open(path)) << "the sound file itself opens";
}

TEST(IndexStoreDamage, BrokenTablePageChainIsRefused) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(path));
    while (store.AllocateId() < 2049) {
    }
    ASSERT_TRUE(store.Close());  // pages 0, 1, 2
  }
  const auto sound = ReadRaw(path);
  const std::uint32_t page1 = test::RawU32(sound, Page0EntryAt(2));
  const std::uint32_t page2 = test::RawU32(sound, page1 + 8);
  ASSERT_EQ(page1, 4296u);
  ASSERT_EQ(page2, 4296u + 4104u);

  struct Case {
    std::size_t offset;
    std::uint32_t value;
    const char* what;
  };
  const Case cases[] = {
      {Page0EntryAt(2), 192, "page 0 links to itself"},
      {page1 + 8, page1, "page 1 links to itself"},
      {page2 + 8, page1, "page 2 links back to page 1"},
      {page2 + 8, 192, "page 2 links back to page 0"},
      {Page0EntryAt(2), page1 + 4, "link not a multiple of 8"},
      {Page0EntryAt(2), 0x7FFFFFF8, "link past the end offset"},
      {page2 - 0, 0, "page 2 of length 0"},
      {page1, 0x7FFFFFF0, "page 1 of a huge length"},
      {Page0EntryAt(1), 4296, "entry 1 does not hold page 0"},
  };
  for (const Case& c : cases) {
    WriteRaw(path, sound);
    PatchRawU32(path, c.offset, c.value);
    IndexStore store;
    EXPECT_FALSE(OpenOrLeaveUntouched(store, path)) << c.what;
  }
  WriteRaw(path, sound);
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  EXPECT_EQ(store.table_length(), 3072u);
}

TEST(IndexStoreDamage, UncleanFileIsCheckedBlockByBlock) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  MakeSmallFile(path);
  const auto sound = ReadRaw(path);

  // A table entry that points at a free block.
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(path));
    ASSERT_TRUE(store.DeleteRecord(5));
    ASSERT_TRUE(store.Close());
  }
  PatchRawU32(path, Page0EntryAt(5), 4320);
  const auto stale_entry = ReadRaw(path);
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(path)) << "a cleanly closed file is not checked";
    std::vector<std::uint8_t> buffer;
    EXPECT_FALSE(store.ReadRecord(5, &buffer));
    EXPECT_TRUE(store.is_damaged());
    ASSERT_TRUE(store.Close());
    IndexStore again;
    EXPECT_FALSE(again.Open(path)) << "the damaged flag reached the file";
  }
  WriteRaw(path, stale_entry);
  PatchRawU16(path, fmt::kOpenFlagOffset, 1);
  {
    IndexStore store;
    EXPECT_FALSE(OpenOrLeaveUntouched(store, path)) << "entry pointing at a free block";
  }

  struct Case {
    std::size_t offset;
    std::uint32_t value;
    const char* what;
  };
  const Case cases[] = {
      {4320, 0, "block length 0"},
      {4320, 7, "block length below the header"},
      {4320, 0x7FFFFFF0, "block length past the end offset"},
      {4320 + 4, 9, "block carries an id whose entry is 0"},
      {Page0EntryAt(6), 4320, "entry points at another record"},
  };
  for (const Case& c : cases) {
    WriteRaw(path, sound);
    PatchRawU16(path, fmt::kOpenFlagOffset, 1);
    if (c.offset == 4320 + 4) {
      PatchRawU16(path, c.offset, static_cast<std::uint16_t>(c.value));
    } else {
      PatchRawU32(path, c.offset, c.value);
    }
    IndexStore store;
    EXPECT_FALSE(OpenOrLeaveUntouched(store, path)) << c.what;
  }

  // An entry that is not even a valid offset, for an id no block carries,
  // marks the file damaged without failing the check.
  WriteRaw(path, sound);
  PatchRawU16(path, fmt::kOpenFlagOffset, 1);
  PatchRawU32(path, Page0EntryAt(40), 4301);
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(path));
    EXPECT_TRUE(store.is_damaged());
  }
  IndexStore store;
  EXPECT_FALSE(store.Open(path));

  WriteRaw(path, sound);
  PatchRawU16(path, fmt::kOpenFlagOffset, 1);
  ASSERT_TRUE(store.Open(path)) << "the sound file passes the check";
  EXPECT_FALSE(store.is_damaged());
}

TEST(IndexStoreDamage, BadBlockLengthsInACleanFileNeverRunAway) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  MakeSmallFile(path);
  const auto sound = ReadRaw(path);

  for (std::uint32_t bad_length : {0u, 3u, 0x7FFFFFF0u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(bad_length);
    WriteRaw(path, sound);
    PatchRawU32(path, 4320, bad_length);  // record 5
    IndexStore store;
    ASSERT_TRUE(store.Open(path));

    std::vector<std::uint8_t> buffer;
    EXPECT_FALSE(store.ReadRecord(5, &buffer));
    EXPECT_LT(buffer.capacity(), 1u << 20) << "no allocation for a length the file cannot hold";
    EXPECT_TRUE(store.is_damaged());

    int records = 0;
    DrainScan(store, &records);
    EXPECT_EQ(records, 1);  // record 4; the scan ends at the broken block

    // Writing record 5 again gives it a new place and leaves the broken
    // block alone.
    EXPECT_TRUE(store.WriteRecord(MakeBlock(5, 40, 1)));
    EXPECT_EQ(store.table_entry(5), 4384u);
    ASSERT_TRUE(store.Close());
    EXPECT_FALSE(store.Open(path));
  }
}

TEST(IndexStoreDamage, GrowingOverABrokenFreeBlockStops) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  MakeSmallFile(path);
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(path));
    ASSERT_TRUE(store.DeleteRecord(5));
    ASSERT_TRUE(store.Close());
  }
  PatchRawU32(path, 4320, 0);  // the free block after record 4 has length 0
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  EXPECT_TRUE(store.WriteRecord(MakeBlock(4, 56, 2)));
  EXPECT_EQ(store.table_entry(4), 4384u);  // moved: the free space could not be used
  EXPECT_TRUE(store.is_damaged());
  std::vector<std::uint8_t> buffer;
  ASSERT_TRUE(store.ReadRecord(4, &buffer));
  EXPECT_EQ(buffer, MakeBlock(4, 56, 2));
}

TEST(IndexStoreDamage, CompactionStopsAtABrokenBlock) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(path));
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(store.WriteRecord(MakeBlock(store.AllocateId(), 800)));
    for (std::uint16_t id = 4; id < 34; id += 2) ASSERT_TRUE(store.DeleteRecord(id));
    ASSERT_TRUE(store.Close());
  }
  // Record 21 sits at 4296 + 17 * 800; give it length 0.
  PatchRawU32(path, 4296 + 17 * 800, 0);
  IndexStore store;
  ASSERT_TRUE(store.Open(path));
  const std::uint32_t end = store.end_offset();
  int calls = 0;
  EXPECT_EQ(store.Compact([&] { return ++calls > 1000 ? 1 : 0; }), 0);
  EXPECT_LT(calls, 100);
  EXPECT_TRUE(store.is_damaged());
  EXPECT_EQ(store.end_offset(), end);  // an unfinished pass keeps the end
  std::vector<std::uint8_t> buffer;
  ASSERT_TRUE(store.ReadRecord(5, &buffer));  // moved records stay readable
  EXPECT_EQ(buffer, MakeBlock(5, 800));
  ASSERT_TRUE(store.Close());
  EXPECT_FALSE(store.Open(path));
}

// Random damage anywhere after the header: whatever the store does, it ends,
// stays inside its buffers (run under AddressSanitizer in CI), and a store
// that noticed damage condemns its file.
TEST(IndexStoreDamage, RandomCorruptionNeverHangsOrCrashes) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("x.idx");
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(path));
    for (int i = 0; i < 40; ++i) {
      ASSERT_TRUE(store.WriteRecord(MakeBlock(store.AllocateId(), 100 + 53 * i)));
    }
    for (std::uint16_t id = 4; id < 44; id += 3) ASSERT_TRUE(store.DeleteRecord(id));
    ASSERT_TRUE(store.Close());
  }
  const auto sound = ReadRaw(path);
  std::mt19937 rng(12345);
  int opened = 0;
  int noticed = 0;
  for (int round = 0; round < 300; ++round) {
    auto bytes = sound;
    const int flips = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < flips; ++i) {
      std::size_t at = 192 + rng() % (bytes.size() - 192);
      bytes[at] = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0 : rng());
    }
    bytes[fmt::kOpenFlagOffset] = static_cast<std::uint8_t>(rng() % 2);
    WriteRaw(path, bytes);

    IndexStore store;
    if (!store.Open(path)) continue;
    ++opened;
    int records = 0;
    DrainScan(store, &records);
    std::vector<std::uint8_t> buffer;
    for (std::uint32_t id = 1; id < store.table_length(); ++id) {
      if (store.ReadRecord(static_cast<std::uint16_t>(id), &buffer)) {
        ASSERT_LE(buffer.size(), bytes.size());
      }
    }
    std::uint16_t grow = static_cast<std::uint16_t>(5 + rng() % 39);
    if (grow % 3 != 1) store.WriteRecord(MakeBlock(grow, 3000));
    store.DeleteRecord(static_cast<std::uint16_t>(5 + rng() % 39));
    int calls = 0;
    store.Compact([&] { return ++calls > 10000 ? 1 : 0; });
    ASSERT_LE(calls, 10000) << "compaction does not end";
    DrainScan(store, &records);
    const bool damaged = store.is_damaged();
    ASSERT_TRUE(store.Close());
    if (damaged) {
      ++noticed;
      IndexStore again;
      EXPECT_FALSE(again.Open(path)) << "round " << round;
    }
  }
  // The rounds exercised both outcomes.
  EXPECT_GT(opened, 10);
  EXPECT_GT(noticed, 10);
}

}  // namespace
}  // namespace quindelo
