// Found files: creation with shared folder texts, full paths, fetching of
// details from the file system and through a type provider, the order of
// rows under every sort key, and the sorted insertion search.
#include "search/found_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/folder.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

std::uint64_t FileTimeOfUnixSeconds(std::int64_t seconds) {
  return platform::kUnixEpochAsFileTime + static_cast<std::uint64_t>(seconds) * 10000000u;
}

void SetModificationTime(const std::string& native_path, std::int64_t seconds) {
  struct timespec times[2];
  times[0].tv_sec = seconds;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  ASSERT_EQ(0, utimensat(AT_FDCWD, native_path.c_str(), times, AT_SYMLINK_NOFOLLOW));
}

TEST(FoundFileCreation, SplitsFolderAndNameWithNothingFetched) {
  ResultsPool pool;
  CurrentFolder current;
  FoundFile* file = pool.AddFoundFile("C:\\dir\\sub\\notes.txt", &current);
  EXPECT_STREQ("C:\\dir\\sub", file->folder);
  EXPECT_STREQ("notes.txt", file->name());
  EXPECT_EQ(FoundFile::kIconNotFetched, file->icon);
  EXPECT_EQ(nullptr, file->type);
  EXPECT_EQ(FoundFile::kSizeNotFetched, file->size);
  EXPECT_FALSE(file->size_fetched());

  FoundFile* root = pool.AddFoundFile("C:\\boot.ini", &current);
  EXPECT_STREQ("C:\\", root->folder);
  EXPECT_STREQ("boot.ini", root->name());
  EXPECT_EQ("C:\\boot.ini", FullPath(*root));
  EXPECT_EQ("C:\\dir\\sub\\notes.txt", FullPath(*file));

  // Malformed texts still give a record, never a read past the text.
  FoundFile* bare = pool.AddFoundFile("name", &current);
  EXPECT_STREQ("nam", bare->folder);
  EXPECT_STREQ("name", bare->name());
  FoundFile* empty = pool.AddFoundFile("", &current);
  EXPECT_STREQ("", empty->folder);
  EXPECT_STREQ("", empty->name());
}

TEST(FoundFileCreation, ConsecutiveFilesOfOneFolderShareItsText) {
  ResultsPool pool;
  CurrentFolder current;
  FoundFile* a = pool.AddFoundFile("C:\\dir\\a", &current);
  FoundFile* b = pool.AddFoundFile("C:\\dir\\b", &current);
  EXPECT_EQ(a->folder, b->folder);
  // A folder whose text merely starts the same is another folder.
  FoundFile* c = pool.AddFoundFile("C:\\dir2\\c", &current);
  EXPECT_NE(a->folder, c->folder);
  EXPECT_STREQ("C:\\dir2", c->folder);
  FoundFile* d = pool.AddFoundFile("C:\\dir\\d", &current);
  EXPECT_NE(a->folder, d->folder);
  EXPECT_STREQ("C:\\dir", d->folder);
  // Root files share "C:\" too.
  EXPECT_EQ(pool.AddFoundFile("C:\\x", &current)->folder,
            pool.AddFoundFile("C:\\y", &current)->folder);
}

TEST(FoundFileCreation, StaleCurrentFolderIsNeverShared) {
  ResultsPool pool;
  CurrentFolder current;
  pool.AddFoundFile("C:\\dir\\a", &current);
  pool.Clear();
  // The driver forgot to forget: the old text must not be reused.
  FoundFile* b = pool.AddFoundFile("C:\\dir\\b", &current);
  EXPECT_STREQ("C:\\dir", b->folder);
  EXPECT_EQ(pool.AddFoundFile("C:\\dir\\c", &current)->folder, b->folder);
}

TEST(FoundFileCreation, RecordsAreAlignedAndLongNamesFit) {
  ResultsPool pool;
  CurrentFolder current;
  std::vector<FoundFile*> files;
  for (int i = 0; i < 3000; ++i) {
    std::string path = "D:\\f" + std::to_string(i % 7) + "\\" + std::string(i % 13 + 1, 'n');
    FoundFile* f = pool.AddFoundFile(path, &current);
    ASSERT_EQ(0u, reinterpret_cast<std::uintptr_t>(f) % alignof(FoundFile));
    f->last_write = i;  // writes through a misaligned record would trap under UBSan
    files.push_back(f);
  }
  for (int i = 0; i < 3000; ++i) {
    EXPECT_EQ(std::string(i % 13 + 1, 'n'), files[i]->name());
    EXPECT_EQ(static_cast<std::uint64_t>(i), files[i]->last_write);
  }
  std::string long_name(20000, 'z');
  FoundFile* big = pool.AddFoundFile("C:\\d\\" + long_name, &current);
  EXPECT_EQ(long_name, big->name());
  EXPECT_EQ(kMaxFoundPathLength, FullPath(*big).size());
  EXPECT_EQ("C:\\d\\zzz", FullPath(*big).substr(0, 8));
}

// Orders records whose details are already filled in.
class FoundFileOrder : public ::testing::Test {
 protected:
  FoundFile* Add(const std::string& path, std::uint32_t size = 0, std::uint64_t time = 0,
                 const char* type = kEmptyTypeText) {
    FoundFile* f = pool_.AddFoundFile(path, &current_);
    f->size = size;
    f->last_write = time;
    f->type = type;
    return f;
  }
  int Compare(FoundFile* a, FoundFile* b, SortKey key, bool descending = false) {
    return CompareFoundFiles(a, b, SortOrder{key, descending}, &pool_);
  }
  ResultsPool pool_;
  CurrentFolder current_;
};

TEST_F(FoundFileOrder, NameThenFolderAndFolderThenName) {
  FoundFile* x_in_b = Add("C:\\b\\x.txt");
  FoundFile* y_in_a = Add("C:\\a\\y.txt");
  FoundFile* x_in_a = Add("C:\\A\\X.TXT");  // ties x_in_b's name, case folded
  EXPECT_LT(Compare(x_in_b, y_in_a, SortKey::kName), 0);
  EXPECT_LT(Compare(x_in_a, x_in_b, SortKey::kName), 0);
  EXPECT_GT(Compare(x_in_b, x_in_a, SortKey::kName), 0);

  EXPECT_GT(Compare(x_in_b, y_in_a, SortKey::kFolder), 0);
  EXPECT_LT(Compare(x_in_a, y_in_a, SortKey::kFolder), 0);  // same folder, by name
  EXPECT_EQ(0, Compare(x_in_a, Add("C:\\a\\x.txt"), SortKey::kFolder));
  EXPECT_EQ(0, Compare(x_in_a, Add("C:\\a\\x.txt"), SortKey::kName));

  // Letters compare folded to lower case: "_" (0x5F) sorts before "Z"
  // (0x7A once folded) although it follows 0x5A; other bytes are unsigned.
  EXPECT_LT(Compare(Add("C:\\a\\_"), Add("C:\\a\\a"), SortKey::kName), 0);
  EXPECT_LT(Compare(Add("C:\\a\\_"), Add("C:\\a\\Z0"), SortKey::kName), 0);
  EXPECT_LT(Compare(Add("C:\\a\\\x7f"), Add("C:\\a\\\xe9"), SortKey::kName), 0);
}

TEST_F(FoundFileOrder, DescendingReversesTieBreaksToo) {
  FoundFile* a = Add("C:\\a\\same", 10);
  FoundFile* b = Add("C:\\b\\same", 10);
  for (SortKey key : {SortKey::kName, SortKey::kFolder, SortKey::kType, SortKey::kSize,
                      SortKey::kDate}) {
    SCOPED_TRACE(static_cast<int>(key));
    EXPECT_LT(Compare(a, b, key), 0);
    EXPECT_GT(Compare(a, b, key, true), 0);
    EXPECT_EQ(0, Compare(a, a, key, true));
  }
}

TEST_F(FoundFileOrder, SizeComparesAsUnsignedWithTieBreaks) {
  FoundFile* small = Add("C:\\z\\small", 100);
  FoundFile* huge = Add("C:\\a\\huge", 0xF0000000u);  // over 2 GB
  FoundFile* mid = Add("C:\\a\\mid", 0x7FFFFFFFu);
  EXPECT_LT(Compare(small, huge, SortKey::kSize), 0);
  EXPECT_LT(Compare(mid, huge, SortKey::kSize), 0);
  EXPECT_GT(Compare(huge, small, SortKey::kSize), 0);
  EXPECT_LT(Compare(Add("C:\\z\\zero", 0), small, SortKey::kSize), 0);
  EXPECT_GT(Compare(small, huge, SortKey::kSize, true), 0);
  // Equal sizes: folder, then name.
  EXPECT_LT(Compare(Add("C:\\a\\q", 5), Add("C:\\b\\a", 5), SortKey::kSize), 0);
  EXPECT_LT(Compare(Add("C:\\b\\a", 5), Add("C:\\b\\q", 5), SortKey::kSize), 0);
}

TEST_F(FoundFileOrder, DateComparesUpper32BitsOnly) {
  const std::uint64_t base = 0x01D0000000000000ull;
  FoundFile* late_low = Add("C:\\a\\b", 0, base + 0xFFFFFFFFull);
  FoundFile* early_low = Add("C:\\b\\a", 0, base);
  // Differ only in the low 32 bits (about 429 s apart): a tie, so folder
  // order decides, although early_low was written earlier.
  EXPECT_LT(Compare(late_low, early_low, SortKey::kDate), 0);
  EXPECT_GT(Compare(late_low, early_low, SortKey::kDate, true), 0);
  FoundFile* next_step = Add("C:\\a\\a", 0, base + 0x100000000ull);
  EXPECT_GT(Compare(next_step, late_low, SortKey::kDate), 0);
  EXPECT_GT(Compare(next_step, early_low, SortKey::kDate), 0);
  // A vanished file (time 0) and far-future times stay in order.
  FoundFile* gone = Add("C:\\z\\gone", 0, 0);
  FoundFile* future = Add("C:\\a\\future", 0, 0xFFFFFFFF00000000ull);
  EXPECT_LT(Compare(gone, early_low, SortKey::kDate), 0);
  EXPECT_GT(Compare(future, next_step, SortKey::kDate), 0);
  EXPECT_LT(Compare(gone, future, SortKey::kDate), 0);
}

TEST_F(FoundFileOrder, TypeComparesTextsCaseInsensitively) {
  FoundFile* doc = Add("C:\\z\\a", 0, 0, "DOC File");
  FoundFile* txt = Add("C:\\a\\b", 0, 0, "txt file");
  FoundFile* txt2 = Add("C:\\a\\a", 0, 0, "TXT File");
  FoundFile* none = Add("C:\\z\\z");
  EXPECT_LT(Compare(doc, txt, SortKey::kType), 0);
  EXPECT_GT(Compare(txt, txt2, SortKey::kType), 0);  // tie on type, then by name
  EXPECT_LT(Compare(none, doc, SortKey::kType), 0);
}

TEST(FindInsertRow, ProbesLastRowFirstAndKeepsArrivalOrderOfTies) {
  std::vector<int> rows = {1, 3, 3, 5};
  auto place = [&](int value, int* probes, std::size_t* row) {
    *probes = 0;
    return FindInsertRow(
        rows.size(),
        [&](std::size_t r) {
          ++*probes;
          return value < rows[r] ? -1 : (value > rows[r] ? 1 : 0);
        },
        [] { return true; }, row);
  };
  int probes = 0;
  std::size_t row = 99;
  ASSERT_TRUE(place(9, &probes, &row));
  EXPECT_EQ(4u, row);
  EXPECT_EQ(1, probes);  // sorted arrival: one comparison
  ASSERT_TRUE(place(3, &probes, &row));
  EXPECT_EQ(3u, row);  // after the equal ones
  ASSERT_TRUE(place(0, &probes, &row));
  EXPECT_EQ(0u, row);
  ASSERT_TRUE(place(4, &probes, &row));
  EXPECT_EQ(3u, row);

  rows.clear();
  ASSERT_TRUE(place(4, &probes, &row));
  EXPECT_EQ(0u, row);
  EXPECT_EQ(0, probes);

  rows = {1, 2, 3};
  int asked = 0;
  EXPECT_FALSE(FindInsertRow(
      rows.size(), [](std::size_t) { return -1; }, [&] { return ++asked < 2; }, &row));
  EXPECT_EQ(2, asked);
}

TEST(FindInsertRow, BuildsTheSameOrderAsASort) {
  ResultsPool pool;
  CurrentFolder current;
  std::vector<FoundFile*> rows;
  SortOrder order{SortKey::kFolder, false};
  unsigned seed = 12345;
  for (int i = 0; i < 500; ++i) {
    seed = seed * 1103515245u + 12345u;
    std::string path = "C:\\f" + std::to_string((seed >> 8) % 9) + "\\n" +
                       std::to_string((seed >> 16) % 50);
    FoundFile* f = pool.AddFoundFile(path, &current);
    std::size_t row = 0;
    ASSERT_TRUE(FindInsertRow(
        rows.size(), [&](std::size_t r) { return CompareFoundFiles(f, rows[r], order, &pool); },
        [] { return true; }, &row));
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(row), f);
  }
  for (std::size_t i = 1; i < rows.size(); ++i)
    EXPECT_LE(CompareFoundFiles(rows[i - 1], rows[i], order, &pool), 0) << i;
}

// Counts calls and answers as configured.
class FakeTypeProvider : public FileTypeProvider {
 public:
  bool IconIndex(const std::string& native, std::int32_t* icon) const override {
    ++icon_calls;
    last_native = native;
    if (icon_answer < 0) return false;
    *icon = icon_answer;
    return true;
  }
  bool TypeName(const std::string&, std::string* type) const override {
    ++type_calls;
    if (type_name.empty()) return false;
    *type = type_name;
    return true;
  }
  bool ExtensionClassDescription(const std::string& extension,
                                 std::string* description) const override {
    asked_extension = extension;
    if (class_text.empty()) return false;
    *description = class_text;
    return true;
  }
  mutable int icon_calls = 0;
  mutable int type_calls = 0;
  mutable std::string last_native;
  mutable std::string asked_extension;
  std::int32_t icon_answer = -1;
  std::string type_name;
  std::string class_text;
};

TEST(FetchFileDetails, SizeAndDateOfARealFileFetchedOnce) {
  test::ScopedTestEnv env;
  std::string root = env.MakeDrive('T', "drive");
  test::WriteTextFile(root + "/a.txt", "hello");
  SetModificationTime(root + "/a.txt", 1000000000);

  ResultsPool pool;
  CurrentFolder current;
  FoundFile* f = pool.AddFoundFile("T:\\a.txt", &current);
  FetchFileDetails(f, FileDetail::kSizeAndDate, &pool);
  EXPECT_EQ(5u, f->size);
  EXPECT_EQ(FileTimeOfUnixSeconds(1000000000), f->last_write);

  // Details stay once fetched, even when the file changes.
  test::WriteTextFile(root + "/a.txt", "longer text");
  FetchFileDetails(f, FileDetail::kSizeAndDate, &pool);
  EXPECT_EQ(5u, f->size);

  test::MakeFolder(root + "/sub");
  test::WriteTextFile(root + "/sub/b.bin", std::string(70000, 'x'));
  FoundFile* b = pool.AddFoundFile("T:\\sub\\b.bin", &current);
  FetchFileDetails(b, FileDetail::kSizeAndDate, &pool);
  EXPECT_EQ(70000u, b->size);
  EXPECT_NE(0u, b->last_write);

  // A folder row has size 0 (not its st_size), and its date.
  FoundFile* sub = pool.AddFoundFile("T:\\sub", &current);
  FetchFileDetails(sub, FileDetail::kSizeAndDate, &pool);
  EXPECT_EQ(0u, sub->size);
  EXPECT_NE(0u, sub->last_write);
}

TEST(FetchFileDetails, VanishedFileOrUnknownDriveGivesZeros) {
  test::ScopedTestEnv env;
  std::string root = env.MakeDrive('T', "drive");
  test::WriteTextFile(root + "/gone.txt", "x");
  ResultsPool pool;
  CurrentFolder current;
  FoundFile* gone = pool.AddFoundFile("T:\\gone.txt", &current);
  ASSERT_EQ(0, unlink((root + "/gone.txt").c_str()));
  FetchFileDetails(gone, FileDetail::kSizeAndDate, &pool);
  EXPECT_EQ(0u, gone->size);
  EXPECT_EQ(0u, gone->last_write);
  EXPECT_TRUE(gone->size_fetched());

  FoundFile* elsewhere = pool.AddFoundFile("Q:\\x.txt", &current);
  FetchFileDetails(elsewhere, FileDetail::kSizeAndDate, &pool);
  EXPECT_EQ(0u, elsewhere->size);
  EXPECT_EQ(0u, elsewhere->last_write);
  FetchFileDetails(elsewhere, FileDetail::kIcon, &pool);
  EXPECT_EQ(0, elsewhere->icon);
}

TEST(FetchFileDetails, SortBySizeFetchesWhatItNeeds) {
  test::ScopedTestEnv env;
  std::string root = env.MakeDrive('T', "drive");
  test::WriteTextFile(root + "/big", std::string(300, 'x'));
  test::WriteTextFile(root + "/little", "x");
  ResultsPool pool;
  CurrentFolder current;
  FoundFile* big = pool.AddFoundFile("T:\\big", &current);
  FoundFile* little = pool.AddFoundFile("T:\\little", &current);
  EXPECT_GT(CompareFoundFiles(big, little, SortOrder{SortKey::kSize, false}, &pool), 0);
  EXPECT_EQ(300u, big->size);
  EXPECT_EQ(1u, little->size);
  EXPECT_FALSE(big->type_fetched());
}

TEST(FetchFileDetails, DefaultTypeNamesTheExtension) {
  ResultsPool pool;
  CurrentFolder current;
  FoundFile* txt = pool.AddFoundFile("C:\\d\\report.final.txt", &current);
  FoundFile* readme = pool.AddFoundFile("C:\\d\\README", &current);
  FoundFile* dotted = pool.AddFoundFile("C:\\d\\odd.", &current);
  for (FoundFile* f : {txt, readme, dotted}) FetchFileDetails(f, FileDetail::kType, &pool);
  EXPECT_STREQ("TXT File", txt->type);
  EXPECT_EQ(kEmptyTypeText, readme->type);
  EXPECT_EQ(kEmptyTypeText, dotted->type);
  FetchFileDetails(txt, FileDetail::kIcon, &pool);
  EXPECT_EQ(0, txt->icon);
}

TEST(FetchFileDetails, ProviderTypeThenClassFallbackThenEmpty) {
  test::ScopedTestEnv env;
  std::string root = env.MakeDrive('T', "drive");
  FakeTypeProvider provider;
  ResultsPool pool(&provider);
  CurrentFolder current;

  provider.type_name = "Plain text document";
  provider.icon_answer = 7;
  FoundFile* named = pool.AddFoundFile("T:\\sub\\a.txt", &current);
  FetchFileDetails(named, FileDetail::kType, &pool);
  FetchFileDetails(named, FileDetail::kType, &pool);
  EXPECT_STREQ("Plain text document", named->type);
  EXPECT_EQ(1, provider.type_calls);
  FetchFileDetails(named, FileDetail::kIcon, &pool);
  FetchFileDetails(named, FileDetail::kIcon, &pool);
  EXPECT_EQ(7, named->icon);
  EXPECT_EQ(1, provider.icon_calls);
  EXPECT_EQ(root + "/sub/a.txt", provider.last_native);

  provider.type_name.clear();
  provider.class_text = "Word Document";
  FoundFile* fallback = pool.AddFoundFile("T:\\report.final.doc", &current);
  FetchFileDetails(fallback, FileDetail::kType, &pool);
  EXPECT_EQ(".doc", provider.asked_extension);
  EXPECT_STREQ("Word Document", fallback->type);

  provider.class_text.clear();
  FoundFile* unknown = pool.AddFoundFile("T:\\a.zzz", &current);
  FetchFileDetails(unknown, FileDetail::kType, &pool);
  EXPECT_EQ(kEmptyTypeText, unknown->type);

  // No extension: no class lookup at all.
  provider.asked_extension.clear();
  provider.class_text = "Should not be used";
  FoundFile* plain = pool.AddFoundFile("T:\\Makefile", &current);
  FetchFileDetails(plain, FileDetail::kType, &pool);
  EXPECT_EQ(kEmptyTypeText, plain->type);
  EXPECT_EQ("", provider.asked_extension);

  // Overlong texts are cut; a failed icon is 0.
  provider.type_name = std::string(500, 't');
  provider.icon_answer = -1;
  FoundFile* longtype = pool.AddFoundFile("T:\\b.txt", &current);
  FetchFileDetails(longtype, FileDetail::kType, &pool);
  FetchFileDetails(longtype, FileDetail::kIcon, &pool);
  EXPECT_EQ(79u, std::string(longtype->type).size());
  EXPECT_EQ(0, longtype->icon);
}

}  // namespace
}  // namespace quindelo
