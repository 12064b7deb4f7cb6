// StringList: a list of texts kept as one block of bytes, each text
// NUL-terminated and the whole ended by an extra NUL, together with its byte
// length. The look-in list of a find and the history lists of the find form
// use this form, and other code may hand the block around as it is.
//
// Because an empty text would read as the end of the list, an empty item is
// stored as a single space and read back as an empty text (so an item that
// is a single space also reads back empty).
//
// Thread-safety: none of its own; a list shared between threads needs the
// caller's lock. Const methods may run together on a list nobody changes.
// Failure behaviour: allocation failures throw like any standard container.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quindelo {

class StringList {
 public:
  // An empty list: the block is a single NUL, byte length 1.
  StringList();

  // Appends item as the last text. The item ends at its first NUL, if any
  // (a NUL inside it would split the block).
  void Append(std::string_view item);

  // The text at index (from 0); empty when index >= Count().
  std::string_view Item(std::size_t index) const;

  // Number of texts.
  std::size_t Count() const { return count_; }
  bool IsEmpty() const { return count_ == 0; }

  // Makes this list a copy of other.
  void CopyFrom(const StringList& other);

  // Makes this list a copy of a block in the same form, reading at most size
  // bytes. Returns false when no ending NUL lies within them; the list then
  // holds the complete texts that were read.
  bool CopyFrom(const char* block, std::size_t size);

  // Removes every text.
  void Clear();

  // The block: the texts, each NUL-terminated, and the extra NUL.
  const char* data() const { return bytes_.data(); }
  // Bytes of the block, the extra NUL included (at least 1).
  std::size_t byte_length() const { return bytes_.size(); }

 private:
  std::string bytes_;  // always ends with the extra NUL
  std::size_t count_ = 0;
};

}  // namespace quindelo
