// The refresh walk and the index find on trees and files that are not what
// they should be: folders that cannot be listed, child links that lead
// elsewhere, entry lists that break off, and trees thousands of folders deep.
// Damage must never crash or loop; it marks the index damaged, so that the
// next open rebuilds it and answers right.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "index/drive_index.h"
#include "index/index_records.h"
#include "index/index_store.h"
#include "index/request_of.h"
#include "platform/paths.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

using test::MakeFolder;
using test::WriteTextFile;

class WalkTest : public ::testing::Test, public IndexClient {
 protected:
  void SetUp() override {
    root_ = env_.MakeDrive('T', "drive");
    index_path_ = platform::IndexFilePath('T');
  }

  IndexAnswer OnIndexMessage(const IndexMessage& message) override {
    std::function<IndexAnswer(const IndexMessage&)> answer;
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (const auto* found = std::get_if<FoundName>(&message)) found_.push_back(found->path);
      if (std::holds_alternative<FindEnded>(message)) ++ends_;
      answer = answer_;
    }
    cv_.notify_all();
    return answer ? answer(message) : IndexAnswer::kGoOn;
  }
  void SetAnswer(std::function<IndexAnswer(const IndexMessage&)> answer) {
    std::lock_guard<std::mutex> lock(lock_);
    answer_ = std::move(answer);
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(lock_);
    found_.clear();
    ends_ = 0;
  }
  void WaitForEnd() {
    std::unique_lock<std::mutex> lock(lock_);
    cv_.wait(lock, [&] { return ends_ >= 1; });
  }
  std::vector<std::string> Found() {
    std::lock_guard<std::mutex> lock(lock_);
    auto sorted = found_;
    std::sort(sorted.begin(), sorted.end());
    return sorted;
  }

  // Opens T: and waits for the refresh of the open.
  void OpenAndSettle(DriveIndex* index, bool rebuild = false) {
    Clear();
    ASSERT_TRUE(index->Open(index_path_, "T:", this, rebuild));
    WaitForEnd();
  }
  // One find to its end; its paths sorted.
  std::vector<std::string> Find(DriveIndex* index, const std::string& named,
                                bool refresh = false) {
    index->StopAndWait();
    Clear();
    EXPECT_TRUE(index->StartFind(RequestOf(named, {}, "", true, refresh), nullptr));
    WaitForEnd();
    return Found();
  }

  // Builds the index of T: from scratch and closes it.
  void BuildIndex() {
    DriveIndex index(NoWatcher());
    OpenAndSettle(&index, true);
    index.Close();
  }
  // True when the closed index file carries the damaged flag (an open of the
  // store refuses it, and the next open of the drive index rebuilds it).
  bool IndexIsDamaged() {
    IndexStore store;
    return !store.Open(index_path_);
  }

  static DriveIndex::Options NoWatcher() {
    DriveIndex::Options o;
    o.watch_changes = false;
    return o;
  }
  std::string P(const std::string& rel) const { return root_ + "/" + rel; }

  test::ScopedTestEnv env_;
  std::string root_;
  std::string index_path_;

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  std::vector<std::string> found_;           // guarded by lock_
  int ends_ = 0;                             // guarded by lock_
  std::function<IndexAnswer(const IndexMessage&)> answer_;  // guarded by lock_
};

// The folder records of a closed index, by folder path ("\", "\a\").
std::map<std::string, std::uint16_t> FolderIds(IndexStore& store) {
  std::map<std::string, std::uint16_t> ids;
  NameCache cache(store.table_length());
  StringPool pool;
  std::vector<std::uint8_t> record;
  std::vector<std::uint16_t> folders;
  store.BeginScan();
  while (store.NextRecord(&record)) {
    FolderRecordView view;
    if (view.Parse(record)) folders.push_back(view.id());
  }
  for (std::uint16_t id : folders) {
    std::string path;
    EXPECT_TRUE(BuildFolderPath(store, id, &cache, &pool, &path));
    ids[path] = id;
  }
  return ids;
}

// The position of entry name inside the record of folder id.
std::uint32_t EntryPosition(IndexStore& store, std::uint16_t id, const std::string& name) {
  std::vector<std::uint8_t> buffer;
  FolderRecordView view;
  EXPECT_TRUE(ReadFolderRecord(store, id, &buffer, &view));
  EntryIterator it(view);
  FolderEntry entry;
  while (it.Next(&entry))
    if (entry.name == name) return entry.position;
  ADD_FAILURE() << "no entry " << name;
  return 0;
}

// ---- Folders that cannot be listed ----------------------------------------

// A folder that becomes unreadable after a change keeps the entries it had,
// and once readable again is listed by the next refresh, although a change
// of permissions leaves its stamp as it was.
class UnreadableFolder : public WalkTest {
 protected:
  // lock() makes the folder \locked\ unreadable and returns false when it
  // cannot; unlock() undoes it.
  void Run(const std::function<bool()>& lock, const std::function<void()>& unlock) {
    MakeFolder(P("locked"));
    MakeFolder(P("other"));
    WriteTextFile(P("locked/old.txt"), "x");
    WriteTextFile(P("other/x.txt"), "x");
    DriveIndex index(NoWatcher());
    OpenAndSettle(&index);
    const std::vector<std::string> before = {"T:\\locked\\old.txt", "T:\\other\\x.txt"};
    ASSERT_EQ(Find(&index, "*.txt"), before);

    // A change makes the walk list the folder, which it cannot.
    WriteTextFile(P("locked/new.txt"), "x");
    if (!lock()) {
      unlock();
      GTEST_SKIP() << "this user reads folders whatever their permissions (root)";
    }
    Find(&index, "*.txt", true);
    unlock();
    if (HasFatalFailure()) return;
    // What the index knew of the folder stays.
    EXPECT_EQ(Find(&index, "*.txt"), before);
    // Readable again, with the same stamp: the next refresh lists it.
    EXPECT_EQ(Find(&index, "*.txt", true),
              (std::vector<std::string>{"T:\\locked\\new.txt", "T:\\locked\\old.txt",
                                        "T:\\other\\x.txt"}));
    index.Close();
    EXPECT_FALSE(IndexIsDamaged());
  }
};

TEST_F(UnreadableFolder, WithoutPermission) {
  const std::string locked = P("locked");
  Run(
      [&] {
        if (chmod(locked.c_str(), 0) != 0) return false;
        DIR* dir = opendir(locked.c_str());
        if (dir) closedir(dir);
        return dir == nullptr;
      },
      [&] { chmod(locked.c_str(), 0755); });
}

// Runs where permissions do not stop reading (root in CI): while no file
// descriptor is left, no folder can be opened for listing.
TEST_F(UnreadableFolder, WithoutFileDescriptors) {
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  Run(
      [&] {
        // The lowest free descriptor: every open from here on would need it
        // or a higher one.
        const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (probe < 0) return false;
        close(probe);
        rlimit low = old;
        low.rlim_cur = static_cast<rlim_t>(probe);
        if (setrlimit(RLIMIT_NOFILE, &low) != 0) return false;
        const int refused = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (refused >= 0) close(refused);
        return refused < 0;
      },
      [&] { setrlimit(RLIMIT_NOFILE, &old); });
}

// ---- Damaged index files ---------------------------------------------------

// A drive of a few folders and the answer its index must give.
class DamagedIndex : public WalkTest {
 protected:
  void MakeTree() {
    MakeFolder(P("a/b/c"));
    MakeFolder(P("s"));
    WriteTextFile(P("a/b/c/deep.txt"), "x");
    WriteTextFile(P("a/one.txt"), "x");
    WriteTextFile(P("a/three.txt"), "x");
    WriteTextFile(P("a/two.txt"), "x");
    WriteTextFile(P("s/y.txt"), "x");
    WriteTextFile(P("top.txt"), "x");
  }
  std::vector<std::string> Answer() const {
    std::vector<std::string> answer = {"T:\\a\\b\\c\\deep.txt", "T:\\a\\one.txt",
                                       "T:\\a\\three.txt", "T:\\a\\two.txt",
                                       "T:\\s\\y.txt", "T:\\top.txt"};
    for (const std::string& extra : extra_) answer.push_back(extra);
    std::sort(answer.begin(), answer.end());
    return answer;
  }
  // The damaged index is rebuilt at its next open and answers right, every
  // path once.
  void ExpectRebuiltAndRight() {
    EXPECT_TRUE(IndexIsDamaged());
    DriveIndex index(NoWatcher());
    OpenAndSettle(&index);
    EXPECT_EQ(Find(&index, "*.txt"), Answer());
    index.Close();
    EXPECT_FALSE(IndexIsDamaged());
  }

  std::vector<std::string> extra_;
};

// A child link that does not lead to the folder its entry names (up the
// tree, to itself, to another folder) is damage, not a way to walk: the
// walk used to follow a link back up the tree until its stack overflowed.
TEST_F(DamagedIndex, ChildLinksThatLeadElsewhereMarkTheIndexDamaged) {
  MakeTree();
  struct Case {
    const char* what;
    const char* folder;  // the folder whose entry is patched
    const char* entry;
    const char* target;  // the folder the entry's child id is set to
  } cases[] = {
      {"its own folder", "\\a\\", "b", "\\a\\"},
      {"the root", "\\a\\b\\", "c", "\\"},
      {"a folder of another name", "\\", "s", "\\a\\"},
      {"a folder below", "\\", "a", "\\a\\b\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BuildIndex();
    {
      IndexStore store;
      ASSERT_TRUE(store.Open(index_path_));
      auto ids = FolderIds(store);
      ASSERT_TRUE(ids.count(c.folder) && ids.count(c.target));
      ASSERT_TRUE(SetChildId(store, ids[c.folder], EntryPosition(store, ids[c.folder], c.entry),
                             ids[c.target]));
      ASSERT_TRUE(store.Close());
    }
    {
      DriveIndex index(NoWatcher());
      OpenAndSettle(&index);  // the refresh of every open walks the tree
      index.Close();
    }
    ExpectRebuiltAndRight();
  }
}

// An entry list that breaks off (an entry length running past its record)
// is damage to every reader of the list. The index find used to report the
// names before the break; the walk merged the folder's names again in front
// of it, so that the index held them twice for good.
TEST_F(DamagedIndex, BrokenEntryListMarksTheIndexDamagedForFindAndWalk) {
  MakeTree();
  for (const bool by_find : {false, true}) {
    SCOPED_TRACE(by_find ? "index find" : "refresh walk");
    BuildIndex();
    {
      IndexStore store;
      ASSERT_TRUE(store.Open(index_path_));
      const std::uint16_t a = FolderIds(store)["\\a\\"];
      const std::uint8_t length = 0xF0;  // far past the end of the record
      ASSERT_TRUE(store.PatchRecord(a, EntryPosition(store, a, "three.txt"), &length, 1));
      ASSERT_TRUE(store.Close());
    }
    // A change in the folder has the walk list and merge it.
    const std::string added = by_find ? "find.txt" : "walk.txt";
    WriteTextFile(P("a/" + added), "x");
    extra_.push_back("T:\\a\\" + added);
    DriveIndex index(NoWatcher());
    if (by_find) {
      // The walk of the open stops before it reads a record and resumes in
      // the find's refresh phase, which stops it again at its next question:
      // only the index find reads the folder's list.
      SetAnswer([&](const IndexMessage& message) {
        return std::holds_alternative<PollRequest>(message) &&
                       index.current_phase() == FindPhase::kRefresh
                   ? IndexAnswer::kStop
                   : IndexAnswer::kGoOn;
      });
      OpenAndSettle(&index);
      SetAnswer([&](const IndexMessage& message) {
        return std::holds_alternative<PollRequest>(message) &&
                       index.current_phase() == FindPhase::kRefresh
                   ? IndexAnswer::kStop
                   : IndexAnswer::kGoOn;
      });
      Find(&index, "*.txt");
    } else {
      OpenAndSettle(&index);
    }
    index.Close();
    SetAnswer(nullptr);
    ExpectRebuiltAndRight();
  }
}

// A tree thousands of folders deep (its paths far beyond PATH_MAX) is
// walked to its bottom: the walk's way down is not the call stack.
TEST_F(WalkTest, TreeFourThousandFoldersDeepIsWalked) {
  constexpr int kDepth = 4000;
  constexpr int kPiece = 1000;  // folders per piece when the tree is removed
  // The tree: root/d/d/.../d/bottom.txt, made a folder at a time.
  int fd = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < kDepth && fd >= 0; ++i) {
    ASSERT_EQ(mkdirat(fd, "d", 0700), 0);
    const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
  }
  ASSERT_GE(fd, 0);
  const int file = openat(fd, "bottom.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  EXPECT_GE(file, 0);
  if (file >= 0) close(file);
  close(fd);
  // Removed in pieces whose paths fit PATH_MAX: every kPiece-th folder is
  // moved beside the drive with what lies below it, so that no piece is
  // deeper than kPiece, and the test folder's removal takes them all.
  struct Pieces {
    std::string top, spare;
    ~Pieces() {
      std::string chain;
      for (int i = 0; i < kPiece; ++i) chain += "/d";
      for (int n = 0; n < kDepth / kPiece; ++n) {
        const std::string moved = spare + std::to_string(n);
        if (std::rename((top + chain).c_str(), moved.c_str()) != 0) break;
        top = moved;
      }
    }
  } pieces{root_, env_.Path("piece")};

  DriveIndex index(NoWatcher());
  OpenAndSettle(&index);
  const auto found = Find(&index, "bottom.txt");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].substr(0, 6), "T:\\d\\d");
  index.Close();
  EXPECT_FALSE(IndexIsDamaged());
}

}  // namespace
}  // namespace quindelo
