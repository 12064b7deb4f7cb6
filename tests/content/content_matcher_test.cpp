// Matching bytes against compiled Containing expressions: word boundaries
// and the sign rule, letter case, wildcards, NEAR and hyphen chains, block
// boundaries, early exit, and copies on several threads. Reading files is
// the file searcher's (file_searcher_test.cpp).
#include "content/content_matcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace quindelo {
namespace {

class ContentMatcherTest : public ::testing::Test {
 protected:
  // Matches contents against expression, fed in blocks of kBlockSize as a
  // file is read. Answers must not depend on the cut: the same bytes fed in
  // pieces of 4093 bytes (which cut words, chains and star runs at other
  // places) must give the same answer.
  bool Matches(const std::string& expression, const std::string& contents) {
    ContainingExpression e;
    std::string error;
    EXPECT_TRUE(e.Compile(expression, &error)) << expression << ": " << error;
    ContentMatcher m(e);
    m.Begin();
    m.ScanBytes(contents.data(), contents.size());
    const bool found = m.Finish();
    m.Begin();
    for (std::size_t at = 0; at < contents.size(); at += kPiece) {
      const std::size_t n = std::min(kPiece, contents.size() - at);
      std::memcpy(m.BlockSpace(), contents.data() + at, n);
      if (m.ScanBlock(n)) break;
    }
    EXPECT_EQ(m.Finish(), found) << expression << " fed in pieces of " << kPiece;
    return found;
  }

  static constexpr std::size_t kPiece = 4093;
};

TEST_F(ContentMatcherTest, WholeWordsAndWordBoundaries) {
  EXPECT_TRUE(Matches("cat", "the cat."));
  EXPECT_TRUE(Matches("cat", "(cat)"));
  EXPECT_TRUE(Matches("cat", "cat"));
  EXPECT_FALSE(Matches("cat", "cats"));
  EXPECT_FALSE(Matches("cat", "concat"));
  EXPECT_FALSE(Matches("cat", "cat_food"));
  EXPECT_TRUE(Matches("cat", "caf\xC3\xA9 cat\xC3\xA9"));  // bytes above 0x7F are separators
  EXPECT_TRUE(Matches("cat*", "cats"));
  EXPECT_TRUE(Matches("*cat", "concat"));
  EXPECT_TRUE(Matches("b?t", "a bat"));
  EXPECT_FALSE(Matches("b?t", "a bt"));
  EXPECT_TRUE(Matches("don't", "I don't know"));
}

TEST_F(ContentMatcherTest, SignRuleForDigits) {
  EXPECT_FALSE(Matches("5", "-5"));
  EXPECT_FALSE(Matches("5", "+5"));
  EXPECT_FALSE(Matches("5", "x5"));
  EXPECT_TRUE(Matches("5", "a 5."));
  EXPECT_TRUE(Matches("5", "a-b 5"));
  EXPECT_TRUE(Matches("x", "x-5"));
  EXPECT_TRUE(Matches("-5", "value -5;"));
}

TEST_F(ContentMatcherTest, LetterCaseFollowsCapitals) {
  EXPECT_TRUE(Matches("Cat", "a Cat"));
  EXPECT_FALSE(Matches("Cat", "a cat CAT"));
  EXPECT_TRUE(Matches("cat", "CAT"));
  EXPECT_TRUE(Matches("cat", "cAt"));
}

TEST_F(ContentMatcherTest, QuotedStringsMatchAnywhereAndLiterally) {
  EXPECT_TRUE(Matches("\"or\"", "for"));
  EXPECT_TRUE(Matches("\"a*b\"", "xa*bx"));
  EXPECT_FALSE(Matches("\"a*b\"", "axxb"));
  EXPECT_TRUE(Matches("\"b?\"", "ab?c"));
  EXPECT_FALSE(Matches("\"b?\"", "abc"));
  EXPECT_TRUE(Matches("\"big cat\"", "the BIG CAT"));
}

TEST_F(ContentMatcherTest, WildcardsStayWithinOneWord) {
  EXPECT_TRUE(Matches("c*t", "rabbit cabbit"));
  EXPECT_FALSE(Matches("c*t", "cab tab"));
  EXPECT_FALSE(Matches("c*t", "cab-t"));
  EXPECT_TRUE(Matches("col?r", "colour color"));
  EXPECT_FALSE(Matches("col?r", "colour"));
  EXPECT_TRUE(Matches("c*s*t", "cassette cast"));
  // After the first wildcard a backslash escapes * and ?; before it, it is literal.
  EXPECT_TRUE(Matches("ab\\*d", "ab\\xyd"));
  EXPECT_FALSE(Matches("ab\\*d", "abxyd"));
  EXPECT_TRUE(Matches("a*b\\*d", "axb*d"));
  EXPECT_FALSE(Matches("a*b\\*d", "axbyd"));
  // A zero byte ends a wildcard match.
  EXPECT_FALSE(Matches("a*b", std::string("a\0b", 3)));
  EXPECT_TRUE(Matches("a*b", std::string("a\0axb", 5)));
}

TEST_F(ContentMatcherTest, ManyStarsDoNotBacktrackExponentially) {
  std::string text;
  while (text.size() < 2048) text += std::string(120, 'a') + " ";
  EXPECT_FALSE(Matches("a*a*a*a*a*a*a*a*a*a*a*a*b", text));
  EXPECT_TRUE(Matches("a*a*a*a*a*a*a*a*a*a*a*a*b", text + std::string(30, 'a') + "b"));
}

// A word with wildcards as its rules say, trying every choice of every star
// (exponential, so for short texts only). Bytes past the text are zero.
class ReferenceWord {
 public:
  explicit ReferenceWord(std::string word) {
    while (!word.empty() && (word[0] == '*' || word[0] == '?')) {
      word.erase(0, 1);
      at_word_start_ = false;
    }
    while (!word.empty() && word.back() == '*') {
      word.pop_back();
      at_word_end_ = false;
    }
    for (char c : word) case_sensitive_ = case_sensitive_ || (c >= 'A' && c <= 'Z');
    std::size_t wildcard = word.find_first_of("*?");
    prefix_ = word.substr(0, wildcard);
    rest_ = wildcard == std::string::npos ? "" : word.substr(wildcard);
  }

  bool OccursIn(const std::string& text) {
    text_ = &text;
    for (std::size_t p = 0; p < text.size(); ++p) {
      if (at_word_start_ && p > 0 && WordByte(p - 1)) continue;
      bool same = true;
      for (std::size_t i = 0; i < prefix_.size() && same; ++i) same = Same(Byte(p + i), prefix_[i]);
      if (same && Rest(0, p + prefix_.size())) return true;
    }
    return false;
  }

 private:
  unsigned char Byte(std::size_t i) const { return i < text_->size() ? static_cast<unsigned char>((*text_)[i]) : 0; }
  static bool Digit(unsigned char c) { return c >= '0' && c <= '9'; }
  static bool Alnum(unsigned char c) { return Digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }
  bool Same(unsigned char t, char w) const {
    if (case_sensitive_) return t == static_cast<unsigned char>(w);
    return t != 0 && std::toupper(t) == std::toupper(static_cast<unsigned char>(w)) && t < 0x80;
  }
  bool WordByte(std::size_t i) const {
    unsigned char c = Byte(i);
    return Alnum(c) || c == '_' || ((c == '+' || c == '-') && Digit(Byte(i + 1)));
  }
  std::size_t SkipSeparators(std::size_t i) const {
    while (Byte(i) != 0 && !WordByte(i)) ++i;
    return i;
  }
  std::size_t SkipSpan(std::size_t i) const {
    unsigned char c = Byte(i);
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') {
      for (++i; Alnum(Byte(i)) || Byte(i) == '_' || (Byte(i) == '\'' && Alnum(Byte(i + 1)));) ++i;
    } else if (c == '_') {
      for (++i; Alnum(Byte(i)) || Byte(i) == '_' || (Byte(i) == '\'' && Alnum(Byte(i + 1)));) ++i;
    } else if (Digit(c) || ((c == '+' || c == '-') && Digit(Byte(i + 1)))) {
      for (++i; Alnum(Byte(i)) || ((Byte(i) == ',' || Byte(i) == '.') && Digit(Byte(i + 1)));) ++i;
    }
    return i;
  }
  bool Rest(std::size_t r, std::size_t t) const {
    if (r == rest_.size()) return !at_word_end_ || !(Alnum(Byte(t)) || Byte(t) == '_');
    char c = rest_[r];
    if (c == '*') {
      std::size_t limit = SkipSeparators(SkipSpan(SkipSeparators(t)));
      for (std::size_t k = 0; t + k < limit && k < 256; ++k) {
        if (Rest(r + 1, t + k)) return true;
      }
      return false;
    }
    if (Byte(t) == 0) return false;
    if (c == '?') return Rest(r + 1, t + 1);
    if (c == '\\' && r + 1 < rest_.size() && (rest_[r + 1] == '*' || rest_[r + 1] == '?')) {
      return Byte(t) == static_cast<unsigned char>(rest_[r + 1]) && Rest(r + 2, t + 1);
    }
    return Same(Byte(t), c) && Rest(r + 1, t + 1);
  }

  bool at_word_start_ = true;
  bool at_word_end_ = true;
  bool case_sensitive_ = false;
  std::string prefix_, rest_;
  const std::string* text_ = nullptr;
};

// Scans text in blocks of the given sizes (the last block takes the rest).
bool ScanInBlocks(const ContainingExpression& e, const std::string& text, const std::vector<std::size_t>& cuts) {
  ContentMatcher m(e);
  m.Begin();
  std::size_t done = 0;
  for (std::size_t cut : cuts) {
    std::size_t n = std::min(cut, text.size() - done);
    std::memcpy(m.BlockSpace(), text.data() + done, n);
    done += n;
    if (m.ScanBlock(n)) return m.Finish();
  }
  while (done < text.size()) {
    std::size_t n = std::min(ContentMatcher::kBlockSize, text.size() - done);
    std::memcpy(m.BlockSpace(), text.data() + done, n);
    done += n;
    if (m.ScanBlock(n)) break;
  }
  return m.Finish();
}

TEST(ContentMatcherStars, AgreeWithEveryChoiceOfStarsWhereverTheBlocksEnd) {
  struct Case {
    const char* word;
    const char* alphabet;  // random texts are drawn from these bytes
    std::vector<std::string> texts;
  };
  const std::string z("\0", 1);
  const std::vector<Case> cases = {
      // Some choice of the star ends the word at a word end, not only the first.
      {"s*s", "su ce'.", {"success", "lull s", "sus", "says so", "s s"}},
      {"l*l", "lu -", {"lull", "ll", "l l"}},
      {"c*t", "catx .-", {"catat", "cab tab", "cab-t", "rabbit cabbit", "cab.t"}},
      {"a*a*b", "ab _-1", {"aab", "a ab", "aaaab b", "a_a_b"}},
      {"a*b*c*d", "abcd .", {"abcd", "abbbccd", "a b c d", "adcbd"}},
      {"*a*b", "ab xy", {"xxaxxb", "b a b"}},
      {"a*b*", "ab x", {"axbx", "ab"}},
      {"a?*b", "ab ?.", {"a b", "a.xb", "ab"}},
      {"a**b", "ab x.", {"axb", "a. b", "ab"}},
      {"x*-*y", "xy-1 ", {"x-y", "xa-by", "x--y", "x-1y"}},
      {"1*2", "12,.- a", {"1,2", "1.52", "-1 2", "112"}},
      {"A*b", "aAbB x", {"Axb", "axb", "AxB"}},
      {"a*b\\*d", "ab*d x", {"axb*d", "axbyd"}},
      {"d*n't", "don't x", {"don't", "dn't"}},
      {"a*b", "ab", {"a" + z + "b", "a" + z + "ab"}},
  };
  std::mt19937 rng(2024);
  for (const Case& c : cases) {
    ContainingExpression e;
    ASSERT_TRUE(e.Compile(c.word, nullptr)) << c.word;
    ASSERT_EQ(e.node_count(), 2) << c.word;
    std::vector<std::string> texts = c.texts;
    const std::string alphabet = std::string(c.alphabet) + z;
    for (int i = 0; i < 150; ++i) {
      std::string t(rng() % 20, ' ');
      for (char& ch : t) ch = alphabet[rng() % alphabet.size()];
      texts.push_back(t);
    }
    for (const std::string& text : texts) {
      ReferenceWord reference(c.word);
      const bool expected = reference.OccursIn(text);
      for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        ASSERT_EQ(ScanInBlocks(e, text, {cut}), expected) << c.word << " in [" << text << "] cut at " << cut;
      }
      ASSERT_EQ(ScanInBlocks(e, text, std::vector<std::size_t>(text.size(), 1)), expected)
          << c.word << " in [" << text << "] one byte per block";
    }
  }
  // Long words: stars absorb at most 255 bytes, and a match that crosses the
  // end of a block is found wherever the block ends.
  const std::string a300(300, 'a');
  const std::vector<std::pair<const char*, std::string>> long_cases = {
      {"a*b", "x " + std::string(254, 'a') + "b y"},
      {"a*b", "x " + std::string(255, 'a') + "b y"},
      {"a*b", std::string(256, 'a') + "b"},
      {"a*a*b", a300 + "b " + a300},
      {"a*a*b", std::string(500, 'a') + "b " + a300},
      {"c*t", std::string(200, ' ') + "c" + std::string(200, 'a') + "t" + std::string(100, ' ')},
  };
  for (const auto& [word, text] : long_cases) {
    ContainingExpression e;
    ASSERT_TRUE(e.Compile(word, nullptr));
    ReferenceWord reference(word);
    const bool expected = reference.OccursIn(text);
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
      ASSERT_EQ(ScanInBlocks(e, text, {cut}), expected) << word << " in text of " << text.size() << " cut at " << cut;
    }
  }
}

TEST(ContentMatcherStars, ChainsDoNotDependOnWhereTheBlocksEnd) {
  struct Case {
    const char* expression;
    std::string text;
    bool expected;
  };
  const std::string gap(300, ' ');
  const std::vector<Case> cases = {
      {"cat NEAR dog", "cat" + gap + "dog", true},
      {"cat NEAR dog", "cat" + gap + "x y z w v u t s r dog", false},
      {"cat NEAR d*g", "cat " + std::string(200, 'x') + " " + std::string(100, 'y') + " d" + std::string(250, 'o') + "g",
       true},
      {"e - mail", "e" + gap + "to" + gap + "mail", true},
      {"e - mail", "e" + gap + "to the" + gap + "mail", false},
      {"c*t NEAR dog", "c" + std::string(250, 'a') + "t" + gap + "dog", true},
  };
  for (const Case& c : cases) {
    ContainingExpression e;
    ASSERT_TRUE(e.Compile(c.expression, nullptr)) << c.expression;
    for (std::size_t cut = 0; cut <= c.text.size(); ++cut) {
      ASSERT_EQ(ScanInBlocks(e, c.text, {cut}), c.expected) << c.expression << " cut at " << cut;
    }
  }
}

TEST_F(ContentMatcherTest, NearAndHyphenDistances) {
  EXPECT_TRUE(Matches("cat NEAR dog", "cat ran after the dog"));
  EXPECT_TRUE(Matches("cat NEAR dog", "cat w1 w2 w3 w4 w5 w6 w7 w8 dog"));
  EXPECT_FALSE(Matches("cat NEAR dog", "cat w1 w2 w3 w4 w5 w6 w7 w8 w9 dog"));
  EXPECT_FALSE(Matches("cat NEAR dog", "dog chased the cat"));
  EXPECT_TRUE(Matches("cat NEAR dog NEAR bird", "cat x dog y y y y y y y y bird"));
  EXPECT_FALSE(Matches("cat NEAR bird NEAR dog", "cat x dog bird"));
  EXPECT_TRUE(Matches("e - mail", "e-mail"));
  EXPECT_TRUE(Matches("e - mail", "e mail"));
  EXPECT_TRUE(Matches("e - mail", "e to mail"));
  EXPECT_FALSE(Matches("e - mail", "e to the mail"));
  // A later occurrence of the first word can still start the chain.
  EXPECT_TRUE(Matches("e - mail", "e to the x e mail"));
  // A zero byte ends a chain.
  EXPECT_FALSE(Matches("cat NEAR dog", std::string("cat \0 dog", 9)));
}

TEST_F(ContentMatcherTest, BooleanStructure) {
  EXPECT_TRUE(Matches("NOT cat", ""));
  EXPECT_TRUE(Matches("NOT cat", "a dog"));
  EXPECT_FALSE(Matches("NOT cat", "a cat"));
  EXPECT_TRUE(Matches("cat dog", "dog and cat"));
  EXPECT_FALSE(Matches("cat dog", "dog only"));
  EXPECT_TRUE(Matches("cat OR dog", "dog only"));
  EXPECT_FALSE(Matches("cat OR dog", ""));
  EXPECT_TRUE(Matches("cat EXCEPT dog", "cat"));
  EXPECT_FALSE(Matches("cat EXCEPT dog", "cat dog"));
  EXPECT_TRUE(Matches("NOT (cat OR dog)", "bird"));
  EXPECT_FALSE(Matches("NOT (cat OR dog)", "a dog"));
  EXPECT_TRUE(Matches("(a OR b) (c OR d)", "b d"));
  EXPECT_FALSE(Matches("(a OR b) (c OR d)", "b e"));
  EXPECT_TRUE(Matches("a NOT", "a"));
  EXPECT_FALSE(Matches("a NOT NOT", "a"));
  EXPECT_TRUE(Matches("x OR a b OR d", "b a"));
}

TEST_F(ContentMatcherTest, PropagateReportsWhenTheRootIsDecided) {
  ContainingExpression e;
  ASSERT_TRUE(e.Compile("a b", nullptr));
  ContentMatcher m(e);
  m.Begin();
  EXPECT_FALSE(m.Propagate(1, true));
  EXPECT_FALSE(m.decided());
  EXPECT_FALSE(m.Propagate(1, true));  // already decided
  EXPECT_TRUE(m.Propagate(2, true));
  EXPECT_TRUE(m.Finish());

  ASSERT_TRUE(e.Compile("a OR b", nullptr));
  ContentMatcher o(e);
  o.Begin();
  EXPECT_FALSE(o.Propagate(1, false));
  EXPECT_TRUE(o.Propagate(2, false));
  EXPECT_FALSE(o.Finish());
}

TEST_F(ContentMatcherTest, BlockBoundaries) {
  const std::size_t block = ContentMatcher::kBlockSize;
  // A word straddling the boundary is found through the carried bytes.
  std::string straddle(block - 2, 'x');
  straddle += " cat ";
  EXPECT_TRUE(Matches("cat", straddle));
  // The end of a block is no word end: "catalog" cut after "cat" is not [cat].
  std::string cut(block - 3, ' ');
  cut += "catalog";
  EXPECT_FALSE(Matches("cat", cut));
  EXPECT_TRUE(Matches("cat*", cut));
  // The first carried byte is judged by the real byte before it.
  std::string joined(block - 257, ' ');
  joined += "xcat ";
  joined += std::string(600, ' ');
  EXPECT_FALSE(Matches("cat", joined));
  EXPECT_TRUE(Matches("*cat", joined));
  // Files of several blocks are read in full.
  std::string big(3 * block + 123, '.');
  big += "needle";
  EXPECT_TRUE(Matches("needle", big));
  EXPECT_TRUE(Matches("dog NEAR needle", std::string(2 * block - 10, ';') + "dog " + "needle"));
}

TEST_F(ContentMatcherTest, StopsAsSoonAsTheRootIsDecided) {
  ContainingExpression e;
  ASSERT_TRUE(e.Compile("cat OR dog", nullptr));
  ContentMatcher m(e);
  m.Begin();
  std::string first = "cat " + std::string(ContentMatcher::kBlockSize - 4, ' ');
  EXPECT_TRUE(m.ScanBytes(first.data(), first.size()));
  EXPECT_TRUE(m.decided());
  EXPECT_TRUE(m.Finish());

  ASSERT_TRUE(e.Compile("cat EXCEPT dog", nullptr));
  ContentMatcher x(e);
  x.Begin();
  std::string with_dog = "dog " + std::string(ContentMatcher::kBlockSize - 4, ' ');
  EXPECT_TRUE(x.ScanBytes(with_dog.data(), with_dog.size()));
  EXPECT_FALSE(x.Finish());

  // An uncompiled expression is decided before any byte and never matches.
  ContainingExpression failed;
  ASSERT_FALSE(failed.Compile("(", nullptr));
  ContentMatcher u(failed);
  EXPECT_FALSE(u.compiled());
  u.Begin();
  EXPECT_TRUE(u.ScanBytes("text", 4));
  EXPECT_FALSE(u.Finish());
}

TEST_F(ContentMatcherTest, BinaryFilesWithZeroBytes) {
  std::mt19937 rng(7);
  std::string data(200000, '\0');
  for (char& c : data) c = static_cast<char>(rng() % 4 == 0 ? 0 : rng() % 256);
  data.replace(150000, 8, std::string("\0needle\0", 8));
  EXPECT_TRUE(Matches("needle", data));
  EXPECT_TRUE(Matches("\"needle\"", data));
  EXPECT_FALSE(Matches("needle NEAR haystack", data));
}

TEST_F(ContentMatcherTest, CopiesScanOnSeveralThreads) {
  ContainingExpression e;
  ASSERT_TRUE(e.Compile("alpha NEAR beta OR gam*a", nullptr));
  const std::string hit = std::string(70000, ' ') + "alpha x beta";
  const std::string miss = std::string(70000, ' ') + "alpha x y z w v u t s r q beta";
  std::vector<int> results(8, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      ContentMatcher m(e);
      const std::string& text = i % 2 ? hit : miss;
      int count = 0;
      for (int round = 0; round < 20; ++round) {
        m.Begin();
        m.ScanBytes(text.data(), text.size());
        count += m.Finish() ? 1 : 0;
      }
      results[i] = count;
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(results[i], i % 2 ? 20 : 0);
}

TEST_F(ContentMatcherTest, RandomExpressionsAgainstRandomText) {
  std::mt19937 rng(99);
  const char* pieces[] = {"cat ", "dog ", "NOT ", "OR ", "NEAR ", "- ", "( ", ") ", "c*t ", "?og ",
                          "\"a b\" ", "5 ", "x\\*y* ", "EXCEPT "};
  const std::string bytes = "catdog 5-+_.,'\0\n*?\\ab";
  int compiled = 0;
  for (int round = 0; round < 1500; ++round) {
    std::string text;
    int n = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < n; ++i) text += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
    ContainingExpression e;
    if (!e.Compile(text, nullptr)) continue;
    ++compiled;
    std::string contents(rng() % 700, ' ');
    for (char& c : contents) c = bytes[rng() % bytes.size()];
    ContentMatcher m(e);
    m.Begin();
    m.ScanBytes(contents.data(), contents.size());
    bool result = m.Finish();
    EXPECT_TRUE(m.decided()) << text;
    (void)result;
  }
  EXPECT_GT(compiled, 100);
}

}  // namespace
}  // namespace quindelo
