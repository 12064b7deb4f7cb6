// An accessibility tree built by a test, with the operations of the
// open-dialog return recorded, and the shapes of the two dialogs the return
// meets on Linux: GTK's file chooser (its location entry appears only after
// the action "show_location", at once or only after a few looks at the
// tree) and Qt's own file dialog (a labelled text).
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "commands/open_dialog_return.h"

namespace quindelo::test {

using commands::AccessibleNode;
using commands::AccessibleRole;
using commands::AccessibleState;

class FakeNode : public AccessibleNode {
 public:
  AccessibleRole role = AccessibleRole::kPanel;
  std::string name;
  std::map<std::string, std::string, std::less<>> attributes;
  std::set<AccessibleState> states = {AccessibleState::kVisible, AccessibleState::kShowing,
                                      AccessibleState::kEnabled, AccessibleState::kSensitive};
  std::set<std::string, std::less<>> actions;
  std::vector<FakeNode*> children;
  std::vector<const AccessibleNode*> labels;
  int pid = 0;

  AccessibleRole Role() const override { return role; }
  std::string Name() const override { return name; }
  std::string Attribute(std::string_view key) const override {
    auto it = attributes.find(key);
    return it == attributes.end() ? std::string() : it->second;
  }
  bool HasState(AccessibleState state) const override { return states.count(state) != 0; }
  bool HasAction(std::string_view action) const override { return actions.count(action) != 0; }
  int ChildCount() const override { return static_cast<int>(children.size()); }
  const AccessibleNode* Child(int index) const override { return children[index]; }
  std::vector<const AccessibleNode*> LabelledBy() const override { return labels; }
  int ProcessId() const override { return pid; }
};

// The desktop: applications are added with one dialog each; every
// operation is logged as a line ("action show_location", "text /a b",
// "select", "front"). Thread-safe: the window tests read the log while the
// bus thread works.
class FakeAccessibleDesktop : public commands::AccessibleDesktop {
 public:
  enum class Dialog { kGtkHidden, kGtkShown, kQt, kFrameOnly };
  struct Options {
    bool entry_appears = true;   // the GTK entry appears after show_location
    int entry_after_polls = 0;   // ... only after this many AwaitChanges
    bool action_fails = false;   // show_location answers failure (taken in all the same)
    bool first_action_lost = false;  // the first show_location fails and is not taken in
    bool text_refused = false;   // the name field refuses the text
    bool gone_after_reveal = false;  // the dialog closes on show_location
  };

  FakeNode* AddApplication(int pid, Dialog dialog, const std::string& type_text = "") {
    std::lock_guard<std::mutex> lock(mutex_);
    FakeNode* app = Node(&root_, AccessibleRole::kApplication, "app");
    app->pid = pid;
    if (dialog == Dialog::kFrameOnly) {
      Node(Node(app, AccessibleRole::kFrame, "Editor"), AccessibleRole::kText)->states.insert(
          AccessibleState::kEditable);
      return app;
    }
    if (dialog == Dialog::kQt) {
      FakeNode* window = Node(app, AccessibleRole::kDialog, "Open File");
      FakeNode* label = Node(window, AccessibleRole::kLabel, "File name:");
      name_field_ = Node(window, AccessibleRole::kText);
      name_field_->states.insert(AccessibleState::kEditable);
      name_field_->labels.push_back(label);
      Node(window, AccessibleRole::kLabel, "Files of type:");
      Node(window, AccessibleRole::kComboBox, type_text);
      return app;
    }
    FakeNode* window = Node(app, AccessibleRole::kFileChooser, "Select a File");
    FakeNode* widget = Node(window, AccessibleRole::kFileChooser, "File Chooser Widget");
    widget->actions.insert(commands::kShowLocationAction);
    location_parent_ = Node(widget, AccessibleRole::kPanel);
    Node(widget, AccessibleRole::kComboBox, type_text);
    if (dialog == Dialog::kGtkShown) AddLocationEntry();
    return app;
  }
  void set_options(const Options& options) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_ = options;
  }
  void RemoveApplications() {
    std::lock_guard<std::mutex> lock(mutex_);
    root_.children.clear();
  }
  std::vector<std::string> log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  int polls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return polls_;
  }

  const AccessibleNode* Root() override { return &root_; }
  bool DoAction(const AccessibleNode& node, std::string_view action) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back("action " + std::string(action));
    if (!node.HasAction(action)) return false;
    if (options_.first_action_lost && !action_lost_) {
      action_lost_ = true;
      return false;
    }
    if (options_.gone_after_reveal) {
      root_.children.clear();
    } else if (options_.entry_appears) {
      if (options_.entry_after_polls == 0) AddLocationEntry();
      else if (reveal_at_poll_ == 0) reveal_at_poll_ = polls_ + options_.entry_after_polls;
    }
    return !options_.action_fails;
  }
  void AwaitChanges() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++polls_;
    if (reveal_at_poll_ != 0 && polls_ >= reveal_at_poll_) {
      AddLocationEntry();
      reveal_at_poll_ = 0;
    }
  }
  bool SetText(const AccessibleNode& node, const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back("text " + text);
    return &node == name_field_ && !options_.text_refused;
  }
  bool SelectAllText(const AccessibleNode&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back("select");
    return true;
  }
  bool BringToFront(const AccessibleNode& window, const AccessibleNode&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back("front " + window.Name());
    return true;
  }

 private:
  FakeNode* Node(FakeNode* parent, AccessibleRole role, std::string name = "") {
    FakeNode& node = nodes_.emplace_back();
    node.role = role;
    node.name = std::move(name);
    parent->children.push_back(&node);
    return &node;
  }
  void AddLocationEntry() {
    if (location_parent_ == nullptr || !location_parent_->children.empty()) return;
    name_field_ = Node(location_parent_, AccessibleRole::kText);
    name_field_->states.insert(AccessibleState::kEditable);
    name_field_->attributes["placeholder-text"] = "Location";
  }

  std::mutex mutex_;
  std::deque<FakeNode> nodes_;
  FakeNode root_;
  FakeNode* location_parent_ = nullptr;
  FakeNode* name_field_ = nullptr;
  Options options_;
  std::vector<std::string> log_;
  int polls_ = 0;
  int reveal_at_poll_ = 0;  // 0: no entry on its way
  bool action_lost_ = false;
};

}  // namespace quindelo::test
