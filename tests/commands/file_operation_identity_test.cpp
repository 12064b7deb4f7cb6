// Plans carried out on the disk where a path's spelling and the file it
// names part ways: a second mount of a folder, a link or ".." on the way,
// "." and ".." names in a drive path, a folder whose name holds wildcards.
// Each plan goes through RunFileOperationPlan as the window's would, and
// the files are checked afterwards: nothing selected is lost, nothing is
// written outside the drive.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "commands/file_operation_plan.h"
#include "commands/file_operation_run.h"
#include "support/mount_namespace.h"
#include "support/refusing_trash.h"
#include "support/test_env.h"

namespace quindelo::commands {
namespace {

// Says yes to every question, as a user in a hurry would.
class YesObserver : public FileOperationObserver {
 public:
  std::vector<std::string> failures;
  bool ConfirmReplace(const PlannedStep&) override { return true; }
  bool ConfirmDeleteAfterTrashRefused(const PlannedStep&, const std::string&) override {
    return true;
  }
  void Progress(std::size_t, std::uint64_t) override {}
  bool Cancelled() override { return false; }
  FailureAnswer Failed(const PlannedStep&, const std::string& message) override {
    failures.push_back(message);
    return FailureAnswer::kSkip;
  }
};

using NoTrash = test::RefusingTrash;

struct Case {
  FileOperation op;
  std::vector<std::string> sources;
  std::string text;
  std::string error = "";    // the plan's error, or
  std::string problem = "";  // the last step's problem (a skip)
};

// Plans and runs each case; a folder copied or moved into itself would fill
// the disk, so a plan that would do it is reported and not run.
void PlanAndRun(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    DiskView view;
    FileOperationPlan plan = PlanFileOperation(c.op, c.sources, c.text, view);
    EXPECT_EQ(c.error, plan.error) << c.text;
    if (c.error.empty()) {
      ASSERT_FALSE(plan.steps.empty()) << c.text;
      EXPECT_EQ(StepAction::kSkip, plan.steps.back().action) << c.text;
      EXPECT_EQ(c.problem, plan.steps.back().problem) << c.text;
    }
    bool runaway = false;
    for (const PlannedStep& step : plan.steps)
      runaway |= step.source_is_folder && step.action != StepAction::kSkip;
    if (!plan.error.empty() || runaway) continue;
    YesObserver observer;
    NoTrash trash;
    RunFileOperationPlan(plan, &trash, &observer);
  }
}

TEST(FileOperationIdentity, ASecondMountOfAFolderHoldsTheSameFiles) {
  std::string why;
  if (!test::EnterPrivateMountNamespace(&why)) GTEST_SKIP() << why;
  test::ScopedTestEnv env;
  std::string d = env.MakeDrive('D', "d");
  test::WriteTextFile(d + "/a.txt", "precious");
  test::MakeFolder(d + "/sub/inner");
  test::WriteTextFile(d + "/sub/inner/x", "x");
  std::string m = env.MakeDrive('M', "m");  // all of D: again
  std::string e = env.MakeDrive('E', "e");  // D:\sub\inner again
  if (!test::BindMount(d, m, &why) || !test::BindMount(d + "/sub/inner", e, &why))
    GTEST_SKIP() << why;

  PlanAndRun({
      {FileOperation::kMove, {"D:\\a.txt"}, "M:\\", "", "\"D:\\a.txt\" cannot be moved onto itself."},
      {FileOperation::kMove, {"M:\\a.txt"}, "D:\\", "", "\"M:\\a.txt\" cannot be moved onto itself."},
      {FileOperation::kCopy, {"D:\\a.txt"}, "M:\\", "", "\"D:\\a.txt\" cannot be copied onto itself."},
      {FileOperation::kCopy, {"D:\\sub"}, "M:\\sub\\inner", "",
       "The folder \"D:\\sub\" cannot be copied into itself."},
      // Through the mount of a folder inside the one moved.
      {FileOperation::kMove, {"D:\\sub"}, "E:\\", "",
       "The folder \"D:\\sub\" cannot be moved into itself."},
      {FileOperation::kCopy, {"D:\\sub"}, "E:\\deeper", "",
       "The folder \"D:\\sub\" cannot be copied into itself."},
  });
  EXPECT_EQ("precious", test::ReadWholeFile(d + "/a.txt"));
  EXPECT_EQ("x", test::ReadWholeFile(d + "/sub/inner/x"));
  EXPECT_FALSE(test::Exists(d + "/sub/inner/sub"));
  EXPECT_FALSE(test::Exists(d + "/sub/inner/deeper/sub"));
  umount2(e.c_str(), MNT_DETACH);
  umount2(m.c_str(), MNT_DETACH);
}

TEST(FileOperationIdentity, AFolderIsNotCopiedIntoItselfThroughALinkOrDotDot) {
  test::ScopedTestEnv env;
  std::string d = env.MakeDrive('D', "d");
  test::MakeFolder(d + "/sub/inner");
  test::WriteTextFile(d + "/sub/inner/x", "x");
  ASSERT_EQ(0, symlink("sub", (d + "/link").c_str()));
  ASSERT_EQ(0, symlink("sub/inner", (d + "/deep").c_str()));
  // A drive whose root goes up from a linked folder: D:\sub itself, though
  // its spelling says D:\.
  test::MapDrive('L', d + "/deep/..");

  PlanAndRun({
      {FileOperation::kCopy, {"D:\\sub"}, "D:\\link\\inner", "",
       "The folder \"D:\\sub\" cannot be copied into itself."},
      {FileOperation::kCopy, {"D:\\sub"}, "L:\\", "",
       "The folder \"D:\\sub\" cannot be copied into itself."},
      {FileOperation::kMove, {"D:\\sub"}, "L:\\new", "",
       "The folder \"D:\\sub\" cannot be moved into itself."},
      {FileOperation::kCopy, {"D:\\sub\\inner\\x"}, "D:\\link\\inner", "",
       "\"D:\\sub\\inner\\x\" cannot be copied onto itself."},
  });
  EXPECT_EQ("x", test::ReadWholeFile(d + "/sub/inner/x"));
  EXPECT_FALSE(test::Exists(d + "/sub/inner/sub"));
  EXPECT_FALSE(test::Exists(d + "/sub/sub"));
}

TEST(FileOperationIdentity, DotNamesNeverLeadOutsideTheDrive) {
  test::ScopedTestEnv env;
  std::string d = env.MakeDrive('D', "drive/d");
  test::WriteTextFile(d + "/a.txt", "a");
  test::MakeFolder(d + "/sub");
  std::string victim = env.Path("drive/victim.txt");
  test::WriteTextFile(victim, "not on D:");
  const std::string dotdot = " is refused: it holds \"..\" as a name.";

  PlanAndRun({
      {FileOperation::kCopy, {"D:\\a.txt"}, "D:\\..\\outside", "The destination \"D:\\..\\outside\"" + dotdot},
      {FileOperation::kMove, {"D:\\a.txt"}, "D:\\sub\\..\\..\\outside\\",
       "The destination \"D:\\sub\\..\\..\\outside\\\"" + dotdot},
      {FileOperation::kCopy, {"D:\\a.txt"}, "D:\\..\\*.txt", "The destination \"D:\\..\\*.txt\"" + dotdot},
      {FileOperation::kCopy, {"D:\\a.txt"}, "D:\\.\\sub",
       "The destination \"D:\\.\\sub\" is refused: it holds \".\" as a name."},
      {FileOperation::kCopy, {"D:\\a.txt"}, "D:\\\\..\\outside",
       "The destination \"D:\\\\..\\outside\" is refused: it holds an empty name."},
      {FileOperation::kCopy, {"D:\\a.txt"}, "D:\\sub/../../outside",
       "The destination \"D:\\sub/../../outside\" is refused: a name in it holds \"/\"."},
      {FileOperation::kRename, {"D:\\a.txt"}, "D:\\..\\victim.txt", "The destination \"D:\\..\"" + dotdot},
      {FileOperation::kDeletePermanently, {"D:\\..\\victim.txt"}, "", "",
       "The file \"D:\\..\\victim.txt\"" + dotdot},
      {FileOperation::kMove, {"D:\\sub\\..\\..\\victim.txt"}, "D:\\sub", "",
       "The file \"D:\\sub\\..\\..\\victim.txt\"" + dotdot},
  });
  EXPECT_EQ("not on D:", test::ReadWholeFile(victim));
  EXPECT_FALSE(test::Exists(env.Path("drive/outside")));
  EXPECT_FALSE(test::Exists(env.Path("outside")));
  EXPECT_EQ("a", test::ReadWholeFile(d + "/a.txt"));

  // Dots that are part of a name are names: the folder "..." on D:.
  DiskView view;
  FileOperationPlan plan = PlanFileOperation(FileOperation::kCopy, {"D:\\a.txt"}, "D:\\...\\", view);
  ASSERT_EQ("", plan.error);
  YesObserver observer;
  NoTrash trash;
  EXPECT_EQ(2u, RunFileOperationPlan(plan, &trash, &observer).done);
  EXPECT_EQ("a", test::ReadWholeFile(d + "/.../a.txt"));
}

TEST(FileOperationIdentity, AnExistingFolderNamedWithWildcardsIsTheDestination) {
  test::ScopedTestEnv env;
  std::string d = env.MakeDrive('D', "d");
  test::WriteTextFile(d + "/report.txt", "r");
  test::MakeFolder(d + "/What?");
  DiskView view;
  YesObserver observer;
  NoTrash trash;
  for (const char* text : {"D:\\What?", "D:\\What?\\"}) {
    FileOperationPlan plan = PlanFileOperation(FileOperation::kCopy, {"D:\\report.txt"}, text, view);
    ASSERT_EQ("", plan.error);
    ASSERT_EQ(1u, plan.steps.size()) << text;
    EXPECT_EQ("D:\\What?\\report.txt", plan.steps[0].destination) << text;
    RunFileOperationPlan(plan, &trash, &observer);
  }
  EXPECT_EQ("r", test::ReadWholeFile(d + "/What?/report.txt"));
  EXPECT_FALSE(test::Exists(d + "/Whatr"));
  EXPECT_TRUE(observer.failures.empty());
}

}  // namespace
}  // namespace quindelo::commands
