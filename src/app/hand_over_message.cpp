#include "app/hand_over_message.h"

namespace quindelo {

HandOverParse ParseHandOverMessage(std::string_view received, std::string* payload) {
  const std::string_view magic(kHandOverMagic, sizeof kHandOverMagic);
  if (received.substr(0, magic.size()) != magic.substr(0, received.size()))
    return HandOverParse::kRefused;
  if (received.size() > kHandOverMaxMessage) return HandOverParse::kRefused;
  if (received.size() < kHandOverHeaderSize) return HandOverParse::kIncomplete;
  std::uint32_t length = 0;
  for (std::size_t i = magic.size(); i < kHandOverHeaderSize; ++i)
    length = length << 8 | static_cast<unsigned char>(received[i]);
  if (length > kHandOverMaxPayload) return HandOverParse::kRefused;
  const std::string_view body = received.substr(kHandOverHeaderSize);
  if (body.find('\0') != std::string_view::npos) return HandOverParse::kRefused;
  if (body.size() < length) return HandOverParse::kIncomplete;
  if (body.size() > length) return HandOverParse::kRefused;
  payload->assign(body);
  return HandOverParse::kComplete;
}

std::string FrameHandOverMessage(std::string_view payload) {
  std::string message(kHandOverMagic, sizeof kHandOverMagic);
  const auto size = static_cast<std::uint32_t>(payload.size());
  for (int shift = 24; shift >= 0; shift -= 8) message += static_cast<char>(size >> shift);
  message += payload;
  return message;
}

}  // namespace quindelo
