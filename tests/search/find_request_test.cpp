// Look-in validation: the drive check, the folder list, every fault message
// with "ERR", the enabling of the named and containing boxes, the find it
// schedules, and the second pass for text typed while it runs.
#include "search/find_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "search/fake_window.h"
#include "search/search_driver.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

using test::FakeWindow;

using test::MediumDriver;
using test::QuickOptions;

std::vector<std::string> Items(const StringList& list) {
  std::vector<std::string> items;
  for (std::size_t i = 0; i < list.Count(); ++i) items.emplace_back(list.Item(i));
  return items;
}

class FindRequestTest : public ::testing::Test {
 protected:
  FindRequestTest() : driver_(&window_, QuickOptions()), validator_(&driver_, &window_) {}

  void SetUp() override {
    root_ = env_.MakeDrive('T', "drive");
    test::MakeFolder(root_ + "/Windows");
    test::MakeFolder(root_ + "/Work");
  }

  // Validates text and checks the outcome's panes and boxes.
  void ExpectInvalid(const std::string& text, const std::string& message) {
    SCOPED_TRACE(text);
    int focus_before = window_.look_in_focus_count();
    EXPECT_FALSE(validator_.ValidateNow(text));
    EXPECT_EQ(window_.MyStatus(), message);
    EXPECT_EQ(validator_.message(), message);
    EXPECT_EQ(window_.MyIndicator(), "ERR");
    EXPECT_FALSE(window_.named_enabled());
    EXPECT_FALSE(window_.containing_enabled());
    EXPECT_EQ(window_.look_in_focus_count(), focus_before + 1);
  }
  void ExpectValid(const std::string& text, const std::vector<std::string>& list) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(validator_.ValidateNow(text));
    EXPECT_EQ(window_.MyStatus(), "Ready.");
    EXPECT_EQ(validator_.message(), "Ready.");
    EXPECT_EQ(window_.MyIndicator(), " ");
    EXPECT_TRUE(window_.named_enabled());
    EXPECT_EQ(Items(driver_.look_in_list()), list);
  }

  test::ScopedTestEnv env_;
  std::string root_;
  FakeWindow window_;
  MediumDriver driver_;
  LookInValidator validator_;
};

TEST_F(FindRequestTest, DrivesAndDriveEntriesSearchTheWholeDrive) {
  ExpectValid("T:", {});
  EXPECT_EQ(driver_.open_drive_letter(), 'T');
  ExpectValid("T:\\", {});
  // A drive entry of the drive list is cut to its drive.
  ExpectValid("T: [DATA]", {});
  EXPECT_EQ(validator_.look_in_text(), "T:");
  // The letter is compared in upper case.
  ExpectValid("t:\\Windows", {"\\Windows"});
}

TEST_F(FindRequestTest, FolderListsDropWhiteSpaceAndRepeatedDrivePrefixes) {
  ExpectValid("T:\\Windows; \\Temp ;T:\\Work", {"\\Windows", "\\Temp", "\\Work"});
  ExpectValid("T:\\Windows\t;;\t\\Work  ", {"\\Windows", "\\Work"});
  // Some but not all folders existing is valid; the missing ones stay.
  ExpectValid("T:\\Windows;\\Missing", {"\\Windows", "\\Missing"});
  // A file of that name counts as existing.
  test::WriteTextFile(root_ + "/note.txt", "x");
  ExpectValid("T:\\note.txt", {"\\note.txt"});
}

TEST_F(FindRequestTest, FaultsOfTheFolderList) {
  ExpectValid("T:\\Windows", {"\\Windows"});
  ExpectInvalid("Windows", "Look in folder does not start with drive letter!");
  // After a fault of the drive check the previous list is kept.
  EXPECT_EQ(Items(driver_.look_in_list()), std::vector<std::string>{"\\Windows"});
  ExpectInvalid(" T:", "Look in folder does not start with drive letter!");
  ExpectInvalid(";;;", "Look in folder does not start with drive letter!");
  ExpectInvalid("", "Look in folder does not start with drive letter!");

  ExpectInvalid("T:\\Windows;Q:\\Data", "Folder \"Q:\\Data\" must be on drive T:!");
  // What the walk had collected stays.
  EXPECT_EQ(Items(driver_.look_in_list()), std::vector<std::string>{"\\Windows"});
  ExpectInvalid("T:Windows", "Folder \"Windows\" must start with a \"\\\"!");
  // Three characters are the whole drive only as T:\; T:W is a folder
  // without its backslash, never all of T:.
  ExpectInvalid("T:W", "Folder \"W\" must start with a \"\\\"!");
  ExpectInvalid("T:\\Windows;Work", "Folder \"Work\" must start with a \"\\\"!");
  ExpectInvalid("T:;;", "Folder \"\" must start with a \"\\\"!");
  ExpectInvalid("T:\\NoSuchFolder", "Folder \"T:\\NoSuchFolder\" does not exist!");
  ExpectInvalid("T:\\NoSuch;\\Missing", "None of the look in folders exist!");
  ExpectValid("T:\\;;;", {"\\"});
  // No find was scheduled by any of these (the named box is empty).
  EXPECT_EQ(driver_.finds_started(), 0u);
}

TEST_F(FindRequestTest, LongTextsAreCutTo259Characters) {
  // A folder path of exactly 259 characters exists: valid.
  std::string a(200, 'a'), b(55, 'b');
  test::MakeFolder(root_ + "/" + a + "/" + b);
  std::string exact = "T:\\" + a + "\\" + b;
  ASSERT_EQ(exact.size(), 259u);
  ExpectValid(exact, {"\\" + a + "\\" + b});

  // Longer text is cut; validation ends after one pass and reports the
  // missing folder, its message cut to the pane's 255 characters.
  std::string longer = "T:\\" + std::string(400, 'z');
  int passes = validator_.passes();
  EXPECT_FALSE(validator_.ValidateNow(longer));
  EXPECT_EQ(validator_.look_in_text().size(), 259u);
  EXPECT_EQ(validator_.passes(), passes + 1);
  EXPECT_EQ(window_.MyStatus().size(), 255u);
  EXPECT_EQ(window_.MyStatus().rfind("Folder \"T:\\zzz", 0), 0u);
  EXPECT_EQ(window_.MyIndicator(), "ERR");
}

TEST_F(FindRequestTest, AnotherDriveOpensItsIndex) {
  env_.MakeDrive('U', "other");
  test::MakeFolder(env_.Path("other/Data"));
  ExpectValid("T:", {});
  window_.ClearHistory();
  ExpectValid("u:\\Data", {"\\Data"});
  EXPECT_EQ(driver_.open_drive_letter(), 'U');
  EXPECT_TRUE(window_.SawStatus("Closing index..."));
  EXPECT_TRUE(window_.SawStatus("Opening index for drive u:..."));
  // The same drive again is not reopened.
  window_.ClearHistory();
  ExpectValid("U:\\Data", {"\\Data"});
  EXPECT_FALSE(window_.SawStatus("Opening index for drive U:..."));

  ExpectInvalid("Q:\\x", "Unable to open index for drive Q:!");
  EXPECT_EQ(driver_.open_drive_letter(), ' ');
  EXPECT_TRUE(Items(driver_.look_in_list()).empty());
}

TEST_F(FindRequestTest, AnExchangedMediumIsReopened) {
  ExpectValid("T:", {});
  window_.ClearHistory();
  ExpectValid("T:\\Work", {"\\Work"});
  EXPECT_FALSE(window_.SawStatus("Opening index for drive T:..."));
  driver_.medium_gone = true;
  ExpectValid("T:\\Work", {"\\Work"});
  EXPECT_TRUE(window_.SawStatus("Opening index for drive T:..."));
}

TEST_F(FindRequestTest, ANamedTextEnablesContainingAndSchedulesAFind) {
  test::WriteTextFile(root_ + "/Work/plan.txt", "x");
  test::WriteTextFile(root_ + "/Windows/plan.txt", "x");
  ExpectValid("T:", {});
  EXPECT_FALSE(window_.containing_enabled());
  EXPECT_TRUE(driver_.first_find_latch());

  window_.SetNamedText("plan.txt");
  driver_.SetRequest(window_.Request());
  ExpectValid("T:\\Work", {"\\Work"});
  EXPECT_TRUE(window_.containing_enabled());
  EXPECT_FALSE(driver_.first_find_latch());
  FindEnd end = driver_.WaitForFindEnd();
  EXPECT_EQ(end.message, "Found one file.");
  EXPECT_EQ(window_.RowPaths(), std::vector<std::string>{"T:\\Work\\plan.txt"});

  // An invalid look-in text schedules nothing and disables both boxes.
  ExpectInvalid("T:\\Nope", "Folder \"T:\\Nope\" does not exist!");
  EXPECT_EQ(driver_.WaitForFindEnd().message, "Found one file.");
  EXPECT_EQ(driver_.finds_started(), 1u);
}

// A window that holds the validation thread inside its first EnableBoxes.
class HoldingWindow : public FakeWindow {
 public:
  void EnableBoxes(bool look_in_valid) override {
    FakeWindow::EnableBoxes(look_in_valid);
    std::unique_lock<std::mutex> lock(mutex);
    if (!hold) return;
    hold = false;
    reached = true;
    cv.notify_all();
    cv.wait(lock, [this] { return released; });
  }
  std::mutex mutex;
  std::condition_variable cv;
  bool hold = true;
  bool reached = false;
  bool released = false;
};

TEST(LookInValidatorThreadTest, TextTypedDuringAValidationGetsASecondPass) {
  test::ScopedTestEnv env;
  std::string root = env.MakeDrive('T', "drive");
  test::MakeFolder(root + "/a");
  test::MakeFolder(root + "/b");
  HoldingWindow window;
  SearchDriver driver(&window, QuickOptions());
  LookInValidator validator(&driver, &window);

  validator.Start("T:\\a");
  {
    std::unique_lock<std::mutex> lock(window.mutex);
    window.cv.wait(lock, [&] { return window.reached; });
  }
  // The user goes on typing: no second validation starts, the running one
  // takes the new text in its next pass.
  validator.Start("T:\\b");
  validator.Start("T:\\b;\\a");
  EXPECT_EQ(validator.passes(), 0);
  {
    std::lock_guard<std::mutex> lock(window.mutex);
    window.released = true;
    window.cv.notify_all();
  }
  validator.WaitIdle();
  EXPECT_EQ(validator.passes(), 2);
  EXPECT_TRUE(validator.look_in_valid());
  EXPECT_EQ(Items(driver.look_in_list()), (std::vector<std::string>{"\\b", "\\a"}));

  // A later edit starts a new validation thread.
  validator.Start("T:\\Missing");
  validator.WaitIdle();
  EXPECT_FALSE(validator.look_in_valid());
  EXPECT_TRUE(window.SawStatus("Folder \"T:\\Missing\" does not exist!"));
  EXPECT_EQ(validator.passes(), 3);
}

}  // namespace
}  // namespace quindelo
