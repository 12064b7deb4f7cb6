// The index find's pass over a folder's entry list (NameFilter with the
// EntryNameWalker) finds exactly the entries that matching every name with
// PatternSet::match finds, and ends a broken list exactly where EntryIterator
// ends it.
#include "index/name_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "index/index_records.h"
#include "index/pattern_set.h"

namespace quindelo {
namespace {

namespace fmt = index_format;

struct Entry {
  std::string name;
  bool folder = false;
  std::uint16_t child = 0;
};

// A folder record holding the entries in the order given (the find does not
// rely on their order).
std::vector<std::uint8_t> Record(const std::vector<Entry>& entries) {
  FolderRecordBuilder builder;
  EXPECT_TRUE(builder.Begin(9, 0, 4, "folder"));
  for (const Entry& e : entries)
    EXPECT_NE(e.folder ? builder.AddFolder(e.name, e.child) : builder.AddFile(e.name), 0u);
  std::vector<std::uint8_t> record = builder.Finish();
  record.resize(fmt::GetU32(record.data()));  // no padding: a hit may not read past it
  return record;
}

struct Found {
  std::vector<std::string> names;
  bool broken = false;
};

Found Plain(const std::vector<std::uint8_t>& record, const PatternSet& patterns) {
  FolderRecordView view;
  EXPECT_TRUE(view.Parse(record));
  Found found;
  EntryIterator it(view);
  FolderEntry entry;
  while (it.Next(&entry))
    if (patterns.match(entry.name)) found.names.emplace_back(entry.name);
  found.broken = it.damaged();
  return found;
}

Found Filtered(const std::vector<std::uint8_t>& record, const PatternSet& patterns) {
  FolderRecordView view;
  EXPECT_TRUE(view.Parse(record));
  Found found;
  const NameFilter filter(patterns);
  const NameFilter::Walk walk = filter.ForEachMatch(view, [&](const FolderEntry& entry) {
    found.names.emplace_back(entry.name);
    return true;
  });
  EXPECT_NE(walk, NameFilter::Walk::kStopped);
  found.broken = walk == NameFilter::Walk::kBroken;
  return found;
}

// The record's bytes hold the text somewhere, without regard to case.
bool BytesHold(const std::vector<std::uint8_t>& record, std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string bytes(record.begin(), record.end());
  for (char& c : bytes) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return bytes.find(text) != std::string::npos;
}

TEST(NameFilter, FindsExactlyWhatMatchingEveryNameFinds) {
  const std::string x39(39, 'x');
  struct Case {
    const char* what;
    const char* named;
    std::vector<Entry> entries;
    std::vector<std::string> expected;
    const char* across = nullptr;  // a literal the bytes hold only across entries
  } cases[] = {
      {"a plain name is found inside names, in any case", "ReadMe",
       {{"README.TXT"}, {"old_readme"}, {"readme"}, {"rEaDmE", true, 77}, {"read"}, {"eadme"}},
       {"README.TXT", "old_readme", "readme", "rEaDmE"}},
      {"a star pattern against whole names, a final dot ignored", "*.txt",
       {{"notes.txt"}, {"README.TXT"}, {"notes.txt.bak"}, {"txt"}, {".txt"}, {"a.txt."}, {"x.TxT"}},
       {"notes.txt", "README.TXT", ".txt", "a.txt.", "x.TxT"}},
      {"a question mark takes one character", "a?c",
       {{"abc"}, {"ABC"}, {"abc."}, {"ac"}, {"abcd"}, {"zabc"}},
       {"abc", "ABC", "abc."}},
      {"several patterns, each with its literal", "*.c; *.H ;Make",
       {{"main.c"}, {"main.h"}, {"main.cpp"}, {"x.C"}, {"Makefile"}, {"cmake"}, {"notes"}},
       {"main.c", "main.h", "x.C", "Makefile", "cmake"}},
      {"a pattern of wildcards alone: every name is matched in turn", "zzz;?*",
       {{"a"}, {"bb", true, 5}, {"c.d"}},
       {"a", "bb", "c.d"}},
      {"across a length byte ('.' is 46) into the next name", "a.tx",
       {{"data"}, {"txt" + std::string(43, 'y')}, {"no"}},
       {},
       "a.tx"},
      {"in a folder entry's child id ('t', 'x')", "tx",
       {{"mega"}, {"folder", true, 0x7874}, {"xt"}},
       {},
       "tx"},
      {"a hit over the length byte does not hide one later in the name", "*.txt",
       {{"txt" + x39 + ".txt"}, {"other"}},
       {"txt" + x39 + ".txt"}},
      {"the last name of the list, next to the 0 byte", "rare",
       {{"common1"}, {"common2"}, {"zzz_RARE"}},
       {"zzz_RARE"}},
      {"long names, long and one-character literals", "ABCDEFGHIJKLMNOPQ;*q*",
       {{std::string(20, 'q') + "abcdefghijklmnopq"}, {std::string(31, 'z') + "Q"},
        {std::string(33, 'z')}, {"abcdefghijklmnop"}},
       {std::string(20, 'q') + "abcdefghijklmnopq", std::string(31, 'z') + "Q"}},
      {"bytes that only fold to the literal: '@' is not '`', '[' is not '{'", "`{",
       {{"@[" + std::string(20, '-')}, {"x`{"}, {"`["}},
       {"x`{"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PatternSet patterns;
    patterns.parse(c.named);
    const std::vector<std::uint8_t> record = Record(c.entries);
    if (c.across) {
      EXPECT_TRUE(BytesHold(record, c.across));
    }
    const Found plain = Plain(record, patterns);
    EXPECT_EQ(plain.names, c.expected);
    const Found filtered = Filtered(record, patterns);
    EXPECT_EQ(filtered.names, plain.names);
    EXPECT_FALSE(filtered.broken);
  }

  // Random lists of names made of few characters, so that literals occur
  // everywhere: in names, across entries, at every place of a 16-byte block.
  std::mt19937 rng(20261208);
  const char kAlphabet[] = "aAbBtTxX._.-?";
  const char* const kNamed[] = {"ab",  "*.tx*", "a?b",       "T",  "x.t;ab*", "*b.*",
                                "*a",  "b*t",   "aBa;xx;tt", "*?", ".",       "abtxabtxabtxabtxa"};
  for (int round = 0; round < 400; ++round) {
    std::vector<Entry> entries;
    const int count = 1 + static_cast<int>(rng() % 40);
    for (int i = 0; i < count; ++i) {
      Entry e;
      const int length = 1 + static_cast<int>(rng() % (rng() % 4 == 0 ? 60 : 8));
      for (int k = 0; k < length; ++k) e.name += kAlphabet[rng() % (sizeof kAlphabet - 1)];
      e.folder = rng() % 5 == 0;
      e.child = static_cast<std::uint16_t>(rng());
      entries.push_back(e);
    }
    const std::vector<std::uint8_t> record = Record(entries);
    for (const char* named : kNamed) {
      SCOPED_TRACE(std::string("round ") + std::to_string(round) + ", named " + named);
      PatternSet patterns;
      patterns.parse(named);
      const Found plain = Plain(record, patterns);
      EXPECT_EQ(Filtered(record, patterns).names, plain.names);
      if (HasFailure()) return;
    }
  }
}

// Every list cut short at each of its bytes, and with an entry's length
// patched to run past the record: the fast walk (with and without its skips)
// and the filter end where EntryIterator ends, with the same entries before
// the break and the same damage.
TEST(NameFilter, BrokenListsEndWhereTheEntryIteratorEnds) {
  const std::vector<Entry> entries = {
      {"alpha.txt"}, {"Beta", true, 12}, {"gamma.TXT"}, {"d", true, 0}, {"epsilon.txt"}};
  const std::vector<std::uint8_t> whole = Record(entries);
  FolderRecordView view;
  ASSERT_TRUE(view.Parse(whole));
  std::vector<std::vector<std::uint8_t>> lists;
  for (std::uint32_t cut = view.entries_offset() + 1; cut <= whole.size(); ++cut) {
    std::vector<std::uint8_t> record(whole.begin(), whole.begin() + cut);
    fmt::PutU32(record.data(), cut);
    lists.push_back(record);
  }
  // Inside the list: alpha's length byte, Beta's, gamma's (past the end),
  // d's (0), and d's marker (0: the list ends there, whole).
  const std::pair<std::uint32_t, std::uint8_t> patches[] = {
      {0, 0xF0}, {13, 0xF0}, {18, 0xF0}, {31, 0}, {28, 0}};
  for (const auto& [at, value] : patches) {
    std::vector<std::uint8_t> record = whole;
    record[view.entries_offset() + at] = value;
    lists.push_back(record);
  }
  {
    // d's name taken away: a folder entry of no name, with a sound list
    // after it.
    std::vector<std::uint8_t> record = whole;
    record.erase(record.begin() + view.entries_offset() + 32);
    record[view.entries_offset() + 31] = 0;
    fmt::PutU32(record.data(), static_cast<std::uint32_t>(record.size()));
    lists.push_back(record);
  }
  int broken = 0;
  for (const std::vector<std::uint8_t>& record : lists) {
    SCOPED_TRACE("record of " + std::to_string(record.size()) + " bytes");
    FolderRecordView list;
    ASSERT_TRUE(list.Parse(record));
    std::vector<std::uint32_t> expected, ends;
    EntryIterator it(list);
    FolderEntry entry;
    while (it.Next(&entry)) {
      expected.push_back(entry.position);
      ends.push_back(entry.position + entry.size);
    }
    if (it.damaged()) ++broken;

    // After the first entry, a skip to each offset passes exactly the
    // entries that end by it.
    for (std::uint32_t skip_to = 0; skip_to <= record.size(); ++skip_to) {
      EntryNameWalker walker(list);
      std::vector<std::uint32_t> walked;
      std::uint32_t position = 0, begin = 0, end = 0;
      while (walker.Next(&position, &begin, &end)) {
        ASSERT_LE(end, record.size());
        if (walked.empty()) walker.SkipEntriesEndingBy(skip_to);
        walked.push_back(position);
      }
      EXPECT_EQ(walker.damaged(), it.damaged());
      std::vector<std::uint32_t> want;
      for (std::size_t i = 0; i < expected.size(); ++i)
        if (i == 0 || ends[i] > skip_to) want.push_back(expected[i]);
      EXPECT_EQ(walked, want) << "skip to " << skip_to;
    }
    for (const char* named : {"*.txt", "*", "d"}) {
      PatternSet patterns;
      patterns.parse(named);
      const Found plain = Plain(record, patterns);
      const Found filtered = Filtered(record, patterns);
      EXPECT_EQ(filtered.names, plain.names) << named;
      EXPECT_EQ(filtered.broken, plain.broken) << named;
    }
  }
  EXPECT_GT(broken, 20);  // most cuts break the list
}

}  // namespace
}  // namespace quindelo
