// Matching file contents against compiled Containing expressions: word
// boundaries and the sign rule, letter case, wildcards, NEAR and hyphen
// chains, block boundaries, early exit, and files that cannot be read.
#include "content/content_matcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/test_env.h"

namespace quindelo {
namespace {

using test::ScopedTestEnv;
using test::WriteTextFile;

class ContentMatcherTest : public ::testing::Test {
 protected:
  // Writes contents to a file and matches it against expression.
  bool Matches(const std::string& expression, const std::string& contents) {
    ContainingExpression e;
    std::string error;
    EXPECT_TRUE(e.Compile(expression, &error)) << expression << ": " << error;
    std::string path = env_.Path("file" + std::to_string(++files_));
    WriteTextFile(path, contents);
    std::string message;
    bool found = MatchFile(e, path, &message);
    EXPECT_EQ(message, "") << path;
    // The streaming interface must agree with the file reader.
    ContentMatcher streamed(e);
    streamed.Begin();
    streamed.ScanBytes(contents.data(), contents.size());
    EXPECT_EQ(streamed.Finish(), found) << expression;
    return found;
  }

  ScopedTestEnv env_;
  int files_ = 0;
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
  std::string joined(block - ContentMatcher::kCarrySize - 1, ' ');
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

TEST_F(ContentMatcherTest, FilesThatCannotBeOpenedAreNotMatches) {
  ContainingExpression e;
  ASSERT_TRUE(e.Compile("NOT cat", nullptr));
  std::string message;
  EXPECT_FALSE(MatchFile(e, env_.Path("missing"), &message));
  EXPECT_EQ(message, "");
  test::MakeFolder(env_.Path("folder"));
  EXPECT_FALSE(MatchFile(e, env_.Path("folder"), &message));
  EXPECT_EQ(message, "");
  // A FIFO without a writer is never opened (opening it would block).
  std::string fifo = env_.Path("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(MatchFile(e, fifo, &message));
  EXPECT_EQ(message, "");
  // An uncompiled expression never matches.
  ContainingExpression failed;
  EXPECT_FALSE(failed.Compile("(", nullptr));
  WriteTextFile(env_.Path("plain"), "text");
  EXPECT_FALSE(MatchFile(failed, env_.Path("plain"), &message));
}

TEST_F(ContentMatcherTest, FileShorterThanItsSizeIsUnreadable) {
  // Attribute files of sysfs claim 4096 bytes and deliver fewer, like a file
  // that shrinks while it is read.
  const std::string path = "/sys/kernel/mm/transparent_hugepage/enabled";
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || st.st_size != 4096) GTEST_SKIP() << "no sysfs attribute";
  ContainingExpression e;
  ASSERT_TRUE(e.Compile("NOT zzz", nullptr));
  std::string message;
  EXPECT_FALSE(MatchFile(e, path, &message));
  EXPECT_EQ(message, "Unable to read " + path);
}

TEST_F(ContentMatcherTest, CopiesScanOnSeveralThreads) {
  ContainingExpression e;
  ASSERT_TRUE(e.Compile("alpha NEAR beta OR gam*a", nullptr));
  std::string hit = env_.Path("hit"), miss = env_.Path("miss");
  WriteTextFile(hit, std::string(70000, ' ') + "alpha x beta");
  WriteTextFile(miss, std::string(70000, ' ') + "alpha x y z w v u t s r q beta");
  std::vector<int> results(8, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      ContentMatcher m(e);
      int count = 0;
      for (int round = 0; round < 20; ++round) {
        count += m.MatchFile(i % 2 ? hit : miss, nullptr) ? 1 : 0;
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
