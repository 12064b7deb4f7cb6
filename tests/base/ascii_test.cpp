#include "base/ascii.h"

#include <gtest/gtest.h>

#include <string>

#include "support/case_locale.h"

namespace quindelo {
namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

// Names, labels and keys compare the same under every locale: only A-Z and
// a-z have a case.
void ExpectCaseRules(const char* locale) {
  struct Case {
    std::string a;
    std::string b;
    bool equal;
    int order;  // sign of a against b, both lowered
  };
  const Case cases[] = {
      {"Makefile", "makefile", true, 0},
      {"DISKI", "diski", true, 0},  // the dotted and dotless I of Turkish are not ASCII's
      {"VOLUME", "volumi", false, -1},
      {"abc", "ABD", false, -1},
      {"ab", "AB c", false, -1},
      {"", "", true, 0},
      {"", "a", false, -1},
      {"[", "A", false, -1},           // 'A' lowers to 'a', past '['
      {"_x", "Zx", false, -1},         // '_' sorts before 'z', after 'Z'
      {"\xC4", "\xE4", false, -1},     // Latin-1 A and a with diaeresis: bytes, no case
      {"\xC3\x84", "\xC3\xA4", false, -1},  // the same in UTF-8
      {"\xFF", "z", false, 1},         // high bytes after every ASCII byte
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(locale) + ": \"" + c.a + "\" / \"" + c.b + "\"");
    EXPECT_EQ(ascii::EqualNoCase(c.a, c.b), c.equal);
    EXPECT_EQ(ascii::EqualNoCase(c.b, c.a), c.equal);
    EXPECT_EQ(Sign(ascii::CompareNoCase(std::string_view(c.a), std::string_view(c.b))), c.order);
    EXPECT_EQ(Sign(ascii::CompareNoCase(std::string_view(c.b), std::string_view(c.a))), -c.order);
    EXPECT_EQ(Sign(ascii::CompareNoCase(c.a.c_str(), c.b.c_str())), c.order);
    EXPECT_EQ(Sign(ascii::CompareNoCase(c.b.c_str(), c.a.c_str())), -c.order);
  }
  for (int i = 0; i < 256; ++i) {
    const auto c = static_cast<unsigned char>(i);
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    SCOPED_TRACE(std::string(locale) + ": byte " + std::to_string(i));
    EXPECT_EQ(ascii::IsLetter(c), letter);
    EXPECT_EQ(ascii::ToLower(c), c >= 'A' && c <= 'Z' ? c + 32 : c);
    EXPECT_EQ(ascii::ToUpper(c), c >= 'a' && c <= 'z' ? c - 32 : c);
    EXPECT_EQ(ascii::kLower[static_cast<char>(c)], ascii::ToLower(c));
  }
}

TEST(AsciiCaseTest, OnlyAsciiLettersHaveACaseWhateverTheLocale) {
  ExpectCaseRules("C");
  test::ScopedTurkishCase turkish;
  if (!turkish.active()) GTEST_SKIP() << "no Turkish locale and no localedef to build one";
  ExpectCaseRules("tr_TR.UTF-8");
}

}  // namespace
}  // namespace quindelo
