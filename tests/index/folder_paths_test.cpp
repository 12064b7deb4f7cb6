// The folder paths of an index find (FolderPaths) are the paths
// BuildFolderPath gives, whether a folder's parents were read on demand or
// noted as the scan passed them, and a broken parent chain fails the same
// way and is damage.
#include "index/folder_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "base/string_pool.h"
#include "index/index_records.h"
#include "index/index_store.h"
#include "index/name_cache.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

// Writes folder records with the given parents and names, in a shuffled
// file order (so that a parent may come before or after its folders);
// returns their ids. parents[i] is an index into the list, or -1 for none
// (parent id 0).
std::vector<std::uint16_t> WriteFolders(IndexStore& store, const std::vector<int>& parents,
                                        const std::vector<std::string>& names) {
  std::vector<std::uint16_t> ids(parents.size());
  for (auto& id : ids) id = store.AllocateId();
  std::vector<std::size_t> order(ids.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  for (std::size_t i : order) {
    const std::uint16_t parent = parents[i] < 0 ? 0 : ids[parents[i]];
    FolderRecordBuilder builder;
    EXPECT_TRUE(builder.Begin(ids[i], 0, parent, names[i]));
    EXPECT_NE(builder.AddFile("file.txt"), 0u);
    EXPECT_TRUE(store.WriteRecord(builder.Finish()));
  }
  EXPECT_TRUE(store.Flush());
  return ids;
}

TEST(FolderPaths, BuildsWhatBuildFolderPathBuilds) {
  test::ScopedTestEnv env;

  // A tree of 400 folders up to 10 deep, the paths built in file order as the
  // index find builds them: the first ones read their parents, the later ones
  // find them noted.
  {
    IndexStore store;
    ASSERT_TRUE(store.Open(env.Path("tree.idx")));
    std::vector<int> parents = {-1};
    std::vector<std::string> names = {""};
    std::vector<int> depth = {0};
    std::mt19937 rng(3);
    for (int i = 1; i < 400; ++i) {
      int parent = static_cast<int>(rng() % parents.size());
      while (depth[parent] >= 10) parent = parents[parent];
      parents.push_back(parent);
      depth.push_back(depth[parent] + 1);
      names.push_back("Folder " + std::to_string(i));
    }
    WriteFolders(store, parents, names);
    FolderPaths paths(&store);
    std::string built, expected;
    int compared = 0;
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    store.BeginScan();
    while (store.NextRecordInPlace(&data, &length)) {
      FolderRecordView folder;
      if (!folder.Parse(data, length)) continue;
      paths.Note(folder);
      const std::uint16_t id = folder.id();
      ASSERT_TRUE(paths.Build(id, &built));
      NameCache cache(store.table_length());
      StringPool pool;
      ASSERT_TRUE(BuildFolderPath(store, id, &cache, &pool, &expected));
      EXPECT_EQ(built, expected);
      ++compared;
    }
    EXPECT_EQ(compared, 400);
    EXPECT_GT(paths.reads(), FolderPaths::kLazyReads);  // reading gave way to noting
    EXPECT_LT(paths.reads(), 200u);
    EXPECT_FALSE(store.is_damaged());
  }

  // Broken chains, each in an index of its own, for d below c: c's parent is
  // c itself, d, or an id without a record.
  struct Case {
    const char* what;
    int raw_parent;  // index of the folder to name as parent, or -1 for an unused id
  } cases[] = {{"its own parent", 3}, {"a loop through its child", 4}, {"no record", -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const bool by_folder_paths : {false, true}) {
      IndexStore store;
      ASSERT_TRUE(store.Open(env.Path(std::string(c.what) + (by_folder_paths ? "1" : "2"))));
      // root, a, b under a, c under b, d under c.
      const std::vector<std::uint16_t> ids =
          WriteFolders(store, {-1, 0, 1, 2, 3}, {"", "a", "b", "c", "d"});
      const std::uint16_t raw = c.raw_parent < 0 ? 1000 : ids[c.raw_parent];
      const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(raw),
                                     static_cast<std::uint8_t>(raw >> 8)};
      ASSERT_TRUE(store.PatchRecord(ids[3], index_format::kFolderParentOffset, bytes, 2));
      std::string path;
      bool built = false;
      if (by_folder_paths) {
        FolderPaths paths(&store);
        built = paths.Build(ids[4], &path);
      } else {
        NameCache cache(store.table_length());
        StringPool pool;
        built = BuildFolderPath(store, ids[4], &cache, &pool, &path);
      }
      EXPECT_FALSE(built);
      EXPECT_TRUE(store.is_damaged());
    }
  }
}

}  // namespace
}  // namespace quindelo
