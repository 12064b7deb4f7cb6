// The refresh walk on its own: a host standing in for the drive index, a
// real store, a folder tree on disk. A first walk builds the index, a second
// one lists only what changed and reports only the new matching names, and a
// walk stopped anywhere leaves a store that the next walk completes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "index/drive_scanner.h"
#include "index/index_records.h"
#include "index/index_store.h"
#include "index/pattern_set.h"
#include "platform/folder.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

using index_format::RecordId;
using WalkResult = DriveScanner::WalkResult;

// Answers as the drive index does for a find of the whole drive, and
// records what the walk tells it.
class FakeHost final : public ScanHost {
 public:
  FakeHost(IndexStore* store, std::string native_root, std::uint64_t root_device)
      : store_(store), native_root_(std::move(native_root)), root_device_(root_device) {
    patterns_.parse("*.txt");
  }

  // The answer "stop" from the question after this many (-1: never).
  int stop_after = -1;
  // Refuse every name, as a stopped find does.
  bool refuse_results = false;

  std::vector<std::string> reported;
  int questions = 0;

  IndexStore& store() override { return *store_; }
  FolderScope ScopeOf(std::string_view) const override { return FolderScope{}; }
  const std::string& drive_root_text() const override { return drive_root_text_; }
  const std::string& native_root() const override { return native_root_; }
  std::uint64_t root_device() const override { return root_device_; }
  bool relisting() const override { return false; }
  // Runs at every question, with its number (from 0), before the answer.
  std::function<void(int question)> on_question;

  bool MayContinue(const std::function<void()>& before_pause) override {
    if (on_question) on_question(asked_++);
    if (stop_after < 0 || questions++ < stop_after) return true;
    if (before_pause) before_pause();
    return false;
  }
  // The walk hands every new name; the host keeps those its find wants.
  ScanAnswer NewName(std::string_view folder, std::string_view name) override {
    if (!patterns_.match(name)) return ScanAnswer::kGoOn;
    if (refuse_results) return ScanAnswer::kStop;
    reported.push_back(std::string(folder) + std::string(name));
    return ScanAnswer::kGoOn;
  }
  void PostProgress(const std::string&) override {}
  void CountFolderListed() override { ++listed_; }
  std::uint64_t folders_listed() const override { return listed_; }
  void NoteIdsExhausted() override { ADD_FAILURE() << "ids exhausted"; }

 private:
  IndexStore* store_;
  PatternSet patterns_;
  std::string drive_root_text_ = "T:";
  std::string native_root_;
  std::uint64_t root_device_;
  std::uint64_t listed_ = 0;
  int asked_ = 0;
};

// The tree the store holds below folder id, one line per entry: "\a\" for a
// folder with a record (whose entries follow), "\a\?" for one without,
// "\a\f.txt" for a file. Every record must be sound and name its parent and
// the entry leading to it.
void DumpTree(IndexStore& store, RecordId id, RecordId parent, const std::string& name,
              const std::string& path, std::vector<std::string>* out) {
  std::vector<std::uint8_t> buffer;
  FolderRecordView view;
  ASSERT_TRUE(ReadFolderRecord(store, id, &buffer, &view)) << path;
  EXPECT_EQ(view.parent_id(), parent) << path;
  EXPECT_EQ(view.name(), name) << path;
  EXPECT_TRUE(EntryListIsSound(view)) << path;
  std::vector<std::pair<RecordId, std::string>> children;
  EntryIterator it(view);
  FolderEntry entry;
  while (it.Next(&entry)) {
    const std::string entry_path = path + std::string(entry.name);
    if (!entry.is_folder) {
      out->push_back(entry_path);
    } else if (entry.child_id == 0) {
      out->push_back(entry_path + "\\?");
    } else {
      out->push_back(entry_path + "\\");
      children.emplace_back(entry.child_id, std::string(entry.name));
    }
  }
  for (const auto& [child, child_name] : children)
    DumpTree(store, child, id, child_name, path + child_name + "\\", out);
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

class DriveScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = env_.Path("drive");
    for (const char* folder : {"", "/a", "/a/b", "/a/b/gone", "/c"})
      test::MakeFolder(root_ + folder);
    for (const char* file :
         {"/top.txt", "/a/keep.txt", "/a/b/old.txt", "/a/b/skip.dat", "/a/b/gone/inner.txt"})
      test::WriteTextFile(root_ + file, "x");
    // Folders dated a day back: any change stamps its folder anew, however
    // coarse the file system's clock.
    const auto past = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
    for (const char* folder : {"", "/a", "/a/b", "/a/b/gone", "/c"})
      std::filesystem::last_write_time(root_ + folder, past);
    platform::FolderTimes times;
    ASSERT_TRUE(platform::GetFolderTimes(root_, &times));
    root_device_ = times.device;
  }

  // Opens a new index file with an empty root record.
  void OpenStore(IndexStore* store, const std::string& name, RecordId* root_id) {
    ASSERT_TRUE(store->Open(env_.Path(name)));
    *root_id = CreateFolderRecord(*store, 0, "");
    ASSERT_NE(*root_id, 0u);
  }

  std::vector<std::string> Dump(IndexStore& store, RecordId root_id) {
    std::vector<std::string> lines;
    DumpTree(store, root_id, 0, "", "\\", &lines);
    return Sorted(lines);
  }

  test::ScopedTestEnv env_;
  std::string root_;
  std::uint64_t root_device_ = 0;
};

const std::vector<std::string> kFirstTree = {
    "\\a\\",           "\\a\\b\\",         "\\a\\b\\gone\\", "\\a\\b\\gone\\inner.txt",
    "\\a\\b\\old.txt", "\\a\\b\\skip.dat", "\\a\\keep.txt",  "\\c\\",
    "\\top.txt"};
const std::vector<std::string> kFirstNames = {"T:\\a\\b\\gone\\inner.txt", "T:\\a\\b\\old.txt",
                                              "T:\\a\\keep.txt", "T:\\top.txt"};

TEST_F(DriveScannerTest, SecondWalkListsOnlyTheChangedFolderAndReportsItsNewNames) {
  IndexStore store;
  RecordId root_id = 0;
  OpenStore(&store, "T.idx", &root_id);

  FakeHost first(&store, root_, root_device_);
  EXPECT_EQ(DriveScanner(&first).WalkRoot(root_id, false), WalkResult::kCompleted);
  EXPECT_EQ(first.folders_listed(), 5u);
  EXPECT_EQ(Sorted(first.reported), kFirstNames);
  EXPECT_EQ(Dump(store, root_id), kFirstTree);

  test::WriteTextFile(root_ + "/a/b/new.txt", "x");
  test::WriteTextFile(root_ + "/a/b/new.dat", "x");
  std::filesystem::remove(root_ + "/a/b/old.txt");
  test::RemoveTree(root_ + "/a/b/gone");

  FakeHost second(&store, root_, root_device_);
  EXPECT_EQ(DriveScanner(&second).WalkRoot(root_id, false), WalkResult::kCompleted);
  EXPECT_EQ(second.folders_listed(), 1u);
  EXPECT_EQ(second.reported, std::vector<std::string>{"T:\\a\\b\\new.txt"});
  EXPECT_EQ(Dump(store, root_id),
            (std::vector<std::string>{"\\a\\", "\\a\\b\\", "\\a\\b\\new.dat", "\\a\\b\\new.txt",
                                      "\\a\\b\\skip.dat", "\\a\\keep.txt", "\\c\\", "\\top.txt"}));
  EXPECT_FALSE(store.is_damaged());
}

// Stopped at each of the walk's questions in turn, or by a find that takes
// no more names, the walk ends with -1; the next walk completes the index,
// and every name is reported exactly once by the two together.
TEST_F(DriveScannerTest, StoppedWalkEndsWithMinusOneAndTheNextWalkCompletesIt) {
  int questions = 0;
  {
    IndexStore store;
    RecordId root_id = 0;
    OpenStore(&store, "count.idx", &root_id);
    FakeHost host(&store, root_, root_device_);
    host.stop_after = 1 << 30;
    ASSERT_EQ(DriveScanner(&host).WalkRoot(root_id, false), WalkResult::kCompleted);
    questions = host.questions;
  }
  ASSERT_GT(questions, 5);

  struct Case {
    int stop_after;
    bool refuse_results;
  };
  std::vector<Case> cases;
  for (int k = 0; k < questions; ++k) cases.push_back({k, false});
  cases.push_back({-1, true});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refuse_results ? std::string("refused names")
                                  : "stop after " + std::to_string(c.stop_after));
    IndexStore store;
    RecordId root_id = 0;
    OpenStore(&store, "stop" + std::to_string(c.stop_after) + ".idx", &root_id);
    FakeHost stopped(&store, root_, root_device_);
    stopped.stop_after = c.stop_after;
    stopped.refuse_results = c.refuse_results;
    EXPECT_EQ(DriveScanner(&stopped).WalkRoot(root_id, false), WalkResult::kStopped);

    FakeHost next(&store, root_, root_device_);
    EXPECT_EQ(DriveScanner(&next).WalkRoot(root_id, false), WalkResult::kCompleted);
    EXPECT_EQ(Dump(store, root_id), kFirstTree);
    std::vector<std::string> names = stopped.reported;
    names.insert(names.end(), next.reported.begin(), next.reported.end());
    EXPECT_EQ(Sorted(names), kFirstNames);
    EXPECT_FALSE(store.is_damaged());
  }
}

// A folder swapped for a link to a folder outside the drive, at each of the
// walk's questions in turn (before its listing, between its listing and the
// visit of its subfolder, while that is listed...), is never listed or
// entered: no name of the decoy reaches the index or the report, and the
// next walk keeps the link as the file entry it is.
TEST_F(DriveScannerTest, FolderSwappedForALinkDuringTheWalkIsNotEntered) {
  const std::string decoy = env_.Path("decoy");
  for (const char* folder : {"", "/b", "/b/gone"}) test::MakeFolder(decoy + folder);
  for (const char* file : {"/decoy.txt", "/b/decoy.txt", "/b/gone/decoy.txt"})
    test::WriteTextFile(decoy + file, "x");
  auto decoys = [](const std::vector<std::string>& lines) {
    std::vector<std::string> found;
    for (const std::string& line : lines)
      if (line.find("decoy") != std::string::npos) found.push_back(line);
    return found;
  };

  int questions = 0;
  {
    IndexStore store;
    RecordId root_id = 0;
    OpenStore(&store, "count.idx", &root_id);
    FakeHost host(&store, root_, root_device_);
    host.on_question = [&](int) { ++questions; };
    ASSERT_EQ(DriveScanner(&host).WalkRoot(root_id, false), WalkResult::kCompleted);
  }
  ASSERT_GT(questions, 5);
  for (int k = 0; k < questions; ++k) {
    SCOPED_TRACE("swapped at question " + std::to_string(k));
    const std::string away = env_.Path("away" + std::to_string(k));
    IndexStore store;
    RecordId root_id = 0;
    OpenStore(&store, "swap" + std::to_string(k) + ".idx", &root_id);
    FakeHost walk(&store, root_, root_device_);
    bool swapped = false;
    walk.on_question = [&](int question) {
      if (question != k) return;
      ASSERT_EQ(std::rename((root_ + "/a").c_str(), away.c_str()), 0);
      ASSERT_EQ(symlink(decoy.c_str(), (root_ + "/a").c_str()), 0);
      swapped = true;
    };
    EXPECT_EQ(DriveScanner(&walk).WalkRoot(root_id, false), WalkResult::kCompleted);
    ASSERT_TRUE(swapped);
    EXPECT_EQ(decoys(walk.reported), std::vector<std::string>{});
    EXPECT_EQ(decoys(Dump(store, root_id)), std::vector<std::string>{});

    FakeHost next(&store, root_, root_device_);
    EXPECT_EQ(DriveScanner(&next).WalkRoot(root_id, false), WalkResult::kCompleted);
    EXPECT_EQ(decoys(next.reported), std::vector<std::string>{});
    const std::vector<std::string> tree = Dump(store, root_id);
    EXPECT_EQ(decoys(tree), std::vector<std::string>{});
    EXPECT_TRUE(std::find(tree.begin(), tree.end(), "\\a") != tree.end())
        << "the link is a file entry";
    EXPECT_FALSE(store.is_damaged());

    // The drive as it was, for the next case.
    ASSERT_EQ(unlink((root_ + "/a").c_str()), 0);
    ASSERT_EQ(std::rename(away.c_str(), (root_ + "/a").c_str()), 0);
  }
}

}  // namespace
}  // namespace quindelo
