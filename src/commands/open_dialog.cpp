#include "commands/open_dialog.h"

namespace quindelo::commands {

const std::vector<std::string_view> kNameFieldLabels = {
    "File &name:", "File&name:", "Filename:",  // the system's own
    "File name:",                              // the same as Qt shows it
};
const std::vector<std::string_view> kChooserNameLabels = {"Name:", "Location:"};
const std::vector<std::string_view> kTypeFieldLabels = {
    "Files of &type:", "File &type:", "Filetype:",  // the system's own
    "Files of type:",  "File type:",                // the same as Qt shows them
};

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool BeginsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}

bool IsEnabled(const AccessibleNode& node) {
  return node.HasState(AccessibleState::kEnabled) || node.HasState(AccessibleState::kSensitive);
}

bool IsLabelNode(const AccessibleNode* node) {
  return node != nullptr && node->Role() == AccessibleRole::kLabel && !node->Name().empty();
}

// Whether one of labels names node: its own name, a label it is labelled by,
// or the label just before it.
bool NamedBy(const AccessibleNode& node, const AccessibleNode* previous,
             const std::vector<std::string_view>& labels) {
  if (BeginsWithLabel(node.Name(), labels)) return true;
  for (const AccessibleNode* label : node.LabelledBy())
    if (label != nullptr && BeginsWithLabel(label->Name(), labels)) return true;
  return IsLabelNode(previous) && BeginsWithLabel(previous->Name(), labels);
}

bool HasAnyLabel(const AccessibleNode& node, const AccessibleNode* previous) {
  return !node.LabelledBy().empty() || IsLabelNode(previous);
}

// The fields of one top-level window, in child order. Inside a file chooser
// (the window itself, or a file-chooser widget in a dialog) the desktop's
// own labels name the file-name field too, and GTK's unlabelled filter list
// is the type field; elsewhere only the file-name and type labels count.
class DialogSearch {
 public:
  // check_showing: whether a node that is not showing is left out (false
  // for a window that reports no showing state, as GTK 4's do not).
  DialogSearch(bool check_showing, int* visited)
      : check_showing_(check_showing), visited_(visited) {}

  void Visit(const AccessibleNode& parent, int depth, bool in_chooser) {
    const AccessibleNode* previous = nullptr;
    int count = parent.ChildCount();
    for (int i = 0; i < count && !Done(); ++i) {
      const AccessibleNode* child = parent.Child(i);
      if (child == nullptr) continue;
      ++*visited_;
      if (check_showing_ && !child->HasState(AccessibleState::kShowing)) {
        previous = child;
        continue;
      }
      const bool chooser = in_chooser || child->Role() == AccessibleRole::kFileChooser;
      if (chooser) holds_chooser = true;
      if (IsEnabled(*child)) Consider(*child, previous, chooser);
      if (chooser && reveal == nullptr && child->HasAction(kShowLocationAction)) reveal = child;
      if (depth + 1 < kMaxTreeDepth && !Done()) Visit(*child, depth + 1, chooser);
      previous = child;
    }
  }

  const AccessibleNode* TypeField() const { return type != nullptr ? type : unlabelled_combo_; }

  const AccessibleNode* name = nullptr;
  const AccessibleNode* type = nullptr;
  const AccessibleNode* reveal = nullptr;
  bool holds_chooser = false;    // a file-chooser node was met
  bool location_entry = false;   // name is GTK's location entry
  bool labelled_name = false;    // name is named by a file-name label

 private:
  bool Done() const {
    return (name != nullptr && type != nullptr) || *visited_ >= kMaxVisitedNodes;
  }

  void Consider(const AccessibleNode& node, const AccessibleNode* previous, bool chooser) {
    AccessibleRole role = node.Role();
    if (name == nullptr) {
      const bool editable_text =
          role == AccessibleRole::kText && node.HasState(AccessibleState::kEditable);
      if (editable_text &&
          BeginsWithNoCase(node.Attribute("placeholder-text"), kLocationPlaceholder)) {
        name = &node;
        location_entry = true;
        return;
      }
      if (editable_text || role == AccessibleRole::kComboBox) {
        if (NamedBy(node, previous, kNameFieldLabels)) {
          name = &node;
          labelled_name = true;
          return;
        }
        if (chooser && NamedBy(node, previous, kChooserNameLabels)) {
          name = &node;
          return;
        }
      }
    }
    if (type == nullptr && role == AccessibleRole::kComboBox) {
      if (NamedBy(node, previous, kTypeFieldLabels))
        type = &node;
      else if (chooser && unlabelled_combo_ == nullptr && !HasAnyLabel(node, previous))
        unlabelled_combo_ = &node;
    }
  }

  bool check_showing_;
  int* visited_;
  const AccessibleNode* unlabelled_combo_ = nullptr;
};

// Whether a searched window is an open dialog: a file chooser (GTK 3 gives
// its dialog that role; a dialog may also hold a file-chooser widget), or a
// dialog with a field named by a file-name label and a list named by a type
// label (Qt's own dialog, the system's own: Qt reports no modal state on the
// bus, so none is asked for), or a modal dialog with GTK's location entry
// (GTK 4 gives its chooser the plain dialog role, and reports it modal).
bool IsOpenDialog(bool file_chooser_window, bool modal, const DialogSearch& search) {
  if (file_chooser_window || search.holds_chooser) return true;
  return (search.location_entry && modal) || (search.labelled_name && search.type != nullptr);
}

}  // namespace

bool BeginsWithLabel(std::string_view text, const std::vector<std::string_view>& labels) {
  for (std::string_view label : labels)
    if (BeginsWithNoCase(text, label)) return true;
  return false;
}

OpenDialogTarget FindOpenDialog(const AccessibleNode& desktop, int own_process_id) {
  OpenDialogTarget fallback;
  int visited = 0;
  int applications = desktop.ChildCount();
  for (int a = 0; a < applications && visited < kMaxVisitedNodes; ++a) {
    const AccessibleNode* application = desktop.Child(a);
    if (application == nullptr) continue;
    ++visited;
    int pid = application->ProcessId();
    if (own_process_id != 0 && pid == own_process_id) continue;
    int windows = application->ChildCount();
    for (int w = 0; w < windows && visited < kMaxVisitedNodes; ++w) {
      const AccessibleNode* window = application->Child(w);
      if (window == nullptr) continue;
      ++visited;
      if (!window->HasState(AccessibleState::kVisible)) continue;
      const bool showing = window->HasState(AccessibleState::kShowing);
      const AccessibleRole role = window->Role();
      const bool file_chooser = role == AccessibleRole::kFileChooser;
      if (file_chooser ? !showing : role != AccessibleRole::kDialog) continue;
      DialogSearch search(showing, &visited);
      if (file_chooser && window->HasAction(kShowLocationAction)) search.reveal = window;
      search.Visit(*window, 0, file_chooser);
      if (!IsOpenDialog(file_chooser, window->HasState(AccessibleState::kModal), search))
        continue;
      if (search.name != nullptr) {
        OpenDialogTarget target;
        target.dialog = window;
        target.name_field = search.name;
        target.type_field = search.TypeField();
        return target;
      }
      if (fallback.dialog == nullptr && search.reveal != nullptr) {
        fallback.dialog = window;
        fallback.type_field = search.TypeField();
        fallback.reveal = search.reveal;
      }
    }
  }
  return fallback;
}

bool NamedTextOfFileType(std::string_view type_text, std::string* named) {
  if (type_text.empty() || BeginsWithNoCase(type_text, "All Files")) return false;
  std::size_t open = type_text.rfind('(');
  std::size_t close = type_text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || open > close)
    return false;
  std::string text(type_text);
  for (std::size_t i = open + 1; i < close; ++i) {
    if (text[i] == '.' && text[i - 1] != '*' && text.size() < 255) {
      text.insert(i, 1, '*');
      ++i;
      ++close;
    }
  }
  std::string_view patterns = std::string_view(text).substr(open + 1, close - open - 1);
  std::string out;
  std::size_t at = 0;
  while (at < patterns.size()) {
    std::size_t end = patterns.find_first_of("; \t", at);
    if (end == std::string_view::npos) end = patterns.size();
    if (end > at) {
      if (!out.empty()) out += ';';
      out.append(patterns.substr(at, end - at));
    }
    at = end + 1;
  }
  if (out.empty()) return false;
  *named = std::move(out);
  return true;
}

}  // namespace quindelo::commands
