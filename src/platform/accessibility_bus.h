// The desktop's accessibility bus (AT-SPI on Linux): the tree of the
// applications' windows and controls, read and acted on from outside.
//
// An AccessibilityObject is a reference to one object of another
// application. Every read returns an empty or false answer when the object
// is gone or its application does not answer within the call time-out; after
// the first such failure every object reached through the same application
// answers at once with the empty answer, so one hung application costs one
// time-out, not one per object.
//
// Threads: ConnectAccessibilityBus, PumpAccessibilityBus and every call on
// an object must be made on one thread, the bus thread (never the window
// thread: a call that reaches the caller's own process waits for that
// process's window thread). Objects must not be shared with another thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quindelo::platform {

enum class AccessibilityRole {
  kOther,
  kApplication,
  kFrame,
  kDialog,
  kFileChooser,
  kText,  // text or entry
  kLabel,
  kComboBox,
  kMenu,
  kMenuItem,
  kPushButton,
  kPanel,
};

enum class AccessibilityState {
  kVisible,
  kShowing,
  kEnabled,
  kSensitive,
  kEditable,
  kFocused,
  kModal,
};

class AccessibilityObject {
 public:
  AccessibilityObject() = default;
  AccessibilityObject(const AccessibilityObject& other);
  AccessibilityObject& operator=(const AccessibilityObject& other);
  AccessibilityObject(AccessibilityObject&& other) noexcept;
  AccessibilityObject& operator=(AccessibilityObject&& other) noexcept;
  ~AccessibilityObject();

  // False for the empty reference (no bus, no such child).
  bool valid() const { return object_ != nullptr; }

  AccessibilityRole Role() const;
  std::string Name() const;
  // An object attribute such as "placeholder-text"; empty when absent.
  std::string Attribute(std::string_view key) const;
  bool HasState(AccessibilityState state) const;
  int ChildCount() const;
  // The child at index; an empty reference when it cannot be read.
  AccessibilityObject Child(int index) const;
  // The targets of the object's "labelled by" relation.
  std::vector<AccessibilityObject> LabelledBy() const;
  // The process of the object's application; 0 when unknown. Asks the bus,
  // not the application.
  int ProcessId() const;

  // The object's named action ("click", "show_location").
  bool HasAction(std::string_view action) const;
  bool DoAction(std::string_view action) const;
  // Replaces the text of an editable text.
  bool SetText(const std::string& text) const;
  // Selects the whole text of a text object.
  bool SelectAllText() const;
  // Gives the object the keyboard focus, which raises its window.
  bool GrabFocus() const;

 private:
  struct Application;
  friend AccessibilityObject AccessibilityDesktop();
  AccessibilityObject(void* object, std::shared_ptr<Application> application);
  // False (and the application marked as not answering) when error is set.
  bool Check(void* error) const;
  bool Broken() const;

  void* object_ = nullptr;  // the AtspiAccessible, one reference held
  std::shared_ptr<Application> application_;
};

// Connects to the accessibility bus, once per process, with a time-out of
// call_timeout_ms for every call into an application; later calls return
// the first answer. False when there is no bus (no desktop session).
// REQUIRES: called on the bus thread.
bool ConnectAccessibilityBus(int call_timeout_ms);

// The root of the tree: its children are the applications. An empty
// reference when the bus is not connected.
AccessibilityObject AccessibilityDesktop();

// Handles the bus's pending messages (its notices of changed trees) on the
// bus thread; returns at once when there are none.
void PumpAccessibilityBus();

}  // namespace quindelo::platform
