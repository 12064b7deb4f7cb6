// StringPool: chunks of 16384 bytes from which short NUL-terminated strings
// are carved, all freed together. Carving is guarded by the pool's own lock,
// held only while carving; the strings themselves are owned by the caller's
// thread once carved. Strings stay valid until Clear() or destruction.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "base/mutex.h"

namespace quindelo {

class StringPool {
 public:
  static constexpr std::size_t kChunkSize = 16384;

  StringPool() = default;
  StringPool(const StringPool&) = delete;
  StringPool& operator=(const StringPool&) = delete;

  // Copies text and a terminating NUL into the pool; a string of length m
  // takes m + 1 bytes rounded up to an even count. Strings longer than a
  // chunk get a block of their own. Returns the copy.
  char* Add(std::string_view text);

  // Reserves size bytes (rounded up to even) without copying anything;
  // for callers that lay out their own entries (a kind byte and a name).
  char* Allocate(std::size_t size);

  // Frees every string at once.
  void Clear();

  // Bytes handed out so far (for tests and statistics).
  std::size_t bytes_used() const;

 private:
  mutable platform::Mutex mutex_;
  std::vector<std::unique_ptr<char[]>> chunks_ GUARDED_BY(mutex_);
  std::size_t fill_ GUARDED_BY(mutex_) = kChunkSize;
  std::size_t used_ GUARDED_BY(mutex_) = 0;
};

}  // namespace quindelo
