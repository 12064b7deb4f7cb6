// The accessibility bus through libatspi.
#include <atspi/atspi.h>

#include <mutex>

#include "platform/accessibility_bus.h"

namespace quindelo::platform {

// The answering state of one application, shared by every object reached
// through it.
struct AccessibilityObject::Application {
  bool broken = false;
};

namespace {

// libatspi's messages are dispatched on a main context of our own, handled
// on the bus thread by PumpAccessibilityBus, never on the default context
// that the window thread's event loop runs.
GMainContext* bus_context = nullptr;
bool bus_connected = false;

AtspiAccessible* Accessible(void* object) { return static_cast<AtspiAccessible*>(object); }

std::string TakeString(gchar* text) {
  std::string out = text != nullptr ? text : "";
  g_free(text);
  return out;
}

AccessibilityRole RoleOf(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_APPLICATION: return AccessibilityRole::kApplication;
    case ATSPI_ROLE_FRAME: return AccessibilityRole::kFrame;
    case ATSPI_ROLE_DIALOG: return AccessibilityRole::kDialog;
    case ATSPI_ROLE_FILE_CHOOSER: return AccessibilityRole::kFileChooser;
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY: return AccessibilityRole::kText;
    case ATSPI_ROLE_LABEL: return AccessibilityRole::kLabel;
    case ATSPI_ROLE_COMBO_BOX: return AccessibilityRole::kComboBox;
    case ATSPI_ROLE_MENU: return AccessibilityRole::kMenu;
    case ATSPI_ROLE_MENU_ITEM: return AccessibilityRole::kMenuItem;
    case ATSPI_ROLE_PUSH_BUTTON: return AccessibilityRole::kPushButton;
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_FILLER: return AccessibilityRole::kPanel;
    default: return AccessibilityRole::kOther;
  }
}

AtspiStateType StateOf(AccessibilityState state) {
  switch (state) {
    case AccessibilityState::kVisible: return ATSPI_STATE_VISIBLE;
    case AccessibilityState::kShowing: return ATSPI_STATE_SHOWING;
    case AccessibilityState::kEnabled: return ATSPI_STATE_ENABLED;
    case AccessibilityState::kSensitive: return ATSPI_STATE_SENSITIVE;
    case AccessibilityState::kEditable: return ATSPI_STATE_EDITABLE;
    case AccessibilityState::kFocused: return ATSPI_STATE_FOCUSED;
    case AccessibilityState::kModal: return ATSPI_STATE_MODAL;
  }
  return ATSPI_STATE_INVALID;
}

}  // namespace

AccessibilityObject::AccessibilityObject(void* object, std::shared_ptr<Application> application)
    : object_(object), application_(std::move(application)) {}

AccessibilityObject::AccessibilityObject(const AccessibilityObject& other)
    : object_(other.object_ != nullptr ? g_object_ref(other.object_) : nullptr),
      application_(other.application_) {}

AccessibilityObject& AccessibilityObject::operator=(const AccessibilityObject& other) {
  if (this != &other) {
    AccessibilityObject copy(other);
    *this = std::move(copy);
  }
  return *this;
}

AccessibilityObject::AccessibilityObject(AccessibilityObject&& other) noexcept
    : object_(other.object_), application_(std::move(other.application_)) {
  other.object_ = nullptr;
}

AccessibilityObject& AccessibilityObject::operator=(AccessibilityObject&& other) noexcept {
  if (this != &other) {
    if (object_ != nullptr) g_object_unref(object_);
    object_ = other.object_;
    other.object_ = nullptr;
    application_ = std::move(other.application_);
  }
  return *this;
}

AccessibilityObject::~AccessibilityObject() {
  if (object_ != nullptr) g_object_unref(object_);
}

bool AccessibilityObject::Broken() const {
  return object_ == nullptr || (application_ != nullptr && application_->broken);
}

bool AccessibilityObject::Check(void* error) const {
  GError* e = static_cast<GError*>(error);
  if (e == nullptr) return true;
  if (application_ != nullptr) application_->broken = true;
  g_error_free(e);
  return false;
}

AccessibilityRole AccessibilityObject::Role() const {
  if (Broken()) return AccessibilityRole::kOther;
  GError* error = nullptr;
  AtspiRole role = atspi_accessible_get_role(Accessible(object_), &error);
  return Check(error) ? RoleOf(role) : AccessibilityRole::kOther;
}

std::string AccessibilityObject::Name() const {
  if (Broken()) return {};
  GError* error = nullptr;
  std::string name = TakeString(atspi_accessible_get_name(Accessible(object_), &error));
  return Check(error) ? name : std::string();
}

std::string AccessibilityObject::Attribute(std::string_view key) const {
  if (Broken()) return {};
  GError* error = nullptr;
  GHashTable* attributes = atspi_accessible_get_attributes(Accessible(object_), &error);
  if (!Check(error) || attributes == nullptr) return {};
  std::string wanted(key);
  const char* value = static_cast<const char*>(g_hash_table_lookup(attributes, wanted.c_str()));
  std::string out = value != nullptr ? value : "";
  g_hash_table_unref(attributes);
  return out;
}

bool AccessibilityObject::HasState(AccessibilityState state) const {
  if (Broken()) return false;
  AtspiStateSet* states = atspi_accessible_get_state_set(Accessible(object_));
  if (states == nullptr) return false;
  bool has = atspi_state_set_contains(states, StateOf(state));
  g_object_unref(states);
  return has;
}

int AccessibilityObject::ChildCount() const {
  if (Broken()) return 0;
  GError* error = nullptr;
  int count = atspi_accessible_get_child_count(Accessible(object_), &error);
  return Check(error) && count > 0 ? count : 0;
}

AccessibilityObject AccessibilityObject::Child(int index) const {
  if (Broken() || index < 0) return {};
  GError* error = nullptr;
  AtspiAccessible* child = atspi_accessible_get_child_at_index(Accessible(object_), index, &error);
  if (!Check(error) || child == nullptr) {
    if (child != nullptr) g_object_unref(child);
    return {};
  }
  // The desktop's children are the applications, each answering on its own.
  return AccessibilityObject(child,
                             application_ != nullptr ? application_ : std::make_shared<Application>());
}

std::vector<AccessibilityObject> AccessibilityObject::LabelledBy() const {
  std::vector<AccessibilityObject> labels;
  if (Broken()) return labels;
  GError* error = nullptr;
  GArray* relations = atspi_accessible_get_relation_set(Accessible(object_), &error);
  if (!Check(error) || relations == nullptr) return labels;
  for (guint i = 0; i < relations->len; ++i) {
    AtspiRelation* relation = g_array_index(relations, AtspiRelation*, i);
    if (atspi_relation_get_relation_type(relation) == ATSPI_RELATION_LABELLED_BY) {
      int targets = atspi_relation_get_n_targets(relation);
      for (int t = 0; t < targets; ++t) {
        AtspiAccessible* target = atspi_relation_get_target(relation, t);
        if (target != nullptr) labels.push_back(AccessibilityObject(target, application_));
      }
    }
    g_object_unref(relation);
  }
  g_array_free(relations, TRUE);
  return labels;
}

int AccessibilityObject::ProcessId() const {
  if (object_ == nullptr) return 0;
  GError* error = nullptr;
  guint pid = atspi_accessible_get_process_id(Accessible(object_), &error);
  if (error != nullptr) {
    g_error_free(error);
    return 0;
  }
  return static_cast<int>(pid);
}

namespace {

// The index of the named action, or -1.
int ActionIndex(AtspiAction* action, std::string_view name, GError** error) {
  int count = atspi_action_get_n_actions(action, error);
  for (int i = 0; i < count && *error == nullptr; ++i) {
    std::string action_name = TakeString(atspi_action_get_action_name(action, i, error));
    if (*error == nullptr && action_name == name) return i;
  }
  return -1;
}

}  // namespace

bool AccessibilityObject::HasAction(std::string_view name) const {
  if (Broken()) return false;
  AtspiAction* action = atspi_accessible_get_action_iface(Accessible(object_));
  if (action == nullptr) return false;
  GError* error = nullptr;
  int index = ActionIndex(action, name, &error);
  g_object_unref(action);
  return Check(error) && index >= 0;
}

bool AccessibilityObject::DoAction(std::string_view name) const {
  if (Broken()) return false;
  AtspiAction* action = atspi_accessible_get_action_iface(Accessible(object_));
  if (action == nullptr) return false;
  GError* error = nullptr;
  int index = ActionIndex(action, name, &error);
  bool done = false;
  if (error == nullptr && index >= 0) done = atspi_action_do_action(action, index, &error);
  g_object_unref(action);
  return Check(error) && done;
}

bool AccessibilityObject::SetText(const std::string& text) const {
  if (Broken()) return false;
  AtspiEditableText* editable = atspi_accessible_get_editable_text_iface(Accessible(object_));
  if (editable == nullptr) return false;
  GError* error = nullptr;
  bool done = atspi_editable_text_set_text_contents(editable, text.c_str(), &error);
  g_object_unref(editable);
  return Check(error) && done;
}

bool AccessibilityObject::SelectAllText() const {
  if (Broken()) return false;
  AtspiText* text = atspi_accessible_get_text_iface(Accessible(object_));
  if (text == nullptr) return false;
  GError* error = nullptr;
  int count = atspi_text_get_character_count(text, &error);
  bool done = false;
  if (error == nullptr) done = atspi_text_add_selection(text, 0, count, &error);
  g_object_unref(text);
  return Check(error) && done;
}

bool AccessibilityObject::GrabFocus() const {
  if (Broken()) return false;
  AtspiComponent* component = atspi_accessible_get_component_iface(Accessible(object_));
  if (component == nullptr) return false;
  GError* error = nullptr;
  bool done = atspi_component_grab_focus(component, &error);
  g_object_unref(component);
  return Check(error) && done;
}

bool ConnectAccessibilityBus(int call_timeout_ms) {
  static std::once_flag once;
  std::call_once(once, [call_timeout_ms] {
    bus_context = g_main_context_new();
    g_main_context_push_thread_default(bus_context);
    // atspi_init answers 0 when it connected, 1 when it was connected.
    int status = atspi_init();
    if (status == 0 || status == 1) {
      atspi_set_main_context(bus_context);
      // No longer allowance for applications that have just started: a
      // dialog is looked for when it is already showing.
      atspi_set_timeout(call_timeout_ms, -1);
      bus_connected = atspi_get_a11y_bus() != nullptr;
    }
    g_main_context_pop_thread_default(bus_context);
  });
  return bus_connected;
}

AccessibilityObject AccessibilityDesktop() {
  if (!bus_connected) return {};
  // libatspi's cache of accessibles is not guarded: two threads taking the
  // desktop at once free each other's cache entries.
  static std::mutex desktop_lock;
  AtspiAccessible* desktop = nullptr;
  {
    std::lock_guard<std::mutex> lock(desktop_lock);
    desktop = atspi_get_desktop(0);
  }
  if (desktop == nullptr) return {};
  return AccessibilityObject(desktop, nullptr);
}

void PumpAccessibilityBus() {
  if (bus_context == nullptr) return;
  while (g_main_context_iteration(bus_context, FALSE)) {
  }
}

}  // namespace quindelo::platform
