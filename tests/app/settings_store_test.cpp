// The settings store: typed values, text forms of rectangles and fonts,
// numbered lists, value paths, and the program's defaults.
#include "app/settings_store.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/view_options.h"
#include "platform/settings_file.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

using test::ScopedTestEnv;

FontSpec MakeFont(const char* face, int height, int width, int weight) {
  FontSpec f;
  std::strncpy(f.face_name, face, FontSpec::kFaceNameSize - 1);
  f.height = height;
  f.width = width;
  f.weight = weight;
  return f;
}

TEST(SettingsStoreTest, StringsFitTheCallersBufferOrReadAsMissing) {
  ScopedTestEnv env;
  SettingsStore store;
  ASSERT_TRUE(store.WriteString("Controls", "LookIn", "C:\\Windows"));  // 10 characters
  char buf[11];
  std::memset(buf, 'x', sizeof buf);
  ASSERT_TRUE(store.ReadString("Controls", "LookIn", buf, sizeof buf));
  EXPECT_STREQ(buf, "C:\\Windows");
  char small[10];
  std::memset(small, 'x', sizeof small);
  EXPECT_FALSE(store.ReadString("Controls", "LookIn", small, sizeof small));
  EXPECT_EQ(small[0], 'x');  // untouched
  EXPECT_FALSE(store.ReadString("Controls", "LookIn", small, 0));

  std::string s = "old";
  EXPECT_FALSE(store.ReadString("Controls", "LookIn", &s, 10));
  EXPECT_EQ(s, "old");
  ASSERT_TRUE(store.ReadString("Controls", "LookIn", &s, 11));
  EXPECT_EQ(s, "C:\\Windows");
  // The default std::string read goes through a 4,096-byte buffer.
  ASSERT_TRUE(store.WriteString("Controls", "Long", std::string(4096, 'a')));
  EXPECT_FALSE(store.ReadString("Controls", "Long", &s));
  ASSERT_TRUE(store.WriteString("Controls", "Long", std::string(4095, 'a')));
  EXPECT_TRUE(store.ReadString("Controls", "Long", &s));

  // Types are kept apart.
  ASSERT_TRUE(store.WriteInt("Settings", "KeyboardIdleMSecs", 250));
  std::int32_t v = 0;
  EXPECT_FALSE(store.ReadString("Settings", "KeyboardIdleMSecs", &s));
  EXPECT_FALSE(store.ReadInt("Controls", "LookIn", &v));
  ASSERT_TRUE(store.ReadInt("settings", "keyboardidlemsecs", &v));
  EXPECT_EQ(v, 250);
  EXPECT_TRUE(store.DeleteValue("Settings", "KeyboardIdleMSecs"));
  EXPECT_FALSE(store.DeleteValue("Settings", "KeyboardIdleMSecs"));
  EXPECT_FALSE(store.ReadInt("Settings", "KeyboardIdleMSecs", &v));
  store.Close();
  EXPECT_TRUE(store.ReadString("Controls", "LookIn", &s));  // usable after Close
}

// A write of what is already stored leaves the file alone (same inode,
// same times); a write that changes a value replaces it.
TEST(SettingsStoreTest, WritingWhatIsStoredLeavesTheFileUntouched) {
  ScopedTestEnv env;
  struct Stamp {
    ino_t inode;
    std::int64_t modified_ns;
    bool operator==(const Stamp&) const = default;
  };
  auto stamp = [] {
    struct stat st {};
    EXPECT_EQ(0, ::stat(platform::SettingsFilePath().c_str(), &st));
    return Stamp{st.st_ino, std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
  };
  const SettingsRect rect{1, 2, 300, 400};
  const FontSpec font = MakeFont("Sans", -12, 0, 400);
  const std::vector<std::string> list = {"C:\\Work", "D:\\"};
  struct Write {
    const char* what;
    std::function<bool(SettingsStore&, bool changed)> write;
  };
  const Write kWrites[] = {
      {"string", [](SettingsStore& s, bool c) { return s.WriteString("Controls", "LookIn", c ? "D:" : "C:"); }},
      {"integer", [](SettingsStore& s, bool c) { return s.WriteInt("View", "FileIcon", c ? 0 : 1); }},
      {"rectangle", [&](SettingsStore& s, bool c) {
         SettingsRect r = rect;
         if (c) r.right += 1;
         return s.WriteRect("FrameWindow", "Position", r);
       }},
      {"font", [&](SettingsStore& s, bool c) {
         return s.WriteFont("Controls", "Font", c ? MakeFont("Serif", -12, 0, 400) : font);
       }},
      {"list", [&](SettingsStore& s, bool c) {
         std::vector<std::string> items = list;
         if (c) items.pop_back();
         return s.WriteList("Controls", "LookIn_", items);
       }},
      {"view options", [](SettingsStore& s, bool c) {
         ViewOptions options = ViewOptions::Defaults();
         options.column_widths[0] = c ? 120 : 100;
         return SaveViewOptions(&s, options);
       }},
  };
  SettingsStore store;
  for (const Write& w : kWrites) ASSERT_TRUE(w.write(store, false)) << w.what;
  for (const Write& w : kWrites) {
    SCOPED_TRACE(w.what);
    const Stamp before = stamp();
    ASSERT_TRUE(w.write(store, false));
    EXPECT_EQ(before, stamp());
    ASSERT_TRUE(w.write(store, true));
    EXPECT_NE(before.inode, stamp().inode);
    ASSERT_TRUE(w.write(store, false));  // back as it was, for the next ones
  }
  // Deleting a value that is not there writes nothing either.
  const Stamp before = stamp();
  EXPECT_FALSE(store.DeleteValue("View", "NoSuchValue"));
  EXPECT_EQ(before, stamp());
}

TEST(SettingsStoreTest, ValuePathsSplitAtTheLastBackslash) {
  ScopedTestEnv env;
  SettingsStore store;
  ASSERT_TRUE(store.WriteString("Controls", "Sub\\Name", "v"));
  std::string s;
  ASSERT_TRUE(platform::SettingsReadString("Controls\\Sub", "Name", &s));
  EXPECT_EQ(s, "v");
  ASSERT_TRUE(store.ReadString("Controls\\Sub", "Name", &s));
  // An empty section names values directly under the product key.
  ASSERT_TRUE(store.WriteInt("", "Top", 3));
  std::int32_t v = 0;
  ASSERT_TRUE(platform::SettingsReadInt("", "Top", &v));
  EXPECT_EQ(v, 3);
  // A full path beyond 1,023 bytes is cut, as the fixed path buffer cuts it.
  std::string long_name(1100, 'n');
  ASSERT_TRUE(store.WriteInt("S", long_name, 9));
  std::string cut(1023 - std::strlen(kProductKey) - std::strlen("\\S\\"), 'n');
  ASSERT_TRUE(platform::SettingsReadInt("S", cut, &v));
  EXPECT_EQ(v, 9);
}

TEST(SettingsStoreTest, RectanglesRoundTripAndBadOnesFail) {
  ScopedTestEnv env;
  SettingsStore store;
  SettingsRect r{-8, 10, 1024, 768};
  ASSERT_TRUE(store.WriteRect("FrameWindow", "Position", r));
  std::string text;
  ASSERT_TRUE(store.ReadString("FrameWindow", "Position", &text));
  EXPECT_EQ(text, "-8,10,1024,768");
  SettingsRect got;
  ASSERT_TRUE(store.ReadRect("FrameWindow", "Position", &got));
  EXPECT_EQ(got, r);
  ASSERT_TRUE(FramePosition().has_value());
  EXPECT_EQ(*FramePosition(), r);

  const SettingsRect before{1, 2, 3, 4};
  for (const char* bad : {"100,10,100,20",  // left not less than right
                          "200,10,100,20", "0,20,10,20",  "0,30,10,20", "1,2,3",
                          "1,2,3,4,5",     "a,b,c,d",     "1;2;3;4",   "", "1 ,2,3,4",
                          "1,2,3,99999999999", "1,2,3,4junk"}) {
    ASSERT_TRUE(store.WriteString("FrameWindow", "Position", bad));
    got = before;
    EXPECT_FALSE(store.ReadRect("FrameWindow", "Position", &got)) << bad;
    EXPECT_EQ(got, before) << bad;
    EXPECT_FALSE(FramePosition().has_value()) << bad;
  }
  ASSERT_TRUE(store.WriteString("FrameWindow", "Position", " 1, 2, 3, 4 "));
  EXPECT_TRUE(store.ReadRect("FrameWindow", "Position", &got));
  ASSERT_TRUE(store.WriteInt("FrameWindow", "Position", 5));
  EXPECT_FALSE(store.ReadRect("FrameWindow", "Position", &got));
}

TEST(SettingsStoreTest, FontsRoundTripWithThePackedByteWord) {
  ScopedTestEnv env;
  SettingsStore store;
  FontSpec f = MakeFont("Courier New", -13, 0, 700);
  f.italic = 1;
  f.underline = 0;
  f.strike_out = 1;
  f.charset = 0xFF;  // the packed word is negative as %d
  ASSERT_TRUE(store.WriteFont("Controls", "Font", f));
  std::string text;
  ASSERT_TRUE(store.ReadString("Controls", "Font", &text));
  EXPECT_EQ(text, "Courier New,-13,0,700,-16711679");  // 0xFF010001
  FontSpec got;
  ASSERT_TRUE(store.ReadFont("Controls", "Font", &got));
  EXPECT_EQ(got, f);
  ASSERT_TRUE(ListFont().has_value());
  EXPECT_EQ(*ListFont(), f);

  // Italic is the low byte; the unsigned spelling of the word is accepted too.
  ASSERT_TRUE(store.WriteString("Controls", "Font", "Arial,12,0,400,4278190081"));
  ASSERT_TRUE(store.ReadFont("Controls", "Font", &got));
  EXPECT_EQ(got.italic, 1);
  EXPECT_EQ(got.underline, 0);
  EXPECT_EQ(got.charset, 0xFF);

  // A face name longer than the field is cut to 31 bytes and a NUL.
  std::string face(40, 'F');
  ASSERT_TRUE(store.WriteString("Controls", "Font", face + ",10,0,0,0"));
  ASSERT_TRUE(store.ReadFont("Controls", "Font", &got));
  EXPECT_EQ(std::string(got.face_name), std::string(31, 'F'));
}

TEST(SettingsStoreTest, BadFontsFailAsAWhole) {
  ScopedTestEnv env;
  SettingsStore store;
  const FontSpec before = MakeFont("Keep", 1, 2, 3);
  for (const char* bad : {"Arial", ",10,0,400,0", "Arial,0,0,400,0", "Arial,10,-1,400,0",
                          "Arial,10,0,-400,0", "Arial,10,0,400", "Arial,10,0,400,0,0",
                          "Arial,10,x,400,0", "Arial,10,0,400,4294967296", "Arial,,,,"}) {
    ASSERT_TRUE(store.WriteString("Controls", "Font", bad));
    FontSpec got = before;
    EXPECT_FALSE(store.ReadFont("Controls", "Font", &got)) << bad;
    EXPECT_EQ(got, before) << bad;
    EXPECT_FALSE(ListFont().has_value()) << bad;
  }
  // Faces that could not be read back are not written.
  std::string text;
  ASSERT_TRUE(store.WriteString("Controls", "Font", "unchanged"));
  EXPECT_FALSE(store.WriteFont("Controls", "Font", MakeFont("", 10, 0, 0)));
  EXPECT_FALSE(store.WriteFont("Controls", "Font", MakeFont("A,B", 10, 0, 0)));
  ASSERT_TRUE(store.ReadString("Controls", "Font", &text));
  EXPECT_EQ(text, "unchanged");
  // A face field without a NUL in its 32 bytes is read up to its end.
  FontSpec full;
  std::memset(full.face_name, 'Z', sizeof full.face_name);
  full.height = 8;
  ASSERT_TRUE(store.WriteFont("Controls", "Font", full));
  ASSERT_TRUE(store.ReadString("Controls", "Font", &text));
  EXPECT_EQ(text, std::string(32, 'Z') + ",8,0,0,0");
}

TEST(SettingsStoreTest, ListsReadUpToTheFirstGapAndWritesTrimStaleItems) {
  ScopedTestEnv env;
  SettingsStore store;
  ASSERT_TRUE(store.WriteString("Controls", "LookIn_1", "C:\\a"));
  ASSERT_TRUE(store.WriteString("Controls", "LookIn_2", "D:\\b"));
  ASSERT_TRUE(store.WriteString("Controls", "LookIn_4", "E:\\d"));
  std::vector<std::string> list = {"left over"};
  ASSERT_TRUE(store.ReadList("Controls", "LookIn_", &list));
  EXPECT_EQ(list, (std::vector<std::string>{"C:\\a", "D:\\b"}));

  // Missing list: false, and the list is emptied.
  EXPECT_FALSE(store.ReadList("Controls", "Named_", &list));
  EXPECT_TRUE(list.empty());
  // An item of the wrong type ends the list there.
  ASSERT_TRUE(store.WriteString("Controls", "Named_1", "x"));
  ASSERT_TRUE(store.WriteInt("Controls", "Named_2", 2));
  ASSERT_TRUE(store.WriteString("Controls", "Named_3", "z"));
  ASSERT_TRUE(store.ReadList("Controls", "Named_", &list));
  EXPECT_EQ(list, std::vector<std::string>{"x"});

  std::vector<std::string> five = {"1", "2", "3", "4", "5"};
  ASSERT_TRUE(store.WriteList("Controls", "Containing_", five));
  ASSERT_TRUE(store.ReadList("Controls", "Containing_", &list));
  EXPECT_EQ(list, five);
  ASSERT_TRUE(store.WriteList("Controls", "Containing_", std::vector<std::string>{"new1", "new2"}));
  ASSERT_TRUE(store.ReadList("Controls", "Containing_", &list));
  EXPECT_EQ(list, (std::vector<std::string>{"new1", "new2"}));
  std::string s;
  for (int i = 3; i <= 5; ++i)
    EXPECT_FALSE(store.ReadString("Controls", "Containing_" + std::to_string(i), &s)) << i;

  // Stale deletion stops at the first gap; an empty list clears from 1.
  ASSERT_TRUE(store.WriteList("Controls", "LookIn_", std::vector<std::string>()));
  EXPECT_FALSE(store.ReadList("Controls", "LookIn_", &list));
  EXPECT_TRUE(store.ReadString("Controls", "LookIn_4", &s));
}

TEST(SettingsStoreTest, StringListsKeepEmptyItemsAsEmpty) {
  ScopedTestEnv env;
  SettingsStore store;
  StringList list;
  list.Append("C:\\x");
  list.Append("");
  list.Append("last");
  ASSERT_TRUE(store.WriteList("Controls", "Named_", list));
  std::string s = "?";
  ASSERT_TRUE(store.ReadString("Controls", "Named_2", &s));
  EXPECT_EQ(s, "");
  StringList back;
  back.Append("old");
  ASSERT_TRUE(store.ReadList("Controls", "Named_", &back));
  ASSERT_EQ(back.Count(), 3u);
  EXPECT_EQ(back.Item(0), "C:\\x");
  EXPECT_EQ(back.Item(1), "");
  EXPECT_EQ(back.Item(2), "last");
  EXPECT_FALSE(store.ReadList("Controls", "Missing_", &back));
  EXPECT_TRUE(back.IsEmpty());
}

TEST(SettingsStoreTest, LongListsStayBounded) {
  ScopedTestEnv env;
  std::vector<std::string> many;
  for (int i = 0; i < 3000; ++i) many.push_back("item " + std::to_string(i));
  SettingsStore store;
  ASSERT_TRUE(store.WriteList("Controls", "Named_", many));
  std::vector<std::string> list;
  ASSERT_TRUE(store.ReadList("Controls", "Named_", &list));
  EXPECT_EQ(list, many);
  ASSERT_TRUE(store.WriteList("Controls", "Named_", std::vector<std::string>{"only"}));
  ASSERT_TRUE(store.ReadList("Controls", "Named_", &list));
  EXPECT_EQ(list, std::vector<std::string>{"only"});
  EXPECT_FALSE(store.WriteList("Controls", "Named_", std::vector<std::string>(0x7FFF, "x")));
}

TEST(SettingsStoreTest, DefaultsApplyWhenValuesAreMissingOrBad) {
  ScopedTestEnv env;
  EXPECT_EQ(KeyboardIdleMSecs(), 500);
  EXPECT_EQ(LookInSetting(), "C:");
  EXPECT_FALSE(FrameShowState().has_value());
  EXPECT_FALSE(FramePosition().has_value());
  EXPECT_FALSE(ListFont().has_value());
  EXPECT_FALSE(SplashDay().has_value());
  EXPECT_FALSE(QuickStartDay().has_value());
  EXPECT_EQ(StartupDir(), env.Path("data/Pemblet Software/Quindelo"));

  SettingsStore store;
  ASSERT_TRUE(store.WriteInt("Settings", "KeyboardIdleMSecs", -1));
  EXPECT_EQ(KeyboardIdleMSecs(), 500);
  ASSERT_TRUE(store.WriteInt("Settings", "KeyboardIdleMSecs", 0));
  EXPECT_EQ(KeyboardIdleMSecs(), 0);
  ASSERT_TRUE(store.WriteString("Settings", "KeyboardIdleMSecs", "100"));
  EXPECT_EQ(KeyboardIdleMSecs(), 500);

  ASSERT_TRUE(store.WriteString("Controls", "LookIn", ""));
  EXPECT_EQ(LookInSetting(), "C:");
  ASSERT_TRUE(store.WriteString("Controls", "LookIn", "D:\\work"));
  EXPECT_EQ(LookInSetting(), "D:\\work");
  ASSERT_TRUE(store.WriteString("Controls", "LookIn", std::string(4097, 'x')));
  EXPECT_EQ(LookInSetting(), "C:");

  for (int bad : {0, 10, -3}) {
    ASSERT_TRUE(store.WriteInt("FrameWindow", "Show", bad));
    EXPECT_FALSE(FrameShowState().has_value()) << bad;
  }
  ASSERT_TRUE(store.WriteInt("FrameWindow", "Show", 3));
  EXPECT_EQ(FrameShowState(), 3);
  ASSERT_TRUE(store.WriteInt("License", "SplashDay", 45000));
  EXPECT_EQ(SplashDay(), 45000);

  ASSERT_TRUE(store.WriteString("Settings", "StartupDir", "/srv/quindelo/"));
  EXPECT_EQ(StartupDir(), "/srv/quindelo");
}

TEST(SettingsStoreTest, ViewOptionsLoadWithDefaultsAndSaveOnlyPositiveWidths) {
  ScopedTestEnv env;
  SettingsStore store;
  ViewOptions fresh = LoadViewOptions(&store);
  EXPECT_EQ(fresh.ToArray(),
            (std::array<std::int32_t, 13>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1}));
  EXPECT_EQ(fresh, ViewOptions::Defaults());

  ViewOptions o;
  o.show_icon = 0;
  o.show_size = 1;
  o.column_widths = {120, 0, -5, 60, 0};
  o.sort_column = 3;
  o.sort_descending = 1;
  o.include_subfolders = 0;
  ASSERT_TRUE(SaveViewOptions(&store, o));
  std::int32_t v;
  EXPECT_FALSE(store.ReadInt("ColumnWidths", "Folder", &v));
  EXPECT_FALSE(store.ReadInt("ColumnWidths", "Type", &v));
  ASSERT_TRUE(store.ReadInt("ColumnWidths", "Size", &v));
  EXPECT_EQ(v, 60);
  ViewOptions back = LoadViewOptions(&store);
  ViewOptions expected = o;
  expected.column_widths[2] = 0;  // not written, so read back as 0
  EXPECT_EQ(back, expected);

  // A value of the wrong type reads as missing and takes its default.
  ASSERT_TRUE(store.WriteString("View", "SortColumn", "2"));
  ASSERT_TRUE(store.WriteString("View", "FileIcon", "0"));
  back = LoadViewOptions(&store);
  EXPECT_EQ(back.sort_column, 1);
  EXPECT_EQ(back.show_icon, 1);
  // An out-of-range sort key is kept as stored but sorts by Folder.
  ASSERT_TRUE(store.WriteInt("View", "SortColumn", 77));
  back = LoadViewOptions(&store);
  EXPECT_EQ(back.sort_column, 77);
  EXPECT_EQ(back.SortKey(), kColumnFolder);
}

}  // namespace
}  // namespace quindelo
