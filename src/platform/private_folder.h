// Folders only their owner can reach, for a local socket's name that no
// other user may take: the user's runtime folder when it is private, else a
// private folder of this program's own in the temporary folder.
//
// Thread-safety: no state; the calls may run on any thread.
#pragma once

#include <sys/types.h>

#include <string>

namespace quindelo::platform {

// Whether path is a folder itself (not a symbolic link), owned by uid,
// with the permission bits 0700 and nothing else.
bool IsPrivateFolder(const std::string& path, uid_t uid);

// runtime_dir (the value of XDG_RUNTIME_DIR, may be null) when it is an
// absolute path of a private folder of the calling user; else
// "$TMPDIR/quindelo-runtime-<uid>" (/tmp when TMPDIR is unset or not
// absolute), made with mode 0700 when missing and used only when it is
// private to the user. Empty when neither is (trailing slashes removed).
std::string PrivateRuntimeFolder(const char* runtime_dir);

}  // namespace quindelo::platform
