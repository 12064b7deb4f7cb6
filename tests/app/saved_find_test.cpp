// Saved finds: the 17-line file byte for byte, tolerant reading of damaged
// files, and the default find's settings rules.
#include "app/saved_find.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "app/settings_store.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

using test::ReadWholeFile;
using test::ScopedTestEnv;
using test::WriteTextFile;

SavedFind SampleFind() {
  SavedFind f;
  f.look_in = "C:\\Projects";
  f.named = "*.cpp;*.h";
  f.containing = "\"lock\" NEAR mutex";
  f.options.show_icon = 0;
  f.options.show_extension = 1;
  f.options.show_size = 1;
  f.options.column_widths = {150, 300, 0, 80, -1};
  f.options.sort_column = 3;
  f.options.sort_descending = 1;
  f.options.include_subfolders = 0;
  return f;
}

const char kSampleFile[] =
    "Pemblet Software Quindelo File\r\n"
    "C:\\Projects\r\n"
    "*.cpp;*.h\r\n"
    "\"lock\" NEAR mutex\r\n"
    "0\r\n1\r\n0\r\n1\r\n0\r\n"
    "150\r\n300\r\n0\r\n80\r\n-1\r\n"
    "3\r\n1\r\n0\r\n";

TEST(SavedFindTest, WritesTheSeventeenLinesByteForByteAndReadsThemBack) {
  ScopedTestEnv env;
  std::string path = env.Path("find.qnd");
  ASSERT_TRUE(SaveSavedFind(path, SampleFind()));
  EXPECT_EQ(ReadWholeFile(path), kSampleFile);
  SavedFind back;
  std::string warning;
  ASSERT_EQ(LoadSavedFind(path, &back, &warning), SavedFindLoad::kOk);
  EXPECT_EQ(back, SampleFind());
  EXPECT_TRUE(warning.empty());

  // An empty containing text is an empty line 4 and reads back empty.
  SavedFind plain = SampleFind();
  plain.containing.clear();
  ASSERT_TRUE(SaveSavedFind(path, plain));
  std::string text = ReadWholeFile(path);
  EXPECT_NE(text.find("*.cpp;*.h\r\n\r\n0\r\n"), std::string::npos);
  ASSERT_EQ(LoadSavedFind(path, &back, &warning), SavedFindLoad::kOk);
  EXPECT_EQ(back, plain);

  // Saving over the file leaves no temporary file and keeps its permissions.
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(SaveSavedFind(path, SampleFind()));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_FALSE(SaveSavedFind(env.Path("no/such/folder/x.qnd"), SampleFind()));
}

TEST(SavedFindTest, TextsThatWouldBreakTheLinesAreFlattened) {
  ScopedTestEnv env;
  SavedFind f = SampleFind();
  f.named = "a\r\nb";
  f.containing = std::string("x\0y", 3);
  std::string text = FormatSavedFind(f);
  EXPECT_NE(text.find("\r\na  b\r\nx\r\n0\r\n"), std::string::npos) << text;
  SavedFind back;
  ASSERT_EQ(ParseSavedFind(text, &back), SavedFindLoad::kOk);
  EXPECT_EQ(back.named, "a  b");
  EXPECT_EQ(back.containing, "x");
  EXPECT_EQ(back.options, f.options);

  // A CR inside a line of a file reads as the space it would be written as,
  // so the find saved again reads back the same (the last CR ends the line).
  std::string file = FormatSavedFind(SampleFind());
  file.replace(file.find("mutex\r\n"), 7, "mu\rtex\r\r\n");
  ASSERT_EQ(ParseSavedFind(file, &back), SavedFindLoad::kOk);
  EXPECT_EQ(back.containing, "\"lock\" NEAR mu tex ");
  SavedFind again;
  ASSERT_EQ(ParseSavedFind(FormatSavedFind(back), &again), SavedFindLoad::kOk);
  EXPECT_EQ(again, back);
}

TEST(SavedFindTest, WrongFirstLineIsRefusedWithTheWarning) {
  ScopedTestEnv env;
  std::string path = env.Path("50% off.qnd");
  std::string wrong_case = kSampleFile;
  wrong_case.replace(0, 7, "pemblet");
  const SavedFind before = SampleFind();
  for (const std::string& contents :
       {wrong_case, std::string(), std::string("\r\n"), std::string(" Pemblet Software Quindelo File\r\n"),
        std::string("Pemblet Software Quindelo File \r\n"), std::string("\xef\xbb\xbf") + kSampleFile,
        std::string("Pemblet Software Quindelo\r\n")}) {
    WriteTextFile(path, contents);
    SavedFind find = before;
    std::string warning;
    ASSERT_EQ(LoadSavedFind(path, &find, &warning), SavedFindLoad::kNotQuindeloFile) << contents;
    EXPECT_EQ(warning, "File \"" + path + "\" is not a Quindelo file.");
    EXPECT_EQ(find, before);
  }
  SavedFind find;
  std::string warning;
  EXPECT_EQ(LoadSavedFind(env.Path("missing.qnd"), &find, &warning), SavedFindLoad::kReadFailed);
  EXPECT_EQ(LoadSavedFind(env.root(), &find, &warning), SavedFindLoad::kReadFailed);
  EXPECT_TRUE(warning.empty());
}

TEST(SavedFindTest, DamagedFilesReadWithoutHarm) {
  ScopedTestEnv env;
  SavedFind find;

  // Cut short after the named text: the rest is empty and 0.
  ASSERT_EQ(ParseSavedFind("Pemblet Software Quindelo File\r\nD:\\\r\n*.txt", &find),
            SavedFindLoad::kOk);
  EXPECT_EQ(find.look_in, "D:\\");
  EXPECT_EQ(find.named, "*.txt");
  EXPECT_EQ(find.containing, "");
  EXPECT_EQ(find.options.ToArray(), (std::array<std::int32_t, 13>{}));

  // Signature alone, with LF endings only.
  ASSERT_EQ(ParseSavedFind("Pemblet Software Quindelo File\n", &find), SavedFindLoad::kOk);
  EXPECT_EQ(find.look_in, "");

  // Numbers that are not numbers, signs, spaces, overflow, long lines.
  std::string numbers = "Pemblet Software Quindelo File\nL\nN\nC\n"
                        "abc\n 12xyz\n-7\n+5\n\n" +
                        std::string(100, '9') + "\n-99999999999\n2147483647\n-2147483648\n"
                        "0x10\n 1 2\n--1\n3.9\nignored extra\n";
  ASSERT_EQ(ParseSavedFind(numbers, &find), SavedFindLoad::kOk);
  EXPECT_EQ(find.options.ToArray(),
            (std::array<std::int32_t, 13>{0, 12, -7, 5, 0, INT32_MAX, INT32_MIN, INT32_MAX,
                                          INT32_MIN, 0, 1, 0, 3}));

  // Overlong texts are cut to 259 bytes; a NUL ends a text.
  std::string long_text(5000, 'L');
  ASSERT_EQ(ParseSavedFind("Pemblet Software Quindelo File\r\n" + long_text + "\r\n" +
                               std::string("ab\0cd", 5) + "\r\n",
                           &find),
            SavedFindLoad::kOk);
  EXPECT_EQ(find.look_in, std::string(259, 'L'));
  EXPECT_EQ(find.named, "ab");

  // 10,000 lines: only the first 17 count.
  std::string many = kSampleFile;
  for (int i = 0; i < 10000; ++i) many += std::to_string(i) + "\r\n";
  std::string path = env.Path("many.qnd");
  WriteTextFile(path, many);
  std::string warning;
  ASSERT_EQ(LoadSavedFind(path, &find, &warning), SavedFindLoad::kOk);
  EXPECT_EQ(find, SampleFind());

  // A binary file of any size is refused after one bounded read; one that
  // happens to start with the signature reads what follows as texts.
  std::string binary;
  unsigned x = 7;
  for (int i = 0; i < 300000; ++i) {
    x = x * 1664525u + 1013904223u;
    binary += static_cast<char>(x >> 24);
  }
  WriteTextFile(path, binary);
  EXPECT_EQ(LoadSavedFind(path, &find, &warning), SavedFindLoad::kNotQuindeloFile);
  WriteTextFile(path, std::string(kSavedFindSignature) + "\n" + binary);
  EXPECT_EQ(LoadSavedFind(path, &find, &warning), SavedFindLoad::kOk);
  EXPECT_LE(find.look_in.size(), kSavedFindTextMax);
}

TEST(SavedFindTest, DefaultFindComesFromAndGoesToTheSettings) {
  ScopedTestEnv env;
  SavedFind fresh = LoadDefaultFind();
  EXPECT_EQ(fresh.look_in, "C:");
  EXPECT_TRUE(fresh.named.empty());
  EXPECT_TRUE(fresh.containing.empty());
  EXPECT_EQ(fresh.options, ViewOptions::Defaults());

  SavedFind f = SampleFind();
  f.look_in = std::string(300, 'p');
  ASSERT_TRUE(SaveDefaultFind(f));
  SavedFind back = LoadDefaultFind();
  EXPECT_EQ(back.look_in, std::string(259, 'p'));
  EXPECT_TRUE(back.named.empty());  // texts other than look-in are not kept
  ViewOptions expected = f.options;
  expected.column_widths[4] = 0;  // -1 is not written
  EXPECT_EQ(back.options, expected);
}

TEST(SavedFindTest, DocumentKeepsOptionsOfOpenedFindsOutOfTheSettings) {
  ScopedTestEnv env;
  FindDocument doc;
  SavedFind data = doc.NewFind();
  EXPECT_TRUE(doc.is_default_find());
  EXPECT_FALSE(doc.AsksToSaveChanges());
  EXPECT_EQ(data.look_in, "C:");

  // Saving the default find writes the file and its options to the settings.
  data.look_in = "D:\\Docs";
  data.named = "report";
  data.options.show_date = 1;
  std::string path = env.Path("saved.qnd");
  ASSERT_TRUE(doc.Save(path, data));
  EXPECT_TRUE(doc.is_default_find());
  EXPECT_EQ(LoadDefaultFind().options.show_date, 1);
  EXPECT_EQ(LookInSetting(), "D:\\Docs");

  // Opening it gives equal texts and numbers; the form's last default data
  // are kept first; the document is then no longer the default find.
  SavedFind form = data;
  form.options.show_type = 1;
  SavedFind opened;
  std::string warning;
  ASSERT_EQ(doc.Open(path, form, &opened, &warning), FindDocument::OpenResult::kOk);
  EXPECT_EQ(opened, data);
  EXPECT_FALSE(doc.is_default_find());
  EXPECT_TRUE(doc.AsksToSaveChanges());
  EXPECT_EQ(LoadDefaultFind().options.show_type, 1);

  // Changes to an opened find stay out of the settings.
  opened.options.show_size = 1;
  opened.look_in = "E:\\";
  ASSERT_TRUE(doc.Save(path, opened));
  doc.FormClosing(opened);
  EXPECT_EQ(LoadDefaultFind().options.show_size, 0);
  EXPECT_EQ(LookInSetting(), "D:\\Docs");

  // A file that is not a saved find: load failed, data unchanged, not default.
  std::string junk = env.Path("junk.qnd");
  WriteTextFile(junk, "hello\r\n");
  SavedFind kept = opened;
  ASSERT_EQ(doc.Open(junk, opened, &kept, &warning), FindDocument::OpenResult::kNotQuindeloFile);
  EXPECT_TRUE(doc.load_failed());
  EXPECT_EQ(kept, opened);
  EXPECT_EQ(warning, "File \"" + junk + "\" is not a Quindelo file.");

  // New Find makes it the default find again; a failed open of the default
  // find still leaves it not default, and an unreadable file changes nothing.
  doc.NewFind();
  EXPECT_TRUE(doc.is_default_find());
  EXPECT_FALSE(doc.load_failed());
  EXPECT_EQ(doc.Open(env.Path("absent.qnd"), form, &kept, &warning),
            FindDocument::OpenResult::kReadFailed);
  EXPECT_TRUE(doc.is_default_find());
  EXPECT_EQ(doc.Open(junk, form, &kept, &warning), FindDocument::OpenResult::kNotQuindeloFile);
  EXPECT_FALSE(doc.is_default_find());
}

}  // namespace
}  // namespace quindelo
