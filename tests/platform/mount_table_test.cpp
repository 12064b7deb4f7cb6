// The mount table as this process sees it: escaped names read back, and a
// folder mounted under a name with a blank found with its own root.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <string>

#include "platform/mount_table.h"
#include "support/mount_namespace.h"
#include "support/test_env.h"

namespace quindelo::platform {
namespace {

TEST(MountTable, EscapesAreReadBack) {
  const struct {
    const char* field;
    const char* text;
  } cases[] = {
      {"/mnt/my\\040disk", "/mnt/my disk"}, {"a\\011b\\012c", "a\tb\nc"},
      {"back\\134slash", "back\\slash"},    {"\\", "\\"},
      {"\\04", "\\04"},                     {"\\089", "\\089"},
      {"end\\040", "end "},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, UnescapeMountField(c.field)) << c.field;
}

TEST(MountTable, BindMountUnderABlankNameIsListedWithItsRoot) {
  std::string why;
  if (!test::EnterPrivateMountNamespace(&why)) GTEST_SKIP() << why;
  test::ScopedTestEnv env;
  const std::string inner = env.Path("disk/inner");
  const std::string point = env.Path("with blank");
  test::MakeFolder(inner);
  test::MakeFolder(point);
  if (!test::BindMount(inner, point, &why)) GTEST_SKIP() << why;
  const auto mounts = ReadMountTable();
  auto it = std::find_if(mounts.begin(), mounts.end(),
                         [&](const MountEntry& m) { return m.point == point; });
  ASSERT_NE(mounts.end(), it);
  struct stat st;
  ASSERT_EQ(0, stat(point.c_str(), &st));
  EXPECT_EQ(major(st.st_dev), it->major);
  EXPECT_EQ(minor(st.st_dev), it->minor);
  EXPECT_NE("/", it->root);
  EXPECT_EQ("/inner", it->root.substr(it->root.size() - 6));
  EXPECT_FALSE(it->fs_type.empty());
  EXPECT_TRUE(test::Unmount(point, &why)) << why;
}

}  // namespace
}  // namespace quindelo::platform
