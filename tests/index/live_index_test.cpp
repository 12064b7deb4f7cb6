// A live index against a disk that keeps changing: after each batch of
// random creates, deletes, renames and moves of files and folders (at
// several depths, some across folders, some into and out of the drive), a
// find of * gives exactly what an nftw listing of the disk gives, a change
// made just before the find included. The same after lost events, with too
// few watches, and at the next open after a live process was killed.
#include <gtest/gtest.h>

#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "index/drive_index.h"
#include "index/request_of.h"
#include "platform/paths.h"
#include "support/test_env.h"

extern char** environ;

namespace quindelo {
namespace {

namespace fs = std::filesystem;

// Collects the names a find reports and waits for its end.
class Collector : public IndexClient {
 public:
  IndexAnswer OnIndexMessage(const IndexMessage& message) override {
    std::lock_guard<std::mutex> lock(lock_);
    if (const auto* found = std::get_if<FoundName>(&message)) found_.push_back(found->path);
    if (std::holds_alternative<FindEnded>(message)) ++ends_;
    cv_.notify_all();
    return IndexAnswer::kGoOn;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(lock_);
    found_.clear();
    ends_ = 0;
  }
  std::vector<std::string> WaitForEnd() {
    std::unique_lock<std::mutex> lock(lock_);
    cv_.wait(lock, [&] { return ends_ > 0; });
    return found_;
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  std::vector<std::string> found_;
  int ends_ = 0;
};

// Every entry below root as the index names it ("L:\a\b.txt").
std::set<std::string>* g_listing = nullptr;
std::size_t g_root_length = 0;
int AddEntry(const char* path, const struct stat*, int, struct FTW*) {
  std::string rel(path + std::min(g_root_length, std::strlen(path)));
  if (rel.empty()) return 0;
  std::replace(rel.begin(), rel.end(), '/', '\\');
  g_listing->insert("L:" + rel);
  return 0;
}
std::set<std::string> DiskListing(const std::string& root) {
  std::set<std::string> listing;
  g_listing = &listing;
  g_root_length = root.size();
  EXPECT_EQ(nftw(root.c_str(), AddEntry, 32, FTW_PHYS), 0);
  return listing;
}

// Random changes below a drive root, with a place outside it to move
// folders in from and out to.
class Churn {
 public:
  Churn(std::string root, std::string outside, unsigned seed)
      : root_(std::move(root)), outside_(std::move(outside)), random_(seed) {
    fs::create_directories(outside_);
  }

  void Batch(int changes) {
    for (int i = 0; i < changes; ++i) One();
  }

  void MakeStartingTree() {
    for (int i = 0; i < 8; ++i) {
      const std::string top = root_ + "/top" + std::to_string(i);
      fs::create_directories(top + "/mid/deep");
      for (int j = 0; j < 6; ++j) {
        test::WriteTextFile(top + "/f" + std::to_string(j) + ".txt", "x");
        test::WriteTextFile(top + "/mid/deep/g" + std::to_string(j), "x");
      }
    }
  }

 private:
  std::string NewName() { return "n" + std::to_string(counter_++); }
  // A folder of the drive (the root included) or a file, picked at random.
  std::string Pick(bool folder) {
    std::vector<std::string> found;
    if (folder) found.push_back(root_);
    for (auto& e : fs::recursive_directory_iterator(root_))
      if (e.is_directory(ec_) == folder && !e.is_symlink(ec_)) found.push_back(e.path());
    if (found.empty()) return std::string();
    return found[std::uniform_int_distribution<std::size_t>(0, found.size() - 1)(random_)];
  }

  void One() {
    const std::string folder = Pick(true);
    switch (std::uniform_int_distribution<int>(0, 9)(random_)) {
      case 0:
      case 1:
        test::WriteTextFile(folder + "/" + NewName() + ".txt", "x");
        break;
      case 2: {
        const std::string file = Pick(false);
        if (!file.empty()) fs::remove(file, ec_);
        break;
      }
      case 3: {  // rename a file in its folder, or move it across folders
        const std::string file = Pick(false);
        if (!file.empty()) fs::rename(file, folder + "/" + NewName(), ec_);
        break;
      }
      case 4: {  // a new folder, with names made in it at once
        const std::string made = folder + "/" + NewName();
        fs::create_directories(made + "/inner");
        test::WriteTextFile(made + "/a.txt", "x");
        test::WriteTextFile(made + "/inner/b.txt", "x");
        break;
      }
      case 5:
        if (folder != root_) fs::remove_all(folder, ec_);
        break;
      case 6:  // rename a folder in place
        if (folder != root_) fs::rename(folder, fs::path(folder).parent_path() / NewName(), ec_);
        break;
      case 7: {  // move a folder elsewhere on the drive (never into itself)
        const std::string to = Pick(true);
        if (folder != root_ && to.compare(0, folder.size() + 1, folder + "/") != 0 && to != folder)
          fs::rename(folder, to + "/" + NewName(), ec_);
        break;
      }
      case 8: {  // a tree made outside and moved in
        const std::string made = outside_ + "/" + NewName();
        fs::create_directories(made + "/x/y");
        test::WriteTextFile(made + "/x/y/z.txt", "x");
        fs::rename(made, folder + "/" + NewName(), ec_);
        break;
      }
      case 9:  // a tree moved out of the drive
        if (folder != root_) fs::rename(folder, outside_ + "/" + NewName(), ec_);
        break;
    }
  }

  std::string root_, outside_;
  std::mt19937 random_;
  int counter_ = 0;
  std::error_code ec_;
};

class LiveIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = env_.MakeDrive('L', "live");
    index_path_ = platform::IndexFilePath('L');
  }

  void OpenLive(DriveIndex* index) {
    ASSERT_TRUE(index->Open(index_path_, "L:", &client_, false));
    for (int i = 0; i < 3000 && !index->live(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(index->live());
  }

  std::vector<std::string> FindAll(DriveIndex* index, const std::string& look_in = "") {
    index->StopAndWait();
    client_.Clear();
    std::string message;
    std::vector<std::string> look_in_list;
    if (!look_in.empty()) look_in_list.push_back(look_in);
    EXPECT_TRUE(index->StartFind(RequestOf("*", look_in_list), &message)) << message;
    return client_.WaitForEnd();
  }

  // A find stopped at once, somewhere in its phases.
  void StartAndStop(DriveIndex* index) {
    index->StopAndWait();
    std::string message;
    EXPECT_TRUE(index->StartFind(RequestOf("*"), &message)) << message;
    index->StopAndWait();
  }

  // A find of * against the disk. Unless exact, names the index holds of
  // folders that were walked by their stamps may be gone from the disk
  // (the command-line finder checks each path before it prints it).
  // With look_in (a top folder, "\\n17"), the find looks in that folder
  // only.
  void ExpectFindMatchesDisk(DriveIndex* index, const std::string& when, bool exact = true,
                             const std::string& look_in = "") {
    test::WriteTextFile(root_ + "/just-before-" + std::to_string(++finds_), "x");
    const std::vector<std::string> found = FindAll(index, look_in);
    std::set<std::string> found_set(found.begin(), found.end());
    EXPECT_EQ(found_set.size(), found.size()) << when << ": a name was reported twice";
    if (!exact) {
      for (auto it = found_set.begin(); it != found_set.end();) {
        std::string native;
        ASSERT_TRUE(platform::ToNativePath(*it, &native));
        it = test::Exists(native) ? std::next(it) : found_set.erase(it);
      }
    }
    std::set<std::string> disk = DiskListing(root_);
    if (!look_in.empty()) {
      const std::string below = "L:" + look_in + "\\";
      for (auto it = disk.begin(); it != disk.end();)
        it = it->compare(0, below.size(), below) == 0 ? std::next(it) : disk.erase(it);
    }
    std::vector<std::string> missing, extra;
    std::set_difference(disk.begin(), disk.end(), found_set.begin(), found_set.end(),
                        std::back_inserter(missing));
    std::set_difference(found_set.begin(), found_set.end(), disk.begin(), disk.end(),
                        std::back_inserter(extra));
    EXPECT_TRUE(missing.empty() && extra.empty())
        << when << ": " << missing.size() << " missing (first " << (missing.empty() ? "" : missing[0])
        << "), " << extra.size() << " extra (first " << (extra.empty() ? "" : extra[0]) << ")";
  }

  test::ScopedTestEnv env_;
  std::string root_;
  std::string index_path_;
  Collector client_;
  int finds_ = 0;
};

TEST_F(LiveIndexTest, FindsMatchTheDiskThroughChurnAndLostEvents) {
  Churn churn(root_, env_.Path("outside"), 1234);
  churn.MakeStartingTree();
  DriveIndex index;
  OpenLive(&index);
  int scoped = 0;
  for (int batch = 0; batch < 12; ++batch) {
    churn.Batch(250);
    // Some finds are stopped somewhere on their way first; one looks in a
    // top folder only.
    if (batch % 2) StartAndStop(&index);
    ExpectFindMatchesDisk(&index, "batch " + std::to_string(batch));
    churn.Batch(20);
    for (const auto& e : fs::directory_iterator(root_)) {
      if (!e.is_directory() || e.is_symlink()) continue;
      ExpectFindMatchesDisk(&index, "in a top folder, batch " + std::to_string(batch), true,
                            "\\" + e.path().filename().string());
      ++scoped;
      break;
    }
    ASSERT_TRUE(index.live());
  }
  EXPECT_GT(scoped, 0);
  // A live find with nothing changed lists nothing but the folder of the
  // name made just before it.
  const std::uint64_t listed = index.folders_listed();
  ExpectFindMatchesDisk(&index, "nothing changed");
  EXPECT_EQ(index.folders_listed(), listed + 1);

  // Lost events: the next find answers from the index and walks the drive
  // by its stamps; the one after it is live again.
  index.NoteEventsLost();
  EXPECT_FALSE(index.live());
  churn.Batch(250);
  ExpectFindMatchesDisk(&index, "after lost events", false);
  EXPECT_TRUE(index.live());
  churn.Batch(250);
  ExpectFindMatchesDisk(&index, "live again");
}

TEST_F(LiveIndexTest, FoldersWithoutAWatchAreWalkedAtEveryFind) {
  Churn churn(root_, env_.Path("outside"), 99);
  churn.MakeStartingTree();
  DriveIndex::Options options;
  options.watch_limit = 6;
  DriveIndex index(options);
  OpenLive(&index);
  EXPECT_GT(index.unwatched_count(), 0u);
  for (int batch = 0; batch < 6; ++batch) {
    churn.Batch(200);
    ExpectFindMatchesDisk(&index, "batch " + std::to_string(batch), false);
  }
}

// The live process of the kill test: opens drive L: with its watcher and
// finds over and over until it is killed. Runs only when the kill test
// starts it.
TEST(LiveIndexKilledProcess, FindsUntilKilled) {
  const char* ready = std::getenv("QUINDELO_LIVE_CHILD_READY");
  if (!ready) GTEST_SKIP() << "started by the kill test only";
  DriveIndex index;
  Collector client;
  ASSERT_TRUE(index.Open(platform::IndexFilePath('L'), "L:", &client, false));
  while (!index.live()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  test::WriteTextFile(ready, "live");
  for (;;) {
    index.StopAndWait();
    client.Clear();
    std::string message;
    ASSERT_TRUE(index.StartFind(RequestOf("*"), &message));
    client.WaitForEnd();
  }
}

TEST_F(LiveIndexTest, TheOpenAfterAKilledLiveProcessIsSoundAndRight) {
  Churn churn(root_, env_.Path("outside"), 7);
  churn.MakeStartingTree();
  const std::string ready = env_.Path("child-ready");
  const std::string ready_env = "QUINDELO_LIVE_CHILD_READY=" + ready;
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
  env_strings.push_back(ready_env);
  std::vector<char*> envp;
  for (std::string& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string self = fs::read_symlink("/proc/self/exe");
  std::string filter = "--gtest_filter=LiveIndexKilledProcess.FindsUntilKilled";
  char* argv[] = {self.data(), filter.data(), nullptr};
  for (int round = 0; round < 3; ++round) {
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    for (int i = 0; i < 3000 && !test::Exists(ready); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(test::Exists(ready));
    // Killed at some moment of its finds and writes.
    churn.Batch(150 + 50 * round);
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    fs::remove(ready);

    DriveIndex index;
    OpenLive(&index);
    ExpectFindMatchesDisk(&index, "after kill " + std::to_string(round));
    index.Close();
  }
}

}  // namespace
}  // namespace quindelo
