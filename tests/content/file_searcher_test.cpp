// Searching the files below a root: only regular files reached without a
// link and inside the root are opened and read, FIFOs and folders are never
// opened, blocks are joined at their edges, read failures give their
// message, a stop request ends the search of a large file, and nothing is
// read without a root.
#include "content/file_searcher.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "content/content_matcher.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

using test::MakeFolder;
using test::WriteTextFile;
using Result = FileSearcher::Result;

class FileSearcherTest : public ::testing::Test {
 protected:
  FileSearcherTest() : drive_(env_.Path("drive")), outside_(env_.Path("outside")) {
    MakeFolder(drive_);
    MakeFolder(outside_);
    WriteTextFile(outside_ + "/secret.txt", "needle");
  }

  Result Search(const std::string& expression, const std::string& path, std::string* message) {
    ContainingExpression e;
    e.Compile(expression, nullptr);  // a row may give one that does not compile
    ContentMatcher matcher(e);
    return searcher_.Search(path, &matcher, {}, message);
  }

  test::ScopedTestEnv env_;
  const std::string drive_, outside_;
  FileSearcher searcher_;
};

TEST_F(FileSearcherTest, ReadsOnlyRegularFilesReachedWithoutALinkInsideTheRoot) {
  const std::size_t block = ContentMatcher::kBlockSize;
  ASSERT_TRUE(searcher_.SetRoot(drive_));
  const std::string plain = drive_ + "/plain.txt", pipe = drive_ + "/pipe";
  const std::string folder = drive_ + "/folder", secret = outside_ + "/secret.txt";
  auto write = [](const std::string& text) {
    return [text](const std::string& path) { WriteTextFile(path, text); };
  };
  auto link_to = [](const std::string& target) {
    return [target](const std::string& path) { ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0); };
  };
  const bool root_reads_all = geteuid() == 0;  // permissions do not stop root
  struct Row {
    std::string path;
    const char* expression;
    std::function<void(const std::string&)> make;  // may be empty
    Result result;
    std::string watched;  // whose opening is checked; empty for none
    bool opened;
  };
  const std::vector<Row> rows = {
      {plain, "needle", write("a needle here"), Result::kMatch, plain, true},
      {drive_ + "/empty", "NOT needle", write(""), Result::kMatch, drive_ + "/empty", true},
      // Words, their ends and chains across the edge of the first block.
      {drive_ + "/edge", "needle", write(std::string(block - 3, ' ') + "needle."), Result::kMatch, "", false},
      {drive_ + "/edge_longer", "needle", write(std::string(block - 3, ' ') + "needles"), Result::kNoMatch, "",
       false},
      {drive_ + "/edge_near", "dog NEAR needle", write(std::string(block - 6, ' ') + "dog x needle"),
       Result::kMatch, "", false},
      {drive_ + "/large", "needle", write(std::string(3 * block + 123, '.') + "needle"), Result::kMatch, "",
       false},
      {drive_ + "/missing", "NOT needle", nullptr, Result::kNoMatch, "", false},
      {folder, "NOT needle", [](const std::string& path) { MakeFolder(path); }, Result::kNoMatch, folder,
       false},
      // Opening a FIFO without a writer would wait for one.
      {pipe, "NOT needle", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
       Result::kNoMatch, pipe, false},
      {drive_ + "/unreadable", "NOT needle",
       [](const std::string& path) {
         WriteTextFile(path, "");
         ASSERT_EQ(chmod(path.c_str(), 0), 0);
       },
       root_reads_all ? Result::kMatch : Result::kNoMatch, "", false},
      // A link is never followed, wherever it leads.
      {drive_ + "/to_plain", "needle", link_to(plain), Result::kNoMatch, plain, false},
      {drive_ + "/to_outside", "needle", link_to(secret), Result::kNoMatch, secret, false},
      {drive_ + "/to_pipe", "NOT needle", link_to(pipe), Result::kNoMatch, pipe, false},
      {drive_ + "/to_zero", "NOT needle", link_to("/dev/zero"), Result::kNoMatch, "", false},
      {drive_ + "/dangling", "NOT needle", link_to(drive_ + "/nothing"), Result::kNoMatch, "", false},
      // A file searched once, then swapped for a link (the searcher keeps
      // its folder open between the two).
      {drive_ + "/swapped.txt", "needle",
       [&](const std::string& path) {
         WriteTextFile(path, "needle");
         EXPECT_EQ(Search("needle", path, nullptr), Result::kMatch);
         ASSERT_EQ(std::remove(path.c_str()), 0);
         ASSERT_EQ(symlink(secret.c_str(), path.c_str()), 0);
       },
       Result::kNoMatch, secret, false},
      // A folder on the way swapped for a link to a folder outside.
      {drive_ + "/sub/secret.txt", "needle",
       [&](const std::string& path) {
         MakeFolder(drive_ + "/sub");
         WriteTextFile(path, "plain words");
         EXPECT_EQ(Search("plain", path, nullptr), Result::kMatch);
         ASSERT_EQ(std::rename((drive_ + "/sub").c_str(), (drive_ + "/sub.away").c_str()), 0);
         ASSERT_EQ(symlink(outside_.c_str(), (drive_ + "/sub").c_str()), 0);
       },
       Result::kNoMatch, secret, false},
      {secret, "needle", nullptr, Result::kNoMatch, secret, false},
      // An expression that did not compile opens nothing.
      {plain, "(", nullptr, Result::kNoMatch, plain, false},
  };
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path + " " + row.expression);
    if (row.make) row.make(row.path);
    const int wd = row.watched.empty() ? -1 : inotify_add_watch(watch, row.watched.c_str(), IN_OPEN);
    if (!row.watched.empty()) {
      ASSERT_GE(wd, 0);
    }
    std::string message;
    EXPECT_EQ(Search(row.expression, row.path, &message), row.result);
    EXPECT_EQ(message, "");
    if (wd >= 0) {
      char events[4096];
      EXPECT_EQ(read(watch, events, sizeof events) > 0, row.opened) << row.watched;
      inotify_rm_watch(watch, wd);
      while (read(watch, events, sizeof events) > 0) {
      }
    }
  }
  close(watch);
}

// Attribute files of sysfs claim 4096 bytes and deliver fewer, like a file
// that shrinks while it is read: a read failure, which has its message.
TEST_F(FileSearcherTest, FileShorterThanItsSizeIsUnreadable) {
  const std::string folder = "/sys/kernel/mm/transparent_hugepage", path = folder + "/enabled";
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || st.st_size != 4096) GTEST_SKIP() << "no sysfs attribute";
  ASSERT_TRUE(searcher_.SetRoot(folder));
  std::string message;
  EXPECT_EQ(Search("NOT zzz", path, &message), Result::kNoMatch);
  EXPECT_EQ(message, "Unable to read " + path);
}

// A stop request is asked for before every read after the first; once it
// answers true the search gives up at once, reading no further block.
TEST_F(FileSearcherTest, StopRequestEndsTheSearchOfALargeFile) {
  ContainingExpression e;
  ASSERT_TRUE(e.Compile("needle OR a*a*a*b", nullptr));
  const std::string path = drive_ + "/large";
  // Ten blocks, the word at the end of the last.
  std::string text;
  while (text.size() < 10 * ContentMatcher::kBlockSize) text += std::string(200, 'a') + " ";
  text.resize(10 * ContentMatcher::kBlockSize - 7);
  WriteTextFile(path, text + " needle");
  ASSERT_TRUE(searcher_.SetRoot(drive_));
  ContentMatcher m(e);
  struct Row {
    int stop_at_poll;  // 0: never
    Result result;
    int polls;
  };
  const std::vector<Row> rows = {
      {1, Result::kStopped, 1},
      {3, Result::kStopped, 3},
      {0, Result::kMatch, 9},
  };
  for (const Row& row : rows) {
    int polls = 0;
    std::function<bool()> stop = [&] { return ++polls == row.stop_at_poll; };
    std::string message;
    EXPECT_EQ(searcher_.Search(path, &m, stop, &message), row.result) << row.stop_at_poll;
    EXPECT_EQ(polls, row.polls) << row.stop_at_poll;
    EXPECT_EQ(message, "");
  }
}

// Without a root (none set, one that cannot be opened, or after Close)
// nothing is read; a root set again serves again.
TEST_F(FileSearcherTest, NothingIsReadWithoutARoot) {
  WriteTextFile(drive_ + "/plain.txt", "needle");
  const std::string plain = drive_ + "/plain.txt";
  EXPECT_EQ(Search("needle", plain, nullptr), Result::kNoMatch);
  EXPECT_FALSE(searcher_.SetRoot(env_.Path("no_such_folder")));
  EXPECT_EQ(Search("needle", plain, nullptr), Result::kNoMatch);
  ASSERT_TRUE(searcher_.SetRoot(drive_));
  EXPECT_EQ(Search("needle", plain, nullptr), Result::kMatch);
  searcher_.Close();
  EXPECT_EQ(Search("needle", plain, nullptr), Result::kNoMatch);
  ASSERT_TRUE(searcher_.SetRoot(drive_ + "/"));
  EXPECT_EQ(Search("needle", plain, nullptr), Result::kMatch);
}

}  // namespace
}  // namespace quindelo
