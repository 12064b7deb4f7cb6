#include "commands/open_dialog.h"

namespace quindelo::commands {

const std::vector<std::string_view> kNameFieldLabels = {
    "File &name:", "File&name:", "Filename:",  // the system's own
    "File name:",  "Name:",      "Location:",  // the desktop's (Qt, GTK)
};
const std::vector<std::string_view> kTypeFieldLabels = {
    "Files of &type:", "File &type:", "Filetype:",  // the system's own
    "Files of type:",  "File type:",                // the desktop's (Qt)
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

class DialogSearch {
 public:
  DialogSearch(bool file_chooser, int* visited) : file_chooser_(file_chooser), visited_(visited) {}

  void Visit(const AccessibleNode& parent, int depth) {
    const AccessibleNode* previous = nullptr;
    int count = parent.ChildCount();
    for (int i = 0; i < count && !Done(); ++i) {
      const AccessibleNode* child = parent.Child(i);
      if (child == nullptr) continue;
      ++*visited_;
      if (!child->HasState(AccessibleState::kShowing)) {
        previous = child;
        continue;
      }
      if (IsEnabled(*child)) Consider(*child, previous);
      if (reveal == nullptr && child->HasAction(kShowLocationAction)) reveal = child;
      if (depth + 1 < kMaxTreeDepth && !Done()) Visit(*child, depth + 1);
      previous = child;
    }
  }

  const AccessibleNode* TypeField() const { return type != nullptr ? type : unlabelled_combo_; }

  const AccessibleNode* name = nullptr;
  const AccessibleNode* type = nullptr;
  const AccessibleNode* reveal = nullptr;

 private:
  bool Done() const {
    return (name != nullptr && type != nullptr) || *visited_ >= kMaxVisitedNodes;
  }

  void Consider(const AccessibleNode& node, const AccessibleNode* previous) {
    AccessibleRole role = node.Role();
    if (name == nullptr) {
      bool editable_text =
          role == AccessibleRole::kText && node.HasState(AccessibleState::kEditable);
      if ((editable_text &&
           BeginsWithNoCase(node.Attribute("placeholder-text"), kLocationPlaceholder)) ||
          ((editable_text || role == AccessibleRole::kComboBox) &&
           NamedBy(node, previous, kNameFieldLabels))) {
        name = &node;
        return;
      }
    }
    if (type == nullptr && role == AccessibleRole::kComboBox) {
      if (NamedBy(node, previous, kTypeFieldLabels))
        type = &node;
      else if (file_chooser_ && unlabelled_combo_ == nullptr && !HasAnyLabel(node, previous))
        unlabelled_combo_ = &node;
    }
  }

  bool file_chooser_;
  int* visited_;
  const AccessibleNode* unlabelled_combo_ = nullptr;
};

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
      AccessibleRole role = window->Role();
      if (role != AccessibleRole::kDialog && role != AccessibleRole::kFileChooser) continue;
      if (!window->HasState(AccessibleState::kVisible) ||
          !window->HasState(AccessibleState::kShowing))
        continue;
      bool file_chooser = role == AccessibleRole::kFileChooser;
      DialogSearch search(file_chooser, &visited);
      if (window->HasAction(kShowLocationAction)) search.reveal = window;
      search.Visit(*window, 0);
      if (search.name != nullptr) {
        OpenDialogTarget target;
        target.dialog = window;
        target.name_field = search.name;
        target.type_field = search.TypeField();
        return target;
      }
      if (file_chooser && fallback.dialog == nullptr && search.reveal != nullptr) {
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
