// The single-instance hand-over message. Besides never crashing: a message
// read as complete is exactly the framing of its payload, and one byte less
// is incomplete while one byte more is refused; any payload without a NUL
// within the bound frames into a message that reads back to it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/hand_over_message.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quindelo;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string payload;
  const HandOverParse parse = ParseHandOverMessage(input, &payload);
  if (parse == HandOverParse::kComplete) {
    if (FrameHandOverMessage(payload) != input) fuzz::Fail("complete but not the framing");
    std::string other;
    if (ParseHandOverMessage(input.substr(0, input.size() - 1), &other) !=
        HandOverParse::kIncomplete)
      fuzz::Fail("a message less one byte is not incomplete");
    if (ParseHandOverMessage(std::string(input) + 'x', &other) != HandOverParse::kRefused)
      fuzz::Fail("bytes after a message are not refused");
  }
  if (parse == HandOverParse::kIncomplete && input.size() >= kHandOverMaxMessage)
    fuzz::Fail("waits for more than the largest message");
  // Every prefix of a valid message is incomplete: so is this input's, when
  // it is one.
  if (parse != HandOverParse::kRefused && input.size() > 0) {
    std::string other;
    if (ParseHandOverMessage(input.substr(0, input.size() / 2), &other) !=
        HandOverParse::kIncomplete)
      fuzz::Fail("a prefix of a message is not incomplete");
  }

  if (input.size() <= kHandOverMaxPayload && input.find('\0') == std::string_view::npos) {
    std::string back;
    if (ParseHandOverMessage(FrameHandOverMessage(input), &back) != HandOverParse::kComplete ||
        back != input)
      fuzz::Fail("a framed payload does not read back");
  }
  return 0;
}
