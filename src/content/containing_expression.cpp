#include "content/containing_expression.h"

#include <cstring>

#include "base/message_report.h"

namespace quindelo {

namespace {

constexpr char kTooComplicatedNodes[] = "Search expression is too complicated.";
constexpr char kTooComplicatedGroup[] = "Search expression is too complicated";
constexpr char kTooManyChainWords[] = "Too many words in one NEAR or hyphen operation";
constexpr char kCannotMingle[] = "Cannot mingle NEAR and hypen operators";
constexpr char kNoParenthesisInChain[] = "Parenthesis cannot be used with NEAR or hypen operators";
constexpr char kEmptyWord[] = "A word or string must contain at least one character.";
constexpr char kMismatchedParenthesis[] = "Mismatched parenthesis in the expression";
constexpr char kExpectedAtEnd[] = "Expected word or string at the end of the expression.";

// Largest number of operands in an AND or OR group, and in a NEAR or hyphen chain.
constexpr int kMaxGroupOperands = 15;
constexpr int kMaxChainOperands = 9;

enum TokenKind { kTokenEnd = 0, kTokenWord = 1, kTokenPunctuation = 2, kTokenQuoted = 3 };

struct Token {
  TokenKind kind = kTokenEnd;
  std::string_view text;  // raw token, quotes included
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsPunctuation(char c) { return c == '(' || c == ')' || c == '!' || c == '&' || c == '|'; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Case-insensitive (ASCII) comparison of a raw token with a keyword.
// A quoted token never equals a keyword.
bool IsKeyword(const Token& token, std::string_view keyword) {
  if (token.kind == kTokenQuoted || token.kind == kTokenEnd) return false;
  if (token.text.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < keyword.size(); ++i) {
    if (AsciiLower(token.text[i]) != AsciiLower(keyword[i])) return false;
  }
  return true;
}

}  // namespace

// The recursive-descent-free parser of the Containing text: reads operands
// and operators in turn, regrouping nodes as operators of different binding
// strength meet, and closes each group once its chain has ended.
class ContainingExpressionParser {
 public:
  ContainingExpressionParser(ContainingExpression* expression, std::string_view text)
      : e_(*expression), text_(text) {}

  bool Run(std::string* message);

 private:
  // Tokenizer.
  Token NextToken();
  Token Next() {
    if (has_lookahead_) {
      has_lookahead_ = false;
      return lookahead_;
    }
    return NextToken();
  }
  void Unget(const Token& token) {
    lookahead_ = token;
    has_lookahead_ = true;
  }

  bool Fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  ExpressionNode& N(int index) { return e_.nodes_[index]; }
  bool TakeNode(int* index);
  void Join(int node, int group);
  int LastChild(int group);
  void Reparent(int first, int new_parent);

  bool ReadOperand();
  bool StoreWord(int node, const Token& token);
  bool CloseParenthesis();
  bool ReadOperator();
  bool Close(int group);
  bool AddEntry(char byte, int node);
  bool Finish();

  ContainingExpression& e_;
  std::string_view text_;
  std::size_t pos_ = 0;
  Token lookahead_;
  bool has_lookahead_ = false;

  std::string words_;
  bool closed_[kMaxExpressionNodes] = {};
  int current_ = 0;       // the group the next operand joins
  int last_operand_ = 0;  // the operand just read
  bool last_was_parenthesis_ = false;
  int open_depth_ = 0;
  bool pending_negation_ = false;
  bool operand_required_ = true;
  bool at_end_ = false;
  std::string error_;
};

Token ContainingExpressionParser::NextToken() {
  while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  Token token;
  if (pos_ >= text_.size()) return token;
  std::size_t start = pos_;
  char c = text_[pos_];
  if (c == '"' || c == '\'') {
    // Runs to the next quote of the same kind that is not doubled, closing
    // quote included, or to the end of the text.
    std::size_t i = start + 1;
    while (i < text_.size()) {
      if (text_[i] == c) {
        if (i + 1 < text_.size() && text_[i + 1] == c) {
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      ++i;
    }
    token.kind = kTokenQuoted;
    pos_ = i;
  } else if (IsPunctuation(c)) {
    token.kind = kTokenPunctuation;
    pos_ = start + 1;
  } else {
    std::size_t i = start;
    while (i < text_.size() && !IsBlank(text_[i]) && !IsPunctuation(text_[i])) ++i;
    token.kind = kTokenWord;
    pos_ = i;
  }
  token.text = text_.substr(start, pos_ - start);
  return token;
}

bool ContainingExpressionParser::TakeNode(int* index) {
  if (e_.node_count_ >= kMaxExpressionNodes) return Fail(kTooComplicatedNodes);
  *index = e_.node_count_++;
  e_.nodes_[*index] = ExpressionNode();
  closed_[*index] = false;
  return true;
}

int ContainingExpressionParser::LastChild(int group) {
  int child = N(group).first_child;
  if (child == 0) return 0;
  while (N(child).next != 0) child = N(child).next;
  return child;
}

// Links node after the last operand of group, with that operand's operator
// (AND for a group's first operand).
void ContainingExpressionParser::Join(int node, int group) {
  ExpressionNode& n = N(node);
  n.parent = static_cast<std::uint16_t>(group);
  int last = LastChild(group);
  if (last == 0) {
    N(group).first_child = static_cast<std::uint16_t>(node);
    n.op = kOperatorAnd;
  } else {
    N(last).next = static_cast<std::uint16_t>(node);
    n.previous = static_cast<std::uint16_t>(last);
    n.op = N(last).op;
  }
}

void ContainingExpressionParser::Reparent(int first, int new_parent) {
  for (int child = first; child != 0; child = N(child).next) {
    N(child).parent = static_cast<std::uint16_t>(new_parent);
  }
}

bool ContainingExpressionParser::ReadOperand() {
  int node;
  if (!TakeNode(&node)) return false;
  Join(node, current_);
  for (;;) {
    Token token = Next();
    if (token.kind == kTokenEnd) {
      if (operand_required_) return Fail(kExpectedAtEnd);
      // An empty trailing operand (as after a dangling NOT): never found.
      N(node).negated = pending_negation_ ? 1 : 0;
      pending_negation_ = false;
      last_operand_ = node;
      last_was_parenthesis_ = false;
      at_end_ = true;
      return true;
    }
    if (IsKeyword(token, "NOT") || IsKeyword(token, "!")) {
      pending_negation_ = !pending_negation_;
      continue;
    }
    if (IsKeyword(token, "(")) {
      if (N(node).op == kOperatorNear || N(node).op == kOperatorHyphen) {
        return Fail(kNoParenthesisInChain);
      }
      N(node).op = kOperatorParenthesis;
      N(node).negated = pending_negation_ ? 1 : 0;
      pending_negation_ = false;
      ++open_depth_;
      current_ = node;
      int child;
      if (!TakeNode(&child)) return false;
      Join(child, node);
      node = child;
      continue;
    }
    if (token.kind == kTokenPunctuation) {
      return Fail("Expected a word or string, but found \"" + std::string(token.text) + "\"");
    }
    if (!StoreWord(node, token)) return false;
    N(node).negated = pending_negation_ ? 1 : 0;
    pending_negation_ = false;
    last_operand_ = node;
    last_was_parenthesis_ = false;
    return true;
  }
}

bool ContainingExpressionParser::StoreWord(int node, const Token& token) {
  ExpressionNode& n = N(node);
  std::string word;
  if (token.kind == kTokenQuoted) {
    char quote = token.text[0];
    std::string_view body = token.text.substr(1);
    // The closing quote is present when the body ends with an undoubled quote.
    std::size_t i = 0;
    while (i < body.size()) {
      if (body[i] == quote) {
        if (i + 1 < body.size() && body[i + 1] == quote) {
          word.push_back(quote);
          i += 2;
          continue;
        }
        break;  // the closing quote (always the last byte of the token)
      }
      word.push_back(body[i]);
      ++i;
    }
    n.at_word_start = 0;
    n.at_word_end = 0;
    n.has_wildcard = 0;
    n.prefix_length = static_cast<std::int32_t>(word.size());
  } else {
    std::string_view w = token.text;
    n.at_word_start = 1;
    n.at_word_end = 1;
    while (!w.empty() && (w.front() == '*' || w.front() == '?')) {
      w.remove_prefix(1);
      n.at_word_start = 0;
    }
    while (!w.empty() && w.back() == '*') {
      w.remove_suffix(1);
      n.at_word_end = 0;
    }
    word.assign(w);
    std::size_t wildcard = word.find_first_of("*?");
    n.has_wildcard = wildcard != std::string::npos ? 1 : 0;
    n.prefix_length = static_cast<std::int32_t>(n.has_wildcard ? wildcard : word.size());
  }
  if (word.empty()) return Fail(kEmptyWord);
  n.word_length = static_cast<std::int32_t>(word.size());
  n.case_sensitive = 0;
  for (char c : word) {
    if (c >= 'A' && c <= 'Z') n.case_sensitive = 1;
  }
  n.word_offset = static_cast<std::uint32_t>(words_.size());
  words_ += word;
  words_.push_back('\0');
  return true;
}

// A ")" after an operand: closes every group up to and including the
// innermost open parenthesized group.
bool ContainingExpressionParser::CloseParenthesis() {
  if (open_depth_ == 0) return Fail(kMismatchedParenthesis);
  int group = current_;
  for (;;) {
    if (!Close(group)) return false;
    if (N(group).op == kOperatorParenthesis) break;
    group = N(group).parent;
  }
  if (N(group).previous != 0) N(group).op = N(N(group).previous).op;
  --open_depth_;
  current_ = N(group).parent;
  last_operand_ = group;
  last_was_parenthesis_ = true;
  return true;
}

bool ContainingExpressionParser::ReadOperator() {
  Token token = Next();
  if (token.kind == kTokenEnd) {
    at_end_ = true;
    return true;
  }
  int op = kOperatorAnd;
  bool consumed = true;
  if (IsKeyword(token, "OR") || IsKeyword(token, "|")) {
    op = kOperatorOr;
  } else if (IsKeyword(token, "-")) {
    op = kOperatorHyphen;
  } else if (IsKeyword(token, "NEAR")) {
    op = kOperatorNear;
  } else if (IsKeyword(token, "EXCEPT")) {
    op = kOperatorAnd;
    pending_negation_ = !pending_negation_;
  } else if (IsKeyword(token, "AND") || IsKeyword(token, "&") || IsKeyword(token, "+")) {
    op = kOperatorAnd;
  } else {
    consumed = false;
    Unget(token);
  }
  operand_required_ = consumed;

  const int x = last_operand_;
  const int group = N(x).parent;
  const int previous = N(x).previous;
  const int chain = N(N(group).first_child).op;

  if (op == kOperatorNear || op == kOperatorHyphen) {
    if (previous != 0) {
      int before = N(previous).op;
      if ((op == kOperatorNear && before == kOperatorHyphen) ||
          (op == kOperatorHyphen && before == kOperatorNear)) {
        return Fail(kCannotMingle);
      }
    }
    if (last_was_parenthesis_) return Fail(kNoParenthesisInChain);
    int position = 1;
    if (previous != 0 && chain == op) {
      for (int c = N(group).first_child; c != x; c = N(c).next) ++position;
    }
    if (position >= kMaxChainOperands) return Fail(kTooManyChainWords);
  }

  if (previous == 0) {
    // First operand: its operator becomes the group's.
    N(x).op = op;
    current_ = group;
    return true;
  }
  if (op == chain) {
    current_ = group;
    return true;
  }
  if (op > chain) {
    // Tighter: x's node becomes a new group in its place, and x's content
    // moves to a new node, the group's first operand.
    int moved;
    if (!TakeNode(&moved)) return false;
    ExpressionNode content = N(x);
    content.parent = static_cast<std::uint16_t>(x);
    content.next = 0;
    content.previous = 0;
    content.op = op;
    N(moved) = content;
    closed_[moved] = closed_[x];
    Reparent(content.first_child, moved);
    ExpressionNode& g = N(x);
    g.first_child = static_cast<std::uint16_t>(moved);
    g.negated = 0;
    g.initial_state = 0;
    g.word_offset = 0;
    g.word_length = 0;
    g.prefix_length = 0;
    g.at_word_start = 0;
    g.at_word_end = 0;
    g.has_wildcard = 0;
    g.case_sensitive = 0;
    closed_[x] = false;
    current_ = x;
    return true;
  }
  // Looser: the chain of x's group has ended.
  int g = group;
  while (N(g).op > op) {
    if (!Close(g)) return false;
    g = N(g).parent;
  }
  if (N(g).op == op) {
    if (!Close(g)) return false;
    current_ = N(g).parent;
    return true;
  }
  int wrapper;
  if (!TakeNode(&wrapper)) return false;
  N(wrapper).first_child = N(g).first_child;
  Reparent(N(wrapper).first_child, wrapper);
  N(wrapper).parent = static_cast<std::uint16_t>(g);
  N(wrapper).op = op;
  N(g).first_child = static_cast<std::uint16_t>(wrapper);
  if (!Close(wrapper)) return false;
  current_ = g;
  return true;
}

// Inserts an entry after every entry whose byte is less than or equal.
// The table is bounded: an expression whose words need more entries is
// refused as too complicated.
bool ContainingExpressionParser::AddEntry(char byte, int node) {
  FirstCharTable& t = e_.table_;
  if (t.count >= kFirstCharTableSize) return Fail(kTooComplicatedNodes);
  auto value = static_cast<std::int8_t>(byte);
  int at = t.count;
  while (at > 0 && t.bytes[at - 1] > value) {
    t.bytes[at] = t.bytes[at - 1];
    t.nodes[at] = t.nodes[at - 1];
    --at;
  }
  t.bytes[at] = value;
  t.nodes[at] = static_cast<std::uint16_t>(node);
  ++t.count;
  return true;
}

bool ContainingExpressionParser::Close(int group) {
  closed_[group] = true;
  ExpressionNode& g = N(group);
  int first = g.first_child;
  if (first == 0) {
    g.initial_state = 1;  // nothing inside: stays undecided
    return true;
  }
  int count = 0;
  for (int c = first; c != 0; c = N(c).next) ++count;
  int op = N(first).op;
  auto add_entries = [&](int c) {
    const ExpressionNode& n = N(c);
    if (n.first_child != 0 || n.word_length == 0) return true;
    // The words are published only at the end; while parsing they live here.
    char byte = words_[n.word_offset];
    if (n.case_sensitive) return AddEntry(byte, c);
    return AddEntry(AsciiLower(byte), c) && AddEntry(AsciiUpper(byte), c);
  };
  if (op == kOperatorAnd || op == kOperatorOr) {
    if (count > kMaxGroupOperands) return Fail(kTooComplicatedGroup);
    std::uint16_t all = static_cast<std::uint16_t>((1u << count) - 1u);
    int k = 0;
    for (int c = first; c != 0; c = N(c).next, ++k) {
      if (!add_entries(c)) return false;
      std::uint16_t bit = static_cast<std::uint16_t>(1u << k);
      if (op == kOperatorAnd) {
        N(c).true_mask = bit;
        N(c).false_mask = 0;
      } else {
        N(c).true_mask = kStateTrue;
        N(c).false_mask = static_cast<std::uint16_t>(~bit);
      }
    }
    N(group).initial_state = op == kOperatorAnd ? static_cast<std::uint16_t>(~all) : all;
    return true;
  }
  // NEAR, hyphen, or a single parenthesized operand: only the first operand
  // is searched for; the matcher checks the rest of a chain behind it.
  if (!add_entries(first)) return false;
  N(first).true_mask = kStateTrue;
  N(first).false_mask = 0;
  N(group).initial_state = N(first).first_child != 0 ? N(first).initial_state : 1;
  return true;
}

bool ContainingExpressionParser::Finish() {
  if (open_depth_ > 0) return Fail(kMismatchedParenthesis);
  for (int g = current_;; g = N(g).parent) {
    if (!Close(g)) return false;
    if (g == 0) break;
  }
  return true;
}

bool ContainingExpressionParser::Run(std::string* message) {
  e_.ResetTables();
  e_.node_count_ = 1;
  // Words never need more room than the text plus one terminator each.
  words_.reserve(text_.size() + kMaxExpressionNodes + 1);
  bool ok = true;
  while (ok) {
    ok = ReadOperand();
    if (!ok || at_end_) break;
    Token token = Next();
    while (ok && IsKeyword(token, ")")) {
      ok = CloseParenthesis();
      token = Next();
    }
    if (!ok) break;
    Unget(token);
    ok = ReadOperator();
    if (!ok || at_end_) break;
  }
  if (ok) ok = Finish();
  if (!ok) {
    e_.ResetTables();
    if (message) *message = error_;
    return false;
  }
  e_.words_ = std::make_shared<const std::string>(std::move(words_));
  e_.compiled_ = true;
  return true;
}

void ContainingExpression::ResetTables() {
  compiled_ = false;
  node_count_ = 0;
  for (ExpressionNode& n : nodes_) n = ExpressionNode();
  table_ = FirstCharTable();
  words_.reset();
}

const char* ContainingExpression::word_data(int index) const {
  const ExpressionNode& n = nodes_[index];
  if (!words_ || n.word_length == 0) return "";
  return words_->data() + n.word_offset;
}

bool ContainingExpression::Compile(std::string_view text, std::string* message) {
  ContainingExpressionParser parser(this, text);
  std::string error;
  if (parser.Run(&error)) return true;
  // Raised like every error that abandons an operation, so that the message
  // stands in the last error record; the compiler stops it here unshown.
  try {
    RaiseError("%s", error.c_str());
  } catch (const ErrorStruct&) {
  }
  if (message) *message = error;
  return false;
}

}  // namespace quindelo
