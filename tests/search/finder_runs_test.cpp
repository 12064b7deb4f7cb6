// Finds run as the command-line finder runs them: a fresh driver per run,
// the index opened by the look-in validation, the find it schedules. A
// refresh run lists every folder again whatever its stamp; an index-only run
// answers from the index as it stands, to the end of its content search,
// and leaves the index file as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "search/fake_window.h"
#include "search/find_request.h"
#include "search/search_driver.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

struct FinderRun {
  FindEnd end;
  std::vector<std::string> paths;  // sorted
};

class FinderRunsTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = env_.MakeDrive('T', "drive"); }

  std::string P(const std::string& relative) const { return root_ + "/" + relative; }

  void File(const std::string& relative, const std::string& contents = "x") {
    test::MakeFolder(std::filesystem::path(P(relative)).parent_path().string());
    test::WriteTextFile(P(relative), contents);
  }

  FinderRun RunFinder(const std::string& named, const std::string& containing = "",
                bool refresh = false, bool index_only = false) {
    test::FakeWindow window;
    window.SetNamedText(named);
    window.SetContainingText(containing);
    SearchDriver::Options options = test::QuickOptions();
    options.row_limit = 0;
    options.index_only = index_only;
    SearchDriver driver(&window, options);
    driver.SetRequest(window.Request());
    driver.set_refresh_flag(refresh);
    LookInValidator validator(&driver, &window);
    FinderRun run;
    EXPECT_TRUE(validator.ValidateNow("T:")) << validator.message();
    run.end = driver.WaitForFindEnd();
    driver.Shutdown();
    run.paths = window.RowPaths();
    std::sort(run.paths.begin(), run.paths.end());
    return run;
  }

  test::ScopedTestEnv env_;
  std::string root_;
};

TEST_F(FinderRunsTest, RefreshListsAFolderWhoseStampWasSetBack) {
  File("docs/old.txt");
  File("top.txt");
  EXPECT_EQ(RunFinder("*.txt").paths.size(), 2u);

  // A file added, then the folder's modification time set back: its stamp
  // says nothing changed.
  struct stat before {};
  ASSERT_EQ(::stat(P("docs").c_str(), &before), 0);
  File("docs/new.txt");
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, P("docs").c_str(), times, 0), 0);

  const std::vector<std::string> old_answer = {"T:\\docs\\old.txt", "T:\\top.txt"};
  const std::vector<std::string> full_answer = {"T:\\docs\\new.txt", "T:\\docs\\old.txt",
                                                "T:\\top.txt"};
  EXPECT_EQ(RunFinder("*.txt").paths, old_answer);
  EXPECT_EQ(RunFinder("*.txt", "", true).paths, full_answer);
  // Merged into the index: a plain run has it from there.
  EXPECT_EQ(RunFinder("*.txt").paths, full_answer);
}

TEST_F(FinderRunsTest, IndexOnlyContentFindRunsToItsEndEveryTime) {
  std::vector<std::string> expected;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "f" + std::to_string(1000 + i) + ".txt";
    const bool match = i % 2 == 0;
    File("many/" + name, match ? "a line with the needle in it\n" : "nothing here\n");
    if (match) expected.push_back("T:\\many\\" + name);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(RunFinder("*.txt").paths.size(), 300u);  // builds the index

  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    FinderRun r = RunFinder("*.txt", "needle", false, true);
    EXPECT_EQ(r.paths, expected);
    EXPECT_EQ(r.end.message, "Found 150 files.");
  }
}

TEST_F(FinderRunsTest, IndexOnlyAnswersFromTheIndexAndLeavesItUnchanged) {
  std::vector<std::string> old_names;
  for (int i = 0; i < 60; ++i) {
    const std::string name = "g" + std::to_string(i) + ".dat";
    File("before/" + name);
    old_names.push_back("T:\\before\\" + name);
  }
  std::sort(old_names.begin(), old_names.end());
  EXPECT_EQ(RunFinder("*.dat").paths, old_names);

  std::filesystem::rename(P("before"), P("after"));
  const std::string index_path = platform::IndexFilePath('T');
  const std::string bytes = test::ReadWholeFile(index_path);
  for (bool refresh : {false, true, false}) {
    SCOPED_TRACE(refresh);
    FinderRun r = RunFinder("*.dat", "", refresh, true);
    EXPECT_EQ(r.paths, old_names);
    EXPECT_EQ(r.end.message, "Found 60 files.");
    EXPECT_TRUE(test::ReadWholeFile(index_path) == bytes) << "the index file changed";
  }
  // A run that may walk finds the new folder.
  FinderRun walked = RunFinder("*.dat");
  EXPECT_NE(std::find(walked.paths.begin(), walked.paths.end(), "T:\\after\\g0.dat"),
            walked.paths.end());
}

}  // namespace
}  // namespace quindelo
