// Search driver options for tests: finds start at once, and no change
// watcher runs.
#pragma once

#include "search/search_driver.h"

namespace quindelo::test {

inline SearchDriver::Options QuickOptions() {
  SearchDriver::Options options;
  options.find_delay_ms = 0;
  options.index_options.watch_changes = false;
  return options;
}

}  // namespace quindelo::test
