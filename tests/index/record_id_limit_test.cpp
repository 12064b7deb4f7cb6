// A drive with more folders than a narrow index has record ids for, at the
// real limit: 63,000 folders on disk, so this test is labelled slow. The
// same scenario runs fast against an injected limit in narrow_limit_test.cpp.
#include <gtest/gtest.h>

#include "index/record_id_limit_scenario.h"

namespace quindelo {
namespace {

TEST(RecordIdLimitTest, DrivesPastTheNarrowLimitAreIndexedWhole) {
  record_id_limit::DrivesPastTheNarrowLimitAreIndexedWhole(9000);
}

}  // namespace
}  // namespace quindelo
