// Sets the options of every IndexStore made without any (the drive index
// makes its own) while the object lives, then puts the old ones back. Make
// it before the stores and threads that should see it.
#pragma once

#include "index/index_store.h"

namespace quindelo::test {

class ScopedIndexStoreDefaults {
 public:
  explicit ScopedIndexStoreDefaults(const IndexStore::Options& options)
      : old_(IndexStore::DefaultOptions()) {
    IndexStore::SetDefaultOptions(options);
  }
  ~ScopedIndexStoreDefaults() { IndexStore::SetDefaultOptions(old_); }
  ScopedIndexStoreDefaults(const ScopedIndexStoreDefaults&) = delete;
  ScopedIndexStoreDefaults& operator=(const ScopedIndexStoreDefaults&) = delete;

 private:
  IndexStore::Options old_;
};

}  // namespace quindelo::test
