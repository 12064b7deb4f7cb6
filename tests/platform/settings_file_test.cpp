// The settings file: typed values, the text format, damaged files, atomic
// rewrites and thread safety.
#include <gtest/gtest.h>

#include <dirent.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings_file.h"
#include "support/test_env.h"

namespace quindelo::platform {
namespace {

using test::ReadWholeFile;
using test::ScopedTestEnv;
using test::WriteTextFile;

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  return names;
}

std::string ConfFolder(const ScopedTestEnv& env) { return env.Path("config/Pemblet Software"); }

TEST(SettingsFileTest, PathFollowsTheEnvironmentAtEachCall) {
  ScopedTestEnv env;
  EXPECT_EQ(SettingsFilePath(), env.Path("config/Pemblet Software/Quindelo.conf"));
  ASSERT_TRUE(SettingsWriteInt("S", "N", 1));
  std::string old = std::getenv("XDG_CONFIG_HOME");
  setenv("XDG_CONFIG_HOME", env.Path("other").c_str(), 1);
  std::int32_t v = 0;
  EXPECT_FALSE(SettingsReadInt("S", "N", &v));  // a new, empty file
  EXPECT_TRUE(SettingsWriteInt("S", "N", 2));   // folder created on demand
  EXPECT_TRUE(SettingsReadInt("S", "N", &v));
  EXPECT_EQ(v, 2);
  setenv("XDG_CONFIG_HOME", old.c_str(), 1);
  EXPECT_TRUE(SettingsReadInt("S", "N", &v));
  EXPECT_EQ(v, 1);

  std::string home = env.Path("home");
  std::string old_home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", home.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(SettingsFilePath(), home + "/.config/Pemblet Software/Quindelo.conf");
  setenv("HOME", old_home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", old.c_str(), 1);
}

TEST(SettingsFileTest, StringsAndIntegersRoundTripAndKeepTheirTypes) {
  ScopedTestEnv env;
  std::string tricky = "say \"hi\"\\ C:\\dir\r\nline2\ttab \x01\x7f end\xe9";
  tricky += std::string(1, '\0') + "after nul";
  ASSERT_TRUE(SettingsWriteString("Controls", "LookIn", tricky));
  ASSERT_TRUE(SettingsWriteString("Controls", "Empty", ""));
  for (std::int32_t v : {0, 42, -1, INT_MIN, INT_MAX}) {
    ASSERT_TRUE(SettingsWriteInt("View", "Value", v));
    std::int32_t got = 7;
    ASSERT_TRUE(SettingsReadInt("View", "Value", &got));
    EXPECT_EQ(got, v);
  }
  std::string s;
  ASSERT_TRUE(SettingsReadString("Controls", "LookIn", &s));
  EXPECT_EQ(s, tricky);
  ASSERT_TRUE(SettingsReadString("Controls", "Empty", &s));
  EXPECT_EQ(s, "");

  // One line per value: the escapes keep line breaks out of the file.
  std::string text = ReadWholeFile(SettingsFilePath());
  EXPECT_NE(text.find("Value=dword:7fffffff\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[Controls]\n"), std::string::npos) << text;
  EXPECT_EQ(text.find('\r'), std::string::npos);

  // Wrong type reads as missing and leaves the output alone.
  std::int32_t i = 5;
  EXPECT_FALSE(SettingsReadInt("Controls", "LookIn", &i));
  EXPECT_EQ(i, 5);
  s = "unchanged";
  EXPECT_FALSE(SettingsReadString("View", "Value", &s));
  EXPECT_EQ(s, "unchanged");
  EXPECT_FALSE(SettingsReadString("View", "Missing", &s));
  EXPECT_FALSE(SettingsReadString("NoSection", "Value", &s));
}

TEST(SettingsFileTest, NamesCompareWithoutCaseAndOverwriteInPlace) {
  ScopedTestEnv env;
  ASSERT_TRUE(SettingsWriteInt("View", "SortColumn", 1));
  ASSERT_TRUE(SettingsWriteInt("VIEW", "sortcolumn", 3));
  ASSERT_TRUE(SettingsWriteString("Recent File List", "File1", "a"));
  std::int32_t v = 0;
  ASSERT_TRUE(SettingsReadInt("view", "SORTCOLUMN", &v));
  EXPECT_EQ(v, 3);
  std::string text = ReadWholeFile(SettingsFilePath());
  // The first spelling of the section and name stays; only one value line.
  EXPECT_EQ(text.find("[VIEW]"), std::string::npos);
  EXPECT_EQ(text.find("sortcolumn"), std::string::npos) << text;
  EXPECT_NE(text.find("SortColumn=dword:00000003"), std::string::npos) << text;
  EXPECT_EQ(text.find("SortColumn"), text.rfind("SortColumn")) << text;
  std::string s;
  ASSERT_TRUE(SettingsReadString("recent file list", "FILE1", &s));
  EXPECT_EQ(s, "a");
}

TEST(SettingsFileTest, HandWrittenFileWithCommentsAndBlanksIsReadAndKept) {
  ScopedTestEnv env;
  WriteTextFile(SettingsFilePath(),
                "; my settings\r\n"
                "Top = \"level\"\r\n"
                "[ Drives ]\r\n"
                "  D = \"/mnt/d\"  \r\n"
                "Auto=DWORD:0\r\n"
                "\r\n"
                "# other\n"
                "[View]\n"
                "FileIcon=dword:1\n");
  std::string s;
  ASSERT_TRUE(SettingsReadString("Drives", "D", &s));
  EXPECT_EQ(s, "/mnt/d");
  ASSERT_TRUE(SettingsReadString("", "Top", &s));
  EXPECT_EQ(s, "level");
  std::int32_t v = 9;
  ASSERT_TRUE(SettingsReadInt("Drives", "Auto", &v));
  EXPECT_EQ(v, 0);

  ASSERT_TRUE(SettingsWriteInt("Drives", "NewOne", 4));
  ASSERT_TRUE(SettingsWriteString("", "Second", "x"));
  std::string text = ReadWholeFile(SettingsFilePath());
  EXPECT_NE(text.find("; my settings"), std::string::npos);
  EXPECT_NE(text.find("# other"), std::string::npos);
  // The new value joins its section, before the blank line and the next one.
  EXPECT_LT(text.find("NewOne="), text.find("# other"));
  EXPECT_GT(text.find("NewOne="), text.find("Auto="));
  EXPECT_LT(text.find("Second="), text.find("[ Drives ]"));
  ASSERT_TRUE(SettingsReadInt("View", "FileIcon", &v));
  EXPECT_EQ(v, 1);
  ASSERT_TRUE(SettingsReadString("", "Second", &s));
  EXPECT_EQ(s, "x");
}

TEST(SettingsFileTest, DamagedLinesReadAsMissingAndAreDroppedOnWrite) {
  ScopedTestEnv env;
  std::string huge(kSettingsMaxLineLength + 10, 'a');
  std::string file = "[S]\n"
                     "NoEquals\n"
                     "Unquoted=hello\n"
                     "Unclosed=\"abc\n"
                     "BadEscape=\"a\\qb\"\n"
                     "ShortHex=\"a\\x4\"\n"
                     "Trailing=\"a\" b\n"
                     "BigDword=dword:123456789\n"
                     "NotHex=dword:12g4\n"
                     "NoDigits=dword:\n"
                     "Huge=\"" + huge + "\"\n" +
                     std::string("Nul=\"a\0b\"\n", 10) +
                     "Dup=dword:2\n"
                     "=dword:3\n"
                     "[Broken\n"
                     "Hidden=dword:4\n"
                     "[T]\n"
                     "Good=\"yes\"\n"
                     "\x80\xff\xfe garbage \x01\x02\n";
  WriteTextFile(SettingsFilePath(), file);
  std::string s = "keep";
  std::int32_t v = -7;
  for (const char* name : {"NoEquals", "Unquoted", "Unclosed", "BadEscape", "ShortHex", "Trailing",
                           "Huge", "Nul"})
    EXPECT_FALSE(SettingsReadString("S", name, &s)) << name;
  for (const char* name : {"BigDword", "NotHex", "NoDigits"})
    EXPECT_FALSE(SettingsReadInt("S", name, &v)) << name;
  EXPECT_FALSE(SettingsReadInt("S", "Hidden", &v));
  EXPECT_FALSE(SettingsReadInt("Broken", "Hidden", &v));
  EXPECT_EQ(s, "keep");
  EXPECT_EQ(v, -7);
  ASSERT_TRUE(SettingsReadString("T", "Good", &s));
  EXPECT_EQ(s, "yes");
  ASSERT_TRUE(SettingsReadInt("S", "Dup", &v));

  // A write keeps the good values, drops the damage, and a fresh value of a
  // damaged name reads back.
  ASSERT_TRUE(SettingsWriteString("S", "Unquoted", "now fine"));
  std::string text = ReadWholeFile(SettingsFilePath());
  EXPECT_LT(text.size(), 200u) << text;
  EXPECT_EQ(text.find("garbage"), std::string::npos);
  EXPECT_EQ(text.find("Hidden"), std::string::npos);
  ASSERT_TRUE(SettingsReadString("S", "Unquoted", &s));
  EXPECT_EQ(s, "now fine");
  ASSERT_TRUE(SettingsReadString("T", "Good", &s));
  EXPECT_EQ(s, "yes");
  ASSERT_TRUE(SettingsReadInt("S", "Dup", &v));
  EXPECT_EQ(v, 2);
}

TEST(SettingsFileTest, BinaryGarbageFileReadsAsEmpty) {
  ScopedTestEnv env;
  std::string garbage;
  unsigned x = 12345;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1103515245u + 12345u;
    garbage += static_cast<char>(x >> 16);
  }
  WriteTextFile(SettingsFilePath(), garbage);
  std::string s;
  std::int32_t v;
  EXPECT_FALSE(SettingsReadString("Drives", "Auto", &s));
  EXPECT_FALSE(SettingsReadInt("Drives", "Auto", &v));
  EXPECT_TRUE(SettingsWriteInt("Drives", "Auto", 0));
  EXPECT_TRUE(SettingsReadInt("Drives", "Auto", &v));
}

TEST(SettingsFileTest, OversizedFileIsNeverOverwritten) {
  ScopedTestEnv env;
  std::string big = "[S]\nA=dword:1\n" + std::string(kSettingsMaxFileSize, '\n');
  WriteTextFile(SettingsFilePath(), big);
  std::int32_t v;
  EXPECT_FALSE(SettingsReadInt("S", "A", &v));
  EXPECT_FALSE(SettingsWriteInt("S", "B", 2));
  EXPECT_EQ(ReadWholeFile(SettingsFilePath()).size(), big.size());
}

TEST(SettingsFileTest, UnwritableNamesAndOverlongValuesAreRefused) {
  ScopedTestEnv env;
  EXPECT_FALSE(SettingsWriteInt("S", "", 1));
  EXPECT_FALSE(SettingsWriteInt("S", "a=b", 1));
  EXPECT_FALSE(SettingsWriteInt("S", " lead", 1));
  EXPECT_FALSE(SettingsWriteInt("S", "[x", 1));
  EXPECT_FALSE(SettingsWriteInt("S", ";x", 1));
  EXPECT_FALSE(SettingsWriteInt("S", "a\nb", 1));
  EXPECT_FALSE(SettingsWriteInt("S]", "a", 1));
  EXPECT_FALSE(SettingsWriteInt("S\n", "a", 1));
  EXPECT_FALSE(SettingsWriteString("S", "Long", std::string(kSettingsMaxLineLength, 'x')));
  std::int32_t v;
  EXPECT_FALSE(SettingsReadInt("S", "a=b", &v));
  // Nothing but the test set-up was written.
  EXPECT_EQ(ReadWholeFile(SettingsFilePath()).find("[S]"), std::string::npos);
  // A long value that still fits is kept whole.
  std::string longest(kSettingsMaxLineLength - 16, 'y');
  ASSERT_TRUE(SettingsWriteString("S", "Long", longest));
  std::string s;
  ASSERT_TRUE(SettingsReadString("S", "Long", &s));
  EXPECT_EQ(s, longest);
}

TEST(SettingsFileTest, DeleteRemovesEveryCopyAndReportsMissing) {
  ScopedTestEnv env;
  WriteTextFile(SettingsFilePath(), "[L]\nX_1=\"a\"\nx_1=\"b\"\nX_2=\"c\"\n");
  EXPECT_TRUE(SettingsDeleteValue("l", "X_1"));
  std::string s;
  EXPECT_FALSE(SettingsReadString("L", "X_1", &s));
  ASSERT_TRUE(SettingsReadString("L", "X_2", &s));
  EXPECT_EQ(s, "c");
  EXPECT_FALSE(SettingsDeleteValue("L", "X_1"));
  EXPECT_FALSE(SettingsDeleteValue("Nope", "X_2"));
}

TEST(SettingsFileTest, WritesLeaveNoTemporaryFilesAndFailCleanly) {
  ScopedTestEnv env;
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(SettingsWriteInt("S", "N" + std::to_string(i), i));
  std::vector<std::string> names = FolderEntries(ConfFolder(env));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "Quindelo.conf");

  // The config home is a file: the folder cannot be made; nothing is written.
  std::string old = std::getenv("XDG_CONFIG_HOME");
  WriteTextFile(env.Path("plainfile"), "x");
  setenv("XDG_CONFIG_HOME", env.Path("plainfile").c_str(), 1);
  EXPECT_FALSE(SettingsWriteInt("S", "N", 1));
  std::int32_t v;
  EXPECT_FALSE(SettingsReadInt("S", "N", &v));
  setenv("XDG_CONFIG_HOME", old.c_str(), 1);
}

TEST(SettingsFileTest, ConcurrentWritersLoseNothing) {
  ScopedTestEnv env;
  constexpr int kThreads = 4, kEach = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) {
        std::string name = "T" + std::to_string(t) + "_" + std::to_string(i);
        EXPECT_TRUE(SettingsWriteInt("Race", name, t * 1000 + i));
        std::int32_t v = -1;
        EXPECT_TRUE(SettingsReadInt("Race", name, &v));
        EXPECT_EQ(v, t * 1000 + i);
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kEach; ++i) {
      std::int32_t v = -1;
      ASSERT_TRUE(SettingsReadInt("Race", "T" + std::to_string(t) + "_" + std::to_string(i), &v));
      EXPECT_EQ(v, t * 1000 + i);
    }
}

TEST(SettingsFileTest, BatchAppliesAllOrNothing) {
  ScopedTestEnv env;
  ASSERT_TRUE(SettingsWriteString("L", "X3", "stale"));
  std::vector<SettingsChange> changes(3);
  changes[0].section = "L";
  changes[0].name = "X1";
  changes[0].text = "one";
  changes[1].kind = SettingsChange::kInt;
  changes[1].section = "Other";
  changes[1].name = "N";
  changes[1].number = -5;
  changes[2].kind = SettingsChange::kDelete;
  changes[2].section = "L";
  changes[2].name = "X3";
  ASSERT_TRUE(SettingsApply(changes));
  std::string s;
  std::int32_t v = 0;
  ASSERT_TRUE(SettingsReadString("L", "X1", &s));
  EXPECT_EQ(s, "one");
  ASSERT_TRUE(SettingsReadInt("Other", "N", &v));
  EXPECT_EQ(v, -5);
  EXPECT_FALSE(SettingsReadString("L", "X3", &s));
  // Deleting what is missing is fine; one refused name undoes the whole batch.
  changes[0].text = "changed";
  changes.push_back(changes[0]);
  changes.back().name = "bad=name";
  EXPECT_FALSE(SettingsApply(changes));
  ASSERT_TRUE(SettingsReadString("L", "X1", &s));
  EXPECT_EQ(s, "one");
}

TEST(SettingsFileTest, SnapshotAnswersLikeTheFileAtItsTime) {
  ScopedTestEnv env;
  WriteTextFile(SettingsFilePath(),
                "[Drives]\nAuto=dword:0\n[Controls]\nNamed_1=\"a\"\nnamed_1=\"dup\"\n"
                "Named_2=broken\nFont=dword:3\n");
  SettingsSnapshot snap;
  ASSERT_TRUE(SettingsWriteString("Controls", "Named_1", "later"));
  std::string s;
  std::int32_t v;
  ASSERT_TRUE(snap.ReadString("CONTROLS", "NAMED_1", &s));
  EXPECT_EQ(s, "a");  // the first line wins, and the later write is not seen
  EXPECT_FALSE(snap.Contains("Controls", "Named_2"));
  EXPECT_TRUE(snap.Contains("Controls", "Font"));
  EXPECT_FALSE(snap.ReadString("Controls", "Font", &s));
  ASSERT_TRUE(snap.ReadInt("Controls", "Font", &v));
  EXPECT_EQ(v, 3);
  EXPECT_FALSE(snap.ReadInt("Nope", "Font", &v));
  SettingsSnapshot fresh;
  ASSERT_TRUE(fresh.ReadString("Controls", "Named_1", &s));
  EXPECT_EQ(s, "later");
}

}  // namespace
}  // namespace quindelo::platform
