// The command-line finder passes on the status messages that come from the
// core itself rather than from the search driver, as the window's status
// line would show them. The one such message today comes when a drive has
// more folders than a standard index can number and its index moves to the
// wide format, so this test makes 62,062 folders and takes a while.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/test_env.h"

namespace {

TEST(QuindeloFindStatusTest, ADriveWhoseIndexMovesToTheWideFormatIsReportedOnStandardError) {
  quindelo::test::ScopedTestEnv env;
  const std::string root = env.Path("drive");
  quindelo::test::MakeFolder(root);
  for (int i = 0; i < 62; ++i) {
    const std::string top = root + "/d" + std::to_string(i);
    ASSERT_EQ(mkdir(top.c_str(), 0700), 0);
    for (int j = 0; j < 1000; ++j)
      ASSERT_EQ(mkdir((top + "/s" + std::to_string(j)).c_str(), 0700), 0);
  }
  // Past the folders a standard index can number.
  quindelo::test::WriteTextFile(root + "/d61/s999/found.txt", "x");

  const std::string err_path = env.Path("stderr.txt");
  // --quiet leaves out progress and the end message, not warnings.
  const std::string command = std::string(QUINDELO_FIND) + " --drive 'T=" + root +
                              "' --named found.txt --quiet 2>'" + err_path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(out, "T:\\d61\\s999\\found.txt\n");
  // Said once, and nothing else.
  EXPECT_EQ(quindelo::test::ReadWholeFile(err_path),
            "Drive T: holds more folders than a standard index can number; moving its index "
            "to the wide format.\n");
}

}  // namespace
