// The compiled form of a find's Containing text: a boolean expression over
// words and quoted strings joined by AND, OR, NOT, EXCEPT, NEAR and hyphen,
// with parentheses.
//
// ContainingExpression::Compile turns the text into a fixed table of at most
// kMaxExpressionNodes nodes (node 0 is the root group) with precomputed
// evaluation masks, and a FirstCharTable of the first bytes of every word the
// content matcher must look for.
//
// Thread-safety: a compiled expression is read-only; any number of threads
// may read it and copy it at the same time. Compile changes the object and
// must not run while another thread reads or copies it.
//
// Copies are cheap (the node and entry tables, plus a shared reference to
// the text that holds the words). The word texts are immutable and kept
// alive by every copy, so a copy stays valid even when the original is
// recompiled or destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quindelo {

inline constexpr int kMaxExpressionNodes = 25;
inline constexpr int kFirstCharTableSize = 25;

// Operators as stored in ExpressionNode::op. A parenthesized group carries
// kOperatorParenthesis while it is open, and keeps it when it is the only
// operand of its parent. The root's own operator is kOperatorNone.
enum ExpressionOperator : std::int32_t {
  kOperatorNone = 0,
  kOperatorParenthesis = 2,
  kOperatorOr = 3,
  kOperatorAnd = 4,
  kOperatorNear = 6,
  kOperatorHyphen = 7,
};

// Group states: 0x0000 decided false, 0xFFFF decided true, else undecided.
inline constexpr std::uint16_t kStateFalse = 0x0000;
inline constexpr std::uint16_t kStateTrue = 0xFFFF;

// One operand or group. Index 0 stands for "no node" in every link field.
struct ExpressionNode {
  std::uint16_t next = 0;         // next operand in the same group
  std::uint16_t previous = 0;     // previous operand in the same group
  std::uint16_t parent = 0;       // the group that holds this node
  std::uint16_t first_child = 0;  // first operand, when this node is a group
  // Operator joining this node to its next sibling (the chain operator of
  // the group it belongs to).
  std::int32_t op = kOperatorNone;
  std::uint16_t negated = 0;        // 1: truth value inverted before it reaches the group
  std::uint16_t true_mask = 0;      // applied to the group state when this becomes true
  std::uint16_t false_mask = 0;     // applied when it becomes false
  std::uint16_t initial_state = 0;  // starting state of this node's own group
  std::uint32_t word_offset = 0;    // word text inside the expression's word store
  std::int32_t word_length = 0;     // 0 for groups and for an empty trailing operand
  std::int32_t prefix_length = 0;   // bytes before the first * or ?; whole length if none
  std::uint16_t at_word_start = 0;  // match must begin at the start of a word
  std::uint16_t at_word_end = 0;    // match must end at the end of a word
  std::uint16_t has_wildcard = 0;   // a * or ? follows the prefix
  std::uint16_t case_sensitive = 0; // the word holds an upper-case letter A-Z
};

// First bytes of the words to search for, sorted ascending by signed byte
// value (equal bytes keep their insertion order), with the node of each.
struct FirstCharTable {
  std::uint16_t count = 0;
  std::int8_t bytes[kFirstCharTableSize] = {};
  std::uint16_t nodes[kFirstCharTableSize] = {};
};

class ContainingExpression {
 public:
  // An empty, uncompiled expression (no nodes, no entries).
  ContainingExpression() = default;

  // Compiles text. On success returns true and *message is left untouched.
  // On failure returns false, stores the exact user message in *message
  // (may be null) and leaves the expression uncompiled (compiled() false),
  // so that it is never used for scanning. Never throws for any text.
  bool Compile(std::string_view text, std::string* message);

  // True after a successful Compile.
  bool compiled() const { return compiled_; }

  // Nodes in use, the root included.
  int node_count() const { return node_count_; }
  // REQUIRES: 0 <= index < node_count().
  const ExpressionNode& node(int index) const { return nodes_[index]; }
  const FirstCharTable& first_chars() const { return table_; }

  // The word or string of a node, zero-terminated (empty for groups).
  const char* word_data(int index) const;
  std::string_view word(int index) const {
    return std::string_view(word_data(index), static_cast<std::size_t>(nodes_[index].word_length));
  }

 private:
  friend class ContainingExpressionParser;

  void ResetTables();

  bool compiled_ = false;
  std::uint16_t node_count_ = 0;
  ExpressionNode nodes_[kMaxExpressionNodes];
  FirstCharTable table_;
  // The processed words, each followed by a zero byte. Shared by copies and
  // never changed after Compile publishes it.
  std::shared_ptr<const std::string> words_;
};

}  // namespace quindelo
