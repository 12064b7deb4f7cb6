// Drive query: the 128-byte drive description byte for byte, and the
// enumeration of drives in letter order.
#include <gtest/gtest.h>

#include <sys/statvfs.h>

#include <cstring>
#include <string>

#include "index/drive_query.h"
#include "platform/drive_table.h"
#include "platform/settings_file.h"
#include "support/case_locale.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

std::uint32_t U32At(const DriveDescription& d, std::size_t off) {
  return d.bytes[off] | d.bytes[off + 1] << 8 | d.bytes[off + 2] << 16 |
         static_cast<std::uint32_t>(d.bytes[off + 3]) << 24;
}

TEST(DriveQueryTest, FixedDriveDescriptionHasTheExactLayout) {
  test::ScopedTestEnv env;
  const std::string root = env.MakeDrive('T', "drive");
  for (bool with_volume : {false, true}) {
    DriveDescription d;
    d.bytes.fill(0xEE);  // every byte not filled must become zero
    ASSERT_TRUE(QueryDrive("T:", &d, with_volume));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.bytes.data()), 3), std::string("T:\0", 3));
    // No remote name and (for a folder of the test's own) no label.
    for (std::size_t i = 3; i < 120; ++i) {
      EXPECT_EQ(d.bytes[i], 0) << "byte " << i;
    }
    EXPECT_EQ(U32At(d, 120), platform::kDriveFixed);
    // The serial is the file system id folded to 32 bits, on both reads.
    struct statvfs vfs;
    ASSERT_EQ(statvfs(root.c_str(), &vfs), 0);
    EXPECT_EQ(U32At(d, 124), d.serial());
    EXPECT_NE(d.serial(), 0u);
  }
}

TEST(DriveQueryTest, MissingDrivesAndRootsFail) {
  test::ScopedTestEnv env;
  DriveDescription d;
  EXPECT_FALSE(QueryDrive("Q:", &d, false));  // not a drive
  test::MapDrive('R', env.Path("not-there"));
  EXPECT_FALSE(QueryDrive("R:", &d, false));
  EXPECT_EQ(d.type(), platform::kDriveNoRootDir);
  EXPECT_FALSE(QueryDrive("", &d, false));
  EXPECT_FALSE(QueryDrive("1:", &d, false));
}

TEST(DriveQueryTest, ALowerCaseLetterNamesItsDriveUnderATurkishLocale) {
  test::ScopedTestEnv env;
  env.MakeDrive('I', "drive");
  test::ScopedTurkishCase turkish;
  if (!turkish.active()) GTEST_SKIP() << "no Turkish locale and no localedef to build one";
  DriveDescription d;
  ASSERT_TRUE(QueryDrive("i:", &d, false));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.bytes.data()), 3), std::string("I:\0", 3));
}

TEST(DriveQueryTest, NextDriveEnumeratesInLetterOrderThenResets) {
  test::ScopedTestEnv env;
  env.MakeDrive('D', "d");
  env.MakeDrive('A', "a");
  env.MakeDrive('C', "c");
  std::uint16_t cursor = 0;
  DriveDescription d;
  std::string order;
  while (NextDrive(&cursor, &d, false)) order += d.root_text();
  EXPECT_EQ(order, "A:C:D:");
  EXPECT_EQ(cursor, 0);
}

TEST(DriveQueryTest, ProcessDrivesReplaceTheSettingsForThisRunOnly) {
  test::ScopedTestEnv env;
  env.MakeDrive('T', "t");
  platform::SetProcessDrives({{'X', env.root()}});
  DriveDescription d;
  EXPECT_TRUE(QueryDrive("X:", &d, true));
  EXPECT_FALSE(QueryDrive("T:", &d, false));
  platform::SetProcessDrives({});
  EXPECT_TRUE(QueryDrive("T:", &d, false));
  std::string mapped;
  EXPECT_FALSE(platform::SettingsReadString("Drives", "X", &mapped));
}

}  // namespace
}  // namespace quindelo
