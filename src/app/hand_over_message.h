// The message a second start of the window program hands to the running
// one over its local socket: the 4 bytes "QND1", the payload's length as 4
// bytes big-endian, then the payload (the saved find's native path bytes,
// no NUL, at most kHandOverMaxPayload bytes; empty when the second start
// named none). Nothing follows the payload.
//
// The parser reads the bytes received so far on one connection and says
// whether they are a complete message, the start of one, or something else,
// which the receiver closes. It looks at no more than the bytes it is given
// and keeps no state: thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quindelo {

inline constexpr char kHandOverMagic[4] = {'Q', 'N', 'D', '1'};
inline constexpr std::size_t kHandOverHeaderSize = 8;
inline constexpr std::uint32_t kHandOverMaxPayload = 32 * 1024;
// The most bytes a complete message can hold.
inline constexpr std::size_t kHandOverMaxMessage = kHandOverHeaderSize + kHandOverMaxPayload;

enum class HandOverParse {
  kIncomplete,  // a beginning of a valid message: wait for more bytes
  kComplete,    // exactly one valid message; *payload holds its payload
  kRefused,     // not a message: another magic, a length beyond the bound,
                // a NUL in the payload, bytes after the payload
};

// Parses the bytes received so far. *payload is set only for kComplete.
HandOverParse ParseHandOverMessage(std::string_view received, std::string* payload);

// The message for a payload (what a second start sends).
std::string FrameHandOverMessage(std::string_view payload);

}  // namespace quindelo
