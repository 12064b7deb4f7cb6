#include "base/string_pool.h"

#include <cstring>

namespace quindelo {

char* StringPool::Allocate(std::size_t size) {
  size = (size + 1) & ~std::size_t{1};
  platform::MutexLock lock(&mutex_);
  used_ += size;
  if (size > kChunkSize) {
    // An oversized string gets a block of its own; the current chunk stays
    // the one being filled.
    chunks_.insert(chunks_.begin(), std::make_unique<char[]>(size));
    return chunks_.front().get();
  }
  if (chunks_.empty() || fill_ + size > kChunkSize) {
    chunks_.push_back(std::make_unique<char[]>(kChunkSize));
    fill_ = 0;
  }
  char* out = chunks_.back().get() + fill_;
  fill_ += size;
  return out;
}

char* StringPool::Add(std::string_view text) {
  char* out = Allocate(text.size() + 1);
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return out;
}

void StringPool::Clear() {
  platform::MutexLock lock(&mutex_);
  chunks_.clear();
  fill_ = kChunkSize;
  used_ = 0;
}

std::size_t StringPool::bytes_used() const {
  platform::MutexLock lock(&mutex_);
  return used_;
}

}  // namespace quindelo
