// Copies and moves from the disk to another file system (a tmpfs in a
// private mount namespace): folders of many files arrive whole, byte for
// byte; a move removes its source only once the copy is complete; FIFOs
// and links arrive as what they are.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "commands/file_operation_run.h"
#include "support/mount_namespace.h"
#include "support/refusing_trash.h"
#include "support/test_env.h"

namespace quindelo::commands {
namespace {

class Observer : public FileOperationObserver {
 public:
  std::vector<std::string> failures;
  std::vector<std::string> must_exist;  // checked at every progress report
  std::size_t missing_during_copy = 0;
  std::size_t reports = 0;

  bool ConfirmReplace(const PlannedStep&) override { return false; }
  bool ConfirmDeleteAfterTrashRefused(const PlannedStep&, const std::string&) override {
    return false;
  }
  void Progress(std::size_t, std::uint64_t bytes) override {
    if (bytes == 0) return;
    ++reports;
    for (const std::string& path : must_exist)
      if (!test::Exists(path)) ++missing_during_copy;
  }
  bool Cancelled() override { return false; }
  FailureAnswer Failed(const PlannedStep&, const std::string& message) override {
    failures.push_back(message);
    return FailureAnswer::kSkip;
  }
};

using NoTrash = test::RefusingTrash;

FileOperationResult PlanAndRun(FileOperation op, const std::vector<std::string>& sources,
                               const std::string& text, Observer* observer) {
  DiskView view;
  FileOperationPlan plan = PlanFileOperation(op, sources, text, view);
  EXPECT_EQ("", plan.error);
  NoTrash trash;
  return RunFileOperationPlan(plan, &trash, observer);
}

// Data that differs at every offset of a block, so that a block written at
// the wrong place shows.
std::string Pattern(std::size_t size, unsigned seed) {
  std::string data(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : data) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return data;
}

// Drive D: on the disk, drive E: a tmpfs of its own.
class OnTwoFileSystems : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!test::EnterPrivateMountNamespace(&why)) GTEST_SKIP() << why;
    env_ = std::make_unique<test::ScopedTestEnv>();
    d = env_->MakeDrive('D', "d");
    e = env_->Path("e");
    test::MakeFolder(e);
    if (!test::MountTmpfs(e, &why)) GTEST_SKIP() << why;
    mounted_ = true;
    test::MapDrive('E', e);
    struct stat on_d, on_e;
    ASSERT_EQ(0, stat(d.c_str(), &on_d));
    ASSERT_EQ(0, stat(e.c_str(), &on_e));
    ASSERT_NE(on_d.st_dev, on_e.st_dev);
  }
  void TearDown() override {
    if (mounted_) umount2(e.c_str(), MNT_DETACH);
    env_.reset();
  }

  std::unique_ptr<test::ScopedTestEnv> env_;
  bool mounted_ = false;
  std::string d, e;
};

TEST_F(OnTwoFileSystems, FoldersOfManyFilesAndBigFilesArriveWhole) {
  const std::vector<std::pair<std::string, std::size_t>> files = {
      {"tree/a", kCopyBlockSize + 17}, {"tree/b", 100},       {"tree/sub/c", 2 * kCopyBlockSize},
      {"tree/sub/d", 1},               {"tree/sub/empty", 0}, {"tree/z", 4096},
      {"big", 3 * kCopyBlockSize + 5},
  };
  test::MakeFolder(d + "/tree/sub");
  for (std::size_t i = 0; i < files.size(); ++i)
    test::WriteTextFile(d + "/" + files[i].first, Pattern(files[i].second, static_cast<unsigned>(i)));

  Observer observer;
  EXPECT_EQ(3u, PlanAndRun(FileOperation::kCopy, {"D:\\tree", "D:\\big"}, "E:\\copies", &observer).done);
  EXPECT_EQ(std::vector<std::string>{}, observer.failures);
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].first);
    EXPECT_TRUE(test::ReadWholeFile(e + "/copies/" + files[i].first) ==
                Pattern(files[i].second, static_cast<unsigned>(i)));
  }

  // Moves: every source file is still there while data is copied.
  for (const auto& file : files)
    if (file.first != "big") observer.must_exist.push_back(d + "/" + file.first);
  EXPECT_EQ(2u, PlanAndRun(FileOperation::kMove, {"D:\\tree"}, "E:\\moved", &observer).done);
  observer.must_exist = {d + "/big"};
  EXPECT_EQ(1u, PlanAndRun(FileOperation::kMove, {"D:\\big"}, "E:\\moved", &observer).done);
  EXPECT_EQ(std::vector<std::string>{}, observer.failures);
  EXPECT_GT(observer.reports, 0u);
  EXPECT_EQ(0u, observer.missing_during_copy);
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].first);
    EXPECT_TRUE(test::ReadWholeFile(e + "/moved/" + files[i].first) ==
                Pattern(files[i].second, static_cast<unsigned>(i)));
  }
  EXPECT_FALSE(test::Exists(d + "/tree"));
  EXPECT_FALSE(test::Exists(d + "/big"));
}

TEST_F(OnTwoFileSystems, FifosAndLinksMoveAcrossAsWhatTheyAreAndDevicesStay) {
  ASSERT_EQ(0, mkfifo((d + "/pipe").c_str(), 0600));
  ASSERT_EQ(0, chmod((d + "/pipe").c_str(), 0640));
  test::MakeFolder(d + "/folder");
  test::WriteTextFile(d + "/folder/f", "f");
  ASSERT_EQ(0, mkfifo((d + "/folder/p").c_str(), 0600));
  ASSERT_EQ(0, symlink("f", (d + "/folder/l").c_str()));
  ASSERT_EQ(0, symlink("/outside/target", (d + "/link").c_str()));
  const bool device = mknod((d + "/folder/null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;

  Observer observer;
  EXPECT_EQ(3u, PlanAndRun(FileOperation::kMove, {"D:\\pipe", "D:\\folder", "D:\\link"}, "E:\\",
                           &observer)
                    .done);
  struct stat st;
  ASSERT_EQ(0, lstat((e + "/pipe").c_str(), &st));
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  ASSERT_EQ(0, lstat((e + "/folder/p").c_str(), &st));
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ("f", test::ReadWholeFile(e + "/folder/f"));
  char text[64] = {};
  ASSERT_GT(readlink((e + "/folder/l").c_str(), text, sizeof text - 1), 0);
  EXPECT_STREQ("f", text);
  ASSERT_GT(readlink((e + "/link").c_str(), text, sizeof text - 1), 0);
  EXPECT_STREQ("/outside/target", text);
  EXPECT_FALSE(test::Exists(d + "/pipe"));
  EXPECT_FALSE(test::Exists(d + "/link"));
  if (!device) {
    EXPECT_FALSE(test::Exists(d + "/folder"));
    EXPECT_EQ(std::vector<std::string>{}, observer.failures);
    GTEST_SKIP() << "no device node can be made here; FIFOs and links were checked";
  }
  // The device was left out of the copy, so it stays where it was, with
  // its folder; the rest of the folder has gone.
  EXPECT_EQ(std::vector<std::string>{"\"D:\\folder\\null\" is a device, which holds no data to "
                                     "copy: it is left out."},
            observer.failures);
  EXPECT_FALSE(test::Exists(e + "/folder/null"));
  ASSERT_EQ(0, lstat((d + "/folder/null").c_str(), &st));
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_FALSE(test::Exists(d + "/folder/f"));
  EXPECT_FALSE(test::Exists(d + "/folder/p"));
  EXPECT_FALSE(test::Exists(d + "/folder/l"));
}

}  // namespace
}  // namespace quindelo::commands
