// Finding another program's file dialog on the accessibility bus, and the
// Named text its file-type list gives.
//
// The desktop's accessibility tree is read through AccessibleNode, which the
// platform layer implements over AT-SPI and tests implement with a tree
// built in the test. The search never descends into an application of our
// own process (a call into one's own process from the window thread can
// freeze it), never follows more than kMaxTreeDepth levels or visits more
// than kMaxVisitedNodes nodes, so a broken or hostile tree cannot hang it.
//
// A top-level window of another process qualifies when it is visible (and
// showing, where its toolkit reports that state: GTK 4 does not) and it is
//   - a file chooser: its role is "file chooser" (GTK 3's file dialog), or
//     it is a dialog holding a node of that role (a file-chooser widget in
//     a program's own dialog);
//   - a dialog with a field named by a file-name label and a list named by
//     a type label (Qt's own file dialog, the system's own labels); no modal
//     state is asked for, since Qt reports none on the bus even for a modal
//     dialog;
//   - a modal dialog holding GTK's location entry (GTK 4 gives its file
//     chooser the plain "dialog" role and no "file chooser" node).
// A dialog that merely asks for a name ("Name:", "Location:"), as a Create
// Folder or a Properties dialog does, is none of these.
// Inside it, in child order (a node that is not showing is left out with
// everything below it; a disabled node is skipped, but not its children):
//   - the name field is an enabled editable text whose placeholder text
//     begins with "Location" (GTK's location entry), or a text or combo box
//     named by one of the name labels: its own name, a label it is
//     labelled by, or a label just before it among its siblings; inside a
//     file chooser the desktop's labels "Name:" and "Location:" count too;
//   - the type field is an enabled combo box named by one of the type labels
//     the same ways, or else, in a file chooser, the first combo box that
//     no label names (GTK's filter list).
// Labels are compared without regard to ASCII case against the start of the
// text, over the label's length. The first qualifying window with a name
// field wins. A file chooser without one (GTK 3 shows its location entry
// only after its action "show_location") is the answer when no window has
// one, with the node that performs that action. A GTK 4 chooser offers no
// such action on the bus: it is found once the user has made its location
// entry show (Ctrl+L).
//
// Thread-safety: FindOpenDialog keeps no state; the nodes' own rules apply
// (the AT-SPI ones are called off the window thread).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quindelo::commands {

enum class AccessibleRole {
  kOther,
  kApplication,
  kFrame,
  kDialog,
  kFileChooser,
  kText,      // text or entry
  kLabel,
  kComboBox,
  kMenu,
  kMenuItem,
  kPushButton,
  kPanel,
};

enum class AccessibleState { kVisible, kShowing, kEnabled, kSensitive, kEditable, kModal };

class AccessibleNode {
 public:
  virtual ~AccessibleNode() = default;
  virtual AccessibleRole Role() const = 0;
  virtual std::string Name() const = 0;
  // An object attribute such as "placeholder-text"; empty when it is absent.
  virtual std::string Attribute(std::string_view key) const = 0;
  virtual bool HasState(AccessibleState state) const = 0;
  // Whether the node offers the named action (e.g. "show_location").
  virtual bool HasAction(std::string_view action) const = 0;
  virtual int ChildCount() const = 0;
  // A child; null when it cannot be read. Valid while the tree is.
  virtual const AccessibleNode* Child(int index) const = 0;
  // The nodes of its "labelled by" relation.
  virtual std::vector<const AccessibleNode*> LabelledBy() const = 0;
  // The process that shows the node; 0 when unknown.
  virtual int ProcessId() const = 0;
};

inline constexpr int kMaxTreeDepth = 64;
inline constexpr int kMaxVisitedNodes = 20000;

// The label tables: the system's own labels, then the desktop's spelling of
// them; kChooserNameLabels name a file-name field only inside a file chooser.
extern const std::vector<std::string_view> kNameFieldLabels;
extern const std::vector<std::string_view> kChooserNameLabels;
extern const std::vector<std::string_view> kTypeFieldLabels;
inline constexpr char kLocationPlaceholder[] = "Location";
inline constexpr char kShowLocationAction[] = "show_location";

// True when text begins with one of labels (ASCII case ignored).
bool BeginsWithLabel(std::string_view text, const std::vector<std::string_view>& labels);

struct OpenDialogTarget {
  const AccessibleNode* dialog = nullptr;      // the top-level window
  const AccessibleNode* name_field = nullptr;  // receives the path
  const AccessibleNode* type_field = nullptr;  // the file-type list, if any
  // Set when the name field is not in the tree yet: the node whose action
  // kShowLocationAction brings it; search again after performing it.
  const AccessibleNode* reveal = nullptr;

  bool found() const { return name_field != nullptr || reveal != nullptr; }
};

// Searches the applications under desktop (the accessibility tree's root)
// for an open dialog, leaving out every application of own_process_id.
OpenDialogTarget FindOpenDialog(const AccessibleNode& desktop, int own_process_id);

// The Named text that a file-type text asks for, as "Text Documents (*.txt)"
// gives "*.txt" and "Bitmaps (.bmp;.dib)" gives "*.bmp;*.dib": between the
// last "(" and the last ")" a "*" goes before every "." that does not follow
// one (while the text is shorter than 255 characters), and the patterns
// there, separated by ";" or blanks, are joined by ";". False, leaving
// *named alone, for an empty text, one beginning with "All Files" (ASCII
// case ignored), and one without such a pair of parentheses, as GTK's filter
// names are: a name alone says nothing about the files' names.
bool NamedTextOfFileType(std::string_view type_text, std::string* named);

}  // namespace quindelo::commands
