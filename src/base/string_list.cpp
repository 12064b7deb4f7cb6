#include "base/string_list.h"

#include <cstring>

namespace quindelo {

StringList::StringList() : bytes_(1, '\0') {}

void StringList::Append(std::string_view item) {
  const std::size_t nul = item.find('\0');
  if (nul != std::string_view::npos) item = item.substr(0, nul);
  if (item.empty()) item = " ";
  // Drop the extra NUL, add the text with its NUL, and end the block again.
  bytes_.pop_back();
  bytes_.append(item);
  bytes_.push_back('\0');
  bytes_.push_back('\0');
  ++count_;
}

std::string_view StringList::Item(std::size_t index) const {
  if (index >= count_) return {};
  const char* p = bytes_.data();
  for (std::size_t i = 0; i < index; ++i) p += std::strlen(p) + 1;
  const std::string_view text(p);
  return text == " " ? std::string_view() : text;
}

void StringList::CopyFrom(const StringList& other) {
  if (this == &other) return;
  bytes_ = other.bytes_;
  count_ = other.count_;
}

bool StringList::CopyFrom(const char* block, std::size_t size) {
  Clear();
  std::size_t pos = 0;
  while (pos < size) {
    const void* nul = std::memchr(block + pos, '\0', size - pos);
    if (!nul) break;  // an unterminated text is not taken
    const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(nul) - block) - pos;
    if (length == 0) return true;  // the extra NUL
    Append(std::string_view(block + pos, length));
    pos += length + 1;
  }
  return false;
}

void StringList::Clear() {
  bytes_.assign(1, '\0');
  count_ = 0;
}

}  // namespace quindelo
