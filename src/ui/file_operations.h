// Copy, Move, Rename, Delete (to the desktop trash) and Delete Permanently
// of the selected files of the results list.
//
// FileOperationOnSelection is the one handler of the five commands: it
// stops a running find, takes the selected files, asks for the destination
// or the new name, plans the operation (commands/file_operation_plan.h) on
// the whole drive paths of the rows (never a path cut for showing) and
// shows why it cannot go on or which files it leaves, confirms a delete
// (to the trash or permanent, with the count of files), and carries the
// plan out on a worker thread while the window stays live: a progress
// dialog with Cancel appears when the work takes longer than half a second
// (its bar follows the bytes copied of each file), and the worker's
// questions (replace a file, delete permanently what the trash refused,
// skip or stop after a failure) are asked on the window thread while the
// worker waits. A question always comes above the progress dialog: over it
// when it is shown, and the dialog is held back while a question is open.
// The per-file questions offer Yes, Yes to All, No, No to All and Cancel;
// an answer "to all" answers the same question for the rest of the
// operation, and Cancel stops it. When anything changed, the list is
// brought up to date by the form's Refresh.
//
// Every text that shows a name or a path is plain text (never markup).
//
// Every dialog and box goes through FileOperationPrompts, which tests
// replace so that they answer without a box.
//
// GUI thread only (the worker is internal and ends before the call returns).
#pragma once

#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/file_operation_plan.h"
#include "commands/file_operation_run.h"

class QDialog;
class QWidget;

namespace quindelo::ui {

class FindForm;

enum class FileQuestion { kDelete, kDeletePermanently, kReplace, kDeleteAfterTrashRefused };

// The answer to a question asked once per file (kReplace,
// kDeleteAfterTrashRefused).
enum class EachAnswer { kYes, kNo, kYesToAll, kNoToAll, kCancel };

struct FileOperationPrompts {
  // The Destination Folder dialog (Copy, Move) or the Rename dialog; the
  // text typed, or nullopt on Cancel.
  std::function<std::optional<QString>(commands::FileOperation op)> ask_text;
  // A yes/no question asked once before anything is done (kDelete,
  // kDeletePermanently); true for yes.
  std::function<bool(FileQuestion question, const QString& text)> ask;
  // A question about one file while the operation runs (kReplace,
  // kDeleteAfterTrashRefused).
  std::function<EachAnswer(FileQuestion question, const QString& text)> ask_each;
  // A file failed: skip it or stop.
  std::function<commands::FailureAnswer(const QString& text)> ask_skip_or_stop;
  // A warning (a box captioned "Pemblet Quindelo").
  std::function<void(const QString& text)> warn;
};

// The questions as the user reads them.
QString DeleteQuestion(const commands::FileOperationPlan& plan);
QString PermanentDeleteQuestion(const commands::FileOperationPlan& plan);
QString ReplaceQuestion(const commands::PlannedStep& step);
QString TrashRefusedQuestion(const commands::PlannedStep& step, const std::string& reason);
// The problems of the files a plan leaves out, at most ten of them named.
QString SkippedFilesMessage(const commands::FileOperationPlan& plan);

class FileOperations {
 public:
  // parent owns the dialogs; the prompts start as boxes over it.
  FileOperations(FindForm* form, QWidget* parent);
  ~FileOperations();
  FileOperations(const FileOperations&) = delete;
  FileOperations& operator=(const FileOperations&) = delete;

  FileOperationPrompts& prompts() { return prompts_; }
  // The trash deletes go to (the desktop's unless replaced).
  void set_trash(std::unique_ptr<commands::Trash> trash) { trash_ = std::move(trash); }
  // Called on the window thread with each progress report of the worker
  // (every block of a copy), while the worker waits; tests cancel through
  // it at a known point. Set it only while no operation runs.
  void set_progress_hook(std::function<void(std::size_t step, std::uint64_t bytes)> hook) {
    progress_hook_ = std::move(hook);
  }

  // The command: op on the selected rows. Returns what was carried out
  // (nothing when the user cancelled or the plan could not go on).
  commands::FileOperationResult FileOperationOnSelection(commands::FileOperation op);
  // Carries out a plan already shown and confirmed (plan.error empty) on
  // the worker, with the progress dialog and the questions; the list is
  // not refreshed. Needs no form (the benchmark passes none).
  commands::FileOperationResult RunPlan(const commands::FileOperationPlan& plan);
  // What the progress dialog's Cancel does: the worker stops at its next
  // block or step and leaves no partial file behind.
  void Cancel() { cancelled_.store(true); }
  bool busy() const { return busy_; }
  // The progress dialog of the running operation (shown or not yet); null
  // when none runs.
  QDialog* progress_dialog() const { return progress_; }

 private:
  // The parent of a box shown while an operation runs: the progress dialog
  // when it is shown, else the window.
  QWidget* BoxParent() const;

  FindForm* form_;
  QWidget* parent_;
  FileOperationPrompts prompts_;
  std::unique_ptr<commands::Trash> trash_;
  std::function<void(std::size_t, std::uint64_t)> progress_hook_;
  std::atomic<bool> cancelled_{false};
  bool busy_ = false;
  QDialog* progress_ = nullptr;  // while RunPlan runs
  int questions_open_ = 0;       // boxes open over the running operation
};

}  // namespace quindelo::ui
