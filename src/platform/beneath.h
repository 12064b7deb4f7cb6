// Opening a folder below another one without following a symbolic link on
// the way: each name of the relative path must be a real folder inside the
// previous one, so that a link swapped in for a folder can never lead the
// caller outside the base folder (a drive's root, say). Mount points on the
// way are crossed; they are part of the tree below the base.
//
// openat2 with RESOLVE_BENEATH and RESOLVE_NO_SYMLINKS does the whole walk
// in one call where the kernel has it; elsewhere the folders are opened one
// by one with O_NOFOLLOW | O_DIRECTORY, which is as strict.
//
// Thread-safety: may be called on any thread; keeps no state but whether
// the kernel has openat2.
#pragma once

#include <string_view>

namespace quindelo::platform {

// Whether name can be one step of a relative path: not empty, not "." or
// "..", and without "/" or a NUL.
bool IsPlainName(std::string_view name);

// Opens the folder at relative (plain names joined by single "/", or empty
// for base_fd's own folder) below the folder open as base_fd, with open
// flags extra (O_PATH for a folder only named through, O_RDONLY for one to
// be listed or flushed); O_DIRECTORY, O_NOFOLLOW and O_CLOEXEC are always
// added. Returns the new descriptor, or -1 with errno: ELOOP when a name on
// the way (the last one too) is a symbolic link, ENOTDIR when one is not a
// folder, EINVAL when relative holds a name that is not plain, EXDEV when
// the kernel saw the walk leave the base, or the open's own error.
int OpenFolderBeneath(int base_fd, std::string_view relative, int extra);

// For tests: when set, OpenFolderBeneath walks name by name even where the
// kernel has openat2. Returns the previous setting.
bool WalkNameByNameForTesting(bool on);

}  // namespace quindelo::platform
