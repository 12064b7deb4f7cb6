// The plan of a copy, move, rename or delete of the selected files: what
// happens to each file, decided before anything on the disk changes, so that
// the window can confirm, show progress and carry the steps out one by one.
//
// The planner reads the file system only through FileSystemView (tests give
// it a fake) and changes nothing. What it checks:
//   - every path is a whole drive path: no name in it is empty, "." or
//     ".." or holds "/" or a zero byte, so that none leads anywhere but
//     where it reads, nor outside its drive (DrivePathFault);
//   - the destination is on a drive, and its folder is not a file and can be
//     written (a missing destination folder is made first, MakeFolder); a
//     destination that names an existing folder is that folder, even when
//     its name holds "*" or "?" (the wildcards work only in a last name
//     that is not an existing folder);
//   - each destination name is a name (not empty, ".", "..", and without
//     "/", which on this file system would lead into another folder) and
//     fits in 259 characters;
//   - a file is not copied or moved onto itself, nor a folder into itself:
//     files are compared by identity (device and inode), so the same file
//     through another letter, a link or ".." on the way, a second mount of
//     its folder or another hard link of it is the same file, and a folder
//     holds everything below it by identity too;
//   - no two files of the plan end at one destination, and no file replaces
//     another selected file before that one has been dealt with (places are
//     compared by their folder's identity and the name in it);
//   - a file that vanished since the find is skipped with a message;
//   - a destination that exists is replaced only after the window asks
//     (replaces_existing), and never a folder by a file or a file by a
//     folder.
// Paths in the plan are drive paths (as messages show them) with their
// native paths (for the file system calls).
//
// Thread-safety: PlanFileOperation keeps no state; it may run on any thread
// with a view that may.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"

namespace quindelo::commands {

enum class FileOperation { kCopy, kMove, kRename, kDelete, kDeletePermanently };

enum class EntryKind { kMissing, kFile, kFolder, kOther };

// The file system as the planner sees it.
class FileSystemView {
 public:
  virtual ~FileSystemView() = default;
  // The native path of a drive path; false when it is not a drive path
  // (letter, colon, backslash) or its letter is not a drive.
  virtual bool ToNative(const std::string& drive_path, std::string* native_path) const = 0;
  // What is at a native path now; a symbolic link is kOther and not followed.
  virtual EntryKind Kind(const std::string& native_path) const = 0;
  // Whether this process may create entries in a native folder.
  virtual bool CanWriteIn(const std::string& native_folder) const = 0;
  // The identity of what is at a native path, its parent folders resolved
  // and the entry itself not followed when it is a symbolic link. False when
  // nothing is there.
  virtual bool Identity(const std::string& native_path, platform::FileIdentity* identity) const = 0;
  // The identities of a native folder (a link to it followed) and of every
  // folder that holds it, the folder itself first (platform::FolderHolders).
  // False when it is not a folder.
  virtual bool FolderHolders(const std::string& native_folder,
                             std::vector<platform::FileIdentity>* holders) const = 0;
};

// Why a drive path cannot be used as it is written, for a message ("it
// holds \"..\" as a name"); empty when it can. A drive path is a letter, a
// colon, a backslash and names separated by single backslashes (one
// backslash at the end is allowed); a name may not be empty, "." or "..",
// nor hold "/" or a zero byte. Names with dots besides ("...", "a.") are
// names. Texts that are not drive paths at all are left to ToNative.
std::string DrivePathFault(std::string_view drive_path);

// The real file system: the drive table (read once per letter), lstat,
// access and platform::FolderHolders. Built for one plan. ToNative refuses
// a drive path with a DrivePathFault.
class DiskView : public FileSystemView {
 public:
  DiskView();
  ~DiskView() override;
  bool ToNative(const std::string& drive_path, std::string* native_path) const override;
  EntryKind Kind(const std::string& native_path) const override;
  bool CanWriteIn(const std::string& native_folder) const override;
  bool Identity(const std::string& native_path, platform::FileIdentity* identity) const override;
  bool FolderHolders(const std::string& native_folder,
                     std::vector<platform::FileIdentity>* holders) const override;

 private:
  mutable std::string roots_[26];  // native root by letter, "" = not looked up
  mutable bool looked_up_[26] = {};
};

enum class StepAction {
  kMakeFolder,  // create the destination folder (with its parents)
  kCopy,
  kMove,
  kRename,
  kTrash,   // delete to the desktop trash
  kDelete,  // delete permanently
  kSkip,    // leave the file; problem says why (empty: nothing to do)
};

struct PlannedStep {
  StepAction action = StepAction::kSkip;
  std::string source;              // drive path
  std::string destination;         // drive path; empty for deletes
  std::string native_source;
  std::string native_destination;
  bool source_is_folder = false;
  bool replaces_existing = false;  // ask before replacing the destination
  std::string problem;             // the message of a skipped file
};

struct FileOperationPlan {
  // Non-empty when the whole command cannot go on: shown, nothing done.
  std::string error;
  std::vector<PlannedStep> steps;  // in the selection's order
  // The user is asked once before anything is done (a permanent delete).
  bool confirm_first = false;
  std::size_t replace_count = 0;  // steps with replaces_existing
  std::size_t skip_count = 0;     // kSkip steps with a problem
};

// Plans op over the selected files (drive paths in list order) with the
// dialog's text (the destination for Copy and Move, the new name for
// Rename, ignored for the deletes). A text that is a native path must be
// turned into a drive path first (platform::ToDrivePath).
FileOperationPlan PlanFileOperation(FileOperation op, const std::vector<std::string>& sources,
                                    std::string_view text, const FileSystemView& view);

}  // namespace quindelo::commands
