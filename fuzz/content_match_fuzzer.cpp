// The containing-expression compiler and the content matcher: a prefix of
// the input is compiled as the expression and the rest is matched as the
// file's text, fed three ways (in one block, cut in two at a position taken
// from the input, and in small blocks of a size taken from the input). The
// answer must not depend on how the text was cut.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "content/containing_expression.h"
#include "content/content_matcher.h"
#include "fuzz_support.h"

namespace quindelo {
namespace {

// Feeds text in pieces: first a piece of first_piece bytes (when nonzero),
// then pieces of piece bytes, each at most one block.
bool MatchInPieces(ContentMatcher& matcher, std::string_view text, std::size_t first_piece,
                   std::size_t piece) {
  matcher.Begin();
  std::size_t at = 0;
  bool first = first_piece != 0;
  while (at < text.size()) {
    std::size_t n = std::min({text.size() - at, first ? first_piece : piece,
                              ContentMatcher::kBlockSize});
    first = false;
    std::memcpy(matcher.BlockSpace(), text.data() + at, n);
    at += n;
    if (matcher.ScanBlock(n)) break;
  }
  return matcher.Finish();
}

}  // namespace
}  // namespace quindelo

// Input: byte 0 gives the expression's length (0-255), bytes 1-2 the cut
// position and the small piece size; then the expression, then the text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quindelo;
  if (size < 3) return 0;
  const std::size_t expression_length = std::min<std::size_t>(data[0], size - 3);
  const std::string_view expression_text(reinterpret_cast<const char*>(data + 3),
                                         expression_length);
  const std::string_view text(reinterpret_cast<const char*>(data + 3 + expression_length),
                              size - 3 - expression_length);
  ContainingExpression expression;
  std::string message;
  if (!expression.Compile(expression_text, &message)) {
    if (message.empty()) fuzz::Fail("a refused expression has no message");
    return 0;
  }
  ContentMatcher matcher(expression);
  const bool whole = MatchInPieces(matcher, text, 0, ContentMatcher::kBlockSize);
  const std::size_t cut = text.empty() ? 0 : 1 + data[1] * text.size() / 256;
  const bool halves = MatchInPieces(matcher, text, cut, ContentMatcher::kBlockSize);
  const bool pieces = MatchInPieces(matcher, text, 0, 1 + data[2] % 64);
  if (whole != halves) fuzz::Fail("the answer changes when the text is cut in two");
  if (whole != pieces) fuzz::Fail("the answer changes when the text comes in small blocks");
  // A copy of the expression matches as the original does.
  ContainingExpression copy = expression;
  ContentMatcher second(copy);
  if (MatchInPieces(second, text, 0, ContentMatcher::kBlockSize) != whole)
    fuzz::Fail("a copied expression answers differently");
  return 0;
}
