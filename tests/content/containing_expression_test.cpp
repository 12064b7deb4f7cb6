// Compiling the Containing text: the shapes of the trees it builds, the
// masks and states the matcher relies on, the first-byte table, and every
// message for a malformed expression.
#include "base/message_report.h"
#include "content/containing_expression.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quindelo {
namespace {

// Renders the tree: groups as OP(children) named by their chain operator,
// words as their text, strings in quotes, negation as !.
std::string Shape(const ContainingExpression& e, int index) {
  const ExpressionNode& n = e.node(index);
  std::string out = n.negated ? "!" : "";
  if (n.first_child == 0) {
    if (n.word_length == 0) return out + "<empty>";
    if (!n.at_word_start && !n.at_word_end && !n.has_wildcard) return out + "'" + std::string(e.word(index)) + "'";
    return out + std::string(e.word(index));
  }
  switch (e.node(n.first_child).op) {
    case kOperatorOr: out += "OR("; break;
    case kOperatorAnd: out += "AND("; break;
    case kOperatorNear: out += "NEAR("; break;
    case kOperatorHyphen: out += "HYPHEN("; break;
    case kOperatorParenthesis: out += "PAREN("; break;
    default: out += "?("; break;
  }
  for (int c = n.first_child; c != 0; c = e.node(c).next) {
    out += Shape(e, c);
    if (e.node(c).next != 0) out += ",";
  }
  return out + ")";
}

std::string ShapeOf(const std::string& text) {
  ContainingExpression e;
  std::string message;
  if (!e.Compile(text, &message)) return "error: " + message;
  return Shape(e, 0);
}

std::string ErrorOf(const std::string& text) {
  ContainingExpression e;
  std::string message;
  if (e.Compile(text, &message)) return "compiled";
  EXPECT_FALSE(e.compiled());
  return message;
}

std::string Repeat(const std::string& word, int count, const std::string& joiner) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    if (i) out += joiner;
    out += word + std::to_string(i);
  }
  return out;
}

TEST(ContainingExpressionTest, WorkedShapes) {
  EXPECT_EQ(ShapeOf("a b OR d"), "OR(AND(a,b),d)");
  EXPECT_EQ(ShapeOf("x OR a b OR d"), "OR(x,AND(a,b),d)");
  EXPECT_EQ(ShapeOf("a NEAR b d"), "AND(NEAR(a,b),d)");
  EXPECT_EQ(ShapeOf("x a NEAR b"), "AND(x,NEAR(a,b))");
  EXPECT_EQ(ShapeOf("a EXCEPT b"), "AND(a,!b)");
  EXPECT_EQ(ShapeOf("NOT (a OR b)"), "PAREN(!OR(a,b))");
  EXPECT_EQ(ShapeOf("(x OR a b)"), "PAREN(OR(x,AND(a,b)))");
  EXPECT_EQ(ShapeOf("a b NEAR c OR d"), "OR(AND(a,NEAR(b,c)),d)");
  EXPECT_EQ(ShapeOf("a NEAR b c - d"), "AND(NEAR(a,b),HYPHEN(c,d))");
  EXPECT_EQ(ShapeOf("x OR (a b) c"), "OR(x,AND(AND(a,b),c))");
  EXPECT_EQ(ShapeOf("a - b"), "HYPHEN(a,b)");
}

TEST(ContainingExpressionTest, OperatorSpellingsAndKeywordsInOperandPosition) {
  const std::string and_shape = "AND(cat,dog)";
  for (const char* text : {"cat and dog", "cat & dog", "cat + dog", "cat dog", "cat AnD dog", "cat&dog"}) {
    EXPECT_EQ(ShapeOf(text), and_shape) << text;
  }
  EXPECT_EQ(ShapeOf("cat or dog"), "OR(cat,dog)");
  EXPECT_EQ(ShapeOf("cat|dog"), "OR(cat,dog)");
  EXPECT_EQ(ShapeOf("cat near dog"), "NEAR(cat,dog)");
  EXPECT_EQ(ShapeOf("a OR OR b"), "OR(a,AND(OR,b))");
  EXPECT_EQ(ShapeOf("a AND near"), "AND(a,near)");
  EXPECT_EQ(ShapeOf("\"or\""), "AND('or')");
  EXPECT_EQ(ShapeOf("NOT NOT a"), "AND(a)");
  EXPECT_EQ(ShapeOf("a EXCEPT NOT b"), "AND(a,b)");
  EXPECT_EQ(ShapeOf("a !b"), "AND(a,!b)");
  EXPECT_EQ(ShapeOf("a -b"), "AND(a,-b)");  // "-" inside a word is no operator
  EXPECT_EQ(ShapeOf("don't"), "AND(don't)");
  EXPECT_EQ(ShapeOf("a NOT"), "AND(a,!<empty>)");
  EXPECT_EQ(ShapeOf("a NOT NOT"), "AND(a,<empty>)");
}

TEST(ContainingExpressionTest, MasksAndInitialStates) {
  ContainingExpression e;
  ASSERT_TRUE(e.Compile("foo", nullptr));
  ASSERT_EQ(e.node_count(), 2);
  EXPECT_EQ(e.node(0).initial_state, 0xFFFE);
  EXPECT_EQ(e.node(1).true_mask, 1);
  EXPECT_EQ(e.node(1).false_mask, 0);
  EXPECT_EQ(e.node(1).case_sensitive, 0);
  const FirstCharTable& t = e.first_chars();
  ASSERT_EQ(t.count, 2);
  EXPECT_EQ(t.bytes[0], 'F');
  EXPECT_EQ(t.bytes[1], 'f');
  EXPECT_EQ(t.nodes[0], 1);
  EXPECT_EQ(t.nodes[1], 1);

  ASSERT_TRUE(e.Compile("Foo", nullptr));
  EXPECT_EQ(e.node(1).case_sensitive, 1);
  ASSERT_EQ(e.first_chars().count, 1);
  EXPECT_EQ(e.first_chars().bytes[0], 'F');

  ASSERT_TRUE(e.Compile("a OR b OR c", nullptr));
  EXPECT_EQ(e.node(0).initial_state, 0x0007);
  EXPECT_EQ(e.node(1).true_mask, 0xFFFF);
  EXPECT_EQ(e.node(1).false_mask, 0xFFFE);
  EXPECT_EQ(e.node(3).false_mask, 0xFFFB);

  ASSERT_TRUE(e.Compile("a b c", nullptr));
  EXPECT_EQ(e.node(0).initial_state, 0xFFF8);
  EXPECT_EQ(e.node(3).true_mask, 4);

  // A NEAR chain: only its first operand is searched and carries masks.
  ASSERT_TRUE(e.Compile("Cat NEAR Dog", nullptr));
  EXPECT_EQ(e.node(1).true_mask, 0xFFFF);
  EXPECT_EQ(e.node(2).true_mask, 0);
  EXPECT_NE(e.node(0).initial_state, 0x0000);
  EXPECT_NE(e.node(0).initial_state, 0xFFFF);
  ASSERT_EQ(e.first_chars().count, 1);
  EXPECT_EQ(e.first_chars().nodes[0], 1);

  // Digits add two equal entries; the table stays sorted by signed byte.
  ASSERT_TRUE(e.Compile("5 \"\xE9t\xE9\" Zed", nullptr));
  const FirstCharTable& d = e.first_chars();
  ASSERT_EQ(d.count, 5);
  EXPECT_EQ(d.bytes[0], static_cast<std::int8_t>(0xE9));
  EXPECT_EQ(d.bytes[1], static_cast<std::int8_t>(0xE9));
  EXPECT_EQ(d.bytes[2], '5');
  EXPECT_EQ(d.bytes[3], '5');
  EXPECT_EQ(d.bytes[4], 'Z');
}

TEST(ContainingExpressionTest, WordsStringsAndWildcards) {
  ContainingExpression e;
  ASSERT_TRUE(e.Compile("*ing", nullptr));
  EXPECT_EQ(e.word(1), "ing");
  EXPECT_EQ(e.node(1).at_word_start, 0);
  EXPECT_EQ(e.node(1).at_word_end, 1);

  ASSERT_TRUE(e.Compile("inter*", nullptr));
  EXPECT_EQ(e.word(1), "inter");
  EXPECT_EQ(e.node(1).at_word_start, 1);
  EXPECT_EQ(e.node(1).at_word_end, 0);
  EXPECT_EQ(e.node(1).has_wildcard, 0);

  ASSERT_TRUE(e.Compile("col?r", nullptr));
  EXPECT_EQ(e.node(1).prefix_length, 3);
  EXPECT_EQ(e.node(1).has_wildcard, 1);
  EXPECT_EQ(e.node(1).word_length, 5);

  ASSERT_TRUE(e.Compile("ab\\*d", nullptr));
  EXPECT_EQ(e.node(1).prefix_length, 3);

  ASSERT_TRUE(e.Compile("\"say \"\"hi\"\" *\"", nullptr));
  EXPECT_EQ(e.word(1), "say \"hi\" *");
  EXPECT_EQ(e.node(1).has_wildcard, 0);
  EXPECT_EQ(e.node(1).at_word_start, 0);
  EXPECT_EQ(e.node(1).at_word_end, 0);

  ASSERT_TRUE(e.Compile("'it''s' Paris", nullptr));
  EXPECT_EQ(e.word(1), "it's");
  EXPECT_EQ(e.node(2).case_sensitive, 1);

  // An unterminated string runs to the end of the text.
  ASSERT_TRUE(e.Compile("\"open end", nullptr));
  EXPECT_EQ(e.word(1), "open end");
}

TEST(ContainingExpressionTest, CopiesOutliveRecompilation) {
  ContainingExpression e;
  ASSERT_TRUE(e.Compile("alpha OR beta", nullptr));
  ContainingExpression copy = e;
  ASSERT_TRUE(e.Compile("gamma", nullptr));
  EXPECT_EQ(copy.word(1), "alpha");
  EXPECT_EQ(copy.word(2), "beta");
  EXPECT_EQ(e.word(1), "gamma");
  EXPECT_FALSE(e.Compile("", nullptr));
  EXPECT_EQ(copy.word(1), "alpha");
}

TEST(ContainingExpressionTest, EveryMessageWithItsCondition) {
  const std::string too_complicated = "Search expression is too complicated.";
  EXPECT_EQ(ErrorOf(""), "Expected word or string at the end of the expression.");
  EXPECT_EQ(ErrorOf("   \t\r\n"), "Expected word or string at the end of the expression.");
  EXPECT_EQ(ErrorOf("a AND"), "Expected word or string at the end of the expression.");
  EXPECT_EQ(ErrorOf("a AND NOT"), "Expected word or string at the end of the expression.");
  EXPECT_EQ(ErrorOf("("), "Expected word or string at the end of the expression.");
  EXPECT_EQ(ErrorOf("a ("), "Mismatched parenthesis in the expression");
  EXPECT_EQ(ErrorOf("a )"), "Mismatched parenthesis in the expression");
  EXPECT_EQ(ErrorOf("(a b"), "Mismatched parenthesis in the expression");
  EXPECT_EQ(ErrorOf("(a) b)"), "Mismatched parenthesis in the expression");
  EXPECT_EQ(ErrorOf("\"\""), "A word or string must contain at least one character.");
  EXPECT_EQ(ErrorOf("''"), "A word or string must contain at least one character.");
  EXPECT_EQ(ErrorOf("*"), "A word or string must contain at least one character.");
  EXPECT_EQ(ErrorOf("?"), "A word or string must contain at least one character.");
  EXPECT_EQ(ErrorOf("a *?*"), "A word or string must contain at least one character.");
  EXPECT_EQ(ErrorOf(")"), "Expected a word or string, but found \")\"");
  EXPECT_EQ(ErrorOf("a AND |"), "Expected a word or string, but found \"|\"");
  EXPECT_EQ(ErrorOf("a OR &"), "Expected a word or string, but found \"&\"");
  EXPECT_EQ(ErrorOf("a NEAR b - d"), "Cannot mingle NEAR and hypen operators");
  EXPECT_EQ(ErrorOf("a - b NEAR d"), "Cannot mingle NEAR and hypen operators");
  EXPECT_EQ(ErrorOf("a NEAR (b d)"), "Parenthesis cannot be used with NEAR or hypen operators");
  EXPECT_EQ(ErrorOf("a - NOT (b)"), "Parenthesis cannot be used with NEAR or hypen operators");
  EXPECT_EQ(ErrorOf("(a b) NEAR d"), "Parenthesis cannot be used with NEAR or hypen operators");

  // NEAR and hyphen chains hold at most nine operands; only the chain counts.
  EXPECT_EQ(ErrorOf(Repeat("w", 10, " NEAR ")), "Too many words in one NEAR or hyphen operation");
  EXPECT_EQ(ErrorOf(Repeat("w", 10, " - ")), "Too many words in one NEAR or hyphen operation");
  EXPECT_EQ(ErrorOf(Repeat("w", 9, " NEAR ")), "compiled");
  EXPECT_EQ(ErrorOf("w1 w2 w3 w4 w5 w6 w7 w8 w9 x NEAR y"), "compiled");

  // AND and OR groups hold at most fifteen operands.
  EXPECT_EQ(ErrorOf(Repeat("W", 15, " OR ")), "compiled");
  EXPECT_EQ(ErrorOf(Repeat("W", 16, " OR ")), "Search expression is too complicated");
  EXPECT_EQ(ErrorOf(Repeat("W", 16, " ")), "Search expression is too complicated");

  // Twenty-five nodes, the root included.
  std::string nodes24 = "(" + Repeat("W", 11, " ") + ") (" + Repeat("V", 10, " ") + ")";
  EXPECT_EQ(ErrorOf(nodes24), "compiled");
  EXPECT_EQ(ErrorOf(nodes24 + " NOT"), "compiled");  // the 25th node: an empty operand
  EXPECT_EQ(ErrorOf(nodes24 + " NOT NOT X"), "compiled");
  EXPECT_EQ(ErrorOf(nodes24 + " X Y"), too_complicated);
  // A regrouping takes a node too.
  EXPECT_EQ(ErrorOf(nodes24 + " X NEAR Y"), too_complicated);
}

TEST(ContainingExpressionTest, AFailedCompileLeavesItsMessageInTheLastErrorRecord) {
  ContainingExpression e;
  std::string message;
  ASSERT_FALSE(e.Compile("(cat", &message));
  EXPECT_EQ(std::string(LastError().text), message);
  EXPECT_EQ(LastError().level, 5);
  EXPECT_FALSE(e.compiled());
}

TEST(ContainingExpressionTest, FirstByteTableNeverOverflows) {
  // Twelve words without capitals take 24 entries; thirteen would take 26.
  EXPECT_EQ(ErrorOf(Repeat("w", 12, " OR ")), "compiled");
  EXPECT_EQ(ErrorOf(Repeat("w", 13, " OR ")), "Search expression is too complicated.");
  EXPECT_EQ(ErrorOf(Repeat("w", 12, " OR ") + " OR X"), "compiled");
  EXPECT_EQ(ErrorOf(Repeat("w", 12, " OR ") + " OR X OR Y"), "Search expression is too complicated.");
}

TEST(ContainingExpressionTest, BadInputNeverCrashes) {
  const std::string known[] = {
      "Search expression is too complicated.",
      "Search expression is too complicated",
      "Too many words in one NEAR or hyphen operation",
      "Cannot mingle NEAR and hypen operators",
      "Parenthesis cannot be used with NEAR or hypen operators",
      "A word or string must contain at least one character.",
      "Mismatched parenthesis in the expression",
      "Expected word or string at the end of the expression.",
  };
  auto check = [&](const std::string& text) {
    ContainingExpression e;
    std::string message;
    if (e.Compile(text, &message)) {
      EXPECT_GE(e.node_count(), 2);
      EXPECT_LE(e.node_count(), kMaxExpressionNodes);
      EXPECT_LE(e.first_chars().count, kFirstCharTableSize);
      for (int i = 0; i < e.first_chars().count; ++i) {
        EXPECT_LT(e.first_chars().nodes[i], e.node_count());
        EXPECT_GT(e.node(e.first_chars().nodes[i]).word_length, 0);
      }
      return;
    }
    bool ok = message.rfind("Expected a word or string, but found \"", 0) == 0;
    for (const std::string& m : known) ok = ok || message == m;
    EXPECT_TRUE(ok) << "text [" << text << "] gave [" << message << "]";
  };
  check(std::string(259, '('));
  check(std::string(259, ')'));
  check(std::string(259, '"'));
  check(std::string(259, '\''));
  check(std::string(259, '!'));
  std::string ops;
  while (ops.size() < 259) ops += "NOT OR AND - NEAR EXCEPT + & | ( ) ";
  check(ops.substr(0, 259));
  check("\"unbalanced 'quotes\" here \"");
  check(std::string("a\0b", 3));

  std::mt19937 rng(12345);
  const std::string alphabet = "ab*?\"'()!&|-+ \tNOTRANDEXCP\\";
  const char* words[] = {"NOT ", "OR ", "AND ", "NEAR ", "- ", "EXCEPT ", "( ", ") ", "x ", "\"s\" ", "w* "};
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    int length = static_cast<int>(rng() % 60);
    for (int i = 0; i < length; ++i) {
      if (rng() % 3 == 0) {
        text += words[rng() % (sizeof(words) / sizeof(words[0]))];
      } else if (rng() % 4 == 0) {
        text += static_cast<char>(rng() % 256);
      } else {
        text += alphabet[rng() % alphabet.size()];
      }
    }
    check(text.substr(0, 259));
  }
}

}  // namespace
}  // namespace quindelo
