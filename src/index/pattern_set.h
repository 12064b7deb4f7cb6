// PatternSet: the parsed named text of a find, a list of up to 25 name
// patterns separated by semicolons, and the test of one file or folder name
// (never a path) against them.
//
// Parsing lowers A-Z once, so that matching only lowers the name's
// characters, one at a time. Case folding is ASCII only; other bytes compare
// exactly.
//
// A pattern without * or ? matches every name that contains it anywhere,
// without regard to case ("txt" matches "MyTxtFile.doc").
//
// A pattern with a wildcard is matched against the whole name:
//   ?  matches any one character, except right after a star, where it is
//      absorbed and requires nothing ("*?x" matches "x");
//   *  matches any run of characters, including none;
//   a name ending in a dot also matches as if the dot were not there
//      ("a?c" matches "abc.").
//
// An empty set (no patterns) matches no name.
//
// Thread-safety: match() is const and may run on any number of threads at
// once; parse() must not run beside anything else on the same set.
// Matching allocates nothing and takes time at most proportional to the
// name's length times the pattern's length, whatever the pattern.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quindelo {

class PatternSet {
 public:
  static constexpr int kMaxPatterns = 25;

  PatternSet() = default;

  // Replaces the set's contents with the patterns of named_text: items are
  // separated by semicolons alone (spaces inside an item belong to it);
  // white space around an item is dropped; empty items are skipped; items
  // after the 25th are ignored. The text ends at its first NUL, if any.
  void parse(std::string_view named_text);

  // True when name matches at least one pattern.
  bool match(std::string_view name) const;

  // Number of patterns taken by the last parse (0 to 25).
  int count() const { return count_; }
  // REQUIRES: 0 <= index < count(). The lowered pattern.
  std::string_view pattern(int index) const;
  // REQUIRES: 0 <= index < count(). The pattern contains * or ?.
  bool has_wildcard(int index) const { return wildcard_[index] != 0; }

 private:
  struct Slot {
    std::size_t offset = 0;  // into text_
    std::size_t length = 0;
  };

  // The lowered copy of the named text; every pattern is a NUL-terminated
  // run inside it.
  std::string text_;
  std::array<Slot, kMaxPatterns> slots_{};
  std::array<std::uint16_t, kMaxPatterns> wildcard_{};
  int count_ = 0;
};

}  // namespace quindelo
