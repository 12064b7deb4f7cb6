// Carrying out file operation plans on temporary drives: copies keep
// contents, permissions and times and appear only when complete; a cancel
// or a failure half way leaves nothing under the destination name; replaces
// happen only when confirmed; a move across file systems removes the source
// only after the copy; a permanent delete never follows a link out of the
// folder; a refused trash falls back to a confirmed permanent delete.
#include "commands/file_operation_run.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/test_env.h"

namespace quindelo::commands {
namespace {

class ScriptedObserver : public FileOperationObserver {
 public:
  bool replace = true;
  bool delete_after_refusal = true;
  std::uint64_t cancel_after_bytes = 0;  // 0: never cancel
  FailureAnswer answer = FailureAnswer::kSkip;
  std::vector<std::string> failures;
  std::uint64_t most_bytes = 0;

  bool ConfirmReplace(const PlannedStep&) override { return replace; }
  bool ConfirmDeleteAfterTrashRefused(const PlannedStep&, const std::string&) override {
    return delete_after_refusal;
  }
  void Progress(std::size_t, std::uint64_t bytes) override {
    if (bytes > most_bytes) most_bytes = bytes;
  }
  bool Cancelled() override { return cancel_after_bytes != 0 && most_bytes >= cancel_after_bytes; }
  FailureAnswer Failed(const PlannedStep&, const std::string& message) override {
    failures.push_back(message);
    return answer;
  }
};

class FakeTrash : public Trash {
 public:
  bool refuse = false;
  std::vector<std::string> trashed;
  bool MoveToTrash(const std::string& path, std::string* reason) override {
    if (refuse) {
      *reason = "no trash here";
      return false;
    }
    trashed.push_back(path);
    return true;
  }
};

using test::Exists;
using test::SetImmutable;

// Names in a folder that the copy left behind under a temporary name.
std::vector<std::string> Leftovers(const std::string& folder) {
  std::vector<std::string> found;
  if (DIR* listing = opendir(folder.c_str())) {
    while (struct dirent* entry = readdir(listing))
      if (std::string(entry->d_name).rfind(".quindelo-", 0) == 0) found.push_back(entry->d_name);
    closedir(listing);
  }
  return found;
}

FileOperationResult PlanAndRun(FileOperation op, const std::vector<std::string>& sources,
                        const std::string& text, ScriptedObserver* observer,
                        FakeTrash* trash = nullptr) {
  DiskView view;
  FileOperationPlan plan = PlanFileOperation(op, sources, text, view);
  EXPECT_EQ("", plan.error);
  FakeTrash unused;
  return RunFileOperationPlan(plan, trash != nullptr ? trash : &unused, observer);
}

TEST(RunFileOperationPlan, CopiesKeepContentsModeTimesAndLinks) {
  test::ScopedTestEnv env;
  std::string d = env.MakeDrive('D', "d");
  test::WriteTextFile(d + "/a \"b\";$c.txt", "alpha");
  ASSERT_EQ(0, chmod((d + "/a \"b\";$c.txt").c_str(), 0640));
  struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, (d + "/a \"b\";$c.txt").c_str(), old_times, 0));
  test::MakeFolder(d + "/tree/inner");
  test::WriteTextFile(d + "/tree/inner/x", "xx");
  ASSERT_EQ(0, symlink("/outside/target", (d + "/tree/link").c_str()));

  ScriptedObserver observer;
  FileOperationResult result =
      PlanAndRun(FileOperation::kCopy, {"D:\\a \"b\";$c.txt", "D:\\tree"}, "D:\\new\\place", &observer);
  EXPECT_EQ(3u, result.done);  // the folder made, two copies
  EXPECT_TRUE(observer.failures.empty());
  std::string copy = d + "/new/place/a \"b\";$c.txt";
  EXPECT_EQ("alpha", test::ReadWholeFile(copy));
  struct stat st;
  ASSERT_EQ(0, stat(copy.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(1000000000, st.st_mtim.tv_sec);
  EXPECT_EQ("xx", test::ReadWholeFile(d + "/new/place/tree/inner/x"));
  char target[64] = {};
  ASSERT_GT(readlink((d + "/new/place/tree/link").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ("/outside/target", target);
  EXPECT_TRUE(Leftovers(d + "/new/place").empty());

  // Replacing: declined leaves the old file, confirmed replaces it.
  test::WriteTextFile(d + "/a \"b\";$c.txt", "beta");
  observer.replace = false;
  EXPECT_EQ(0u, PlanAndRun(FileOperation::kCopy, {"D:\\a \"b\";$c.txt"}, "D:\\new\\place", &observer).done);
  EXPECT_EQ("alpha", test::ReadWholeFile(copy));
  observer.replace = true;
  EXPECT_EQ(1u, PlanAndRun(FileOperation::kCopy, {"D:\\a \"b\";$c.txt"}, "D:\\new\\place", &observer).done);
  EXPECT_EQ("beta", test::ReadWholeFile(copy));
}

TEST(RunFileOperationPlan, ACancelOrAFailureHalfWayLeavesNoDestination) {
  test::ScopedTestEnv env;
  std::string d = env.MakeDrive('D', "d");
  test::WriteTextFile(d + "/big", std::string(3 * kCopyBlockSize + 5, 'b'));
  test::MakeFolder(d + "/dest");

  ScriptedObserver cancelling;
  cancelling.cancel_after_bytes = 1;
  FileOperationResult result = PlanAndRun(FileOperation::kCopy, {"D:\\big"}, "D:\\dest", &cancelling);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(0u, result.done);
  EXPECT_FALSE(Exists(d + "/dest/big"));
  EXPECT_TRUE(Leftovers(d + "/dest").empty());

  // A folder holding a pipe cannot be copied whole: the copy made so far goes.
  test::MakeFolder(d + "/tree");
  test::WriteTextFile(d + "/tree/a", "a");
  ASSERT_EQ(0, mkfifo((d + "/tree/pipe").c_str(), 0600));
  test::WriteTextFile(d + "/z", "z");
  ScriptedObserver observer;
  result = PlanAndRun(FileOperation::kCopy, {"D:\\tree", "D:\\z"}, "D:\\dest", &observer);
  ASSERT_EQ(1u, observer.failures.size());
  EXPECT_EQ(0u, observer.failures[0].find("Unable to copy \"D:\\tree\" to \"D:\\dest\\tree\": "));
  EXPECT_EQ(1u, result.done);  // skipped, then went on
  EXPECT_FALSE(Exists(d + "/dest/tree"));
  EXPECT_EQ("z", test::ReadWholeFile(d + "/dest/z"));
  EXPECT_TRUE(Leftovers(d + "/dest").empty());

  // A destination that appeared since the plan, and a source that vanished.
  DiskView view;
  test::WriteTextFile(d + "/y", "new y");
  FileOperationPlan plan = PlanFileOperation(FileOperation::kMove, {"D:\\y", "D:\\z"}, "D:\\dest", view);
  test::WriteTextFile(d + "/dest/y", "someone else's");
  ASSERT_EQ(0, unlink((d + "/z").c_str()));
  observer.failures.clear();
  observer.answer = FailureAnswer::kStop;
  FakeTrash trash;
  result = RunFileOperationPlan(plan, &trash, &observer);
  EXPECT_TRUE(result.stopped);
  ASSERT_EQ(1u, observer.failures.size());
  EXPECT_EQ("Unable to move \"D:\\y\" to \"D:\\dest\\y\": it already exists.", observer.failures[0]);
  EXPECT_EQ("someone else's", test::ReadWholeFile(d + "/dest/y"));
  EXPECT_EQ("new y", test::ReadWholeFile(d + "/y"));
}

TEST(RunFileOperationPlan, MovesAcrossFileSystemsRemoveTheSourceAfterTheCopy) {
  test::ScopedTestEnv env;
  std::string d = env.MakeDrive('D', "d");
  char shm_pattern[] = "/dev/shm/quindelo-move-XXXXXX";
  struct stat root_st, shm_st;
  if (mkdtemp(shm_pattern) == nullptr) GTEST_SKIP() << "no /dev/shm to move to";
  std::string e = shm_pattern;
  ASSERT_EQ(0, stat(d.c_str(), &root_st));
  ASSERT_EQ(0, stat(e.c_str(), &shm_st));
  if (root_st.st_dev == shm_st.st_dev) {
    test::RemoveTree(e);
    GTEST_SKIP() << "/dev/shm is on the same file system";
  }
  test::MapDrive('E', e);
  test::WriteTextFile(d + "/file", "moved");
  test::MakeFolder(d + "/folder/sub");
  test::WriteTextFile(d + "/folder/sub/f", "deep");
  ScriptedObserver observer;
  FileOperationResult result = PlanAndRun(FileOperation::kMove, {"D:\\file", "D:\\folder"}, "E:\\", &observer);
  EXPECT_EQ(2u, result.done);
  EXPECT_EQ("moved", test::ReadWholeFile(e + "/file"));
  EXPECT_EQ("deep", test::ReadWholeFile(e + "/folder/sub/f"));
  EXPECT_FALSE(Exists(d + "/file"));
  EXPECT_FALSE(Exists(d + "/folder"));
  test::RemoveTree(e);
}

TEST(RunFileOperationPlan, DeletesNeverFollowLinksAndARefusedTrashAsksFirst) {
  test::ScopedTestEnv env;
  std::string d = env.MakeDrive('D', "d");
  test::MakeFolder(d + "/keep");
  test::WriteTextFile(d + "/keep/precious", "p");
  test::MakeFolder(d + "/gone/sub");
  test::WriteTextFile(d + "/gone/sub/f", "f");
  ASSERT_EQ(0, symlink((d + "/keep").c_str(), (d + "/gone/link").c_str()));
  ScriptedObserver observer;
  EXPECT_EQ(1u, PlanAndRun(FileOperation::kDeletePermanently, {"D:\\gone"}, "", &observer).done);
  EXPECT_FALSE(Exists(d + "/gone"));
  EXPECT_EQ("p", test::ReadWholeFile(d + "/keep/precious"));

  test::WriteTextFile(d + "/t1", "1");
  FakeTrash trash;
  EXPECT_EQ(1u, PlanAndRun(FileOperation::kDelete, {"D:\\t1"}, "", &observer, &trash).done);
  EXPECT_EQ(std::vector<std::string>{d + "/t1"}, trash.trashed);
  EXPECT_TRUE(Exists(d + "/t1"));  // the fake trash leaves it

  trash.refuse = true;
  observer.delete_after_refusal = false;
  EXPECT_EQ(0u, PlanAndRun(FileOperation::kDelete, {"D:\\t1"}, "", &observer, &trash).done);
  EXPECT_TRUE(Exists(d + "/t1"));
  observer.delete_after_refusal = true;
  EXPECT_EQ(1u, PlanAndRun(FileOperation::kDelete, {"D:\\t1"}, "", &observer, &trash).done);
  EXPECT_FALSE(Exists(d + "/t1"));
  EXPECT_TRUE(observer.failures.empty());
}

TEST(RunFileOperationPlan, AFileThatCannotBeDeletedGivesItsOwnReason) {
  test::ScopedTestEnv env;
  std::string d = env.MakeDrive('D', "d");
  test::WriteTextFile(d + "/stuck", "s");
  if (!SetImmutable(d + "/stuck", true)) GTEST_SKIP() << "no immutable files here";
  ScriptedObserver observer;
  EXPECT_EQ(0u, PlanAndRun(FileOperation::kDeletePermanently, {"D:\\stuck"}, "", &observer).done);
  SetImmutable(d + "/stuck", false);
  EXPECT_EQ(std::vector<std::string>{"Unable to delete \"D:\\stuck\": Operation not permitted."},
            observer.failures);
}

}  // namespace
}  // namespace quindelo::commands
