// The command-line finder as scripts use it: its options, its output on
// standard output and standard error, and its exit statuses (0 found,
// 1 nothing found, 2 an error).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/test_env.h"

namespace {

using quindelo::test::MakeFolder;
using quindelo::test::WriteTextFile;

struct FinderRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the finder with the given arguments (shell words) in the test's
// environment, so that its settings and index files stay in the test's folder.
FinderRun Finder(const quindelo::test::ScopedTestEnv& env, const std::string& args) {
  const std::string err_path = env.Path("stderr.txt");
  const std::string command =
      std::string(QUINDELO_FIND) + " " + args + " 2>'" + err_path + "'";
  FinderRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = quindelo::test::ReadWholeFile(err_path);
  return run;
}

class QuindeloFindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = env_.Path("drive");
    MakeFolder(root_ + "/src/lib");
    WriteTextFile(root_ + "/README.txt", "read me first");
    WriteTextFile(root_ + "/src/main.c", "int main() { return lock(m); }");
    WriteTextFile(root_ + "/src/lib/util.c", "void lock(mutex m);");
    WriteTextFile(root_ + "/src/lib/big.bin", std::string(5000, 'x'));
    drive_ = "--drive 'T=" + root_ + "' ";
  }
  quindelo::test::ScopedTestEnv env_;
  std::string root_;
  std::string drive_;
};

TEST_F(QuindeloFindTest, FindsSortsAndExitsLikeGrep) {
  FinderRun r = Finder(env_, drive_ + "--look-in T: --named '*.c' --quiet");
  EXPECT_EQ(r.status, 0) << r.err;
  // Sorted by folder, then name.
  EXPECT_EQ(r.out, "T:\\src\\main.c\nT:\\src\\lib\\util.c\n");
  EXPECT_TRUE(r.err.empty()) << r.err;

  r = Finder(env_, drive_ + "--look-in T: --named '*' --sort size --descending --quiet");
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "T:\\src\\lib\\big.bin");

  r = Finder(env_, drive_ + "--look-in T: --named nothing-like-this");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("No files found.  Check your search criteria."), std::string::npos) << r.err;
}

TEST_F(QuindeloFindTest, NativePathsNulEndsScopeAndContents) {
  FinderRun r = Finder(env_, drive_ + "--look-in 'T:\\src' --no-subfolders --named '*.c' --native -0 --quiet");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, root_ + "/src/main.c" + std::string(1, '\0'));

  r = Finder(env_, drive_ + "--look-in T: --named '*.c' --containing 'mutex' --quiet");
  EXPECT_EQ(r.out, "T:\\src\\lib\\util.c\n");
  r = Finder(env_, drive_ + "--look-in T: --named '*' --index-only --quiet");
  EXPECT_EQ(r.status, 0);  // the index was built by the runs before
}

TEST_F(QuindeloFindTest, BadInputGetsTheSystemsMessageAndStatusTwo) {
  FinderRun r = Finder(env_, drive_ + "--look-in 'T:\\missing' --named '*'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Folder \"T:\\missing\" does not exist!"), std::string::npos) << r.err;

  r = Finder(env_, drive_ + "--look-in T: --named '*' --containing '(lock' --quiet");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("!"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());

  r = Finder(env_, drive_ + "--look-in T: --named 'src\\*.c' --quiet");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Name must be a simple name, path not allowed."), std::string::npos) << r.err;

  EXPECT_EQ(Finder(env_, drive_ + "--look-in T:").status, 2);  // --named missing
  EXPECT_EQ(Finder(env_, "--drive relative --drives").status, 2);
  EXPECT_EQ(Finder(env_, drive_ + "--named x --sort colour").status, 2);
}

TEST_F(QuindeloFindTest, DrivesListsOnlyTheGivenDrives) {
  FinderRun r = Finder(env_, drive_ + "--drives");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("T:     3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(root_), std::string::npos);
  EXPECT_EQ(r.out.find("C:"), std::string::npos) << r.out;
}

}  // namespace
