// ASCII case, the same in every locale. Only the letters A-Z and a-z have a
// case; every other byte value, 0x80-0xFF included, is its own upper and
// lower case. <cctype>'s tolower and toupper follow the process's locale
// instead (under a Turkish locale 'I' lowers to itself and 'i' uppers to
// itself), which names, volume labels, settings keys and drive letters must
// not. Everything here is inline: callers use it in their inner loops.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace quindelo::ascii {

constexpr bool IsUpper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool IsLower(unsigned char c) { return c >= 'a' && c <= 'z'; }
constexpr bool IsLetter(unsigned char c) { return IsUpper(c) || IsLower(c); }

constexpr unsigned char ToLower(unsigned char c) {
  return IsUpper(c) ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}
constexpr unsigned char ToUpper(unsigned char c) {
  return IsLower(c) ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
constexpr char ToLower(char c) { return static_cast<char>(ToLower(static_cast<unsigned char>(c))); }
constexpr char ToUpper(char c) { return static_cast<char>(ToUpper(static_cast<unsigned char>(c))); }

// ToLower of every byte value, for loops that lower one byte after another.
struct LowerTable {
  unsigned char map[256];
  constexpr LowerTable() : map() {
    for (int i = 0; i < 256; ++i) map[i] = ToLower(static_cast<unsigned char>(i));
  }
  constexpr unsigned char operator[](char c) const { return map[static_cast<unsigned char>(c)]; }
};
inline constexpr LowerTable kLower;

// a and b are equal once both are lowered.
constexpr bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (ToLower(a[i]) != ToLower(b[i])) return false;
  return true;
}

// Order of a and b once both are lowered, byte by byte as unsigned values, a
// text before every longer text it starts: -1, 0 or 1.
constexpr int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = ToLower(static_cast<unsigned char>(a[i]));
    const unsigned char y = ToLower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// The same order for NUL-terminated texts, read in one pass.
// REQUIRES: a and b are NUL-terminated.
inline int CompareNoCase(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    const unsigned char cx = ToLower(*x);
    const unsigned char cy = ToLower(*y);
    if (cx != cy) return cx < cy ? -1 : 1;
    if (cx == 0) return 0;
  }
}

}  // namespace quindelo::ascii
