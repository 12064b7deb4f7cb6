// Start-up rules: the local day number, the splash once a day, the first-run
// question once, the start-up and data folders, the command line's saved
// find and the frame's first show state.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/settings_store.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

using test::ScopedTestEnv;

TEST(StartupTest, DayNumberCountsLocalDays) {
  struct Case {
    std::time_t now;
    long offset;
    std::uint16_t day;
  };
  const Case cases[] = {
      {0, 0, 0},
      {86399, 0, 0},
      {86400, 0, 1},
      {86399, 3600, 1},           // an hour east of UTC the day has turned
      {86400 + 3599, -3600, 0},   // an hour west it has not
      {1800, -3600, 0},           // local time before 1970
      {1796688000, 0, 20795},     // 8 Dec 2026 00:00 UTC
      {1796688000, -1, 20794},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.now << " " << c.offset);
    EXPECT_EQ(DayNumber(c.now, c.offset), c.day);
  }
}

// The splash is due with no stored day, a stored 0, or another day; each
// claim stores today, so the second start of the day shows none.
TEST(StartupTest, SplashShowsAtTheFirstStartOfEachDay) {
  const std::uint16_t today = 20795;
  struct Case {
    std::optional<std::int32_t> stored;
    bool due;
  };
  const Case cases[] = {{std::nullopt, true}, {0, true}, {20794, true}, {20796, true},
                        {20795, false}, {-1, true}};
  for (const Case& c : cases) {
    EXPECT_EQ(SplashDue(c.stored, today), c.due) << (c.stored ? *c.stored : -999);
  }

  ScopedTestEnv env;
  SettingsStore store;
  EXPECT_TRUE(ClaimSplashDay());   // first start ever
  EXPECT_FALSE(ClaimSplashDay());  // again the same day
  std::int32_t stored = 0;
  ASSERT_TRUE(store.ReadInt("License", "SplashDay", &stored));
  EXPECT_EQ(stored, TodayDayNumber());
  ASSERT_TRUE(store.WriteInt("License", "SplashDay", stored - 1));  // yesterday
  EXPECT_TRUE(ClaimSplashDay());
  EXPECT_FALSE(ClaimSplashDay());
  ASSERT_TRUE(store.WriteString("License", "SplashDay", "today"));  // wrong type reads as missing
  EXPECT_TRUE(ClaimSplashDay());
  EXPECT_FALSE(ClaimSplashDay());
}

// Asked once, whatever the answer; a stored value of any day (0 too) means
// it was asked.
TEST(StartupTest, QuickStartQuestionIsAskedOnce) {
  ScopedTestEnv env;
  EXPECT_TRUE(ClaimQuickStartQuestion());
  EXPECT_FALSE(ClaimQuickStartQuestion());
  SettingsStore store;
  std::int32_t stored = -1;
  ASSERT_TRUE(store.ReadInt("License", "QuickStart", &stored));
  EXPECT_EQ(stored, TodayDayNumber());
  ASSERT_TRUE(store.WriteInt("License", "QuickStart", 0));
  EXPECT_FALSE(ClaimQuickStartQuestion());
  ASSERT_TRUE(store.DeleteValue("License", "QuickStart"));
  EXPECT_TRUE(ClaimQuickStartQuestion());
}

TEST(StartupTest, StartupFolderAndItsDataFolderAreMadePrivate) {
  ScopedTestEnv env;
  const std::string drive = env.MakeDrive('E', "e");
  struct Case {
    const char* startup_dir;  // null: not set
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, env.Path("data/Pemblet Software/Quindelo")},
      {"E:\\Finder", drive + "/Finder"},
      {"E:\\Finder\\", drive + "/Finder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.startup_dir ? c.startup_dir : "(unset)");
    SettingsStore store;
    if (c.startup_dir) {
      ASSERT_TRUE(store.WriteString("Settings", "StartupDir", c.startup_dir));
    } else {
      store.DeleteValue("Settings", "StartupDir");
    }
    StartupFolders folders;
    ASSERT_TRUE(SettleStartupFolder(&folders));
    EXPECT_EQ(folders.startup, c.expected);
    EXPECT_EQ(folders.data, c.expected + "/Data");
    struct stat st{};
    ASSERT_EQ(stat(folders.data.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  // A start-up folder that cannot be made is reported, the names still given.
  test::WriteTextFile(env.Path("file"), "x");
  SettingsStore store;
  ASSERT_TRUE(store.WriteString("Settings", "StartupDir", env.Path("file")));
  StartupFolders folders;
  EXPECT_FALSE(SettleStartupFolder(&folders));
  EXPECT_EQ(folders.data, env.Path("file") + "/Data");
}

TEST(StartupTest, CommandLineNamesOneSavedFind) {
  struct Case {
    std::vector<std::string> arguments;
    std::string working_folder;
    std::string expected;
  };
  const Case cases[] = {
      {{}, "/home/ann", ""},
      {{""}, "/home/ann", ""},
      {{"/tmp/a.qnd"}, "/home/ann", "/tmp/a.qnd"},
      {{"a.qnd"}, "/home/ann", "/home/ann/a.qnd"},
      {{"sub/a.qnd"}, "/", "/sub/a.qnd"},
      {{"My", "Find.qnd"}, "/home/ann", "/home/ann/My Find.qnd"},  // typed without quotes
      {{"\"q.qnd\""}, "/w", "/w/\"q.qnd\""},                       // quotes are part of the name
      {{"a.qnd"}, "", "a.qnd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(CommandLineSavedFind(c.arguments, c.working_folder), c.expected);
  }
}

TEST(StartupTest, FirstShowStateKeepsMinimisedAndMaximisedStarts) {
  struct Case {
    std::int32_t started;
    std::optional<std::int32_t> stored;
    std::int32_t expected;
  };
  const Case cases[] = {
      {kShowNormal, std::nullopt, kShowNormal}, {kShowNormal, kShowMaximized, kShowMaximized},
      {kShowNormal, 0, kShowNormal},            {kShowNormal, 10, kShowNormal},
      {kShowNormal, 9, 9},                      {kShowMaximized, kShowNormal, kShowMaximized},
      {kShowMinimized, kShowMaximized, kShowMinimized},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseShowState(c.started, c.stored), c.expected)
        << c.started << " " << (c.stored ? *c.stored : -1);
  }
}

}  // namespace
}  // namespace quindelo
