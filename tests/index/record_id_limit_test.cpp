// A drive with more folders than an index can hold records for: the index
// stays sound and usable, the folders beyond the limit are not listed, the
// user is told once, and the next open does not rebuild the index.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "index/drive_index.h"
#include "index/index_store.h"
#include "platform/paths.h"
#include "search/message_report.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

class StatusRecorder : public MessageSink {
 public:
  void SetIndicator(const char*) override {}
  void SetStatus(const char* text) override {
    std::lock_guard<std::mutex> lock(lock_);
    statuses.push_back(text ? text : "");
  }
  int ShowWarning(const char*, const char*) override { return 1; }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(lock_);
    return statuses;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> statuses;
};

struct EndWaiter {
  std::mutex lock;
  std::condition_variable cv;
  int ends = 0;
  std::vector<std::string> found;
  static int Callback(int code, const char* text, void* user) {
    auto* self = static_cast<EndWaiter*>(user);
    if (code == kCodeFound) {
      std::lock_guard<std::mutex> l(self->lock);
      self->found.push_back(text);
    }
    if (code == kCodeIdle) {
      std::lock_guard<std::mutex> l(self->lock);
      ++self->ends;
      self->cv.notify_all();
    }
    return 0;
  }
  void WaitFor(int n) {
    std::unique_lock<std::mutex> l(lock);
    cv.wait(l, [&] { return ends >= n; });
  }
};

TEST(RecordIdLimitTest, MoreFoldersThanIdsKeepsTheIndexSoundAndSaysSoOnce) {
  test::ScopedTestEnv env;
  const std::string root = env.MakeDrive('T', "drive");
  // 62 x 1000 + 62 folders: more than the 61,377 records an index can hold.
  for (int i = 0; i < 62; ++i) {
    std::string top = root + "/d" + std::to_string(i);
    ASSERT_EQ(mkdir(top.c_str(), 0700), 0);
    for (int j = 0; j < 1000; ++j)
      ASSERT_EQ(mkdir((top + "/s" + std::to_string(j)).c_str(), 0700), 0);
  }
  test::WriteTextFile(root + "/d0/s0/found.txt", "x");

  StatusRecorder sink;
  MessageSink* old = SetMessageSink(&sink);
  const std::string path = platform::IndexFilePath('T');
  DriveIndex::Options options;
  options.watch_changes = false;
  {
    DriveIndex index(options);
    EndWaiter waiter;
    ASSERT_TRUE(index.Open(path, "T:", &EndWaiter::Callback, &waiter, false));
    waiter.WaitFor(1);
    EXPECT_TRUE(index.ids_exhausted());
    index.Close();
  }
  int told = 0;
  for (const std::string& s : sink.Take()) told += s.find("more folders than its index") != std::string::npos;
  EXPECT_EQ(told, 1);

  {
    IndexStore store;
    ASSERT_TRUE(store.Open(path));
    EXPECT_FALSE(store.is_damaged());
  }
  // Reopened: accepted as it is, so nothing is listed again, and the names
  // it holds are found.
  DriveIndex index(options);
  EndWaiter waiter;
  ASSERT_TRUE(index.Open(path, "T:", &EndWaiter::Callback, &waiter, false));
  waiter.WaitFor(1);
  EXPECT_LT(index.folders_listed(), 100u);
  index.StopAndWait();
  std::string message;
  ASSERT_TRUE(index.StartFind("found.txt", {}, "", true, false, &message));
  waiter.WaitFor(2);
  index.Shutdown();
  EXPECT_EQ(waiter.found, (std::vector<std::string>{"T:\\d0\\s0\\found.txt"}));
  SetMessageSink(old);
}

}  // namespace
}  // namespace quindelo
