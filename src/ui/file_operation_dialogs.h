// The two dialogs of the file operations: "Destination Folder" (Copy and
// Move: a folder, perhaps followed by a name with wildcards, typed or
// picked with "&Browse...") and "Rename " (the new name, perhaps with
// wildcards). Both are made for one command and start empty. Their text
// holds at most 260 characters: a longer one (typed, pasted or picked) is
// never cut, it is refused with a message (OK keeps the dialog open, a
// folder picked with Browse leaves the text as it was).
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

class QLineEdit;
class QPushButton;

namespace quindelo::ui {

// The folder picker: Qt's folder dialog unless replaced (tests). Returns the
// chosen native folder, or an empty text when none was chosen.
using FolderPicker = std::function<QString(QWidget* parent, const QString& title)>;
FolderPicker QtFolderPicker();

// Shows the folder picker with title and, when a folder is chosen, sets
// *drive_path to its drive path and returns true. A folder that no drive
// holds gives false and a message in *problem that says so (empty when the
// user chose nothing).
bool BrowseForFolder(QWidget* parent, const FolderPicker& picker, const QString& title,
                     std::string* drive_path, QString* problem);

// The message for a native folder that is on no drive.
QString NotOnDriveMessage(const QString& native_folder);

// The longest text of the two dialogs, and the message for a longer one.
inline constexpr int kMaxOperationTextLength = 260;
QString TextTooLongMessage(const QString& text);

class FileOperationDialog : public QDialog {
 public:
  enum class Kind { kDestination, kRename };
  explicit FileOperationDialog(Kind kind, QWidget* parent = nullptr);

  QString text() const;
  QLineEdit* edit() const { return edit_; }
  QPushButton* browse_button() const { return browse_; }  // null for Rename

  // What Browse uses; the picker's problems go to warn.
  void set_picker(FolderPicker picker) { picker_ = std::move(picker); }
  void set_warning_handler(std::function<void(const QString&)> warn) { warn_ = std::move(warn); }
  // The "&Browse..." button's work: the text becomes the chosen folder.
  void Browse();
  // OK: closes the dialog unless the text is too long (then a warning).
  void accept() override;

 private:
  QLineEdit* edit_ = nullptr;
  QPushButton* browse_ = nullptr;
  FolderPicker picker_;
  std::function<void(const QString&)> warn_;
};

}  // namespace quindelo::ui
