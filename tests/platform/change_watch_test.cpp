// Change notification: names created, removed or moved anywhere in the
// watched subtree are noticed, folders made after the start included, and
// a cancel ends a wait at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

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
