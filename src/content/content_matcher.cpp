#include "content/content_matcher.h"

#include <algorithm>
#include <cstring>

#include "base/ascii.h"

namespace quindelo {

namespace {

// Byte classes, ASCII only: bytes 0x80-0xFF are neither letters nor digits.
inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool IsAlpha(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
inline bool IsAlnum(unsigned char c) { return IsDigit(c) || IsAlpha(c); }
using ascii::ToLower;
using ascii::ToUpper;

// All helpers below read at most one byte past the byte they look at; the
// buffer keeps 4 zero bytes behind the data, and every loop stops at a zero.

// A letter or digit, "_", or a sign directly before a digit.
inline bool IsWordByte(const unsigned char* x) {
  unsigned char c = x[0];
  return IsAlnum(c) || c == '_' || ((c == '+' || c == '-') && IsDigit(x[1]));
}

// The end of the word span at x (x itself when the span is empty).
const unsigned char* SkipSpan(const unsigned char* x) {
  unsigned char c = *x;
  if (IsAlpha(c) || c == '_') {
    ++x;
    for (;;) {
      if (IsAlnum(*x) || *x == '_' || (*x == '\'' && IsAlnum(x[1]))) {
        ++x;
      } else {
        return x;
      }
    }
  }
  if (IsDigit(c) || ((c == '+' || c == '-') && IsDigit(x[1]))) {
    ++x;
    for (;;) {
      if (IsAlnum(*x) || ((*x == ',' || *x == '.') && IsDigit(x[1]))) {
        ++x;
      } else {
        return x;
      }
    }
  }
  return x;
}

// Skips non-word bytes, stopping at a zero byte (the end of the data, or a
// zero in the file, which ends wildcard matches and chains).
inline const unsigned char* SkipSeparators(const unsigned char* x) {
  while (*x != 0 && !IsWordByte(x)) ++x;
  return x;
}

constexpr int kNearReach = 8;    // misses allowed between NEAR operands
constexpr int kHyphenReach = 1;  // misses allowed between hyphen operands

inline bool IsWordEndByte(unsigned char c) { return IsAlnum(c) || c == '_'; }

}  // namespace

ContentMatcher::ContentMatcher(const ContainingExpression& expression) : expression_(expression) {
  if (!expression_.compiled()) return;
  std::size_t room = 0;
  for (int i = 0; i < expression_.node_count(); ++i) {
    CompileWord(i);
    const ExpressionNode& n = expression_.node(i);
    room = std::max(room, words_[i].reach);
    if (n.op == kOperatorNear || n.op == kOperatorHyphen) room = std::max(room, kChainReach + 1);
  }
  // The byte before a carried position is kept apart (in front of the data).
  carry_room_ = room + 1;
  const FirstCharTable& table = expression_.first_chars();
  for (int e = 0; e < table.count; ++e) {
    int node = table.nodes[e];
    if (node_entry_count_[node] < 2) node_entries_[node][node_entry_count_[node]++] = static_cast<std::uint8_t>(e);
  }
}

void ContentMatcher::CompileWord(int node) {
  const ExpressionNode& n = expression_.node(node);
  WordInfo& w = words_[node];
  w.text = reinterpret_cast<const unsigned char*>(expression_.word_data(node));
  w.length = n.word_length;
  w.prefix = n.prefix_length;
  w.case_sensitive = n.case_sensitive != 0;
  // The prefix, and the byte after the word for its end.
  w.reach = static_cast<std::size_t>(w.prefix) + 1;
  if (!n.has_wildcard) return;
  w.segment_begin.push_back(0);
  for (int j = w.prefix; j < w.length; ++j) {
    unsigned char c = w.text[j];
    if (c == '*') {
      // A last star ends the match at once: the word's end is judged there.
      if (j < w.length - 1) {
        w.segment_begin.push_back(static_cast<int>(w.units.size()));
        ++w.stars;
      }
      continue;
    }
    Unit u;
    if (c == '?') {
      u.any = true;
    } else if (c == '\\' && j + 1 < w.length && (w.text[j + 1] == '*' || w.text[j + 1] == '?')) {
      u.byte = w.text[++j];
    } else {
      u.byte = n.case_sensitive ? c : ToUpper(c);
    }
    w.units.push_back(u);
  }
  w.segment_begin.push_back(static_cast<int>(w.units.size()));
  w.cursors.assign(static_cast<std::size_t>(w.stars), StarCursor{});
  if (w.stars > 0) has_stars_ = true;
  // What the stars' matches cannot do without: the last segment, ended as
  // the word must end, found by its first byte to compare; failing that,
  // the last byte to compare of any segment after a star.
  const int last_begin = w.stars > 0 ? w.segment_begin[static_cast<std::size_t>(w.stars)] : 0;
  for (int u = last_begin; w.stars > 0 && u < static_cast<int>(w.units.size()); ++u) {
    if (w.units[static_cast<std::size_t>(u)].any) continue;
    w.has_required = w.required_whole = true;
    w.required_offset = static_cast<std::size_t>(u - last_begin);
    w.required[0] = w.units[static_cast<std::size_t>(u)].byte;
    break;
  }
  for (int u = last_begin - 1; w.stars > 0 && !w.has_required && u >= w.segment_begin[1]; --u) {
    if (w.units[static_cast<std::size_t>(u)].any) continue;
    w.has_required = true;
    w.required[0] = w.units[static_cast<std::size_t>(u)].byte;
  }
  w.required[1] = w.case_sensitive ? w.required[0] : ToLower(w.required[0]);
  w.required_bound = w.units.size() + static_cast<std::size_t>(w.stars) * kMaxStarAbsorb;
  // Each star moves on by fewer than kMaxStarAbsorb bytes and its limit is
  // judged by at most the byte after them; then the word's end.
  w.reach = static_cast<std::size_t>(w.prefix) + w.units.size() +
            static_cast<std::size_t>(w.stars) * (kMaxStarAbsorb + 1) + 2;
}

void ContentMatcher::Begin() {
  if (!buffer_) buffer_ = std::make_unique<unsigned char[]>(4 + carry_room_ + kBlockSize + 4);
  std::memset(buffer_.get(), 0, 4);
  carried_ = 0;
  finished_ = !expression_.compiled();
  std::fill(std::begin(entry_decided_), std::end(entry_decided_), 0);
  std::fill(std::begin(node_decided_), std::end(node_decided_), 0);
  for (int i = 0; i < expression_.node_count(); ++i) state_[i] = expression_.node(i).initial_state;
}

char* ContentMatcher::BlockSpace() { return reinterpret_cast<char*>(buffer_.get() + 4 + carried_); }

bool ContentMatcher::decided() const {
  if (!expression_.compiled()) return true;
  return state_[0] == kStateFalse || state_[0] == kStateTrue;
}

bool ContentMatcher::ScanBlock(std::size_t count) {
  if (finished_) return true;
  unsigned char* buf = buffer_.get();
  const std::size_t start = 4;
  const std::size_t end = start + carried_ + count;
  std::memset(buf + end, 0, 4);
  // Positions whose verification needs bytes after this block are examined
  // in front of the next one, where those bytes are known.
  const std::size_t stop = ScanRange(start, end, false);
  if (finished_) return true;
  if (stop > start) buf[start - 1] = buf[stop - 1];
  std::memmove(buf + start, buf + stop, end - stop);
  carried_ = end - stop;
  return false;
}

bool ContentMatcher::ScanBytes(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    std::size_t n = std::min(size, kBlockSize);
    std::memcpy(BlockSpace(), bytes, n);
    if (ScanBlock(n)) return true;
    bytes += n;
    size -= n;
  }
  return finished_;
}

bool ContentMatcher::Finish() {
  if (!expression_.compiled()) return false;
  if (!finished_) {
    const std::size_t start = 4;
    const std::size_t end = start + carried_;
    std::memset(buffer_.get() + end, 0, 4);
    ScanRange(start, end, true);
    carried_ = 0;
  }
  if (!finished_) {
    // Every word still undecided was not found.
    for (int i = 1; i < expression_.node_count(); ++i) {
      const ExpressionNode& n = expression_.node(i);
      if (node_decided_[i] || n.first_child != 0 || n.true_mask == 0) continue;
      if (Propagate(i, false)) break;
    }
  }
  return state_[0] == kStateTrue;
}

// Returns where the scan stopped: end, or the first position whose words
// need bytes after end (never when final).
std::size_t ContentMatcher::ScanRange(std::size_t begin, std::size_t end, bool final) {
  const FirstCharTable& table = expression_.first_chars();
  const int count = table.count;
  const unsigned char* base = buffer_.get();
  data_end_ = base + end;
  horizon_ = data_end_;
  final_ = final;
  boundaries_indexed_ = false;
  for (int i = 0; i < expression_.node_count(); ++i) ResetCursors(i);
  std::fill(std::begin(next_), std::end(next_), 0);
  std::size_t p = begin;
  while (p < end) {
    std::size_t best = end;
    int winner = -1;
    for (int e = 0; e < count; ++e) {
      if (next_[e] < p) {
        if (entry_decided_[e]) {
          next_[e] = end;
        } else if (e > 0 && table.bytes[e - 1] == table.bytes[e] && !entry_decided_[e - 1]) {
          next_[e] = next_[e - 1];
        } else if (base[p] == static_cast<unsigned char>(table.bytes[e])) {
          next_[e] = p;  // dense text: spares the call
        } else {
          const void* found = std::memchr(base + p, static_cast<unsigned char>(table.bytes[e]), end - p);
          next_[e] = found ? static_cast<std::size_t>(static_cast<const unsigned char*>(found) - base) : end;
        }
      }
      if (next_[e] < best) {
        best = next_[e];
        winner = e;
      }
    }
    if (winner < 0 || best >= end) return end;
    const std::size_t at = best;
    const std::int8_t byte = table.bytes[winner];
    for (int e = winner; e < count && table.bytes[e] == byte; ++e) {
      int node = table.nodes[e];
      if (node_decided_[node]) {
        next_[e] = end;  // retired for the rest of the block
        continue;
      }
      Verdict v = Verify(node, base + at, true);
      if (v == Verdict::kUnknown) return at;
      if (v == Verdict::kYes && Propagate(node, true)) {
        finished_ = true;
        return end;
      }
    }
    p = at + 1;
  }
  return end;
}

ContentMatcher::Verdict ContentMatcher::Verify(int node, const unsigned char* at, bool with_chain) {
  const ExpressionNode& n = expression_.node(node);
  const WordInfo& w = words_[node];
  if (w.length == 0) return Verdict::kNo;
  if (!final_ && horizon_ == data_end_ && w.reach > static_cast<std::size_t>(data_end_ - at)) {
    return Verdict::kUnknown;
  }
  if (n.at_word_start && IsWordByte(at - 1)) return Verdict::kNo;
  if (horizon_ - at < w.prefix) return Verdict::kNo;
  if (n.case_sensitive) {
    if (std::memcmp(at, w.text, static_cast<std::size_t>(w.prefix)) != 0) return Verdict::kNo;
  } else {
    // The word holds no capital, so lower-casing the text is enough.
    for (int i = 0; i < w.prefix; ++i) {
      if (ToLower(at[i]) != w.text[i]) return Verdict::kNo;
    }
  }
  const unsigned char* after = at + w.prefix;
  if (n.has_wildcard) {
    if (!MatchSegment(w, 0, after)) return Verdict::kNo;
    after += w.segment_begin[1];
    if (w.stars > 0 ? !MatchStars(node, after) : !EndsWell(node, after)) return Verdict::kNo;
  } else if (!EndsWell(node, after)) {
    return Verdict::kNo;
  }
  if (with_chain && (n.op == kOperatorNear || n.op == kOperatorHyphen)) {
    return VerifyChain(node, at);
  }
  return Verdict::kYes;
}

// The operands after first must follow it in order, each within the reach
// of word starts that NEAR or hyphen allows, and all within kChainReach
// bytes of at.
ContentMatcher::Verdict ContentMatcher::VerifyChain(int first, const unsigned char* at) {
  const int reach = expression_.node(first).op == kOperatorNear ? kNearReach : kHyphenReach;
  // Star limits of the operands come from the text as it is, before the
  // zero byte at the horizon goes in.
  if (has_stars_ && !boundaries_indexed_) IndexBoundaries();
  unsigned char* horizon = const_cast<unsigned char*>(data_end_);
  if (static_cast<std::size_t>(data_end_ - at) > kChainReach) horizon = const_cast<unsigned char*>(at) + kChainReach;
  const unsigned char saved = *horizon;
  *horizon = 0;
  horizon_ = horizon;
  Verdict verdict = Verdict::kNo;
  int current = expression_.node(first).next;
  for (int c = current; c != 0; c = expression_.node(c).next) ResetCursors(c);
  int misses = 0;
  const unsigned char* q = at;
  for (;;) {
    if (current == 0) {
      verdict = Verdict::kYes;
      break;
    }
    const unsigned char* s = SkipSeparators(SkipSpan(q));
    // The skips read up to the byte after s.
    if (!final_ && horizon == data_end_ && s + 1 >= data_end_) {
      verdict = Verdict::kUnknown;
      break;
    }
    if (*s == 0) break;
    Verdict v = Verify(current, s, false);
    if (v == Verdict::kUnknown) {
      verdict = v;
      break;
    }
    if (v == Verdict::kYes) {
      current = expression_.node(current).next;
      misses = 0;
    } else if (++misses > reach) {
      break;
    }
    q = s;
  }
  *horizon = saved;
  horizon_ = data_end_;
  return verdict;
}

bool ContentMatcher::MatchSegment(const WordInfo& w, int segment, const unsigned char* at) const {
  const Unit* u = w.units.data() + w.segment_begin[static_cast<std::size_t>(segment)];
  const Unit* last = w.units.data() + w.segment_begin[static_cast<std::size_t>(segment) + 1];
  // A zero byte never matches: a unit's byte is never zero, "?" is checked.
  // So the compare never reads past the zero bytes behind the data.
  for (; u < last; ++u, ++at) {
    unsigned char c = *at;
    if (u->any) {
      if (c == 0) return false;
    } else if ((w.case_sensitive ? c : ToUpper(c)) != u->byte) {
      return false;
    }
  }
  return true;
}

bool ContentMatcher::EndsWell(int node, const unsigned char* at) const {
  return !expression_.node(node).at_word_end || !IsWordEndByte(*at);
}

// The first position a star starting at at may not reach: the end of the
// separators, the word and the separators from at, at most kMaxStarAbsorb
// bytes on, and never past the horizon.
const unsigned char* ContentMatcher::StarLimit(const unsigned char* at) {
  if (!boundaries_indexed_) IndexBoundaries();
  const unsigned char* base = buffer_.get();
  std::size_t s1 = next_word_[static_cast<std::size_t>(at - base)];
  unsigned char c = base[s1];
  std::size_t s2 = s1;
  if (IsAlpha(c) || c == '_') {
    s2 = letters_end_[s1 + 1];
  } else if (c != 0) {
    s2 = number_end_[s1 + 1];
  }
  const unsigned char* limit = base + next_word_[s2];
  const std::size_t room = static_cast<std::size_t>(horizon_ - at);
  if (static_cast<std::size_t>(limit - at) > std::min(room, kMaxStarAbsorb)) {
    limit = at + std::min(room, kMaxStarAbsorb);
  }
  return limit;
}

// Fills the per-offset tables from the block's data end back to its start;
// the zero bytes after the data end every run there.
void ContentMatcher::IndexBoundaries() {
  const unsigned char* base = buffer_.get();
  const std::size_t end = static_cast<std::size_t>(data_end_ - base);
  if (next_word_.size() < end + 1) {
    const std::size_t size = 4 + carry_room_ + kBlockSize + 1;
    next_word_.resize(size);
    letters_end_.resize(size);
    number_end_.resize(size);
  }
  auto e = static_cast<std::uint32_t>(end);
  next_word_[end] = letters_end_[end] = number_end_[end] = e;
  for (std::size_t x = end; x-- > 4;) {
    const unsigned char* p = base + x;
    const unsigned char c = *p;
    const auto here = static_cast<std::uint32_t>(x);
    next_word_[x] = (c == 0 || IsWordByte(p)) ? here : next_word_[x + 1];
    const bool letter_run = IsAlnum(c) || c == '_' || (c == '\'' && IsAlnum(p[1]));
    letters_end_[x] = letter_run ? letters_end_[x + 1] : here;
    const bool number_run = IsAlnum(c) || ((c == ',' || c == '.') && IsDigit(p[1]));
    number_end_[x] = number_run ? number_end_[x + 1] : here;
  }
  boundaries_indexed_ = true;
}

void ContentMatcher::ResetCursors(int node) {
  WordInfo& w = words_[node];
  for (StarCursor& c : w.cursors) c = StarCursor{};
  w.required_from = w.required_to = w.required_hit = nullptr;
}

// Whether what the word requires (see CompileWord) begins in
// [at, at + required_bound). Asked about positions that move forward, each
// byte is searched once; an earlier position starts afresh.
bool ContentMatcher::RequiredWithin(int node, const unsigned char* at) {
  WordInfo& w = words_[node];
  if (w.required_from == nullptr || at < w.required_from || at > w.required_to ||
      (w.required_hit != nullptr && w.required_hit < at)) {
    w.required_from = w.required_to = at;
    w.required_hit = nullptr;
  }
  const std::size_t room = static_cast<std::size_t>(horizon_ - at);
  const unsigned char* need = at + std::min(room, w.required_bound);
  const int length = static_cast<int>(w.units.size()) - w.segment_begin[static_cast<std::size_t>(w.stars)];
  while (w.required_hit == nullptr && w.required_to < need) {
    const unsigned char* first = w.required_to + w.required_offset;
    if (first >= horizon_) break;
    // Searching ahead in long strides spares a call per position when the
    // word is tried at every byte of the text.
    const std::size_t size = std::min(static_cast<std::size_t>(horizon_ - first),
                                      std::max<std::size_t>(static_cast<std::size_t>(need - w.required_to), 4096));
    const void* a = std::memchr(first, w.required[0], size);
    const void* b = w.required[1] == w.required[0] ? nullptr : std::memchr(first, w.required[1], size);
    const unsigned char* found = static_cast<const unsigned char*>(a);
    if (b != nullptr && (found == nullptr || b < a)) found = static_cast<const unsigned char*>(b);
    if (found == nullptr) {
      w.required_to += size;
      continue;
    }
    const unsigned char* begin = found - w.required_offset;
    w.required_to = begin + 1;
    if (!w.required_whole || (MatchSegment(w, w.stars, begin) && EndsWell(node, begin + length))) {
      w.required_hit = begin;
    }
  }
  return w.required_hit != nullptr && w.required_hit < need;
}

// The stars of the word, from at where the first star begins. Star j
// matches from position t when some b in [t, StarLimit(t)) starts its
// segment and the rest of the word matches after that segment. The cursor of
// each star remembers, for the positions it has passed, that none of them
// was such a b (or that the last one was). A star is asked about positions
// that only move forward (a later position for a star comes from a later b
// of the star before it, or from a later word start), so each star passes
// each position once. A question about an earlier position (a NEAR chain
// going back) starts that star's cursor afresh.
bool ContentMatcher::MatchStars(int node, const unsigned char* at) {
  WordInfo& w = words_[node];
  if (w.has_required && !RequiredWithin(node, at)) return false;
  const int last = w.stars;
  int j = 1;                    // the star being asked, 1..last
  const unsigned char* t = at;  // where star j begins
  bool asking = true;
  for (;;) {
    StarCursor& c = w.cursors[static_cast<std::size_t>(j - 1)];
    bool result = false;
    bool known = false;
    if (asking) {
      asking = false;
      c.window = StarLimit(t);
      if (c.low == nullptr || t < c.low || t > c.high) {
        c.low = c.high = t;
        c.hit = false;
      }
      if (c.hit) {
        result = c.high < c.window;
        known = true;
      }
    }
    if (!known) {
      const int length = w.segment_begin[static_cast<std::size_t>(j) + 1] - w.segment_begin[static_cast<std::size_t>(j)];
      bool descend = false;
      for (; c.high < c.window; ++c.high) {
        if (!MatchSegment(w, j, c.high)) continue;
        const unsigned char* e = c.high + length;
        if (j < last) {
          t = e;
          descend = true;
          break;
        }
        if (EndsWell(node, e)) {
          c.hit = true;
          result = true;
          break;
        }
      }
      if (descend) {
        ++j;
        asking = true;
        continue;
      }
    }
    // Hand the answer for star j back to the star before it.
    if (result) {
      for (int i = 1; i < j; ++i) w.cursors[static_cast<std::size_t>(i - 1)].hit = true;
      return true;
    }
    if (j == 1) return false;
    --j;
    ++w.cursors[static_cast<std::size_t>(j - 1)].high;
  }
}

void ContentMatcher::MarkDecided(int node) {
  node_decided_[node] = 1;
  for (int i = 0; i < node_entry_count_[node]; ++i) entry_decided_[node_entries_[node][i]] = 1;
}

void ContentMatcher::MarkSubtreeDecided(int group) {
  int stack[kMaxExpressionNodes];
  int depth = 0;
  for (int c = expression_.node(group).first_child; c != 0; c = expression_.node(c).next) {
    stack[depth++] = c;
  }
  while (depth > 0) {
    int n = stack[--depth];
    MarkDecided(n);
    for (int c = expression_.node(n).first_child; c != 0; c = expression_.node(c).next) {
      if (depth < kMaxExpressionNodes) stack[depth++] = c;
    }
  }
}

bool ContentMatcher::Propagate(int node, bool truth) {
  if (!expression_.compiled()) return false;
  while (node > 0 && node < expression_.node_count()) {
    if (node_decided_[node]) return false;
    MarkDecided(node);
    const ExpressionNode& n = expression_.node(node);
    const int group = n.parent;
    if (n.negated) truth = !truth;
    const std::uint16_t mask = truth ? n.true_mask : n.false_mask;
    std::uint16_t& state = state_[group];
    if (mask == kStateFalse || mask == kStateTrue) {
      state = mask;
    } else {
      state = n.op == kOperatorAnd ? static_cast<std::uint16_t>(state | mask)
                                   : static_cast<std::uint16_t>(state & mask);
      if (state != kStateFalse && state != kStateTrue) return false;
    }
    MarkSubtreeDecided(group);
    truth = state == kStateTrue;
    if (group == 0) {
      finished_ = true;
      return true;
    }
    node = group;
  }
  return false;
}

}  // namespace quindelo
