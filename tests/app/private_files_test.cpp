// What the system writes for a user stays private to that user whatever the
// umask: the folders it creates (settings, start-up and Data folders) are
// 0700, and its settings, index and saved-find files 0600.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <condition_variable>
#include <mutex>
#include <string>

#include "app/saved_find.h"
#include "index/drive_index.h"
#include "platform/paths.h"
#include "platform/settings_file.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

// Sets the process umask for one scope.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

struct IdleWaiter : IndexClient {
  std::mutex lock;
  std::condition_variable cv;
  bool idle = false;
  IndexAnswer OnIndexMessage(const IndexMessage& message) override {
    if (std::holds_alternative<FindEnded>(message)) {
      std::lock_guard<std::mutex> l(lock);
      idle = true;
      cv.notify_all();
    }
    return IndexAnswer::kGoOn;
  }
  void Wait() {
    std::unique_lock<std::mutex> l(lock);
    cv.wait(l, [&] { return idle; });
  }
};

mode_t ModeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(PrivateFilesTest, FoldersAre0700AndFiles0600WhateverTheUmask) {
  for (mode_t mask : {mode_t{000}, mode_t{022}}) {
    SCOPED_TRACE(testing::Message() << "umask 0" << std::oct << mask);
    ScopedUmask umask(mask);
    // Settings, the start-up folder and its Data folder do not exist yet.
    test::ScopedTestEnv env;
    const std::string root = env.MakeDrive('T', "drive");
    test::WriteTextFile(root + "/a.txt", "a");

    DriveIndex::Options options;
    options.watch_changes = false;
    {
      DriveIndex index(options);
      IdleWaiter waiter;
      ASSERT_TRUE(index.Open(platform::IndexFilePath('T'), "T:", &waiter,
                             false));
      waiter.Wait();
      index.Close();
    }
    const std::string saved = env.Path("find.qnd");
    SavedFind find;
    find.look_in = "T:";
    ASSERT_TRUE(SaveSavedFind(saved, find));

    for (const std::string& folder :
         {env.Path("config"), env.Path("config/Pemblet Software"), env.Path("data"),
          env.Path("data/Pemblet Software"), platform::StartupFolder(), platform::DataFolder()})
      EXPECT_EQ(ModeOf(folder), 0700u) << folder;
    for (const std::string& file : {env.Path("config/Pemblet Software/Quindelo.conf"),
                                    platform::IndexFilePath('T'), saved})
      EXPECT_EQ(ModeOf(file), 0600u) << file;
  }
}

}  // namespace
}  // namespace quindelo
