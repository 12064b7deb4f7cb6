// Change notification: names created, removed or moved anywhere in the
// watched subtree are noticed folder by folder, folders made or moved in
// after the start included; lost events and folders past the watch limit
// are told; a cancel ends a wait at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <set>

#include "platform/change_watch.h"
#include "support/test_env.h"

namespace quindelo::platform {
namespace {

using Result = ChangeNotification::WaitResult;

// Waits for the notification to report a change within a generous bound.
Result WaitChange(ChangeNotification* n) { return n->Wait(10000); }

TEST(ChangeWatchTest, NoticesChangesAnywhereBelowIncludingNewFolders) {
  test::ScopedTestEnv env;
  const std::string top = env.Path("watched");
  test::MakeFolder(top + "/a/b");
  ChangeNotification n;
  ASSERT_TRUE(n.Start(top));
  EXPECT_EQ(n.Wait(0), Result::kTimeout);

  test::WriteTextFile(top + "/a/b/file.txt", "x");
  EXPECT_EQ(WaitChange(&n), Result::kChanged);

  test::MakeFolder(top + "/new");
  EXPECT_EQ(WaitChange(&n), Result::kChanged);
  // The folder made after the start is watched as well.
  test::WriteTextFile(top + "/new/inside.txt", "x");
  EXPECT_EQ(WaitChange(&n), Result::kChanged);

  ASSERT_EQ(std::rename((top + "/a/b/file.txt").c_str(), (top + "/a/moved.txt").c_str()), 0);
  EXPECT_EQ(WaitChange(&n), Result::kChanged);
  EXPECT_EQ(n.Wait(0), Result::kTimeout);  // every event of the move was drained
}

TEST(ChangeWatchTest, TellsWhichFoldersChangedAndWhichArrivedOrLeftWhole) {
  namespace fs = std::filesystem;
  using Set = std::set<std::string>;
  struct Case {
    const char* what;
    std::function<void(const std::string& top)> change;
    Set folders, trees;
  };
  const Case cases[] = {
      {"file made", [](const std::string& t) { test::WriteTextFile(t + "/a/b/new.txt", "x"); },
       Set{"a/b/"}, Set{}},
      {"file moved across folders",
       [](const std::string& t) { fs::rename(t + "/a/b/old.txt", t + "/c/old.txt"); },
       Set{"a/b/", "c/"}, Set{}},
      {"folder made", [](const std::string& t) { fs::create_directory(t + "/c/d"); }, Set{"c/"},
       Set{"c/d/"}},
      {"folder renamed", [](const std::string& t) { fs::rename(t + "/a/b", t + "/a/bb"); },
       Set{"a/"}, Set{"a/b/", "a/bb/"}},
      {"folder moved out", [](const std::string& t) { fs::rename(t + "/a/b", t + "/../gone"); },
       Set{"a/"}, Set{"a/b/"}},
      {"folder deleted", [](const std::string& t) { fs::remove_all(t + "/c"); },
       Set{""}, Set{"c/"}},
  };
  for (const Case& c : cases) {
    test::ScopedTestEnv env;
    const std::string top = env.Path("watched");
    test::MakeFolder(top + "/a/b");
    test::MakeFolder(top + "/c");
    test::WriteTextFile(top + "/a/b/old.txt", "x");
    ChangeNotification n;
    ASSERT_TRUE(n.Start(top));
    c.change(top);
    n.Drain();
    ChangeNotification::Changes changes = n.TakeChanges();
    EXPECT_EQ(changes.folders, c.folders) << c.what;
    EXPECT_EQ(changes.trees, c.trees) << c.what;
    EXPECT_FALSE(changes.overflowed) << c.what;
    EXPECT_TRUE(n.TakeChanges().empty()) << c.what;
  }
}

TEST(ChangeWatchTest, FoldersMovedAndMadeAreWatchedUnderTheirNewNames) {
  test::ScopedTestEnv env;
  const std::string top = env.Path("watched");
  test::MakeFolder(top + "/a/b");
  ChangeNotification n;
  ASSERT_TRUE(n.Start(top));
  std::filesystem::rename(top + "/a", top + "/z");
  test::MakeFolder(top + "/z/b/made");
  n.Drain();
  n.TakeChanges();
  test::WriteTextFile(top + "/z/b/made/x.txt", "x");
  test::WriteTextFile(top + "/z/b/y.txt", "x");
  n.Drain();
  EXPECT_EQ(n.TakeChanges().folders, (std::set<std::string>{"z/b/", "z/b/made/"}));
}

TEST(ChangeWatchTest, ALimitLeavesFoldersUnwatchedAndLostEventsAreTold) {
  test::ScopedTestEnv env;
  const std::string top = env.Path("watched");
  for (const char* f : {"/a/x", "/b/x", "/c/x"}) test::MakeFolder(top + f);
  ChangeNotification::Options options;
  options.watch_limit = 3;
  ChangeNotification limited(options);
  ASSERT_TRUE(limited.Start(top));
  EXPECT_EQ(limited.watch_count(), 3u);
  // The root, one top folder and its subfolder are watched; the two other
  // top folders are not, each standing for its subtree.
  const std::vector<std::string> unwatched = limited.unwatched();
  ASSERT_EQ(unwatched.size(), 2u);
  for (const std::string& rel : unwatched)
    EXPECT_TRUE(rel == "a/" || rel == "b/" || rel == "c/") << rel;

  // More events than the system queues while nobody reads them.
  int queued = 16384;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
  ChangeNotification n;
  ASSERT_TRUE(n.Start(top));
  for (int i = 0; i <= queued; ++i) {
    std::FILE* f = std::fopen((top + "/a/f" + std::to_string(i)).c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  n.Drain();
  EXPECT_TRUE(n.TakeChanges().overflowed);
}

TEST(ChangeWatchTest, CancelEndsAWaitFromAnotherThread) {
  test::ScopedTestEnv env;
  ChangeNotification n;
  ASSERT_TRUE(n.Start(env.root()));
  std::thread canceller([&] { n.Cancel(); });
  EXPECT_EQ(n.Wait(60000), Result::kCancelled);
  canceller.join();
  EXPECT_EQ(n.Wait(0), Result::kCancelled);
}

TEST(ChangeWatchTest, MissingFolderCannotBeWatched) {
  test::ScopedTestEnv env;
  ChangeNotification n;
  EXPECT_FALSE(n.Start(env.Path("missing")));
}

}  // namespace
}  // namespace quindelo::platform
