// Promises of PatternSet: how a named text is split into patterns, and which
// names each kind of pattern matches.
#include "index/pattern_set.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

namespace quindelo {
namespace {

PatternSet Parsed(std::string_view text) {
  PatternSet set;
  set.parse(text);
  return set;
}

std::vector<std::string> Patterns(const PatternSet& set) {
  std::vector<std::string> out;
  for (int i = 0; i < set.count(); ++i) out.emplace_back(set.pattern(i));
  return out;
}

// The matching rules followed literally, step by step, with no shortcut: at
// a star every occurrence of the next literal is tried by recursion. Only
// usable on short inputs; the fast matcher must agree with it everywhere.
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool ReferenceWhole(const char* p, const std::string& name, std::size_t s) {
  while (*p != '*' && *p != '\0') {
    if (s == name.size()) return false;
    if (*p != '?' && *p != LowerAscii(name[s])) return false;
    ++p;
    ++s;
  }
  if (*p == '\0') return s == name.size() || (s + 1 == name.size() && name[s] == '.');
  while (*p == '*' || *p == '?') ++p;
  if (*p == '\0') return true;
  const char c = *p;
  for (std::size_t i = s; i < name.size(); ++i) {
    if (name[i] == c && ReferenceWhole(p + 1, name, i + 1)) return true;
  }
  if (c >= 'a' && c <= 'z') {
    for (std::size_t i = s; i < name.size(); ++i) {
      if (name[i] == c - 32 && ReferenceWhole(p + 1, name, i + 1)) return true;
    }
  }
  return false;
}

bool ReferenceContains(const std::string& pattern, const std::string& name) {
  for (std::size_t i = 0; i + pattern.size() <= name.size(); ++i) {
    bool equal = true;
    for (std::size_t k = 0; k < pattern.size() && equal; ++k) {
      equal = LowerAscii(name[i + k]) == pattern[k];
    }
    if (equal) return true;
  }
  return false;
}

TEST(PatternSetParse, SplitsAtSemicolonsAndTrimsWhiteSpace) {
  EXPECT_EQ(Patterns(Parsed(" *.c ; *.h ;")), (std::vector<std::string>{"*.c", "*.h"}));
  EXPECT_EQ(Patterns(Parsed("\t*.c\t;\n*.h\r\n")), (std::vector<std::string>{"*.c", "*.h"}));
  // Spaces inside an item belong to it; commas are no separator.
  EXPECT_EQ(Patterns(Parsed("my file ; a,b")), (std::vector<std::string>{"my file", "a,b"}));
  EXPECT_EQ(Patterns(Parsed("a;;b; ;c")), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(PatternSetParse, LowersTheTextAndFlagsWildcards) {
  PatternSet set = Parsed("README;*.TXT;A?C");
  ASSERT_EQ(set.count(), 3);
  EXPECT_EQ(set.pattern(0), "readme");
  EXPECT_EQ(set.pattern(1), "*.txt");
  EXPECT_EQ(set.pattern(2), "a?c");
  EXPECT_FALSE(set.has_wildcard(0));
  EXPECT_TRUE(set.has_wildcard(1));
  EXPECT_TRUE(set.has_wildcard(2));
}

TEST(PatternSetParse, KeepsTheFirst25Items) {
  std::string text;
  for (int i = 0; i < 30; ++i) text += "x" + std::to_string(i) + "y;";
  PatternSet set = Parsed(text);
  ASSERT_EQ(set.count(), PatternSet::kMaxPatterns);
  EXPECT_EQ(set.pattern(24), "x24y");
  EXPECT_TRUE(set.match("x24y"));
  EXPECT_FALSE(set.match("x25y"));
  EXPECT_FALSE(set.match("x29y"));
}

TEST(PatternSetParse, EmptyTextsGiveAnEmptySetThatMatchesNothing) {
  for (std::string_view text :
       std::initializer_list<std::string_view>{"", "   ", " ; ;; \t;", std::string_view("\0*", 2)}) {
    PatternSet set = Parsed(text);
    EXPECT_EQ(set.count(), 0) << '"' << text << '"';
    EXPECT_FALSE(set.match("anything"));
    EXPECT_FALSE(set.match(""));
  }
}

TEST(PatternSetParse, ReparseReplacesThePreviousPatterns) {
  PatternSet set = Parsed("*.c;*.h;*.cpp");
  set.parse("notes");
  ASSERT_EQ(set.count(), 1);
  EXPECT_FALSE(set.match("main.c"));
  EXPECT_TRUE(set.match("Notes.txt"));
}

TEST(PatternSetMatch, PlainPatternMatchesAnywhereWithoutRegardToCase) {
  PatternSet set = Parsed("readme");
  EXPECT_TRUE(set.match("README.TXT"));
  EXPECT_TRUE(set.match("old_readme"));
  EXPECT_TRUE(set.match("readme"));
  EXPECT_TRUE(set.match("ReAdMe"));
  EXPECT_FALSE(set.match("read_me"));
  EXPECT_FALSE(set.match("readm"));
  EXPECT_FALSE(set.match(""));
  PatternSet txt = Parsed("txt");
  EXPECT_EQ(txt.match("MyTxtFile.doc"), 1);
  EXPECT_EQ(txt.match("readme.TXT"), 1);
  // A capital occurrence that fails must not hide a later small one, and
  // the other way round.
  EXPECT_EQ(txt.match("Txa_txt"), 1);
  EXPECT_EQ(txt.match("txa_TXT"), 1);
  // Non-letters and bytes above 127 compare exactly.
  EXPECT_EQ(Parsed("\xC9t\xE9").match("\xC9T\xE9.doc"), 1);
  EXPECT_EQ(Parsed("\xC9t\xE9").match("\xE9t\xE9"), 0);
  EXPECT_EQ(Parsed("a b").match("A B.txt"), 1);
}

TEST(PatternSetMatch, StarPatterns) {
  PatternSet all = Parsed("*");
  for (const char* name : {"", "a", ".", "file.txt", "x."}) EXPECT_EQ(all.match(name), 1) << name;
  PatternSet dotted = Parsed("*.*");
  EXPECT_EQ(dotted.match("a.b"), 1);
  EXPECT_EQ(dotted.match(".profile"), 1);
  EXPECT_EQ(dotted.match("Makefile"), 0);
  PatternSet trailing = Parsed("*.");
  EXPECT_EQ(trailing.match("name."), 1);
  EXPECT_EQ(trailing.match("a.."), 1);
  EXPECT_EQ(trailing.match("name.txt"), 0);
  EXPECT_EQ(trailing.match("name"), 0);
  PatternSet txt = Parsed("*.txt");
  EXPECT_EQ(txt.match("README.TXT"), 1);
  EXPECT_EQ(txt.match("notes.txt"), 1);
  EXPECT_EQ(txt.match("notes.txt."), 1);
  EXPECT_EQ(txt.match("a.txt.txt"), 1);
  EXPECT_EQ(txt.match("notes.txt.bak"), 0);
  EXPECT_EQ(txt.match("txt"), 0);
  EXPECT_EQ(txt.match("notes_txt"), 0);
}

TEST(PatternSetMatch, QuestionMarks) {
  PatternSet set = Parsed("a?c");
  EXPECT_TRUE(set.match("abc"));
  EXPECT_TRUE(set.match("ABC"));
  EXPECT_TRUE(set.match("abc."));
  EXPECT_TRUE(set.match("a.c"));
  EXPECT_FALSE(set.match("ac"));
  EXPECT_FALSE(set.match("abcd"));
  EXPECT_FALSE(set.match("abc.."));
  // A question mark right after a star is absorbed and needs no character.
  EXPECT_EQ(Parsed("*?x").match("x"), 1);
  EXPECT_EQ(Parsed("*?x").match("abx"), 1);
  EXPECT_EQ(Parsed("*?").match(""), 1);
  // Elsewhere it needs exactly one character.
  EXPECT_EQ(Parsed("*x?").match("x"), 0);
  EXPECT_EQ(Parsed("*x?").match("xy"), 1);
  EXPECT_EQ(Parsed("?").match(""), 0);
  EXPECT_EQ(Parsed("?").match("."), 1);
  EXPECT_EQ(Parsed("lib?.so*").match("libc.so.6"), 1);
  EXPECT_EQ(Parsed("lib?.so*").match("libcc.so.6"), 0);
}

TEST(PatternSetMatch, StarMustBacktrackToLaterOccurrences) {
  EXPECT_EQ(Parsed("*ab").match("aab"), 1);
  EXPECT_EQ(Parsed("*a?c").match("abxabc"), 1);
  EXPECT_EQ(Parsed("a*b*c").match("aXbYbZc"), 1);
  EXPECT_EQ(Parsed("a*b*c").match("aXcYb"), 0);
  EXPECT_EQ(Parsed("*.tar.gz").match("x.tar.tar.gz"), 1);
  EXPECT_EQ(Parsed("*A*").match("xaY"), 1);
}

TEST(PatternSetMatch, FirstMatchingPatternOfSeveralDecides) {
  PatternSet set = Parsed("*.c; *.h ;makefile");
  EXPECT_TRUE(set.match("main.c"));
  EXPECT_TRUE(set.match("MAIN.H"));
  EXPECT_TRUE(set.match("GNUmakefile.in"));
  EXPECT_FALSE(set.match("main.cpp"));
}

TEST(PatternSetMatch, HostilePatternsFinish) {
  PatternSet set = Parsed("*a*a*a*a*a*a*a*a*b;*?*?*?*?*?*?*?*?*?*?*z;?*a*a*a*a*a*a*a*a*a*a*a*a*a*c");
  const std::string name(4096, 'a');
  // Exponential backtracking would not finish within the test's lifetime.
  EXPECT_FALSE(set.match(name));
  EXPECT_TRUE(set.match(name + "b"));
  EXPECT_TRUE(set.match(name + "Z."));
}

TEST(PatternSetMatch, AgreesWithTheLiteralRulesOnRandomInputs) {
  std::mt19937 random(20240611);
  const std::string pattern_chars = "ab.*?A";
  const std::string name_chars = "abAB.c";
  PatternSet set;
  for (int round = 0; round < 40000; ++round) {
    std::string pattern(1 + random() % 7, ' ');
    for (char& c : pattern) c = pattern_chars[random() % pattern_chars.size()];
    std::string name(random() % 9, ' ');
    for (char& c : name) c = name_chars[random() % name_chars.size()];
    set.parse(pattern);
    ASSERT_EQ(set.count(), 1);
    const std::string lowered(set.pattern(0));
    const bool expected = set.has_wildcard(0) ? ReferenceWhole(lowered.c_str(), name, 0)
                                              : ReferenceContains(lowered, name);
    ASSERT_EQ(set.match(name), expected ? 1 : 0) << "pattern " << pattern << " name " << name;
  }
}

}  // namespace
}  // namespace quindelo
