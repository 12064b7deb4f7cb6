// A drive with more folders than a narrow index has record ids for, against
// a narrow limit of 700 ids injected into every store the drive index
// makes, so that a few hundred folders pass it: the scenario of
// record_id_limit_test.cpp in a second.
#include <gtest/gtest.h>

#include "index/record_id_limit_scenario.h"
#include "support/store_defaults.h"

namespace quindelo {
namespace {

TEST(NarrowLimitTest, DrivesPastAnInjectedNarrowLimitAreIndexedWhole) {
  IndexStore::Options options;
  options.narrow_id_limit = 700;
  test::ScopedIndexStoreDefaults defaults(options);
  record_id_limit::DrivesPastTheNarrowLimitAreIndexedWhole(100);
}

}  // namespace
}  // namespace quindelo
