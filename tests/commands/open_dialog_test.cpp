// Finding another program's file dialog in an accessibility tree built in
// the test, in the shapes that GTK 3's file chooser and Qt's own file
// dialog have on the bus, and the Named text that a dialog's file-type list
// gives.
#include "commands/open_dialog.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "support/fake_accessible_tree.h"

namespace quindelo::commands {
namespace {

using Role = AccessibleRole;
using State = AccessibleState;

using test::FakeNode;

// Owns the nodes of one tree.
class Tree {
 public:
  FakeNode* Add(FakeNode* parent, AccessibleRole role, std::string name = "") {
    FakeNode& node = nodes_.emplace_back();
    node.role = role;
    node.name = std::move(name);
    if (parent != nullptr) parent->children.push_back(&node);
    return &node;
  }

 private:
  std::deque<FakeNode> nodes_;  // before desktop, which is made from it

 public:
  FakeNode* desktop = Add(nullptr, Role::kOther, "main");
};

constexpr int kOwnPid = 100;

// zenity --file-selection on GTK 3: a top-level file chooser holding the
// "File Chooser Widget", whose location entry appears after its action
// "show_location", and a filter combo box named by the current filter.
struct GtkChooser {
  FakeNode* window;
  FakeNode* widget;
  FakeNode* filter;
  FakeNode* entry = nullptr;

  GtkChooser(Tree& tree, int pid, bool location_shown) {
    FakeNode* app = tree.Add(tree.desktop, Role::kApplication, "zenity");
    app->pid = pid;
    window = tree.Add(app, Role::kFileChooser, "Select a File");
    FakeNode* filler = tree.Add(window, Role::kPanel);
    widget = tree.Add(filler, Role::kFileChooser, "File Chooser Widget");
    widget->actions.insert(kShowLocationAction);
    FakeNode* path_bar = tree.Add(widget, Role::kPanel);
    tree.Add(path_bar, Role::kPushButton, "home");
    if (location_shown) {
      entry = tree.Add(widget, Role::kText);
      entry->states.insert(State::kEditable);
      entry->attributes["placeholder-text"] = "Location";
    }
    tree.Add(widget, Role::kOther, "Files");
    filter = tree.Add(widget, Role::kComboBox, "Text files");
    FakeNode* menu = tree.Add(filter, Role::kMenu);
    tree.Add(menu, Role::kMenuItem, "Text files");
    tree.Add(menu, Role::kMenuItem, "All files");
    tree.Add(filler, Role::kPushButton, "Cancel");
    tree.Add(filler, Role::kPushButton, "OK");
  }
};

// A non-native QFileDialog: "Look in:" with its combo box, "File name:"
// labelling a line edit, "Files of type:" labelling the filter combo box.
struct QtDialog {
  FakeNode* window;
  FakeNode* look_in;
  FakeNode* name_label;
  FakeNode* name;
  FakeNode* type;

  QtDialog(Tree& tree, int pid, const std::string& filter) {
    FakeNode* app = tree.Add(tree.desktop, Role::kApplication, "qtprog");
    app->pid = pid;
    window = tree.Add(app, Role::kDialog, "Open File");
    FakeNode* look_in_label = tree.Add(window, Role::kLabel, "Look in:");
    look_in = tree.Add(window, Role::kComboBox, "/home/ann");
    look_in->labels = {look_in_label};
    tree.Add(window, Role::kOther, "list");
    name_label = tree.Add(window, Role::kLabel, "File name:");
    tree.Add(window, Role::kPushButton, "Open");
    name = tree.Add(window, Role::kText);
    name->states.insert(State::kEditable);
    name->labels = {name_label};
    FakeNode* type_label = tree.Add(window, Role::kLabel, "Files of type:");
    tree.Add(window, Role::kPushButton, "Cancel");
    type = tree.Add(window, Role::kComboBox, filter);
    type->labels = {type_label};
  }
};

TEST(FindOpenDialog, GtkChooserBeforeAndAfterItsLocationEntryShows) {
  Tree tree;
  EXPECT_FALSE(FindOpenDialog(*tree.desktop, kOwnPid).found());

  GtkChooser hidden_entry(tree, 200, false);
  OpenDialogTarget target = FindOpenDialog(*tree.desktop, kOwnPid);
  EXPECT_TRUE(target.found());
  EXPECT_EQ(hidden_entry.window, target.dialog);
  EXPECT_EQ(nullptr, target.name_field);
  EXPECT_EQ(hidden_entry.widget, target.reveal);
  EXPECT_EQ(hidden_entry.filter, target.type_field);

  Tree shown_tree;
  GtkChooser shown(shown_tree, 200, true);
  target = FindOpenDialog(*shown_tree.desktop, kOwnPid);
  EXPECT_EQ(shown.window, target.dialog);
  EXPECT_EQ(shown.entry, target.name_field);
  EXPECT_EQ(shown.filter, target.type_field);
  EXPECT_EQ(nullptr, target.reveal);

  // A save dialog: the entry has no placeholder but stands after "Name:".
  shown.entry->attributes.clear();
  EXPECT_EQ(nullptr, FindOpenDialog(*shown_tree.desktop, kOwnPid).name_field);
  FakeNode* widget = shown.widget;
  FakeNode* label = shown_tree.Add(nullptr, Role::kLabel, "Name:");
  widget->children.insert(widget->children.begin() + 1, label);
  EXPECT_EQ(shown.entry, FindOpenDialog(*shown_tree.desktop, kOwnPid).name_field);
}

TEST(FindOpenDialog, QtDialogByItsLabelsAndNeverOurOwn) {
  Tree tree;
  QtDialog own(tree, kOwnPid, "Text Documents (*.txt)");
  EXPECT_FALSE(FindOpenDialog(*tree.desktop, kOwnPid).found());

  GtkChooser chooser(tree, 200, false);  // found first, but has no name field yet
  QtDialog other(tree, 300, "Text Documents (*.txt)");
  OpenDialogTarget target = FindOpenDialog(*tree.desktop, kOwnPid);
  EXPECT_EQ(other.window, target.dialog);
  EXPECT_EQ(other.name, target.name_field);
  EXPECT_EQ(other.type, target.type_field);  // not the "Look in:" combo box

  // Qt names a line edit after its buddy label when no relation is given.
  other.name->labels.clear();
  other.name->name = "File name:";
  EXPECT_EQ(other.name, FindOpenDialog(*tree.desktop, kOwnPid).name_field);
}

TEST(FindOpenDialog, WhatDoesNotQualify) {
  struct Case {
    const char* what;
    void (*spoil)(QtDialog&);
  } cases[] = {
      {"hidden window", [](QtDialog& d) { d.window->states.erase(State::kShowing); }},
      {"invisible window", [](QtDialog& d) { d.window->states.erase(State::kVisible); }},
      {"a frame, not a dialog", [](QtDialog& d) { d.window->role = Role::kFrame; }},
      {"disabled name field",
       [](QtDialog& d) {
         d.name->states.erase(State::kEnabled);
         d.name->states.erase(State::kSensitive);
       }},
      {"name field not showing", [](QtDialog& d) { d.name->states.erase(State::kShowing); }},
      {"read-only text", [](QtDialog& d) { d.name->states.erase(State::kEditable); }},
      {"another label", [](QtDialog& d) { d.name_label->name = "Title:"; }},
  };
  for (const Case& c : cases) {
    Tree tree;
    QtDialog dialog(tree, 300, "x");
    ASSERT_TRUE(FindOpenDialog(*tree.desktop, kOwnPid).found()) << c.what;
    c.spoil(dialog);
    EXPECT_FALSE(FindOpenDialog(*tree.desktop, kOwnPid).found()) << c.what;
  }

  // The system's own label table: "File &name:" before a combo box.
  Tree tree;
  FakeNode* app = tree.Add(tree.desktop, Role::kApplication);
  FakeNode* window = tree.Add(app, Role::kDialog, "Open");
  tree.Add(window, Role::kLabel, "File &name:");
  FakeNode* combo = tree.Add(window, Role::kComboBox, "");
  tree.Add(window, Role::kLabel, "Files of &type:");
  FakeNode* types = tree.Add(window, Role::kComboBox, "Bitmaps (.bmp;.dib)");
  OpenDialogTarget target = FindOpenDialog(*tree.desktop, kOwnPid);
  EXPECT_EQ(combo, target.name_field);
  EXPECT_EQ(types, target.type_field);
}

TEST(FindOpenDialog, ABrokenTreeNeverHangs) {
  Tree tree;
  FakeNode* app = tree.Add(tree.desktop, Role::kApplication);
  FakeNode* window = tree.Add(app, Role::kDialog, "Loop");
  FakeNode* panel = tree.Add(window, Role::kPanel);
  panel->children.push_back(panel);  // its own child
  panel->children.push_back(nullptr);
  panel->children.push_back(window);
  EXPECT_FALSE(FindOpenDialog(*tree.desktop, kOwnPid).found());

  // A wide tree beyond the visit limit ends the search too.
  Tree wide;
  FakeNode* wide_window = wide.Add(wide.Add(wide.desktop, Role::kApplication), Role::kDialog);
  for (int i = 0; i < kMaxVisitedNodes + 10; ++i) wide.Add(wide_window, Role::kPanel);
  FakeNode* late = wide.Add(wide_window, Role::kText, "File name:");
  late->states.insert(State::kEditable);
  EXPECT_FALSE(FindOpenDialog(*wide.desktop, kOwnPid).found());
}

TEST(NamedTextOfFileType, TheFileTypeRewrite) {
  struct Case {
    const char* type;
    const char* named;  // null: nothing adopted
  } cases[] = {
      {"Text Documents (*.txt)", "*.txt"},
      {"Bitmaps (.bmp;.dib)", "*.bmp;*.dib"},
      {"Documents (.doc)", "*.doc"},
      {"Images (*.png *.xpm *.jpg)", "*.png;*.xpm;*.jpg"},
      {"C++ files (*.cpp; *.h)", "*.cpp;*.h"},
      {"Notes (draft) (*.md)", "*.md"},
      {"Names (foo.txt)", "foo*.txt"},
      {"Anything (*)", "*"},
      {"All Files (*.*)", nullptr},
      {"all files", nullptr},
      {"Text files", nullptr},  // GTK: a name, no pattern
      {"", nullptr},
      {"Odd )(.x", nullptr},
      {"Empty ()", nullptr},
      {"Blank ( ; )", nullptr},
  };
  for (const Case& c : cases) {
    std::string named = "unchanged";
    EXPECT_EQ(c.named != nullptr, NamedTextOfFileType(c.type, &named)) << c.type;
    EXPECT_EQ(c.named != nullptr ? c.named : "unchanged", named) << c.type;
  }
  // Stars go in only while the text is shorter than 255 characters.
  std::string long_type = std::string(230, 'x') + " (.a;.b;.c;.d;.e;.f)";
  std::string named;
  ASSERT_TRUE(NamedTextOfFileType(long_type, &named));
  EXPECT_EQ("*.a;*.b;*.c;*.d;*.e;.f", named);  // 250 characters at first
}

}  // namespace
}  // namespace quindelo::commands
