// Native folders in look-in texts and messages: turned into drive paths and
// back through the drive table, element by element, leaving alone what is
// not a path of a drive.
#include "app/native_paths.h"

#include <gtest/gtest.h>

#include "app/settings_store.h"
#include "platform/drive_table.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

class NativePathsTest : public testing::Test {
 protected:
  void SetUp() override {
    d_root_ = env_.Path("d");
    test::MakeFolder(d_root_);
    platform::SetProcessDrives({{'C', "/"}, {'D', d_root_}});
  }
  void TearDown() override { platform::SetProcessDrives({}); }
  test::ScopedTestEnv env_;
  std::string d_root_;
};

TEST_F(NativePathsTest, LookInTextsBetweenNativeAndDriveForm) {
  const std::string d = d_root_;
  const struct {
    std::string typed, drive_form, unplaced;
  } to_drive[] = {
      {"/usr/include", "C:\\usr\\include", ""},
      {"/usr;" + d + "/a", "C:\\usr;D:\\a", ""},
      {"  /usr", "C:\\usr", ""},
      {"C:\\usr;/usr", "C:\\usr;C:\\usr", ""},
      {d, "D:\\", ""},
      {"relative/x", "relative/x", ""},
      {"", "", ""},
      {"C:;;/", "C:;;C:\\", ""},
      {"/a\\b;/c\\d", "/a\\b;/c\\d", "/a\\b"},
  };
  for (const auto& c : to_drive) {
    std::string unplaced;
    EXPECT_EQ(c.drive_form, LookInToDriveForm(c.typed, &unplaced)) << c.typed;
    EXPECT_EQ(c.unplaced, unplaced) << c.typed;
  }
  const struct {
    std::string drive_form, shown;
  } to_native[] = {
      {"C:\\usr\\include", "/usr/include"},
      {"C:", "/"},
      {"c:\\usr", "/usr"},
      {"D:\\a;\\b", d + "/a;" + d + "/b"},
      {"C:usr", "C:usr"},
      {"Q:\\x", "Q:\\x"},
      {"\\x", "\\x"},
      {"/already", "/already"},
      {"C:\\usr;;D:", "/usr;;" + d},
  };
  for (const auto& c : to_native) {
    const std::string shown = LookInToNativeForm(c.drive_form);
    EXPECT_EQ(c.shown, shown) << c.drive_form;
    // What the box shows is read back as the same folders.
    if (shown != c.drive_form) {
      std::string back = LookInToDriveForm(shown);
      std::string again = LookInToNativeForm(back);
      EXPECT_EQ(shown, again) << c.drive_form;
    }
  }
}

TEST_F(NativePathsTest, QuotedDrivePathsInMessagesBecomeNative) {
  const std::string d = d_root_;
  const struct {
    std::string message, shown;
  } cases[] = {
      {"Finding while updating \"C:\\usr\\*\"...", "Finding while updating \"/usr/*\"..."},
      {"Folder \"D:\\a\" must be on drive C:!", "Folder \"" + d + "/a\" must be on drive C:!"},
      {"Folder \"Windows\" must start with a \"\\\"!", "Folder \"Windows\" must start with a \"\\\"!"},
      {"Searching file \"C:\\a b\\c.txt\"...", "Searching file \"/a b/c.txt\"..."},
      {"Updating \"C:\\*\"...", "Updating \"/*\"..."},
      {"Folder \"Q:\\x\" does not exist!", "Folder \"Q:\\x\" does not exist!"},
      {"Unable \"C:\\x", "Unable \"C:\\x"},
      {"Found 2 files.", "Found 2 files."},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.shown, QuotedPathsToNative(c.message)) << c.message;
}

TEST_F(NativePathsTest, TheOptionIsOnUnlessTurnedOff) {
  // The test settings turn it off; a missing value means on.
  EXPECT_FALSE(ReadNativePathsOption());
  ASSERT_TRUE(WriteNativePathsOption(true));
  EXPECT_TRUE(ReadNativePathsOption());
  SettingsStore store;
  ASSERT_TRUE(store.WriteString(settings::kOptions, settings::kNativePaths, "not a number"));
  EXPECT_TRUE(ReadNativePathsOption());
}

}  // namespace
}  // namespace quindelo
