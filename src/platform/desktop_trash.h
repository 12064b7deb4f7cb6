// The desktop's trash (the freedesktop.org trash, as the file managers keep
// it): a deleted file goes there so that the user can restore it.
//
// Thread-safety: may be called on any thread; keeps no state of its own.
#pragma once

#include <string>

namespace quindelo::platform {

// Moves the file or folder at native_path to the trash of its file system
// (the user's own trash under $XDG_DATA_HOME/Trash for a file on the home
// file system), with the information file that lets it be restored. A
// symbolic link is trashed itself, never what it points to. False, with
// the reason the desktop gives in *reason, when the trash refused it (for
// example a file system that has no trash folder and cannot have one).
bool MoveToDesktopTrash(const std::string& native_path, std::string* reason);

}  // namespace quindelo::platform
