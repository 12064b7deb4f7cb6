// A find run takes the request as the index needs it and answers both
// look-in tests: the index find's (folder paths "\a\b\") and the refresh
// walk's (drive paths "C:\a\b\", with the folders above the look-in folders
// told apart).
#include "index/find_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "index/request_of.h"

namespace quindelo {
namespace {

TEST(FindRunTest, TakesTheRequestAndStartsANewGeneration) {
  FindRun run;
  std::string message = "old";
  ASSERT_TRUE(run.Set(RequestOf("*.txt", {"\\a\\", "\\b"}, "needle"), &message));
  EXPECT_EQ(run.look_in(), (std::vector<std::string>{"\\a", "\\b"}));
  EXPECT_TRUE(run.Matches("x.TXT"));
  EXPECT_FALSE(run.Matches("x.doc"));
  EXPECT_TRUE(run.has_content());
  const std::uint64_t first = run.generation();

  // A containing text that does not compile leaves no content search.
  EXPECT_FALSE(run.Set(RequestOf("*", {}, "(unbalanced"), &message));
  EXPECT_FALSE(message.empty());
  EXPECT_FALSE(run.has_content());
  EXPECT_NE(run.generation(), first);

  ASSERT_TRUE(run.Set(RequestOf("*", {}, "needle"), nullptr));
  run.ClearContent();
  EXPECT_FALSE(run.has_content());
}

TEST(FindRunTest, LookInTestsOfTheIndexFindAndOfTheWalk) {
  struct Case {
    std::vector<std::string> look_in;
    bool subfolders;
    std::string folder;  // as the index find sees it; the walk sees "T:" + folder
    bool in_scope;
    bool above;  // the walk's answer: the folder lies above a look-in folder
  };
  const Case cases[] = {
      // The whole drive.
      {{}, true, "\\", true, false},
      {{}, true, "\\a\\b\\", true, false},
      // The root only.
      {{}, false, "\\", true, false},
      {{}, false, "\\a\\", false, false},
      // One look-in folder with its subfolders.
      {{"\\a\\b"}, true, "\\a\\b\\", true, false},
      {{"\\a\\b"}, true, "\\a\\b\\c\\", true, false},
      {{"\\a\\b"}, true, "\\a\\", false, true},
      {{"\\a\\b"}, true, "\\", false, true},
      {{"\\a\\b"}, true, "\\a\\bc\\", false, false},
      {{"\\a\\b"}, true, "\\x\\", false, false},
      // Folder names are compared byte for byte.
      {{"\\a\\b"}, true, "\\A\\B\\", false, false},
      // Without subfolders: the look-in folder itself only.
      {{"\\a\\b"}, false, "\\a\\b\\", true, false},
      {{"\\a\\b"}, false, "\\a\\b\\c\\", false, false},
      // Several look-in folders: any one of them.
      {{"\\a\\b", "\\x"}, true, "\\x\\y\\", true, false},
      {{"\\a\\b", "\\a"}, true, "\\a\\", true, true},
  };
  for (const Case& c : cases) {
    std::string label = c.folder + (c.subfolders ? " with subfolders in" : " alone in");
    for (const std::string& l : c.look_in) label += " " + l;
    SCOPED_TRACE(label);
    FindRun run;
    ASSERT_TRUE(run.Set(RequestOf("*", c.look_in, "", c.subfolders), nullptr));
    EXPECT_EQ(!run.TestsScope() || run.FolderInScope(c.folder), c.in_scope);
    const FindRun::WalkScope walk = run.ScopeOfWalkFolder("T:" + c.folder);
    EXPECT_EQ(walk.in_scope, c.in_scope);
    EXPECT_EQ(walk.above, c.above);
  }
}

}  // namespace
}  // namespace quindelo
