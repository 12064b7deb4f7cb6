// The platform layer's files and folders: exclusive opening, transfers that
// report short counts, folder listings with their attributes and times,
// drive paths turned into native paths and native paths into drive paths.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "platform/file.h"
#include "platform/drive_table.h"
#include "platform/folder.h"
#include "platform/paths.h"
#include "platform/settings_file.h"
#include "support/case_locale.h"
#include "support/test_env.h"

namespace quindelo::platform {
namespace {

TEST(FileTest, OpenAlwaysCreatesOnceAndLocksOutASecondHolder) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("store.bin");
  File first;
  bool existed = true;
  ASSERT_TRUE(first.OpenAlways(path, &existed));
  EXPECT_FALSE(existed);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  File second;
  EXPECT_FALSE(second.OpenAlways(path, &existed));  // held exclusively
  first.Close();
  ASSERT_TRUE(second.OpenAlways(path, &existed));
  EXPECT_TRUE(existed);
}

// Every failed open says why, with the path: what stands at the path, what
// the system answered, or that another holder keeps the lock.
TEST(FileTest, FailedOpensRecordTheirCauseAndPath) {
  test::ScopedTestEnv env;
  const std::string held = env.Path("held");
  File holder;
  ASSERT_TRUE(holder.OpenAlways(held, nullptr));
  test::WriteTextFile(env.Path("plain"), "x");
  test::MakeFolder(env.Path("folder"));
  test::MakeFolder(env.Path("locked-up"));
  ASSERT_EQ(mkfifo(env.Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink(env.Path("plain").c_str(), env.Path("link").c_str()), 0);
  ASSERT_EQ(chmod(env.Path("locked-up").c_str(), 0500), 0);
  struct Case {
    std::string path;
    std::string cause;
  };
  std::vector<Case> cases = {
      {env.Path("folder"), "Is a directory"},
      {env.Path("fifo"), "not a regular file"},
      {env.Path("link"), "not a regular file"},
      {env.Path("missing/x"), "No such file or directory"},
      {env.Path("plain/x"), "Not a directory"},
      {held, "in use by another process"},
  };
  // The superuser writes into read-only folders all the same.
  if (geteuid() != 0) cases.push_back({env.Path("locked-up/x"), "Permission denied"});
  for (const Case& c : cases) {
    ClearFileError();
    File f;
    const Status status = f.OpenAlways(c.path, nullptr, 50);
    EXPECT_FALSE(status.ok()) << c.path;
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(status.path(), c.path);
    EXPECT_EQ(status.ToString(), c.path + ": " + c.cause);
    // Kept as well for the callers that read the thread's last file error.
    EXPECT_EQ(DescribeFileError(LastFileError()), status.ToString());
  }
  chmod(env.Path("locked-up").c_str(), 0700);
  ClearFileError();
  EXPECT_EQ(DescribeFileError(LastFileError()), "");
}

// A second holder waits for the lock instead of failing at once; when the
// first holder deleted the file meanwhile (an index being rebuilt), the
// waiter opens what the path names now, not the deleted file.
TEST(FileTest, OpenAlwaysWaitsForTheLockAndFollowsAReplacedFile) {
  test::ScopedTestEnv env;
  const std::string path = env.Path("store.bin");
  for (const bool replace : {false, true}) {
    File first;
    ASSERT_TRUE(first.OpenAlways(path, nullptr));
    ASSERT_TRUE(first.WriteExact(0, "old", 3));
    std::thread release([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (replace) RemoveFile(path);
      first.Close();
    });
    File second;
    bool existed = false;
    const Status opened = second.OpenAlways(path, &existed, 10000);
    release.join();
    ASSERT_TRUE(opened.ok()) << opened.ToString();
    std::uint64_t size = 0;
    ASSERT_TRUE(second.Size(&size));
    EXPECT_EQ(size, replace ? 0u : 3u) << "replace " << replace;
    ASSERT_TRUE(second.WriteExact(0, "new", 3));
    second.Close();
    EXPECT_EQ(test::ReadWholeFile(path), "new");
    RemoveFile(path);
  }
}

TEST(FileTest, TransfersReportShortCountsAndTruncateAndSizeAgree) {
  test::ScopedTestEnv env;
  File f;
  ASSERT_TRUE(f.OpenAlways(env.Path("data"), nullptr));
  ASSERT_TRUE(f.WriteExact(0, "abcdefgh", 8));
  char buffer[16] = {};
  EXPECT_EQ(f.ReadAt(4, buffer, sizeof buffer), 4);  // only 4 bytes are there
  EXPECT_EQ(std::string(buffer, 4), "efgh");
  EXPECT_FALSE(f.ReadExact(4, buffer, 8));
  EXPECT_EQ(f.ReadAt(100, buffer, 4), 0);
  ASSERT_TRUE(f.Truncate(3));
  std::uint64_t size = 0;
  ASSERT_TRUE(f.Size(&size));
  EXPECT_EQ(size, 3u);
  f.Close();
  EXPECT_EQ(f.ReadAt(0, buffer, 1), -1);
  EXPECT_TRUE(RemoveFile(env.Path("data")));
  EXPECT_FALSE(RemoveFile(env.Path("data")));
}

TEST(FileTest, ReadingRefusesFifosAndFoldersWithoutBlocking) {
  test::ScopedTestEnv env;
  const std::string fifo = env.Path("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  File f;
  EXPECT_FALSE(f.OpenForReading(fifo));
  EXPECT_FALSE(f.OpenForReading(env.root()));
  test::WriteTextFile(env.Path("plain"), "x");
  EXPECT_TRUE(f.OpenForReading(env.Path("plain")));
}

TEST(FolderTest, ListingGivesAttributesTimesAndLeavesOutBackslashNames) {
  test::ScopedTestEnv env;
  const std::string dir = env.Path("list");
  test::MakeFolder(dir + "/sub");
  test::WriteTextFile(dir + "/.hidden", "x");
  test::WriteTextFile(dir + "/ro.txt", "12345");
  ASSERT_EQ(chmod((dir + "/ro.txt").c_str(), 0444), 0);
  test::WriteTextFile(dir + "/back\\slash", "x");
  ASSERT_EQ(symlink("sub", (dir + "/link").c_str()), 0);
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);

  std::map<std::string, FindData> seen;
  FolderEnumerator e;
  ASSERT_TRUE(e.Open(dir));
  FindData d;
  while (e.Next(&d)) seen[d.name] = d;
  EXPECT_EQ(seen.size(), 5u);
  EXPECT_FALSE(seen.count("back\\slash"));
  EXPECT_TRUE(seen["sub"].attributes & kFileAttributeDirectory);
  EXPECT_EQ(seen["sub"].size, 0u);  // a folder has no size of its own
  EXPECT_TRUE(seen[".hidden"].attributes & kFileAttributeHidden);
  EXPECT_TRUE(seen["ro.txt"].attributes & kFileAttributeReadOnly);
  EXPECT_EQ(seen["ro.txt"].size, 5u);
  EXPECT_TRUE(seen["link"].is_link);
  EXPECT_FALSE(seen["link"].attributes & kFileAttributeDirectory);  // never followed
  EXPECT_TRUE(seen["fifo"].is_special);
  // Times are 100 ns units since 1601: a file written now lies near now.
  const std::uint64_t now = FileTimeNow();
  EXPECT_GT(seen["ro.txt"].last_write_time, now - 600ull * 10000000ull);
  EXPECT_LE(seen["ro.txt"].last_write_time, now + 10000000ull);
  EXPECT_NE(static_cast<std::uint32_t>(seen["sub"].creation_time), 0u);

  // The name-only listing agrees on names and folder bits.
  std::map<std::string, std::uint32_t> quick;
  ASSERT_TRUE(e.Open(dir));
  while (e.NextName(&d)) quick[d.name] = d.attributes;
  ASSERT_EQ(quick.size(), seen.size());
  for (auto& [name, data] : seen)
    EXPECT_EQ(quick[name] & (kFileAttributeDirectory | kFileAttributeHidden),
              data.attributes & (kFileAttributeDirectory | kFileAttributeHidden))
        << name;
  EXPECT_FALSE(e.Open(env.Path("missing")));
  uint32_t attributes = 0;
  EXPECT_FALSE(GetFileAttributes(env.Path("missing"), &attributes));
}

TEST(PathsTest, DrivePathsBecomeNativePathsThroughTheDriveTable) {
  test::ScopedTestEnv env;
  const std::string root = env.MakeDrive('T', "drive");
  std::string native;
  ASSERT_TRUE(ToNativePath("T:\\a\\b.txt", &native));
  EXPECT_EQ(native, root + "/a/b.txt");
  ASSERT_TRUE(ToNativePath("t:", &native));
  EXPECT_EQ(native, root);
  EXPECT_FALSE(ToNativePath("Q:\\x", &native));  // not a drive
  EXPECT_FALSE(ToNativePath("relative", &native));
  ASSERT_TRUE(ToNativePath("/already/native", &native));
  EXPECT_EQ(native, "/already/native");
  // Index files live in the data folder under XDG_DATA_HOME.
  EXPECT_EQ(IndexFilePath('c'), env.root() + "/data/Pemblet Software/Quindelo/Data/DriveC.idx");
  // Drive lookups are answered from the table as last read; a change of the
  // settings file, or of the drives set for the process, shows at once.
  const std::string moved = env.MakeDrive('U', "moved");
  test::MapDrive('T', moved);
  ASSERT_TRUE(ToNativePath("T:\\a", &native));
  EXPECT_EQ(native, moved + "/a");
  SetProcessDrives({{'T', root}});
  ASSERT_TRUE(ToNativePath("T:\\a", &native));
  EXPECT_EQ(native, root + "/a");
  EXPECT_FALSE(ToNativePath("U:\\a", &native));
  SetProcessDrives({});
  ASSERT_TRUE(ToNativePath("U:\\a", &native));
  EXPECT_EQ(native, moved + "/a");
}

// The window converts a path for every row it checks: the automatic drives'
// types are worked out when the table is built, never at a lookup.
TEST(PathsTest, AutomaticDriveTypesAreWorkedOutOncePerTableBuild) {
  test::ScopedTestEnv env;
  ASSERT_TRUE(SettingsWriteInt("Drives", "Auto", 1));
  DriveEntry entry;
  // One lookup builds the table anew (the settings changed): the types of
  // one build.
  const DriveTableCounts start = DriveTableCountsSoFar();
  ASSERT_TRUE(LookUpDrive('C', &entry, false));
  const DriveTableCounts first = DriveTableCountsSoFar();
  ASSERT_EQ(first.tables_built, start.tables_built + 1);
  const std::uint64_t per_build = first.types_worked_out - start.types_worked_out;
  EXPECT_GE(per_build, 1u);  // C: is "/", an automatic drive
  const std::uint32_t type = entry.type;

  std::string native;
  for (int row = 0; row < 300; ++row) {
    ASSERT_TRUE(ToNativePath("C:\\usr\\row" + std::to_string(row), &native));
    ASSERT_TRUE(LookUpDrive('c', &entry, false));
    EXPECT_EQ(entry.type, type);
  }
  const DriveTableCounts after = DriveTableCountsSoFar();
  // A table kept past its second is built again, with its types: never a
  // type for a lookup.
  EXPECT_EQ(after.types_worked_out - first.types_worked_out,
            (after.tables_built - first.tables_built) * per_build);
  // Writing what the settings already hold keeps the table.
  ASSERT_TRUE(SettingsWriteInt("Drives", "Auto", 1));
  ASSERT_TRUE(LookUpDrive('C', &entry, false));
  const DriveTableCounts rewritten = DriveTableCountsSoFar();
  EXPECT_LE(rewritten.tables_built - after.tables_built, 1u);
}

// A window toolkit sets the process's locale from the user's environment;
// drive letters keep ASCII's case under every locale.
TEST(PathsTest, DriveLettersOfEitherCaseNameOneDriveUnderATurkishLocale) {
  test::ScopedTestEnv env;
  const std::string root = env.MakeDrive('I', "drive");
  test::ScopedTurkishCase turkish;
  if (!turkish.active()) GTEST_SKIP() << "no Turkish locale and no localedef to build one";
  for (char letter : {'I', 'i'}) {
    SCOPED_TRACE(letter);
    DriveEntry entry;
    ASSERT_TRUE(LookUpDrive(letter, &entry, false));
    EXPECT_EQ(entry.letter, 'I');
    EXPECT_EQ(entry.root, root);
    std::string native;
    EXPECT_TRUE(ToNativePath(std::string(1, letter) + ":\\a", &native));
    EXPECT_EQ(native, root + "/a");
    EXPECT_EQ(IndexFilePath(letter),
              env.root() + "/data/Pemblet Software/Quindelo/Data/DriveI.idx");
  }
}

TEST(PathsTest, NativePathsBecomeDrivePathsOfTheDeepestDriveHoldingThem) {
  test::ScopedTestEnv env;
  const std::string t = env.MakeDrive('T', "drive");
  const std::string u = env.MakeDrive('U', "drive/mnt");  // a drive inside another
  struct Case {
    std::string native;
    const char* drive;  // null: no drive path
  };
  const Case cases[] = {
      {t, "T:\\"},
      {t + "/", "T:\\"},
      {t + "/a/b.txt", "T:\\a\\b.txt"},
      {t + "//a/./b/../c/", "T:\\a\\c"},
      {u + "/x", "U:\\x"},
      {t + "/mnt/../x", "T:\\x"},
      {t + "/mntx/y", "T:\\mntx\\y"},  // a name that merely begins like U:'s root
      {t + "x/y", nullptr},              // beside the drive, not in it
      {t + "/back\\slash", nullptr},     // no drive path can name it
      {"relative/x", nullptr},
      {"/", nullptr},  // the automatic drives are off: no C:
  };
  for (const Case& c : cases) {
    std::string drive_path = "unchanged";
    EXPECT_EQ(ToDrivePath(c.native, &drive_path), c.drive != nullptr) << c.native;
    if (!c.drive) continue;
    EXPECT_EQ(drive_path, c.drive) << c.native;
  }
}

}  // namespace
}  // namespace quindelo::platform
