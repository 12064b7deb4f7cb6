// The command-line finder as scripts use it: its options, its output on
// standard output and standard error, and its exit statuses (0 found,
// 1 nothing found, 2 an error).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "platform/file.h"
#include "platform/paths.h"
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
// shell_prefix runs first in the same shell (limits for the finder).
FinderRun Finder(const quindelo::test::ScopedTestEnv& env, const std::string& args,
                 const std::string& shell_prefix = "") {
  const std::string err_path = env.Path("stderr.txt");
  const std::string command = shell_prefix + "exec " + std::string(QUINDELO_FIND) + " " + args +
                              " 2>'" + err_path + "'";
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

// An index that cannot be opened is reported with the system's message and,
// on the next line, the index file and the cause.
TEST_F(QuindeloFindTest, UnopenableIndexSaysWhyOnTheNextLine) {
  const std::string index = quindelo::platform::IndexFilePath('T');
  MakeFolder(quindelo::platform::DataFolder());
  std::thread holder_release;
  quindelo::platform::File holder;
  struct Case {
    const char* what;
    std::function<void()> set_up;
    std::string cause;
  };
  const Case cases[] = {
      {"a folder", [&] { MakeFolder(index); }, "Is a directory"},
      {"a FIFO", [&] { ASSERT_EQ(mkfifo(index.c_str(), 0600), 0); }, "not a regular file"},
      // Held by another finder for longer than the finder waits (5 s).
      {"in use", [&] { ASSERT_TRUE(holder.OpenAlways(index, nullptr)); },
       "the index is in use by another process"},
  };
  for (const Case& c : cases) {
    c.set_up();
    FinderRun r = Finder(env_, drive_ + "--look-in T: --named '*.c' --quiet");
    EXPECT_EQ(r.status, 2) << c.what;
    EXPECT_EQ(r.err, "Unable to open index for drive T:!\n" + index + ": " + c.cause + "\n")
        << c.what;
    holder.Close();
    quindelo::test::RemoveTree(index);
  }
  // Held for a moment only: the finder waits for it and answers.
  ASSERT_TRUE(holder.OpenAlways(index, nullptr));
  holder_release = std::thread([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    holder.Close();
  });
  FinderRun r = Finder(env_, drive_ + "--look-in T: --named '*.c' --quiet");
  holder_release.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "T:\\src\\main.c\nT:\\src\\lib\\util.c\n");
}

// A write of the index that fails (here: a file size limit, as a full disk
// does) makes the find fail with the cause instead of a partial answer
// reported as success; the next run, with room again, rebuilds the index
// and answers in full.
TEST_F(QuindeloFindTest, FailedIndexWriteIsAnErrorAndTheNextRunHeals) {
  std::string expected;
  for (int i = 0; i < 600; ++i) {
    const std::string folder = "many/f" + std::to_string(1000 + i);
    MakeFolder(root_ + "/" + folder);
    quindelo::test::WriteTextFile(root_ + "/" + folder + "/x.txt", "");
  }
  // Limits are in blocks of 512 bytes: an index of 10 KB at most. The signal
  // that the limit raises is ignored, so the write fails with EFBIG.
  FinderRun r = Finder(env_, drive_ + "--look-in T: --named x.txt --quiet",
                       "trap '' XFSZ; ulimit -f 20; ");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Unable to write index for drive T:!\n" +
                       quindelo::platform::IndexFilePath('T') + ": File too large\n"),
            std::string::npos)
      << r.err;

  r = Finder(env_, drive_ + "--look-in T: --named x.txt --quiet");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 600) << r.err;
  r = Finder(env_, drive_ + "--look-in T: --named x.txt --quiet");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 600) << r.err;
}

TEST_F(QuindeloFindTest, DrivesListsOnlyTheGivenDrives) {
  FinderRun r = Finder(env_, drive_ + "--drives");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("T:     3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(root_), std::string::npos);
  EXPECT_EQ(r.out.find("C:"), std::string::npos) << r.out;
}

}  // namespace
