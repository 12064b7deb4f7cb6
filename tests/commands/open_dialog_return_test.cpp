// Returning a path to another program's open dialog over a tree built in the
// test: which operations reach the dialog, in which order, and the outcome,
// for the dialogs that the search meets and the ways they can fail.
#include "commands/open_dialog_return.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_accessible_tree.h"

namespace quindelo::commands {
namespace {

using test::FakeAccessibleDesktop;
using Dialog = FakeAccessibleDesktop::Dialog;

constexpr int kOwnPid = 100;
constexpr int kOtherPid = 200;
const std::string kPath = "/home/u/a \"b\" $c;d.txt";

TEST(OpenDialogReturn, WritesThePathIntoTheDialogOrSaysWhyNot) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, Dialog>> applications;
    FakeAccessibleDesktop::Options options;
    ReturnOutcome outcome;
    std::vector<std::string> log;
  };
  const std::vector<std::string> written = {"text " + kPath, "select", "front Select a File"};
  std::vector<std::string> revealed = {"action show_location"};
  revealed.insert(revealed.end(), written.begin(), written.end());
  std::vector<std::string> asked_twice = {"action show_location", "action show_location"};
  asked_twice.insert(asked_twice.end(), written.begin(), written.end());
  const Case cases[] = {
      {"GTK chooser with its entry showing", {{kOtherPid, Dialog::kGtkShown}}, {},
       ReturnOutcome::kReturned, written},
      {"GTK chooser that shows its entry on the action", {{kOtherPid, Dialog::kGtkHidden}}, {},
       ReturnOutcome::kReturned, revealed},
      {"Qt dialog with a labelled name field", {{kOtherPid, Dialog::kQt}}, {},
       ReturnOutcome::kReturned, {"text " + kPath, "select", "front Open File"}},
      {"only our own dialog", {{kOwnPid, Dialog::kGtkShown}}, {}, ReturnOutcome::kNoDialog, {}},
      {"our own dialog is passed over for another's",
       {{kOwnPid, Dialog::kQt}, {kOtherPid, Dialog::kGtkShown}}, {}, ReturnOutcome::kReturned,
       written},
      {"a window that is no dialog", {{kOtherPid, Dialog::kFrameOnly}}, {},
       ReturnOutcome::kNoDialog, {}},
      {"no application at all", {}, {}, ReturnOutcome::kNoDialog, {}},
      {"the entry never appears", {{kOtherPid, Dialog::kGtkHidden}}, {.entry_appears = false},
       ReturnOutcome::kFailed, {"action show_location"}},
      {"the entry appears at the last look", {{kOtherPid, Dialog::kGtkHidden}},
       {.entry_after_polls = 3}, ReturnOutcome::kReturned, revealed},
      {"the entry appears too late", {{kOtherPid, Dialog::kGtkHidden}},
       {.entry_after_polls = 4}, ReturnOutcome::kFailed, {"action show_location"}},
      {"the action answers failure but is taken in", {{kOtherPid, Dialog::kGtkHidden}},
       {.entry_after_polls = 2, .action_fails = true}, ReturnOutcome::kReturned, asked_twice},
      {"the first action is lost", {{kOtherPid, Dialog::kGtkHidden}},
       {.first_action_lost = true}, ReturnOutcome::kReturned, asked_twice},
      {"the dialog closes meanwhile", {{kOtherPid, Dialog::kGtkHidden}},
       {.gone_after_reveal = true}, ReturnOutcome::kNoDialog, {"action show_location"}},
      {"the field refuses the text", {{kOtherPid, Dialog::kQt}}, {.text_refused = true},
       ReturnOutcome::kFailed, {"text " + kPath}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeAccessibleDesktop desktop;
    for (const auto& [pid, dialog] : c.applications) desktop.AddApplication(pid, dialog);
    desktop.set_options(c.options);
    EXPECT_EQ(ReturnToOpenDialog(desktop, kOwnPid, kPath, 3), c.outcome);
    EXPECT_EQ(desktop.log(), c.log);
    // The wait is bounded: at most the three looks asked for.
    EXPECT_LE(desktop.polls(), 3);
  }
}

TEST(OpenDialogReturn, LookingReportsTheDialogAndItsFileType) {
  struct Case {
    Dialog dialog;
    int pid;
    const char* type_text;
    bool found;
    const char* expected_type;
  };
  const Case cases[] = {
      {Dialog::kQt, kOtherPid, "Text Documents (*.txt)", true, "Text Documents (*.txt)"},
      {Dialog::kGtkHidden, kOtherPid, "Images", true, "Images"},
      {Dialog::kGtkShown, kOwnPid, "Text (*.txt)", false, ""},
      {Dialog::kFrameOnly, kOtherPid, "", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type_text);
    FakeAccessibleDesktop desktop;
    desktop.AddApplication(c.pid, c.dialog, c.type_text);
    OpenDialogState state = LookForOpenDialog(desktop, kOwnPid);
    EXPECT_EQ(state.found, c.found);
    EXPECT_EQ(state.type_text, c.expected_type);
    // Looking changes nothing in the dialog.
    EXPECT_TRUE(desktop.log().empty());
  }
}

}  // namespace
}  // namespace quindelo::commands
