// Content matching: decides whether the bytes of a file satisfy a compiled
// ContainingExpression.
//
// Reading and matching are kept apart. ContentMatcher knows bytes only: it
// is fed blocks of at most kBlockSize bytes, searches every word of the
// expression in one pass driven by the expression's FirstCharTable, carries
// each word found up the expression tree at once (Propagate), and reports as
// soon as the value of the whole expression is known. FileSearcher
// (content/file_searcher.h) is the reader: it owns the open file and reads
// its blocks straight into the matcher's block space.
//
// Answers never depend on how the text is cut into blocks. A word is
// verified at a position only when every byte its verification may read is
// there (the bytes it may read are bounded: kMaxStarAbsorb per star plus the
// word's length); otherwise the scan of the block stops at that position and
// everything from it is carried in front of the next block and examined
// there, or by Finish. A NEAR or hyphen chain is judged on the kChainReach
// bytes from the start of its first word (bytes beyond count as the end of
// the text), so it too is carried when the block ends within that reach.
//
// A word with stars matches at a position when some choice of what each
// star absorbs (fewer than kMaxStarAbsorb bytes: the rest of the current
// word and the separators after it, or, from a separator, the separators,
// the next word and the separators after that) uses up the word and, unless
// the word ends with a star, ends at the end of a text word. Each star keeps
// one resume point per text position that moves only forward while the scan
// moves forward, so the work for a word is linear in the text.
//
// Thread-safety: a ContentMatcher is used by one thread at a time. It keeps
// its own copy of the expression, so any number of matchers built from one
// compiled expression may run at the same time on different threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "content/containing_expression.h"

namespace quindelo {

class ContentMatcher {
 public:
  static constexpr std::size_t kBlockSize = 65536;
  // A star absorbs fewer bytes than this.
  static constexpr std::size_t kMaxStarAbsorb = 256;
  // Bytes from the start of a NEAR or hyphen chain within which it must end.
  static constexpr std::size_t kChainReach = 65536;

  // Keeps a private copy of expression. An uncompiled expression never
  // matches. The read buffer is allocated on first use and reused.
  explicit ContentMatcher(const ContainingExpression& expression);
  ContentMatcher(const ContentMatcher&) = delete;
  ContentMatcher& operator=(const ContentMatcher&) = delete;

  // False when the expression did not compile: the matcher then never
  // matches, whatever it is fed.
  bool compiled() const { return expression_.compiled(); }

  // Streaming interface:
  //   Begin(); repeat { write up to kBlockSize bytes at BlockSpace();
  //   if (ScanBlock(n)) break; }  result = Finish();
  // Starts a new scan: group states take their initial values and every
  // decided flag is cleared.
  void Begin();
  // Where the next block's bytes go; room for kBlockSize bytes. Bytes not
  // examined yet may be carried in front of it.
  // REQUIRES: Begin() was called.
  char* BlockSpace();
  // Scans the count bytes just written at BlockSpace(). Returns true when
  // the value of the expression is decided (no more data is needed).
  // Blocks of any size up to kBlockSize (even 0) give the same answers.
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
  enum class Verdict { kNo, kYes, kUnknown };  // kUnknown: needs bytes not read yet

  // One byte of a word after its prefix: a byte to compare, or "?".
  struct Unit {
    unsigned char byte = 0;  // upper-cased when the word is not case sensitive
    bool any = false;
  };
  // What a star knows about the text while the scan moves forward: no
  // position in [low, high) lets the rest of the word match from there, and
  // when hit is set, high does.
  struct StarCursor {
    const unsigned char* low = nullptr;
    const unsigned char* high = nullptr;
    const unsigned char* window = nullptr;  // end of the positions being asked about
    bool hit = false;
  };
  struct WordInfo {
    const unsigned char* text = nullptr;  // zero-terminated
    int length = 0;
    int prefix = 0;
    std::size_t reach = 0;  // verification reads only bytes before start + reach
    // The word after its prefix: segments of units between stars. Segment j
    // is units[segment_begin[j], segment_begin[j + 1]); star j (from 1)
    // stands between segments j - 1 and j.
    std::vector<Unit> units;
    std::vector<int> segment_begin;
    int stars = 0;
    bool case_sensitive = false;
    std::vector<StarCursor> cursors;  // per star
    // What any match of the stars needs (see CompileWord): a byte to look
    // for in its two letter cases, at required_offset into the last segment
    // when required_whole (the segment and the word's end are then checked
    // too), within required_bound bytes of where the first star begins.
    // required_from..required_to is the text already searched (by segment
    // start) and required_hit the first place found there.
    bool has_required = false;
    bool required_whole = false;
    unsigned char required[2] = {};
    std::size_t required_offset = 0;
    std::size_t required_bound = 0;
    const unsigned char* required_from = nullptr;
    const unsigned char* required_to = nullptr;
    const unsigned char* required_hit = nullptr;
  };

  void CompileWord(int node);
  std::size_t ScanRange(std::size_t begin, std::size_t end, bool final);
  Verdict Verify(int node, const unsigned char* at, bool with_chain);
  Verdict VerifyChain(int first, const unsigned char* at);
  bool MatchSegment(const WordInfo& w, int segment, const unsigned char* at) const;
  bool EndsWell(int node, const unsigned char* at) const;
  bool MatchStars(int node, const unsigned char* at);
  bool RequiredWithin(int node, const unsigned char* at);
  const unsigned char* StarLimit(const unsigned char* at);
  void IndexBoundaries();
  void ResetCursors(int node);
  void MarkDecided(int node);
  void MarkSubtreeDecided(int group);

  ContainingExpression expression_;
  WordInfo words_[kMaxExpressionNodes];
  std::uint8_t node_entries_[kMaxExpressionNodes][2] = {};
  std::uint8_t node_entry_count_[kMaxExpressionNodes] = {};
  bool has_stars_ = false;

  // 4 zero bytes, up to carry_room_ carried bytes, one block, 4 zero bytes.
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t carry_room_ = 0;
  std::size_t carried_ = 0;  // bytes carried in front of the next block
  bool finished_ = false;    // root decided

  // The block being scanned: its data end, and how far a verification may
  // read (the data end, or the end of a chain's reach, where a zero byte is
  // put for the time of the chain). final_: no data follows the block.
  const unsigned char* data_end_ = nullptr;
  const unsigned char* horizon_ = nullptr;
  bool final_ = false;

  // Per buffer offset, for star limits; filled once per block when needed:
  // the next word byte or zero byte, and the ends of letter and number runs.
  std::vector<std::uint32_t> next_word_;
  std::vector<std::uint32_t> letters_end_;
  std::vector<std::uint32_t> number_end_;
  bool boundaries_indexed_ = false;

  std::uint16_t entry_decided_[kFirstCharTableSize] = {};
  std::uint16_t node_decided_[kMaxExpressionNodes] = {};
  std::uint16_t state_[kMaxExpressionNodes] = {};
  std::size_t next_[kFirstCharTableSize] = {};  // buffer offsets; 0 = stale
};

}  // namespace quindelo
