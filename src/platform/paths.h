// Drive paths and native paths. Inside the system every path is a drive path:
// a drive letter, a colon and backslashes (C:\home\ann\notes.txt). File system
// calls take native paths: the drive's root folder plus the rest with "/".
#pragma once

#include <string>

namespace quindelo::platform {

// Turns a drive path into a native path through the drive table. A path that
// already starts with "/" is returned unchanged. False when the drive letter
// is not a drive.
bool ToNativePath(const std::string& drive_path, std::string* native_path);

// The native path of drive_path ("X:\\a\\b") below a drive root already
// looked up (native_root, e.g. "/" or "/media/x"): no drive-table lookup,
// for callers that convert many paths of one drive.
std::string NativePathBelow(const std::string& native_root, const std::string& drive_path);

// The drive path of an absolute native path: the drive whose root folder is
// the longest leading part of it, a backslash, and the rest with backslashes
// ("/usr/include" is "C:\usr\include" when C: is "/"; a drive's root
// itself is "X:\"). Empty names, "." and ".." are taken lexically, without
// looking at the disk. False when the path is not absolute, no drive holds
// it, or one of its names holds a backslash (which no drive path can carry).
bool ToDrivePath(const std::string& native_path, std::string* drive_path);

// The start-up folder: the "StartupDir" string of section "Settings" when set,
// else $XDG_DATA_HOME/Pemblet Software/Quindelo ($XDG_DATA_HOME defaults to
// ~/.local/share). Native path, no trailing slash.
std::string StartupFolder();

// The folder of the index files: the start-up folder's "Data" folder.
std::string DataFolder();

// Native path of the index file of one drive letter: <DataFolder>/DriveC.idx.
std::string IndexFilePath(char drive_letter);

}  // namespace quindelo::platform
