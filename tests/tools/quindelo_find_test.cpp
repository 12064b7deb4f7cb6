// The command-line finder as scripts use it: its options, its output on
// standard output and standard error, and its exit statuses (0 found,
// 1 nothing found, 2 an error).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

// Runs a shell command in the test's environment, so that the finder's
// settings and index files stay in the test's folder.
FinderRun Shell(const quindelo::test::ScopedTestEnv& env, const std::string& command) {
  const std::string err_path = env.Path("stderr.txt");
  const std::string whole = "( " + command + " ) 2>'" + err_path + "'";
  FinderRun run;
  FILE* pipe = popen(whole.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = quindelo::test::ReadWholeFile(err_path);
  return run;
}

// Runs the finder with the given arguments (shell words); shell_prefix runs
// first in the same shell (limits for the finder).
FinderRun Finder(const quindelo::test::ScopedTestEnv& env, const std::string& args,
                 const std::string& shell_prefix = "") {
  return Shell(env, shell_prefix + "exec " + std::string(QUINDELO_FIND) + " " + args);
}

// The lines of a run's standard output.
std::vector<std::string> Lines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs the finder (no shell) with standard error on a pseudo-terminal and
// standard output to /dev/null; returns what the terminal received.
std::string FinderOnTerminal(const std::vector<std::string>& args, int* status) {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return "openpty failed";
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(slave, 2);
    close(master);
    close(slave);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(QUINDELO_FIND));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QUINDELO_FIND, argv.data());
    _exit(127);
  }
  close(slave);
  std::string seen;
  std::array<char, 4096> buffer;
  ssize_t n;
  // Ends with EIO once the finder has closed the terminal's last slave side.
  while ((n = read(master, buffer.data(), buffer.size())) > 0) seen.append(buffer.data(), n);
  close(master);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  *status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return seen;
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
       "in use by another process"},
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

TEST_F(QuindeloFindTest, EveryOptionTakesBothValueFormsAndBadOnesExitTwo) {
  struct Case {
    std::string args;
    int status;
    const char* out;   // the exact output, or null
    int lines;         // the number of output lines, or -1
    const char* err;   // a text standard error holds, or null
  };
  const std::string c_files = "T:\\src\\main.c\nT:\\src\\lib\\util.c\n";
  const Case cases[] = {
      {drive_ + "--look-in=T: --named=*.c --quiet", 0, c_files.c_str(), -1, nullptr},
      {drive_ + "--look-in T: --named '*.c' --sort=name --descending --quiet", 0,
       "T:\\src\\lib\\util.c\nT:\\src\\main.c\n", -1, nullptr},
      // Without --look-in, C: (not a drive here) gives way to the first --drive.
      {"--drive=T='" + root_ + "' --named=*.c --quiet --no-limit", 0, c_files.c_str(), -1, nullptr},
      // A native folder is turned into its drive path.
      {drive_ + "--look-in='" + root_ + "/src/lib/' --named '*' --quiet", 0,
       "T:\\src\\lib\\big.bin\nT:\\src\\lib\\util.c\n", -1, nullptr},
      {drive_ + "--named '*' --limit=1 --quiet", 0, nullptr, 1, nullptr},
      {drive_ + "--named '*' --limit 2", 0, nullptr, 2, "Stopped after maximum of 2 files found."},
      {drive_ + "--named=*.c --sort=none --quiet", 0, nullptr, 2, nullptr},
      {"", 2, "", -1, "Usage: quindelo-find"},
      {"--help", 0, nullptr, -1, nullptr},
      {drive_ + "--named '*' --limit=0", 2, "", -1, "--limit"},
      {drive_ + "--named '*' --limit 12x", 2, "", -1, "--limit"},
      {drive_ + "--named", 2, "", -1, "--named needs a value"},
      {drive_ + "--named x --quiet=yes", 2, "", -1, "--quiet=yes"},
      {drive_ + "--named x --sort=colour", 2, "", -1, "--sort"},
      {drive_ + "--named x stray", 2, "", -1, "stray"},
      {drive_ + "--look-in T: --named ''", 2, "", -1, "--named"},
      {drive_ + "--look-in /nowhere/at/all --named x", 2, "", -1, "no drive holds"},
      // A shell ate the backslashes of T:\src: the system's message, then a hint.
      {drive_ + "--look-in T:src --named x", 2, "", -1, "quote"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    FinderRun r = Finder(env_, c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.out) {
      EXPECT_EQ(r.out, c.out);
    }
    if (c.lines >= 0) {
      EXPECT_EQ(Lines(r.out).size(), static_cast<std::size_t>(c.lines)) << r.out;
    }
    if (c.err) {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
  }

  // --help names every option and the exit statuses.
  const std::string help = Finder(env_, "--help").out;
  for (const char* option :
       {"--named", "--look-in", "--containing", "--no-subfolders", "--refresh", "--rebuild",
        "--index-only", "--sort", "--descending", "--limit", "--no-limit", "--native", "--null",
        "--quiet", "--drive ", "--drives", "--help", "Exit status: 0"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST_F(QuindeloFindTest, PathsGoneOrRenamedSinceIndexingAreNeitherPrintedNorCounted) {
  for (const char* folder : {"/gone", "/old", "/quiet", "/swap"}) MakeFolder(root_ + folder);
  for (const char* file :
       {"/gone/a.txt", "/gone/b.txt", "/old/c.txt", "/dup.txt", "/quiet/e.txt", "/swap/x.txt"})
    WriteTextFile(root_ + file, "x");
  FinderRun r = Finder(env_, drive_ + "--look-in T: --named '*.txt'");
  ASSERT_EQ(Lines(r.out).size(), 7u) << r.out;

  // A folder of matching files deleted, another renamed, a file replaced by
  // a folder of the same name (the index and a refresh both report it). In
  // quiet\ and swap\ the changes keep the folder's stamp, so that only a
  // refresh that lists every folder sees them and the index's names are
  // stale whatever the timing.
  quindelo::test::RemoveTree(root_ + "/gone");
  ASSERT_EQ(rename((root_ + "/old").c_str(), (root_ + "/new").c_str()), 0);
  ASSERT_EQ(unlink((root_ + "/dup.txt").c_str()), 0);
  MakeFolder(root_ + "/dup.txt");
  for (const char* folder : {"/quiet", "/swap"}) {
    struct stat before;
    ASSERT_EQ(stat((root_ + folder).c_str(), &before), 0);
    if (std::string(folder) == "/quiet") {
      ASSERT_EQ(unlink((root_ + "/quiet/e.txt").c_str()), 0);
    } else {
      ASSERT_EQ(unlink((root_ + "/swap/x.txt").c_str()), 0);
      MakeFolder(root_ + "/swap/x.txt");
    }
    const timespec stamps[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, (root_ + folder).c_str(), stamps, 0), 0);
  }
  const std::set<std::string> now_there = {"T:\\README.txt", "T:\\dup.txt", "T:\\new\\c.txt",
                                           "T:\\swap\\x.txt"};

  // The index-only run comes first, while the index still holds the old names.
  for (const char* options : {"--index-only", "", "--refresh", "--sort none"}) {
    SCOPED_TRACE(options);
    r = Finder(env_, drive_ + "--look-in T: --named '*.txt' " + options);
    const std::vector<std::string> lines = Lines(r.out);
    const std::set<std::string> printed(lines.begin(), lines.end());
    EXPECT_EQ(printed.size(), lines.size()) << "a path printed twice:\n" << r.out;
    for (const std::string& line : lines) EXPECT_TRUE(now_there.count(line)) << line;
    if (std::string(options) != "--index-only") {
      EXPECT_EQ(printed, now_there) << r.out;
    } else {
      // The index alone does not know the renamed folder's new name.
      EXPECT_EQ(printed, (std::set<std::string>{"T:\\README.txt", "T:\\dup.txt",
                                                "T:\\swap\\x.txt"}))
          << r.out;
    }
    // Standard error is not a terminal: the end message alone, counting the
    // printed paths.
    EXPECT_EQ(r.err, lines.size() == 1 ? std::string("Found one file.\n")
                                       : "Found " + std::to_string(lines.size()) + " files.\n");
    EXPECT_EQ(r.status, 0);
  }
}

TEST_F(QuindeloFindTest, AReaderThatLeavesEndsTheFindQuietly) {
  // More than a pipe holds, so that the finder writes after head has gone.
  MakeFolder(root_ + "/many");
  for (int i = 0; i < 5000; ++i)
    WriteTextFile(root_ + "/many/file-number-" + std::to_string(i) + ".log", "");
  const std::string status_path = env_.Path("status.txt");
  for (const char* sort : {"--sort none", "--sort name"}) {
    SCOPED_TRACE(sort);
    FinderRun r = Shell(env_, "{ " + std::string(QUINDELO_FIND) + " " + drive_ +
                                  "--look-in T: --named '*.log' " + sort + "; echo $? >'" +
                                  status_path + "'; } | head -n 3");
    EXPECT_EQ(Lines(r.out).size(), 3u) << r.out;
    EXPECT_EQ(quindelo::test::ReadWholeFile(status_path), "0\n");  // not killed by SIGPIPE
    EXPECT_TRUE(r.err.empty()) << r.err;
  }
}

TEST_F(QuindeloFindTest, OnATerminalProgressRewritesOneLineWithoutWindowWording) {
  // 150 rows: the driver's count message at 100 carries the window's
  // "(press Esc key to stop)".
  for (int i = 0; i < 150; ++i) WriteTextFile(root_ + "/f" + std::to_string(i) + ".dat", "");
  const std::vector<std::string> args = {"--drive", "T=" + root_, "--named", "*.dat"};
  int status = -1;
  std::string seen = FinderOnTerminal(args, &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(seen.find('\r'), std::string::npos) << seen;
  EXPECT_NE(seen.find("\033[K"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("press Esc"), std::string::npos) << seen;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), '\n'), 1) << seen;  // the end message's
  EXPECT_NE(seen.find("Found 150 files."), std::string::npos) << seen;

  std::vector<std::string> quiet = args;
  quiet.push_back("--quiet");
  EXPECT_EQ(FinderOnTerminal(quiet, &status), "");
  EXPECT_EQ(status, 0);
}

}  // namespace
