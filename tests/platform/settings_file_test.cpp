// The settings file: typed values, the text format, damaged files, atomic
// rewrites and thread safety.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
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

// Each row: a file as found, one change made through the public calls, and
// the whole file as written afterwards, byte for byte.
TEST(SettingsFileTest, RewritesProduceExactlyTheseBytes) {
  struct Case {
    const char* what;
    std::string before;  // empty: no file
    std::function<bool()> change;
    std::string after;
  };
  SettingsChange batch_add{SettingsChange::kString, "Recent", "File2", "b", 0};
  SettingsChange batch_drop{SettingsChange::kDelete, "Recent", "File1", "", 0};
  const Case cases[] = {
      {"new file", "", [] { return SettingsWriteInt("View", "SortColumn", 3); },
       "[View]\nSortColumn=dword:00000003\n"},
      {"escapes", "", [] { return SettingsWriteString("S", "T", std::string("a\"\\\n\r\t\x01\x7f\xe9", 9)); },
       "[S]\nT=\"a\\\"\\\\\\n\\r\\t\\x01\\x7f\xe9\"\n"},
      {"negative", "[S]\nA=\"x\"\n", [] { return SettingsWriteInt("S", "B", -2); },
       "[S]\nA=\"x\"\nB=dword:fffffffe\n"},
      {"joins its section before blank lines and comments",
       "; top\r\n[ A ]\r\n  X = \"1\"  \r\n\r\n# c\r\n[B]\r\nY=dword:1\r\n",
       [] { return SettingsWriteInt("a", "Z", 2); },
       "; top\n[ A ]\n  X = \"1\"  \nZ=dword:00000002\n\n# c\n[B]\nY=dword:1\n"},
      {"unnamed section goes before the first header", "; c\n[A]\nX=\"1\"\n",
       [] { return SettingsWriteString("", "Top", "t"); },
       "; c\nTop=\"t\"\n[A]\nX=\"1\"\n"},
      {"new section after a blank line", "[A]\nX=\"1\"\n",
       [] { return SettingsWriteInt("B", "N", 0); },
       "[A]\nX=\"1\"\n\n[B]\nN=dword:00000000\n"},
      {"overwrite keeps the first spelling and drops duplicates",
       "[A]\nName=\"1\"\nNAME=\"2\"\nOther=dword:5\nname=\"3\"\n",
       [] { return SettingsWriteString("a", "nAmE", "new"); },
       "[A]\nName=\"new\"\nOther=dword:5\n"},
      {"damaged lines dropped",
       "[A]\nbad\nU=hello\nK=\"k\"\n[Broken\nH=dword:1\n[C]\nG=dword:7\n",
       [] { return SettingsWriteInt("C", "G", 8); },
       "[A]\nK=\"k\"\n[C]\nG=dword:00000008\n"},
      {"delete removes every copy", "[L]\nX=\"a\"\nx=\"b\"\nY=\"c\"\n",
       [] { return SettingsDeleteValue("l", "X"); }, "[L]\nY=\"c\"\n"},
      {"batch", "[Recent]\nFile1=\"a\"\n",
       [&] { return SettingsApply({batch_add, batch_drop}); }, "[Recent]\nFile2=\"b\"\n"},
  };
  for (const Case& c : cases) {
    ScopedTestEnv env;
    if (c.before.empty())
      RemoveFile(SettingsFilePath());
    else
      WriteTextFile(SettingsFilePath(), c.before);
    ASSERT_TRUE(c.change()) << c.what;
    EXPECT_EQ(ReadWholeFile(SettingsFilePath()), c.after) << c.what;
  }
}

// Writers in separate processes, all at once: every value written survives.
TEST(SettingsFileTest, WritersInSeveralProcessesLoseNothing) {
  ScopedTestEnv env;
  ASSERT_TRUE(SettingsWriteString("Race", "Before", "kept"));
  constexpr int kProcesses = 3, kEach = 100;
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // Wait until every writer exists, then write as fast as possible.
      close(start[1]);
      char c;
      while (read(start[0], &c, 1) < 0 && errno == EINTR) {
      }
      int failures = 0;
      for (int i = 0; i < kEach; ++i) {
        std::string name = "P" + std::to_string(p) + "_" + std::to_string(i);
        bool ok = (i % 2 == 0) ? SettingsWriteInt("Race", name, p * 1000 + i)
                               : SettingsWriteString("Race", name, std::to_string(p * 1000 + i));
        failures += ok ? 0 : 1;
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  close(start[0]);
  close(start[1]);  // starts them all
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write reported failure";
  }
  SettingsSnapshot snap;
  int found = 0;
  for (int p = 0; p < kProcesses; ++p)
    for (int i = 0; i < kEach; ++i) {
      std::string name = "P" + std::to_string(p) + "_" + std::to_string(i);
      std::int32_t v = -1;
      std::string s;
      if (i % 2 == 0 ? snap.ReadInt("Race", name, &v) && v == p * 1000 + i
                     : snap.ReadString("Race", name, &s) && s == std::to_string(p * 1000 + i))
        ++found;
    }
  EXPECT_EQ(found, kProcesses * kEach);
  std::string s;
  EXPECT_TRUE(snap.ReadString("Race", "Before", &s));
  // The lock file goes with its last holder.
  EXPECT_EQ(FolderEntries(ConfFolder(env)), std::vector<std::string>{"Quindelo.conf"});
}

// A writer that cannot take the lock in time fails with the lock file as the
// recorded cause, changes nothing, and leaves the holder's lock file alone.
// The lock wait is shortened from its 5 s: the test sits it out.
TEST(SettingsFileTest, WriteFailsWhenTheLockStaysTaken) {
  ScopedTestEnv env;
  const std::chrono::milliseconds old_wait = SettingsLockWait();
  SetSettingsLockWait(std::chrono::milliseconds(50));
  ASSERT_TRUE(SettingsWriteInt("S", "A", 1));
  const std::string before = ReadWholeFile(SettingsFilePath());
  const std::string lock_path = SettingsFilePath() + ".lock";
  {
    File holder;
    ASSERT_TRUE(holder.OpenAlways(lock_path, nullptr));
    ClearFileError();
    EXPECT_FALSE(SettingsWriteInt("S", "B", 2));
    EXPECT_EQ(LastFileError().number, kErrorFileInUse);
    EXPECT_EQ(LastFileError().path, lock_path);
    EXPECT_EQ(ReadWholeFile(SettingsFilePath()), before);
    EXPECT_TRUE(PathExists(lock_path));
    std::int32_t v = 0;
    EXPECT_TRUE(SettingsReadInt("S", "A", &v));  // reads never wait for the lock
  }
  EXPECT_TRUE(SettingsWriteInt("S", "B", 2));
  SetSettingsLockWait(old_wait);
}

}  // namespace
}  // namespace quindelo::platform
