// Finding another program's file dialog in an accessibility tree built in
// the test, in the shapes that GTK 3's file chooser and Qt's own file
// dialog have on the bus, and the Named text that a dialog's file-type list
// gives.
#include "commands/open_dialog.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
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

// A non-native QFileDialog as Qt 6.4 shows it on the bus (no modal state,
// although the static QFileDialog functions make it modal): "Look in:" with
// its combo box, "File name:" labelling a line edit, "Files of type:"
// labelling the filter combo box.
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
      {"no type list", [](QtDialog& d) { d.type->role = Role::kPanel; }},
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
  window->states.insert(State::kModal);
  tree.Add(window, Role::kLabel, "File &name:");
  FakeNode* combo = tree.Add(window, Role::kComboBox, "");
  tree.Add(window, Role::kLabel, "Files of &type:");
  FakeNode* types = tree.Add(window, Role::kComboBox, "Bitmaps (.bmp;.dib)");
  OpenDialogTarget target = FindOpenDialog(*tree.desktop, kOwnPid);
  EXPECT_EQ(combo, target.name_field);
  EXPECT_EQ(types, target.type_field);
}

// A dialog that asks for a name, with a label and an entry, in the shapes
// GTK programs give them: a Create Folder dialog, a file manager's
// Properties dialog (its file name in a rename field).
FakeNode* NameDialog(Tree& tree, const char* title, const char* label, bool modal) {
  FakeNode* app = tree.Add(tree.desktop, Role::kApplication, "thunar");
  app->pid = 300;
  FakeNode* window = tree.Add(app, Role::kDialog, title);
  if (modal) window->states.insert(State::kModal);
  FakeNode* grid = tree.Add(window, Role::kPanel);
  FakeNode* name_label = tree.Add(grid, Role::kLabel, label);
  FakeNode* entry = tree.Add(grid, Role::kText, "notes.txt");
  entry->states.insert(State::kEditable);
  entry->labels = {name_label};
  return window;
}

TEST(FindOpenDialog, OnlyAnotherProgramsFileDialogQualifies) {
  struct Case {
    const char* what;
    // Builds the tree; returns the name field that must be found, or null
    // when no dialog may be.
    std::function<const AccessibleNode*(Tree&)> build;
  };
  const Case cases[] = {
      {"GTK 3 file chooser with its entry showing",
       [](Tree& t) -> const AccessibleNode* { return GtkChooser(t, 200, true).entry; }},
      {"GTK 3 file chooser that is not showing",
       [](Tree& t) -> const AccessibleNode* {
         GtkChooser(t, 200, true).window->states.erase(State::kShowing);
         return nullptr;
       }},
      {"our own process's file chooser",
       [](Tree& t) -> const AccessibleNode* {
         GtkChooser(t, kOwnPid, true);
         return nullptr;
       }},
      {"Qt's file dialog",
       [](Tree& t) -> const AccessibleNode* { return QtDialog(t, 300, "Text (*.txt)").name; }},
      {"a window with the fields of Qt's file dialog, but no dialog",
       [](Tree& t) -> const AccessibleNode* {
         QtDialog(t, 300, "Text (*.txt)").window->role = Role::kFrame;
         return nullptr;
       }},
      {"a Create Folder dialog",
       [](Tree& t) -> const AccessibleNode* {
         NameDialog(t, "Create Folder", "Name:", true);
         return nullptr;
       }},
      {"a Properties dialog with a Name: field",
       [](Tree& t) -> const AccessibleNode* {
         FakeNode* window = NameDialog(t, "notes.txt - Properties", "Name:", false);
         FakeNode* open_with = t.Add(window->children[0], Role::kComboBox, "Text Editor");
         open_with->labels = {t.Add(window->children[0], Role::kLabel, "Open With:")};
         return nullptr;
       }},
      {"the same dialog made modal",
       [](Tree& t) -> const AccessibleNode* {
         NameDialog(t, "notes.txt - Properties", "Name:", true);
         return nullptr;
       }},
      {"a modal dialog asking for a location, with a list",
       [](Tree& t) -> const AccessibleNode* {
         FakeNode* window = NameDialog(t, "Connect to Server", "Location:", true);
         t.Add(window, Role::kComboBox, "Recent servers");
         return nullptr;
       }},
      {"a dialog with GTK's location entry, not modal",
       [](Tree& t) -> const AccessibleNode* {
         FakeNode* window = NameDialog(t, "Open Location", "Address", false);
         window->children[0]->children[1]->attributes["placeholder-text"] = "Location";
         return nullptr;
       }},
      {"the same dialog, modal",
       [](Tree& t) -> const AccessibleNode* {
         FakeNode* window = NameDialog(t, "Open Location", "Address", true);
         window->children[0]->children[1]->attributes["placeholder-text"] = "Location";
         return window->children[0]->children[1];
       }},
      {"a modal dialog with a file-name field but no type list",
       [](Tree& t) -> const AccessibleNode* {
         NameDialog(t, "Rename", "File name:", true);
         return nullptr;
       }},
      {"a modal dialog with a file-name field and a type list",
       [](Tree& t) -> const AccessibleNode* {
         FakeNode* window = NameDialog(t, "Import", "File name:", true);
         FakeNode* types = t.Add(window, Role::kComboBox, "Pictures (*.png)");
         types->labels = {t.Add(window, Role::kLabel, "Files of type:")};
         return window->children[0]->children[1];
       }},
      {"a file-chooser widget inside a program's own dialog",
       [](Tree& t) -> const AccessibleNode* {
         GtkChooser chooser(t, 200, true);
         chooser.window->role = Role::kDialog;
         return chooser.entry;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tree tree;
    const AccessibleNode* expected = c.build(tree);
    OpenDialogTarget target = FindOpenDialog(*tree.desktop, kOwnPid);
    EXPECT_EQ(target.found(), expected != nullptr);
    EXPECT_EQ(target.name_field, expected);
  }
}

// GTK 4's file chooser on the bus: a modal dialog with the plain dialog
// role, no "file chooser" node and no "show_location" action; its nodes
// report visible and sensitive, never showing or enabled. Its location entry
// (placeholder "Location") exists only while the chooser is in location
// mode; the filter list is a drop-down labelled "Filter".
struct Gtk4Chooser {
  FakeNode* window;
  FakeNode* location_box;
  FakeNode* entry = nullptr;

  Gtk4Chooser(Tree& tree, int pid) {
    FakeNode* app = tree.Add(tree.desktop, Role::kApplication, "gtk4-demo");
    app->pid = pid;
    window = tree.Add(app, Role::kDialog, "Open File");
    window->states = {State::kVisible, State::kSensitive, State::kModal};
    FakeNode* widget = Add(tree, window, Role::kPanel);
    FakeNode* header = Add(tree, widget, Role::kPanel);
    Add(tree, header, Role::kPushButton, "Toggle Places Sidebar");
    location_box = Add(tree, header, Role::kPanel);
    Add(tree, widget, Role::kOther, "Files");
    FakeNode* filters = Add(tree, widget, Role::kPanel);
    Add(tree, filters, Role::kComboBox, "Filter");
    Add(tree, window, Role::kPushButton, "Cancel");
    Add(tree, window, Role::kPushButton, "Open");
  }
  void ShowLocationEntry(Tree& tree) {
    entry = Add(tree, location_box, Role::kText);
    entry->states.insert(State::kEditable);
    entry->attributes["placeholder-text"] = "Location";
  }
  static FakeNode* Add(Tree& tree, FakeNode* parent, Role role, const char* name = "") {
    FakeNode* node = tree.Add(parent, role, name);
    node->states = {State::kVisible, State::kSensitive};
    return node;
  }
};

TEST(FindOpenDialog, Gtk4ChooserOnceItsLocationEntryShows) {
  Tree tree;
  Gtk4Chooser chooser(tree, 400);
  // Browsing, with its path bar: nothing to write into, nothing to reveal.
  EXPECT_FALSE(FindOpenDialog(*tree.desktop, kOwnPid).found());

  chooser.ShowLocationEntry(tree);
  OpenDialogTarget target = FindOpenDialog(*tree.desktop, kOwnPid);
  EXPECT_EQ(target.dialog, chooser.window);
  EXPECT_EQ(target.name_field, chooser.entry);

  chooser.window->states.erase(State::kModal);
  EXPECT_FALSE(FindOpenDialog(*tree.desktop, kOwnPid).found());
  chooser.window->states.insert(State::kModal);
  chooser.window->states.erase(State::kVisible);
  EXPECT_FALSE(FindOpenDialog(*tree.desktop, kOwnPid).found());
}

TEST(FindOpenDialog, ABrokenTreeNeverHangs) {
  Tree tree;
  FakeNode* app = tree.Add(tree.desktop, Role::kApplication);
  FakeNode* window = tree.Add(app, Role::kDialog, "Loop");
  window->states.insert(State::kModal);
  FakeNode* panel = tree.Add(window, Role::kPanel);
  panel->children.push_back(panel);  // its own child
  panel->children.push_back(nullptr);
  panel->children.push_back(window);
  EXPECT_FALSE(FindOpenDialog(*tree.desktop, kOwnPid).found());

  // A wide tree beyond the visit limit ends the search too.
  Tree wide;
  FakeNode* wide_window = wide.Add(wide.Add(wide.desktop, Role::kApplication), Role::kDialog);
  wide_window->states.insert(State::kModal);
  for (int i = 0; i < kMaxVisitedNodes + 10; ++i) wide.Add(wide_window, Role::kPanel);
  FakeNode* late = wide.Add(wide_window, Role::kText, "File name:");
  late->states.insert(State::kEditable);
  late->attributes["placeholder-text"] = "Location";
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
