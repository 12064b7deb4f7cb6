// Returning a file to another program's open dialog: looking for the dialog
// on the desktop's accessibility tree, and writing a path into it.
//
// AccessibleDesktop is the tree with the operations the return needs; the
// bus implementation (MakeAccessibilityBusDesktop) reads the platform's
// accessibility bus, tests implement it with a tree of their own.
//
// Threads: an AccessibleDesktop, and the functions below, are used on one
// thread, the bus thread (never the window thread).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "commands/open_dialog.h"

namespace quindelo::commands {

class AccessibleDesktop {
 public:
  virtual ~AccessibleDesktop() = default;
  // The tree's root as it is now; null when there is no tree (no bus). Its
  // nodes stay valid until the next call.
  virtual const AccessibleNode* Root() = 0;
  virtual bool DoAction(const AccessibleNode& node, std::string_view action) = 0;
  // Replaces the text of an editable text.
  virtual bool SetText(const AccessibleNode& node, const std::string& text) = 0;
  virtual bool SelectAllText(const AccessibleNode& node) = 0;
  // Brings the window that holds field to the front, the field focused.
  virtual bool BringToFront(const AccessibleNode& window, const AccessibleNode& field) = 0;
  // Called between searches while a revealed field is awaited: waits a
  // little (50 ms on the bus) and lets the tree take in
  // the program's changes.
  virtual void AwaitChanges() {}
};

// The desktop of the platform's accessibility bus, connected on first use
// with call_timeout_ms for every call into another program.
std::unique_ptr<AccessibleDesktop> MakeAccessibilityBusDesktop(int call_timeout_ms);

struct OpenDialogState {
  bool found = false;
  // The current text of the dialog's file-type list; empty when it has none.
  std::string type_text;
};

// Whether an open dialog of another process is showing, and its file type.
OpenDialogState LookForOpenDialog(AccessibleDesktop& desktop, int own_process_id);

enum class ReturnOutcome {
  kReturned,  // the path is in the dialog's name field, selected, in front
  kNoDialog,  // no open dialog (any more)
  kFailed,    // a dialog, but its name field refused the path
};

// Writes native_path into the name field of the open dialog, selects it and
// brings the dialog to the front. Where the dialog hides the field (GTK 3's
// chooser until its action "show_location"), asks for it and then looks for
// it up to reveal_attempts times, AwaitChanges before each look (about 1 s
// in all on the bus), whatever the action's own answer was.
ReturnOutcome ReturnToOpenDialog(AccessibleDesktop& desktop, int own_process_id,
                                 const std::string& native_path, int reveal_attempts = 20);

}  // namespace quindelo::commands
