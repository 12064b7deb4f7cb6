// NameFilter and LiteralFinder: see name_filter.h.
#include "index/name_filter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quindelo {
namespace {

inline bool IsSmallLetter(unsigned char c) { return c >= 'a' && c <= 'z'; }

inline unsigned char Lower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// bytes[0, length) lowered equal the lowered literal[0, length).
inline bool EqualLowered(const std::uint8_t* bytes, const char* literal, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (Lower(bytes[i]) != static_cast<unsigned char>(literal[i])) return false;
  }
  return true;
}

// The longest run of a pattern between wildcards (the whole pattern when it
// has none); empty when the pattern is wildcards only.
std::string_view LiteralOf(std::string_view pattern) {
  std::string_view best;
  std::size_t start = 0;
  while (start < pattern.size()) {
    std::size_t stop = pattern.find_first_of("*?", start);
    if (stop == std::string_view::npos) stop = pattern.size();
    if (stop - start > best.size()) best = pattern.substr(start, stop - start);
    start = stop + 1;
  }
  return best;
}

}  // namespace

LiteralFinder::LiteralFinder(std::string_view lowered) : literal_(lowered) {}

const std::uint8_t* LiteralFinder::Find(const std::uint8_t* begin,
                                        const std::uint8_t* end) const {
  const std::size_t n = literal_.size();
  if (n == 0 || end < begin || static_cast<std::size_t>(end - begin) < n) return nullptr;
  const std::uint8_t* const last = end - n;  // the last place the literal can start
  const auto first = static_cast<unsigned char>(literal_.front());
  const auto final = static_cast<unsigned char>(literal_.back());
  const std::uint8_t* p = begin;
#if defined(__SSE2__)
  // Sixteen places at a time: where the first and the last character both
  // fit, the characters between them are compared. Setting bit 0x20 maps
  // A-Z onto a-z and keeps every other byte from equalling a small letter,
  // so for a letter the test is exact in either case; other characters are
  // compared as they are.
  const __m128i want_first = _mm_set1_epi8(static_cast<char>(first));
  const __m128i want_final = _mm_set1_epi8(static_cast<char>(final));
  const __m128i fold_first = _mm_set1_epi8(IsSmallLetter(first) ? 0x20 : 0);
  const __m128i fold_final = _mm_set1_epi8(IsSmallLetter(final) ? 0x20 : 0);
  const std::size_t middle = n >= 2 ? n - 2 : 0;
  while (last - p >= 15) {
    const __m128i at_first =
        _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), fold_first);
    const __m128i at_final =
        _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 1)), fold_final);
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(
        _mm_cmpeq_epi8(at_first, want_first), _mm_cmpeq_epi8(at_final, want_final))));
    while (mask != 0) {
      const int bit = __builtin_ctz(mask);
      if (EqualLowered(p + bit + 1, literal_.data() + 1, middle)) return p + bit;
      mask &= mask - 1;
    }
    p += 16;
  }
#endif
  for (; p <= last; ++p) {
    if (Lower(*p) == first && EqualLowered(p + 1, literal_.data() + 1, n - 1)) return p;
  }
  return nullptr;
}

NameFilter::NameFilter(const PatternSet& patterns) : patterns_(patterns) {
  for (int i = 0; i < patterns.count(); ++i) {
    const std::string_view literal = LiteralOf(patterns.pattern(i));
    if (literal.empty()) {
      finders_.clear();  // a name can match without any literal
      return;
    }
    finders_.emplace_back(literal);
  }
}

}  // namespace quindelo
