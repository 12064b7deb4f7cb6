// Opening folders below a base folder: every name must be a real folder,
// with or without openat2; what is not is refused with its own reason.
#include "platform/beneath.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/test_env.h"

namespace quindelo::platform {
namespace {

TEST(OpenFolderBeneath, OnlyRealFoldersOnTheWay) {
  test::ScopedTestEnv env;
  const std::string base = env.Path("base");
  test::MakeFolder(base + "/a/b");
  test::MakeFolder(env.Path("outside/b"));
  test::WriteTextFile(base + "/a/file", "f");
  ASSERT_EQ(0, symlink(env.Path("outside").c_str(), (base + "/a/link").c_str()));
  ASSERT_EQ(0, symlink("b", (base + "/a/near").c_str()));
  int base_fd = open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(base_fd, 0);

  struct {
    const char* relative;
    int error;  // 0: opens base + "/" + opened
    const char* opened;
  } cases[] = {
      {"", 0, ""},           {"a", 0, "a"},           {"a/b", 0, "a/b"},
      {"a/link", ELOOP, ""}, {"a/link/b", ELOOP, ""}, {"a/near", ELOOP, ""},
      {"a/file", ENOTDIR, ""}, {"a/file/x", ENOTDIR, ""}, {"a/missing", ENOENT, ""},
      {"a/../a", EINVAL, ""}, {"./a", EINVAL, ""},     {"a//b", EINVAL, ""},
      {"/a", EINVAL, ""},    {"a/", EINVAL, ""},
  };
  for (bool name_by_name : {false, true}) {
    const bool previous = WalkNameByNameForTesting(name_by_name);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.relative) + (name_by_name ? " (name by name)" : " (openat2)"));
      for (int extra : {O_PATH, O_RDONLY}) {
        errno = 0;
        int fd = OpenFolderBeneath(base_fd, c.relative, extra);
        if (c.error != 0) {
          EXPECT_EQ(-1, fd);
          EXPECT_EQ(c.error, errno);
          continue;
        }
        ASSERT_GE(fd, 0) << strerror(errno);
        struct stat opened, expected;
        ASSERT_EQ(0, fstat(fd, &opened));
        ASSERT_EQ(0, stat((base + "/" + c.opened).c_str(), &expected));
        EXPECT_EQ(expected.st_ino, opened.st_ino);
        close(fd);
      }
    }
    WalkNameByNameForTesting(previous);
  }
  close(base_fd);
  EXPECT_TRUE(IsPlainName("a b.txt"));
  EXPECT_FALSE(IsPlainName(".."));
  EXPECT_FALSE(IsPlainName(std::string_view("a\0b", 3)));
}

}  // namespace
}  // namespace quindelo::platform
