// Carrying out a file operation plan (file_operation_plan.h) on the disk, as
// safely as the desktop's own file manager would:
//   - every path is reached from its drive's root name by name, never
//     through a symbolic link (a link swapped in for a folder on the way
//     fails the step with a message, and nothing outside the drive is
//     touched); the step then acts through the descriptor of the folder
//     that holds the entry. A selected entry that is itself a link is
//     acted on as a link: deleted, moved, renamed or copied as one;
//   - a copy of a file is written unnamed (O_TMPFILE) where the file system
//     allows it, else under a temporary name in the destination folder,
//     with the source's permission bits and times, and only then given its
//     name (flushed to the disk first when it replaces a file or the source
//     goes away afterwards), so no partly written file is ever left under
//     the destination name; a folder is built under a temporary name and
//     renamed once complete. After a failure or a cancel the temporary goes;
//     what a killed run left under this program's temporary names in a
//     destination folder is removed at the next operation into it (the
//     user's own files and folders only, never one a running copy holds);
//   - a FIFO, a socket or a device is never opened: a FIFO is made anew at
//     the destination, a device or a socket is not copied (a message says
//     so; inside a copied folder it is left out, and a move leaves it where
//     it was); every file is opened without blocking and checked to be the
//     file that was looked at;
//   - an existing destination is replaced only when the plan says so and the
//     observer agrees, and a destination that appeared since the plan was
//     made is never replaced;
//   - a move within one file system is a rename; across file systems it is
//     a complete, flushed copy, and the source is removed only after it;
//   - deletes go to the desktop trash through Trash, which takes a native
//     path and walks it again: right before, the path is checked to lead to
//     the folder reached without links (a link swapped in between that check
//     and the trash's own walk is not caught); a file the trash refuses is
//     deleted permanently only when the observer agrees;
//   - a permanent delete of a folder removes what is inside it and never
//     follows a symbolic link out of it.
// Every failure goes to the observer with a message naming the file; it
// answers whether to skip that file or stop. Memory stays flat whatever the
// file sizes (data moves in blocks of kCopyBlockSize at most). A cancel is
// seen between blocks and between the entries of a folder; no call waits on
// another program (a FIFO's writer, say).
//
// Thread-safety: RunFileOperationPlan runs on one thread (a worker of the
// window, so that Cancel stays live); the observer is called on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "commands/file_operation_plan.h"

namespace quindelo::commands {

inline constexpr std::size_t kCopyBlockSize = 1 << 20;

// The desktop trash (GIO's g_file_trash in the program).
class Trash {
 public:
  virtual ~Trash() = default;
  // Moves the native path to the trash. False, with a reason, when the
  // trash refused it (for example a file system without a trash folder).
  virtual bool MoveToTrash(const std::string& native_path, std::string* reason) = 0;
};

enum class FailureAnswer { kSkip, kStop };

class FileOperationObserver {
 public:
  virtual ~FileOperationObserver() = default;
  // Before a step that replaces an existing destination: true to replace.
  virtual bool ConfirmReplace(const PlannedStep& step) = 0;
  // The trash refused the step's file: true to delete it permanently.
  virtual bool ConfirmDeleteAfterTrashRefused(const PlannedStep& step,
                                              const std::string& reason) = 0;
  // Bytes copied so far by the running step: 0 as each step begins, then
  // after every block of a copy.
  virtual void Progress(std::size_t step_index, std::uint64_t bytes_done) = 0;
  // True once the user has cancelled; asked between blocks and steps.
  virtual bool Cancelled() = 0;
  // A step failed with message; skip the file or stop the operation.
  virtual FailureAnswer Failed(const PlannedStep& step, const std::string& message) = 0;
};

struct FileOperationResult {
  std::size_t done = 0;       // steps carried out
  std::size_t failed = 0;     // steps that failed
  bool stopped = false;       // stopped by a cancel or a kStop answer
  // True when anything on the disk changed, so the list needs a refresh.
  bool changed() const { return done > 0; }
};

// Carries out the plan's steps in order; kSkip steps are passed over (their
// problems were shown with the plan). REQUIRES: plan.error is empty and a
// permanent delete was confirmed (plan.confirm_first).
FileOperationResult RunFileOperationPlan(const FileOperationPlan& plan, Trash* trash,
                                         FileOperationObserver* observer);

}  // namespace quindelo::commands
