#include "base/ascii.h"
#include "index/pattern_set.h"

#include <cstring>

namespace quindelo {
namespace {

inline unsigned char Lower(char c) { return ascii::kLower[c]; }

inline bool IsSmallLetter(unsigned char c) { return c >= 'a' && c <= 'z'; }

inline bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// First position in [begin, end) holding the (already lowered) pattern
// character c, in either case; nullptr when there is none.
inline const char* FindEitherCase(const char* begin, const char* end, unsigned char c) {
  if (begin >= end) return nullptr;
  const std::size_t size = static_cast<std::size_t>(end - begin);
  const char* hit = static_cast<const char*>(std::memchr(begin, c, size));
  if (IsSmallLetter(c)) {
    // The capital only counts when it comes before the small letter's hit.
    const std::size_t span = hit ? static_cast<std::size_t>(hit - begin) : size;
    const char* capital = static_cast<const char*>(std::memchr(begin, c - ('a' - 'A'), span));
    if (capital) hit = capital;
  }
  return hit;
}

// name[0, length) equals the lowered pattern[0, length) when the name is
// lowered.
inline bool EqualLowered(const char* name, const char* pattern, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (Lower(name[i]) != static_cast<unsigned char>(pattern[i])) return false;
  }
  return true;
}

// A pattern without wildcards: found anywhere in the name, without regard to
// case. Every candidate start comes from a character search for the first
// pattern character, then one bounded comparison of the rest.
bool ContainsPattern(const char* pattern, std::size_t length, const char* name,
                     std::size_t name_length) {
  if (length == 0 || length > name_length) return false;
  const char* const last_start = name + (name_length - length);
  const unsigned char first = static_cast<unsigned char>(pattern[0]);
  auto scan = [&](unsigned char c) {
    const char* from = name;
    while (from <= last_start) {
      const char* hit = static_cast<const char*>(
          std::memchr(from, c, static_cast<std::size_t>(last_start - from) + 1));
      if (!hit) return false;
      if (EqualLowered(hit + 1, pattern + 1, length - 1)) return true;
      from = hit + 1;
    }
    return false;
  };
  if (scan(first)) return true;
  return IsSmallLetter(first) && scan(static_cast<unsigned char>(first - ('a' - 'A')));
}

// A pattern with wildcards (NUL-terminated, lowered) against the whole of
// [name, end).
//
// A star followed by any stars and question marks matches any run of the
// name up to an occurrence of the literal character that follows them. When
// a later part of the pattern fails, only the most recent star needs to be
// tried at its next occurrence: an earlier star taking more of the name
// could only push the later parts further right. So each retry moves that
// star's position right by at least one character, and the work is bounded
// by the name's length times the pattern's length.
bool MatchWhole(const char* pattern, const char* name, const char* end) {
  const char* p = pattern;
  const char* s = name;
  const char* star_literal = nullptr;  // pattern character after the latest star
  const char* star_hit = nullptr;      // where that character was last found
  for (;;) {
    if (*p == '*') {
      do {
        ++p;
      } while (*p == '*' || *p == '?');
      if (*p == '\0') return true;
      const char* hit = FindEitherCase(s, end, static_cast<unsigned char>(*p));
      if (!hit) return false;
      star_literal = p;
      star_hit = hit;
      ++p;
      s = hit + 1;
      continue;
    }
    if (*p == '\0') {
      if (s == end) return true;
    } else if (s != end && (*p == '?' || static_cast<unsigned char>(*p) == Lower(*s))) {
      ++p;
      ++s;
      continue;
    }
    if (!star_literal) return false;
    const char* hit = FindEitherCase(star_hit + 1, end, static_cast<unsigned char>(*star_literal));
    if (!hit) return false;
    star_hit = hit;
    p = star_literal + 1;
    s = hit + 1;
  }
}

}  // namespace

void PatternSet::parse(std::string_view named_text) {
  const std::size_t nul = named_text.find('\0');
  if (nul != std::string_view::npos) named_text = named_text.substr(0, nul);
  text_.assign(named_text);
  for (char& c : text_) c = static_cast<char>(Lower(c));
  slots_.fill(Slot{});
  wildcard_.fill(0);
  count_ = 0;

  std::size_t pos = 0;
  const std::size_t size = text_.size();
  while (count_ < kMaxPatterns) {
    while (pos < size && IsWhiteSpace(text_[pos])) ++pos;
    if (pos >= size) break;
    const std::size_t start = pos;
    std::size_t stop = text_.find(';', start);
    const bool more = stop != std::string::npos;
    if (!more) stop = size;
    std::size_t item_end = stop;
    while (item_end > start && IsWhiteSpace(text_[item_end - 1])) --item_end;
    if (item_end < size) text_[item_end] = '\0';  // the string's own NUL ends the last item
    if (item_end > start) {
      const std::string_view item(text_.data() + start, item_end - start);
      slots_[count_] = Slot{start, item_end - start};
      wildcard_[count_] = item.find_first_of("*?") != std::string_view::npos ? 1 : 0;
      ++count_;
    }
    if (!more) break;
    pos = stop + 1;
  }
}

std::string_view PatternSet::pattern(int index) const {
  return std::string_view(text_.data() + slots_[index].offset, slots_[index].length);
}

bool PatternSet::match(std::string_view name) const {
  const char* const begin = name.data();
  const char* const end = begin + name.size();
  const bool trailing_dot = !name.empty() && name.back() == '.';
  for (int i = 0; i < count_; ++i) {
    const char* pattern = text_.data() + slots_[i].offset;
    if (!wildcard_[i]) {
      if (ContainsPattern(pattern, slots_[i].length, begin, name.size())) return true;
      continue;
    }
    // A name ending in a dot also matches as if the dot were not there.
    if (MatchWhole(pattern, begin, end)) return true;
    if (trailing_dot && MatchWhole(pattern, begin, end - 1)) return true;
  }
  return false;
}

}  // namespace quindelo
