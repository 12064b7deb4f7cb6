// The accessibility bus's tree as AccessibleNode, for the open-dialog search.
#include <chrono>
#include <optional>
#include <thread>

#include "commands/open_dialog_return.h"
#include "platform/accessibility_bus.h"

namespace quindelo::commands {

namespace {

using platform::AccessibilityObject;
using platform::AccessibilityRole;
using platform::AccessibilityState;

AccessibleRole RoleOf(AccessibilityRole role) {
  switch (role) {
    case AccessibilityRole::kOther: return AccessibleRole::kOther;
    case AccessibilityRole::kApplication: return AccessibleRole::kApplication;
    case AccessibilityRole::kFrame: return AccessibleRole::kFrame;
    case AccessibilityRole::kDialog: return AccessibleRole::kDialog;
    case AccessibilityRole::kFileChooser: return AccessibleRole::kFileChooser;
    case AccessibilityRole::kText: return AccessibleRole::kText;
    case AccessibilityRole::kLabel: return AccessibleRole::kLabel;
    case AccessibilityRole::kComboBox: return AccessibleRole::kComboBox;
    case AccessibilityRole::kMenu: return AccessibleRole::kMenu;
    case AccessibilityRole::kMenuItem: return AccessibleRole::kMenuItem;
    case AccessibilityRole::kPushButton: return AccessibleRole::kPushButton;
    case AccessibilityRole::kPanel: return AccessibleRole::kPanel;
  }
  return AccessibleRole::kOther;
}

AccessibilityState StateOf(AccessibleState state) {
  switch (state) {
    case AccessibleState::kVisible: return AccessibilityState::kVisible;
    case AccessibleState::kShowing: return AccessibilityState::kShowing;
    case AccessibleState::kEnabled: return AccessibilityState::kEnabled;
    case AccessibleState::kSensitive: return AccessibilityState::kSensitive;
    case AccessibleState::kEditable: return AccessibilityState::kEditable;
    case AccessibleState::kModal: return AccessibilityState::kModal;
  }
  return AccessibilityState::kVisible;
}

// One object of the bus; its children and labels are read once, on first
// use, and kept with it (the search asks for each more than once).
class BusNode : public AccessibleNode {
 public:
  explicit BusNode(AccessibilityObject object) : object_(std::move(object)) {}

  const AccessibilityObject& object() const { return object_; }

  AccessibleRole Role() const override {
    if (!role_) role_ = RoleOf(object_.Role());
    return *role_;
  }
  std::string Name() const override {
    if (!name_) name_ = object_.Name();
    return *name_;
  }
  std::string Attribute(std::string_view key) const override { return object_.Attribute(key); }
  bool HasState(AccessibleState state) const override { return object_.HasState(StateOf(state)); }
  bool HasAction(std::string_view action) const override { return object_.HasAction(action); }
  int ChildCount() const override {
    if (!children_) children_.emplace(static_cast<std::size_t>(object_.ChildCount()));
    return static_cast<int>(children_->size());
  }
  const AccessibleNode* Child(int index) const override {
    if (index < 0 || index >= ChildCount()) return nullptr;
    std::unique_ptr<BusNode>& child = (*children_)[static_cast<std::size_t>(index)];
    if (child == nullptr) {
      AccessibilityObject object = object_.Child(index);
      if (!object.valid()) return nullptr;
      child = std::make_unique<BusNode>(std::move(object));
    }
    return child.get();
  }
  std::vector<const AccessibleNode*> LabelledBy() const override {
    if (!labels_) {
      labels_.emplace();
      for (AccessibilityObject& label : object_.LabelledBy())
        labels_->push_back(std::make_unique<BusNode>(std::move(label)));
    }
    std::vector<const AccessibleNode*> out;
    for (const std::unique_ptr<BusNode>& label : *labels_) out.push_back(label.get());
    return out;
  }
  int ProcessId() const override { return object_.ProcessId(); }

 private:
  AccessibilityObject object_;
  mutable std::optional<AccessibleRole> role_;
  mutable std::optional<std::string> name_;
  mutable std::optional<std::vector<std::unique_ptr<BusNode>>> children_;
  mutable std::optional<std::vector<std::unique_ptr<BusNode>>> labels_;
};

const AccessibilityObject& ObjectOf(const AccessibleNode& node) {
  return static_cast<const BusNode&>(node).object();
}

class BusDesktop : public AccessibleDesktop {
 public:
  explicit BusDesktop(int call_timeout_ms) : timeout_ms_(call_timeout_ms) {}

  const AccessibleNode* Root() override {
    root_.reset();
    if (!platform::ConnectAccessibilityBus(timeout_ms_)) return nullptr;
    platform::PumpAccessibilityBus();
    AccessibilityObject desktop = platform::AccessibilityDesktop();
    if (!desktop.valid()) return nullptr;
    root_ = std::make_unique<BusNode>(std::move(desktop));
    return root_.get();
  }
  bool DoAction(const AccessibleNode& node, std::string_view action) override {
    return ObjectOf(node).DoAction(action);
  }
  bool SetText(const AccessibleNode& node, const std::string& text) override {
    return ObjectOf(node).SetText(text);
  }
  bool SelectAllText(const AccessibleNode& node) override {
    return ObjectOf(node).SelectAllText();
  }
  bool BringToFront(const AccessibleNode& window, const AccessibleNode& field) override {
    bool raised = ObjectOf(window).GrabFocus();
    return ObjectOf(field).GrabFocus() || raised;
  }
  void AwaitChanges() override {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    platform::PumpAccessibilityBus();
  }

 private:
  int timeout_ms_;
  std::unique_ptr<BusNode> root_;
};

}  // namespace

std::unique_ptr<AccessibleDesktop> MakeAccessibilityBusDesktop(int call_timeout_ms) {
  return std::make_unique<BusDesktop>(call_timeout_ms);
}

}  // namespace quindelo::commands
