// Name patterns: the named text is parsed and names are matched against it.
// Besides never crashing, matching ignores the case of A-Z, a pattern
// without wildcards matches itself, and a wildcard pattern matches the name
// made from it by dropping each * and writing x for each ?.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "index/pattern_set.h"

namespace quindelo {
namespace {

std::string WithCase(std::string_view name, bool upper) {
  std::string out(name);
  for (char& c : out) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace
}  // namespace quindelo

// Input: the named text, then after the first '/' (which no name holds) the
// names to match, separated by '/'.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quindelo;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t slash = input.find('/');
  PatternSet set;
  set.parse(input.substr(0, slash));
  if (set.count() < 0 || set.count() > PatternSet::kMaxPatterns) fuzz::Fail("pattern count");

  if (slash != std::string_view::npos) {
    std::string_view names = input.substr(slash + 1);
    while (true) {
      const std::size_t end = names.find('/');
      const std::string_view name = names.substr(0, end);
      const int m = set.match(name);
      if (m != 0 && m != 1) fuzz::Fail("match is neither 0 nor 1");
      if (set.match(WithCase(name, true)) != m || set.match(WithCase(name, false)) != m)
        fuzz::Fail("matching depends on the case of A-Z");
      if (end == std::string_view::npos) break;
      names.remove_prefix(end + 1);
    }
  }
  for (int i = 0; i < set.count(); ++i) {
    const std::string_view pattern = set.pattern(i);
    std::string name;
    for (char c : pattern) {
      if (c == '*') continue;
      name += c == '?' ? 'x' : c;
    }
    if (set.has_wildcard(i) == (name == pattern)) fuzz::Fail("wildcard flag");
    if (!name.empty() && !set.match(name)) fuzz::Fail("a pattern does not match the plain name made from it");
  }
  return 0;
}
