#include "commands/open_dialog_return.h"

namespace quindelo::commands {

namespace {

// The search's answer, with the dialog's type text read while the tree is.
OpenDialogState StateOf(const OpenDialogTarget& target) {
  OpenDialogState state;
  state.found = target.found();
  if (state.found && target.type_field != nullptr) state.type_text = target.type_field->Name();
  return state;
}

}  // namespace

OpenDialogState LookForOpenDialog(AccessibleDesktop& desktop, int own_process_id) {
  const AccessibleNode* root = desktop.Root();
  if (root == nullptr) return {};
  return StateOf(FindOpenDialog(*root, own_process_id));
}

ReturnOutcome ReturnToOpenDialog(AccessibleDesktop& desktop, int own_process_id,
                                 const std::string& native_path, int reveal_attempts) {
  const AccessibleNode* root = desktop.Root();
  if (root == nullptr) return ReturnOutcome::kNoDialog;
  OpenDialogTarget target = FindOpenDialog(*root, own_process_id);
  if (!target.found()) return ReturnOutcome::kNoDialog;
  if (target.name_field == nullptr) {
    // The chooser builds its entry in its own time after the action, and
    // may answer the call only after the call's time-out or with a failure
    // although it takes the action in: the tree is watched, not the answer.
    // An action that was refused (or never reached a busy chooser) is asked
    // again of the chooser found by the next look.
    bool asked = desktop.DoAction(*target.reveal, kShowLocationAction);
    bool dialog_seen = true;
    for (int attempt = 0; attempt < reveal_attempts && target.name_field == nullptr; ++attempt) {
      desktop.AwaitChanges();
      root = desktop.Root();
      if (root == nullptr) return ReturnOutcome::kNoDialog;
      // A busy chooser may drop out of one search (its calls time out) and
      // answer the next.
      target = FindOpenDialog(*root, own_process_id);
      dialog_seen = target.found();
      if (target.name_field == nullptr && target.reveal != nullptr && !asked)
        asked = desktop.DoAction(*target.reveal, kShowLocationAction);
    }
    if (target.name_field == nullptr)
      return dialog_seen ? ReturnOutcome::kFailed : ReturnOutcome::kNoDialog;
  }
  if (!desktop.SetText(*target.name_field, native_path)) return ReturnOutcome::kFailed;
  // Selecting and raising are courtesies: the path is in the field already.
  desktop.SelectAllText(*target.name_field);
  desktop.BringToFront(*target.dialog, *target.name_field);
  return ReturnOutcome::kReturned;
}

}  // namespace quindelo::commands
