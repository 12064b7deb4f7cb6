// Content matching: decides whether the bytes of a file satisfy a compiled
// ContainingExpression.
//
// Reading and matching are kept apart. ContentMatcher knows bytes only: it
// is fed blocks of at most kBlockSize bytes, searches every word of the
// expression in one pass driven by the expression's FirstCharTable, carries
// each word found up the expression tree at once (Propagate), and reports as
// soon as the value of the whole expression is known. MatchFile is the
// reader: it owns the open file and feeds its blocks to a matcher.
//
// Word boundaries are never judged at the end of a block's data while more
// data may follow: the last kCarrySize bytes of each block are carried in
// front of the next block and only examined there (or by Finish), so a word
// cut by a block boundary is seen whole, and a match at the first byte of a
// block is judged by the real byte before it.
//
// Thread-safety: a ContentMatcher is used by one thread at a time. It keeps
// its own copy of the expression, so any number of matchers built from one
// compiled expression may run at the same time on different threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "content/containing_expression.h"

namespace quindelo {

class ContentMatcher {
 public:
  static constexpr std::size_t kBlockSize = 65536;
  static constexpr std::size_t kCarrySize = 256;
  // 4 zero bytes, the carried bytes, one block, 4 zero bytes.
  static constexpr std::size_t kBufferSize = 4 + kCarrySize + kBlockSize + 4;

  // Keeps a private copy of expression. An uncompiled expression never
  // matches. The read buffer is allocated on first use and reused.
  explicit ContentMatcher(const ContainingExpression& expression);
  ContentMatcher(const ContentMatcher&) = delete;
  ContentMatcher& operator=(const ContentMatcher&) = delete;

  // Reads the file at native_path (a regular file; FIFOs, sockets and
  // devices are never opened) and returns true when its contents satisfy
  // the expression. A file that cannot be opened is simply not a match and
  // *message is left untouched. When a read fails or the file turns out
  // shorter than its size said, *message (may be null) becomes
  // "Unable to read <native_path>" and the result is false.
  bool MatchFile(const std::string& native_path, std::string* message);

  // Streaming interface (MatchFile is built on it):
  //   Begin(); repeat { write up to kBlockSize bytes at BlockSpace();
  //   if (ScanBlock(n)) break; }  result = Finish();
  // Starts a new scan: group states take their initial values and every
  // decided flag is cleared.
  void Begin();
  // Where the next block's bytes go; room for kBlockSize bytes.
  // REQUIRES: Begin() was called.
  char* BlockSpace();
  // Scans the count bytes just written at BlockSpace(). Returns true when
  // the value of the expression is decided (no more data is needed).
  // REQUIRES: count <= kBlockSize.
  bool ScanBlock(std::size_t count);
  // Copies data in blocks and scans it; true when decided.
  bool ScanBytes(const void* data, std::size_t size);
  // Ends the data: scans what is still carried, then decides every word not
  // found as false. Returns true when the contents satisfy the expression.
  bool Finish();

  // Carries truth from operand node up the tree; true when the root has
  // become decided. Exposed for the scan and for tests.
  bool Propagate(int node, bool truth);

  // True when the root group is decided.
  bool decided() const;

 private:
  struct WordInfo {
    const unsigned char* text = nullptr;  // zero-terminated
    int length = 0;
    int prefix = 0;
    int stars = 0;  // '*' count after the prefix, for the wildcard memo
    std::size_t memo_stride = 0;           // text offsets a memo row covers
    std::vector<std::uint16_t> star_ordinal;  // per pattern index after the prefix
  };

  void ScanRange(std::size_t begin, std::size_t limit, std::size_t end);
  bool Verify(int node, const unsigned char* at, const unsigned char* end, bool with_chain);
  bool VerifyChain(int first, const unsigned char* at, const unsigned char* end);
  const unsigned char* MatchWildcard(int node, const unsigned char* text);
  void MarkDecided(int node);
  void MarkSubtreeDecided(int group);

  ContainingExpression expression_;
  WordInfo words_[kMaxExpressionNodes];
  std::uint8_t node_entries_[kMaxExpressionNodes][2] = {};
  std::uint8_t node_entry_count_[kMaxExpressionNodes] = {};

  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t carried_ = 0;  // bytes carried in front of the next block
  bool finished_ = false;    // root decided

  std::uint16_t entry_decided_[kFirstCharTableSize] = {};
  std::uint16_t node_decided_[kMaxExpressionNodes] = {};
  std::uint16_t state_[kMaxExpressionNodes] = {};
  std::size_t next_[kFirstCharTableSize] = {};  // buffer offsets; 0 = stale

  // Failed (star, text position) pairs of the current wildcard match; keeps
  // words with several stars from backtracking exponentially.
  struct WildcardFrame {
    int resume;                     // pattern index after the star
    const unsigned char* base;      // text position where the star began
    int k;                          // bytes the star absorbs in this try
    int max_k;                      // tries allowed
    std::size_t key;                // memo bit of (star, base)
  };
  std::vector<WildcardFrame> wildcard_stack_;
  std::vector<std::uint64_t> wildcard_failures_;  // bit per (star, text offset)
};

// Convenience: a one-off ContentMatcher over a copy of expression.
bool MatchFile(const ContainingExpression& expression, const std::string& native_path,
               std::string* message);

}  // namespace quindelo
