// The scenario of a drive with more folders than a narrow index has record
// ids for, shared by the real run (record_id_limit_test.cpp, 63,000 folders,
// labelled slow) and the fast one (narrow_limit_test.cpp, a few hundred
// folders against an injected narrow limit): the index moves to the wide
// variant by itself, says so once, and holds every name of the drive,
// whether the limit is passed by a first build or by a refresh; the wide
// index is accepted as it is at the next open.
#pragma once

#include <gtest/gtest.h>

#include <ftw.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "base/message_report.h"
#include "index/drive_index.h"
#include "index/index_store.h"
#include "index/request_of.h"
#include "platform/paths.h"
#include "support/test_env.h"

namespace quindelo::record_id_limit {

class StatusRecorder : public MessageSink {
 public:
  void SetIndicator(const char*) override {}
  void SetStatus(const char* text) override {
    std::lock_guard<std::mutex> lock(lock_);
    statuses_.push_back(text ? text : "");
  }
  int ShowWarning(const char*, const char*) override { return 1; }
  int Count(const std::string& part) {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(std::count_if(statuses_.begin(), statuses_.end(), [&](auto& s) {
      return s.find(part) != std::string::npos;
    }));
  }

 private:
  std::mutex lock_;
  std::vector<std::string> statuses_;
};

struct EndWaiter : IndexClient {
  std::mutex lock;
  std::condition_variable cv;
  int ends = 0;
  std::vector<std::string> found;
  IndexAnswer OnIndexMessage(const IndexMessage& message) override {
    std::lock_guard<std::mutex> l(lock);
    if (const auto* name = std::get_if<FoundName>(&message)) found.push_back(name->path);
    if (std::holds_alternative<FindEnded>(message)) {
      ++ends;
      cv.notify_all();
    }
    return IndexAnswer::kGoOn;
  }
  void WaitFor(int n) {
    std::unique_lock<std::mutex> l(lock);
    cv.wait(l, [&] { return ends >= n; });
  }
};

// Every name below root as the index reports it ("T:\a\b"), like find.
inline std::vector<std::string> g_listed;
inline std::size_t g_root_length = 0;
inline std::vector<std::string> ListTree(const std::string& root) {
  g_listed.clear();
  g_root_length = root.size();
  nftw(
      root.c_str(),
      [](const char* path, const struct stat*, int, struct FTW*) {
        std::string rel(path + g_root_length);
        if (rel.empty()) return 0;
        std::replace(rel.begin(), rel.end(), '/', '\\');
        g_listed.push_back("T:" + rel);
        return 0;
      },
      64, FTW_PHYS);
  std::sort(g_listed.begin(), g_listed.end());
  return g_listed;
}

// Folders top/s0 .. top/s(count-1), every tenth with a file in it.
inline void MakeFolders(const std::string& top, int count) {
  test::MakeFolder(top);
  for (int j = 0; j < count; ++j) {
    const std::string folder = top + "/s" + std::to_string(j);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    if (j % 10 == 0) test::WriteTextFile(folder + "/f" + std::to_string(j) + ".txt", "x");
  }
}

// Opens the index (building or refreshing it), then finds every name.
inline std::vector<std::string> FindEverything(const std::string& path, bool rebuild, bool refresh,
                                               std::uint64_t* folders_listed) {
  DriveIndex::Options options;
  options.watch_changes = false;
  DriveIndex index(options);
  EndWaiter waiter;
  EXPECT_TRUE(index.Open(path, "T:", &waiter, rebuild));
  waiter.WaitFor(1);
  *folders_listed = index.folders_listed();
  EXPECT_FALSE(index.ids_exhausted());
  index.StopAndWait();
  std::string message;
  EXPECT_TRUE(index.StartFind(RequestOf("*", {}, "", true, refresh), &message)) << message;
  waiter.WaitFor(2);
  index.Shutdown();
  std::sort(waiter.found.begin(), waiter.found.end());
  waiter.found.erase(std::unique(waiter.found.begin(), waiter.found.end()), waiter.found.end());
  return waiter.found;
}

inline bool IsWide(const std::string& path) {
  IndexStore store;
  EXPECT_TRUE(store.Open(path));
  EXPECT_FALSE(store.is_damaged());
  return store.wide();
}

// Six parts of folders_per_part folders each stay below the narrow limit;
// a seventh passes it.
inline void DrivesPastTheNarrowLimitAreIndexedWhole(int folders_per_part) {
  test::ScopedTestEnv env;
  const std::string root = env.MakeDrive('T', "drive");
  StatusRecorder sink;
  MessageSink* old = SetMessageSink(&sink);
  const std::string path = platform::IndexFilePath('T');
  const char kWidening[] = "moving its index to the wide format";
  std::uint64_t listed = 0;

  // Below the limit the index stays narrow.
  for (int i = 0; i < 6; ++i) MakeFolders(root + "/d" + std::to_string(i), folders_per_part);
  EXPECT_EQ(FindEverything(path, false, false, &listed), ListTree(root));
  EXPECT_FALSE(IsWide(path));

  // A refresh that meets more folders than narrow ids widens the index in
  // the middle of its walk and goes on to the end.
  MakeFolders(root + "/d6", folders_per_part);
  EXPECT_EQ(FindEverything(path, false, true, &listed), ListTree(root));
  EXPECT_TRUE(IsWide(path));
  EXPECT_EQ(sink.Count(kWidening), 1);

  // Accepted as it is at the next open: nothing is listed again.
  EXPECT_EQ(FindEverything(path, false, false, &listed), ListTree(root));
  EXPECT_LT(listed, 100u);

  // A first build of the whole drive widens as well, and is whole.
  EXPECT_EQ(FindEverything(path, true, false, &listed), ListTree(root));
  EXPECT_TRUE(IsWide(path));
  EXPECT_EQ(sink.Count(kWidening), 2);
  EXPECT_EQ(sink.Count("the rest are not listed"), 0);
  SetMessageSink(old);
}

}  // namespace quindelo::record_id_limit
