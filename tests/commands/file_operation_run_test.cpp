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
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <vector>

#include "platform/beneath.h"
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
  std::function<void(std::uint64_t)> on_progress;  // called with each step's bytes
  void Progress(std::size_t, std::uint64_t bytes) override {
    if (bytes > most_bytes) most_bytes = bytes;
    if (on_progress) on_progress(bytes);
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

// Binds a Unix socket at path (left bound; the socket itself is closed).
bool MakeSocket(const std::string& path) {
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  bool bound = bind(fd, reinterpret_cast<const struct sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return bound;
}

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

// The names in a folder, sorted.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* listing = opendir(folder.c_str())) {
    while (struct dirent* entry = readdir(listing))
      if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
        names.push_back(entry->d_name);
    closedir(listing);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Everything below a folder, names with what they are and hold, to check
// that nothing there changed.
std::string Snapshot(const std::string& folder) {
  std::string out;
  for (const std::string& name : Names(folder)) {
    std::string path = folder + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    out += name + (S_ISDIR(st.st_mode) ? "/{" + Snapshot(path) + "}"
                   : S_ISREG(st.st_mode) ? "=" + test::ReadWholeFile(path)
                                         : "?") + ";";
  }
  return out;
}

std::string LinkText(const std::string& path) {
  char text[256] = {};
  return readlink(path.c_str(), text, sizeof text - 1) > 0 ? text : "(not a link)";
}

bool IsFifo(const std::string& path, mode_t mode) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode) && (st.st_mode & 07777) == mode;
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

  // A folder holding a socket, with the copy stopped there: the copy made so
  // far goes.
  test::MakeFolder(d + "/tree");
  test::WriteTextFile(d + "/tree/a", "a");
  ASSERT_TRUE(MakeSocket(d + "/tree/socket"));
  test::WriteTextFile(d + "/z", "z");
  ScriptedObserver observer;
  observer.answer = FailureAnswer::kStop;
  result = PlanAndRun(FileOperation::kCopy, {"D:\\tree", "D:\\z"}, "D:\\dest", &observer);
  EXPECT_EQ((std::vector<std::string>{"\"D:\\tree\\socket\" is a socket, which holds no data to copy: "
                                      "it is left out."}),
            observer.failures);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(1u, result.failed);
  EXPECT_FALSE(Exists(d + "/dest/tree"));
  EXPECT_FALSE(Exists(d + "/dest/z"));
  EXPECT_TRUE(Leftovers(d + "/dest").empty());
  observer.answer = FailureAnswer::kSkip;
  observer.failures.clear();
  EXPECT_EQ(1u, PlanAndRun(FileOperation::kCopy, {"D:\\z"}, "D:\\dest", &observer).done);
  EXPECT_EQ("z", test::ReadWholeFile(d + "/dest/z"));

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


TEST(RunFileOperationPlan, ALinkSwappedInForAFolderLeadsNowhereAndASelectedLinkStaysALink) {
  for (bool name_by_name : {false, true}) {
    SCOPED_TRACE(name_by_name ? "walked name by name" : "walked by openat2");
    const bool previous = platform::WalkNameByNameForTesting(name_by_name);
    test::ScopedTestEnv env;
    std::string d = env.MakeDrive('D', "d");
    std::string decoy = env.Path("decoy");
    test::MakeFolder(decoy + "/in");
    test::WriteTextFile(decoy + "/victim.txt", "outside");
    test::WriteTextFile(decoy + "/in/other.txt", "outside too");
    test::MakeFolder(d + "/dest");
    test::WriteTextFile(d + "/keep.txt", "k");
    // The folder where a find saw victim.txt becomes a link to the decoy;
    // so does a folder on the way to a destination.
    ASSERT_EQ(0, symlink(decoy.c_str(), (d + "/found").c_str()));
    ASSERT_EQ(0, symlink(decoy.c_str(), (d + "/out").c_str()));
    const std::string decoy_before = Snapshot(decoy);

    struct Case {
      FileOperation op;
      std::string source, text;
    } cases[] = {
        {FileOperation::kDeletePermanently, "D:\\found\\victim.txt", ""},
        {FileOperation::kDelete, "D:\\found\\victim.txt", ""},
        {FileOperation::kMove, "D:\\found\\victim.txt", "D:\\dest"},
        {FileOperation::kRename, "D:\\found\\victim.txt", "renamed.txt"},
        {FileOperation::kCopy, "D:\\found\\victim.txt", "D:\\dest"},
        {FileOperation::kDeletePermanently, "D:\\found\\in", ""},
        {FileOperation::kCopy, "D:\\keep.txt", "D:\\out\\in"},
        {FileOperation::kMove, "D:\\keep.txt", "D:\\out\\in"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.source + " with \"" + c.text + "\"");
      ScriptedObserver observer;
      FakeTrash trash;
      FileOperationResult result = PlanAndRun(c.op, {c.source}, c.text, &observer, &trash);
      EXPECT_EQ(0u, result.done);
      ASSERT_EQ(1u, observer.failures.size());
      EXPECT_NE(std::string::npos,
                observer.failures[0].find(
                    ": a folder on its way is a symbolic link, which is not followed."))
          << observer.failures[0];
      EXPECT_TRUE(trash.trashed.empty());
      EXPECT_EQ(decoy_before, Snapshot(decoy));
      EXPECT_TRUE(Names(d + "/dest").empty());
      EXPECT_EQ("k", test::ReadWholeFile(d + "/keep.txt"));
    }

    // Links that are themselves selected: acted on as links, their targets
    // (one outside the drive) left as they are.
    test::WriteTextFile(d + "/target.txt", "target");
    ASSERT_EQ(0, symlink("target.txt", (d + "/near").c_str()));
    ASSERT_EQ(0, symlink((decoy + "/victim.txt").c_str(), (d + "/far").c_str()));
    ScriptedObserver observer;
    FakeTrash trash;
    EXPECT_EQ(1u, PlanAndRun(FileOperation::kCopy, {"D:\\far"}, "D:\\dest", &observer).done);
    EXPECT_EQ(decoy + "/victim.txt", LinkText(d + "/dest/far"));
    EXPECT_EQ(1u, PlanAndRun(FileOperation::kMove, {"D:\\near"}, "D:\\dest", &observer).done);
    EXPECT_EQ("target.txt", LinkText(d + "/dest/near"));
    EXPECT_FALSE(Exists(d + "/near"));
    EXPECT_EQ(1u, PlanAndRun(FileOperation::kRename, {"D:\\far"}, "renamed", &observer).done);
    EXPECT_EQ(decoy + "/victim.txt", LinkText(d + "/renamed"));
    EXPECT_EQ(1u, PlanAndRun(FileOperation::kDelete, {"D:\\dest\\near"}, "", &observer, &trash).done);
    EXPECT_EQ(std::vector<std::string>{d + "/dest/near"}, trash.trashed);
    EXPECT_EQ(2u, PlanAndRun(FileOperation::kDeletePermanently, {"D:\\renamed", "D:\\dest\\far"}, "",
                             &observer)
                      .done);
    EXPECT_FALSE(Exists(d + "/renamed"));
    EXPECT_FALSE(Exists(d + "/dest/far"));
    EXPECT_TRUE(observer.failures.empty());
    EXPECT_EQ("target", test::ReadWholeFile(d + "/target.txt"));
    EXPECT_EQ(decoy_before, Snapshot(decoy));
    platform::WalkNameByNameForTesting(previous);
  }
}

TEST(RunFileOperationPlan, FifosAreMadeAnewWhileDevicesAndSocketsAreLeftOutWithAMessage) {
  test::ScopedTestEnv env;
  std::string d = env.MakeDrive('D', "d");
  ASSERT_EQ(0, mkfifo((d + "/pipe").c_str(), 0600));
  ASSERT_EQ(0, chmod((d + "/pipe").c_str(), 0640));
  test::MakeFolder(d + "/tree");
  test::WriteTextFile(d + "/tree/a", "a");
  ASSERT_EQ(0, mkfifo((d + "/tree/p").c_str(), 0600));
  ASSERT_TRUE(MakeSocket(d + "/tree/s"));
  // A device node, where this process may make one.
  const bool devices = mknod((d + "/tree/null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0 &&
                       mknod((d + "/dev").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;

  // Never opened (a FIFO without a writer would wait for one for ever).
  ScriptedObserver observer;
  FileOperationResult result =
      PlanAndRun(FileOperation::kCopy, {"D:\\pipe", "D:\\tree"}, "D:\\dest", &observer);
  EXPECT_EQ(3u, result.done);  // the folder made, two copies
  EXPECT_TRUE(IsFifo(d + "/dest/pipe", 0640));
  EXPECT_TRUE(IsFifo(d + "/dest/tree/p", 0600));
  EXPECT_EQ("a", test::ReadWholeFile(d + "/dest/tree/a"));
  EXPECT_FALSE(Exists(d + "/dest/tree/s"));
  EXPECT_FALSE(Exists(d + "/dest/tree/null"));
  std::vector<std::string> expected = {
      "\"D:\\tree\\s\" is a socket, which holds no data to copy: it is left out."};
  if (devices)
    expected.push_back("\"D:\\tree\\null\" is a device, which holds no data to copy: it is left out.");
  std::sort(observer.failures.begin(), observer.failures.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, observer.failures);

  // Selected themselves, they are reported and nothing is made.
  observer.failures.clear();
  std::vector<std::string> sources = {"D:\\tree\\s"};
  expected = {"Unable to copy \"D:\\tree\\s\" to \"D:\\dest\\s\": it is a socket, which holds no data "
              "to copy."};
  if (devices) {
    sources.push_back("D:\\dev");
    expected.push_back(
        "Unable to copy \"D:\\dev\" to \"D:\\dest\\dev\": it is a device, which holds no data to "
        "copy.");
  }
  EXPECT_EQ(0u, PlanAndRun(FileOperation::kCopy, sources, "D:\\dest", &observer).done);
  EXPECT_EQ(expected, observer.failures);
  EXPECT_FALSE(Exists(d + "/dest/s"));
  EXPECT_FALSE(Exists(d + "/dest/dev"));
  EXPECT_TRUE(Leftovers(d + "/dest").empty());
  if (!devices) GTEST_SKIP() << "no device node can be made here; FIFOs and sockets were checked";
}

TEST(RunFileOperationPlan, CopiesShowNoTemporaryAndLeftoversOfAKilledCopyGo) {
  test::ScopedTestEnv env;
  std::string d = env.MakeDrive('D', "d");
  std::string dest = d + "/dest";
  test::MakeFolder(dest + "/.quindelo-copy-Zz9Zz9/inner");
  test::WriteTextFile(dest + "/.quindelo-copy-Zz9Zz9/inner/f", "half a folder");
  test::WriteTextFile(dest + "/.quindelo-copy-AbC123", std::string(1000, 'h'));
  test::WriteTextFile(dest + "/.quindelo-copy-mine", "not this program's pattern");
  // One that a running copy holds.
  test::WriteTextFile(dest + "/.quindelo-copy-Held12", "in use");
  int held = open((dest + "/.quindelo-copy-Held12").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(0, flock(held, LOCK_EX));
  std::string big(3 * kCopyBlockSize + 5, 'b');
  for (std::size_t i = 0; i < big.size(); i += 4099) big[i] = static_cast<char>('0' + i % 10);
  test::WriteTextFile(d + "/big", big);

  // Where the file system has unnamed files, no temporary name is seen
  // while the data is written.
  int unnamed = openat(AT_FDCWD, dest.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (unnamed >= 0) close(unnamed);
  ScriptedObserver observer;
  std::vector<std::string> seen;
  observer.on_progress = [&](std::uint64_t bytes) {
    if (bytes == 0) return;
    for (const std::string& name : Leftovers(dest))
      if (name != ".quindelo-copy-mine" && name != ".quindelo-copy-Held12") seen.push_back(name);
  };
  EXPECT_EQ(1u, PlanAndRun(FileOperation::kCopy, {"D:\\big"}, "D:\\dest", &observer).done);
  EXPECT_EQ(big, test::ReadWholeFile(dest + "/big"));
  EXPECT_EQ((std::vector<std::string>{".quindelo-copy-Held12", ".quindelo-copy-mine", "big"}),
            Names(dest));
  if (unnamed >= 0) {
    EXPECT_EQ(std::vector<std::string>{}, seen);
  }

  // Replacing goes through a temporary name only once the data is complete.
  std::reverse(big.begin(), big.end());
  test::WriteTextFile(d + "/big", big);
  seen.clear();
  EXPECT_EQ(1u, PlanAndRun(FileOperation::kCopy, {"D:\\big"}, "D:\\dest", &observer).done);
  EXPECT_EQ(big, test::ReadWholeFile(dest + "/big"));
  EXPECT_EQ((std::vector<std::string>{".quindelo-copy-Held12", ".quindelo-copy-mine", "big"}),
            Names(dest));
  if (unnamed >= 0) {
    EXPECT_EQ(std::vector<std::string>{}, seen);
  }
  EXPECT_TRUE(observer.failures.empty());
  close(held);
  if (unnamed < 0) GTEST_SKIP() << "no O_TMPFILE on this file system; leftovers were checked";
}

}  // namespace
}  // namespace quindelo::commands
