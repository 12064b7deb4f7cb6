// The find service's request parser on arbitrary bytes. Besides never
// crashing: a refusal always says why; a request read as complete has its
// required texts within their bounds, is written again into bytes that read
// back to the same request, its prefixes are incomplete and a byte more is
// refused; an input the parser waits on is shorter than the largest request.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "search/find_service_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quindelo;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  FindServiceRequest request;
  std::string error;
  const RequestParse parse = ParseFindRequest(input, &request, &error);
  if (parse == RequestParse::kRefused && error.empty()) fuzz::Fail("refused without a reason");
  if (parse == RequestParse::kIncomplete && input.size() >= kMaxServiceRequest)
    fuzz::Fail("waits for more than the largest request");
  if (parse != RequestParse::kComplete) return 0;

  if (request.named.empty() || request.look_in.empty()) fuzz::Fail("a required text is empty");
  if (request.named.size() > kMaxServiceText || request.containing.size() > kMaxServiceText)
    fuzz::Fail("a text past its bound");
  const std::string again = EncodeFindRequest(request);
  FindServiceRequest back;
  if (ParseFindRequest(again, &back, nullptr) != RequestParse::kComplete || !(back == request))
    fuzz::Fail("a request written again does not read back");
  for (std::size_t cut : {std::size_t{0}, input.size() / 2, input.size() - 1})
    if (ParseFindRequest(input.substr(0, cut), nullptr, nullptr) != RequestParse::kIncomplete)
      fuzz::Fail("a prefix of a request is not incomplete");
  if (ParseFindRequest(std::string(input) + '\0', nullptr, nullptr) != RequestParse::kRefused)
    fuzz::Fail("bytes after a request are not refused");
  return 0;
}
