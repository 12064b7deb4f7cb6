#include "content/content_matcher.h"

#include <algorithm>
#include <cstring>

#include "platform/file.h"

namespace quindelo {

namespace {

// Byte classes, ASCII only: bytes 0x80-0xFF are neither letters nor digits.
inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool IsAlpha(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
inline bool IsAlnum(unsigned char c) { return IsDigit(c) || IsAlpha(c); }
inline unsigned char Upper(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
inline unsigned char Lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

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
constexpr int kMaxStarAbsorb = 256;

// The reader: owns the open file and hands out its bytes block by block.
// The size is taken once at open; a file that delivers fewer bytes than
// that is a read failure.
class FileBlockReader {
 public:
  enum Result { kBlock, kEnd, kError };

  bool Open(const std::string& native_path) {
    if (!file_.OpenForReading(native_path)) return false;
    if (!file_.Size(&size_)) {
      failed_to_size_ = true;
    }
    return true;
  }

  // Reads the next block (at most capacity bytes) into dest.
  Result Next(char* dest, std::size_t capacity, std::size_t* count) {
    if (failed_to_size_) return kError;
    if (offset_ >= size_) return kEnd;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, size_ - offset_));
    if (!file_.ReadExact(offset_, dest, n)) return kError;
    offset_ += n;
    *count = n;
    return kBlock;
  }

 private:
  platform::File file_;
  std::uint64_t size_ = 0;
  std::uint64_t offset_ = 0;
  bool failed_to_size_ = false;
};

}  // namespace

ContentMatcher::ContentMatcher(const ContainingExpression& expression) : expression_(expression) {
  if (!expression_.compiled()) return;
  for (int i = 0; i < expression_.node_count(); ++i) {
    const ExpressionNode& n = expression_.node(i);
    WordInfo& w = words_[i];
    w.text = reinterpret_cast<const unsigned char*>(expression_.word_data(i));
    w.length = n.word_length;
    w.prefix = n.prefix_length;
    for (int j = w.prefix; j < w.length; ++j) {
      if (w.text[j] == '*') ++w.stars;
    }
    if (w.stars > 1) {
      // Every star moves the text on by less than kMaxStarAbsorb bytes, and
      // no match reaches past the buffer.
      w.memo_stride = std::min<std::size_t>(
          static_cast<std::size_t>(w.stars) * kMaxStarAbsorb + static_cast<std::size_t>(w.length) + 1,
          kBufferSize);
      w.star_ordinal.assign(static_cast<std::size_t>(w.length - w.prefix), 0);
      std::uint16_t ordinal = 0;
      for (int j = w.prefix; j < w.length; ++j) {
        if (w.text[j] == '*') w.star_ordinal[static_cast<std::size_t>(j - w.prefix)] = ordinal++;
      }
    }
  }
  const FirstCharTable& table = expression_.first_chars();
  for (int e = 0; e < table.count; ++e) {
    int node = table.nodes[e];
    if (node_entry_count_[node] < 2) node_entries_[node][node_entry_count_[node]++] = static_cast<std::uint8_t>(e);
  }
}

void ContentMatcher::Begin() {
  if (!buffer_) buffer_ = std::make_unique<unsigned char[]>(kBufferSize);
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
  const std::size_t total = carried_ + count;
  const std::size_t end = start + total;
  std::memset(buf + end, 0, 4);
  // The tail is only examined in front of the next block, where the bytes
  // after it are known.
  const std::size_t keep = std::min(kCarrySize, total);
  ScanRange(start, end - keep, end);
  if (finished_) return true;
  if (keep < total) buf[start - 1] = buf[end - keep - 1];
  std::memmove(buf + start, buf + end - keep, keep);
  carried_ = keep;
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
    ScanRange(start, end, end);
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

void ContentMatcher::ScanRange(std::size_t begin, std::size_t limit, std::size_t end) {
  const FirstCharTable& table = expression_.first_chars();
  const int count = table.count;
  const unsigned char* base = buffer_.get();
  std::fill(std::begin(next_), std::end(next_), 0);
  std::size_t p = begin;
  while (p < limit) {
    std::size_t best = end;
    int winner = -1;
    for (int e = 0; e < count; ++e) {
      if (next_[e] < p) {
        if (entry_decided_[e]) {
          next_[e] = end;
        } else if (e > 0 && table.bytes[e - 1] == table.bytes[e] && !entry_decided_[e - 1]) {
          next_[e] = next_[e - 1];
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
    if (winner < 0 || best >= limit) return;
    const std::size_t at = best;
    const std::int8_t byte = table.bytes[winner];
    for (int e = winner; e < count && table.bytes[e] == byte; ++e) {
      int node = table.nodes[e];
      if (node_decided_[node]) {
        next_[e] = end;  // retired for the rest of the block
        continue;
      }
      if (Verify(node, base + at, base + end, true) && Propagate(node, true)) {
        finished_ = true;
        return;
      }
    }
    p = at + 1;
  }
}

bool ContentMatcher::Verify(int node, const unsigned char* at, const unsigned char* end,
                            bool with_chain) {
  const ExpressionNode& n = expression_.node(node);
  const WordInfo& w = words_[node];
  if (w.length == 0) return false;
  if (n.at_word_start && IsWordByte(at - 1)) return false;
  if (end - at < w.prefix) return false;
  if (n.case_sensitive) {
    if (std::memcmp(at, w.text, static_cast<std::size_t>(w.prefix)) != 0) return false;
  } else {
    // The word holds no capital, so lower-casing the text is enough.
    for (int i = 0; i < w.prefix; ++i) {
      if (Lower(at[i]) != w.text[i]) return false;
    }
  }
  const unsigned char* after = at + w.prefix;
  if (n.has_wildcard) {
    after = MatchWildcard(node, after);
    if (after == nullptr) return false;
  }
  if (n.at_word_end && (IsAlnum(*after) || *after == '_')) return false;
  if (with_chain && (n.op == kOperatorNear || n.op == kOperatorHyphen)) {
    return VerifyChain(node, at, end);
  }
  return true;
}

// The operands after first must follow it in order, each within the reach
// of word starts that NEAR or hyphen allows.
bool ContentMatcher::VerifyChain(int first, const unsigned char* at, const unsigned char* end) {
  const int reach = expression_.node(first).op == kOperatorNear ? kNearReach : kHyphenReach;
  int current = expression_.node(first).next;
  int misses = 0;
  const unsigned char* q = at;
  while (current != 0) {
    const unsigned char* s = SkipSeparators(SkipSpan(q));
    if (s >= end || *s == 0) return false;
    if (Verify(current, s, end, false)) {
      current = expression_.node(current).next;
      misses = 0;
    } else if (++misses > reach) {
      return false;
    }
    q = s;
  }
  return true;
}

// Matches the part of the word after its prefix against text (which ends
// at a zero byte). Returns the end of the text consumed, or null.
// Backtracking over stars is iterative, and star positions already known
// to fail are remembered when the word has more than one star, so that no
// pattern can make the search exponential.
const unsigned char* ContentMatcher::MatchWildcard(int node, const unsigned char* text) {
  const WordInfo& w = words_[node];
  const bool case_sensitive = expression_.node(node).case_sensitive != 0;
  const unsigned char* r = w.text + w.prefix;
  const int rlen = w.length - w.prefix;
  const bool memo = w.stars > 1;
  wildcard_stack_.clear();
  if (memo) {
    std::size_t words = (static_cast<std::size_t>(w.stars) * w.memo_stride + 63) / 64;
    wildcard_failures_.assign(words, 0);
  }
  auto failed_before = [&](std::size_t bit) { return (wildcard_failures_[bit / 64] >> (bit % 64)) & 1u; };
  int ri = 0;
  const unsigned char* t = text;
  for (;;) {
    bool failed = false;
    while (ri < rlen) {
      unsigned char c = r[ri];
      if (c == '*') {
        if (ri == rlen - 1) return t;
        std::size_t key = 0;
        if (memo) {
          // Offsets past the stride cannot occur; the clamp only keeps the index in range.
          std::size_t offset = std::min(static_cast<std::size_t>(t - text), w.memo_stride - 1);
          key = w.star_ordinal[static_cast<std::size_t>(ri)] * w.memo_stride + offset;
          if (failed_before(key)) {
            failed = true;
            break;
          }
        }
        // The star may absorb the rest of this word and the separators after
        // it, never a following word.
        const unsigned char* limit = SkipSeparators(SkipSpan(SkipSeparators(t)));
        int max_k = static_cast<int>(std::min<std::ptrdiff_t>(kMaxStarAbsorb, limit - t));
        if (max_k <= 0) {
          failed = true;
          break;
        }
        wildcard_stack_.push_back({ri + 1, t, 0, max_k, key});
        ++ri;
        continue;
      }
      if (*t == 0) {
        failed = true;
        break;
      }
      if (c == '?') {
        ++t;
        ++ri;
        continue;
      }
      if (c == '\\' && ri + 1 < rlen && (r[ri + 1] == '*' || r[ri + 1] == '?')) {
        if (*t != r[ri + 1]) {
          failed = true;
          break;
        }
        ++t;
        ri += 2;
        continue;
      }
      if (case_sensitive ? *t != c : Upper(*t) != Upper(c)) {
        failed = true;
        break;
      }
      ++t;
      ++ri;
    }
    if (!failed) return t;
    for (;;) {
      if (wildcard_stack_.empty()) return nullptr;
      WildcardFrame& f = wildcard_stack_.back();
      if (++f.k < f.max_k) {
        ri = f.resume;
        t = f.base + f.k;
        break;
      }
      if (memo && static_cast<std::size_t>(f.base - text) < w.memo_stride - 1) {
        wildcard_failures_[f.key / 64] |= std::uint64_t{1} << (f.key % 64);
      }
      wildcard_stack_.pop_back();
    }
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

bool ContentMatcher::MatchFile(const std::string& native_path, std::string* message) {
  if (!expression_.compiled()) return false;
  FileBlockReader reader;
  if (!reader.Open(native_path)) return false;
  Begin();
  for (;;) {
    std::size_t count = 0;
    FileBlockReader::Result r = reader.Next(BlockSpace(), kBlockSize, &count);
    if (r == FileBlockReader::kEnd) break;
    if (r == FileBlockReader::kError) {
      if (message) *message = "Unable to read " + native_path;
      return false;
    }
    if (ScanBlock(count)) break;
  }
  return Finish();
}

bool MatchFile(const ContainingExpression& expression, const std::string& native_path,
               std::string* message) {
  ContentMatcher matcher(expression);
  return matcher.MatchFile(native_path, message);
}

}  // namespace quindelo
