// Native folders ("/usr/include") where the user types and reads paths.
//
// Inside the system every path is a drive path (C:\usr\include). A look-in
// text may hold native folders as well; they are turned into drive paths
// before anything else reads the text. With the "Native Paths" option on
// (the default), the window shows native paths: in the look-in box and its
// history, in the Folder column and in the messages that quote a path.
// Saved finds and the settings keep the drive form.
//
// Thread-safety: the conversions keep no state and read the drive table,
// which has its own lock; they may run on any thread.
#pragma once

#include <string>

namespace quindelo {

namespace settings {
inline constexpr char kNativePaths[] = "NativePaths";  // in section "Options"
}  // namespace settings

// The "Native Paths" option: on unless the settings turn it off.
bool ReadNativePathsOption();
bool WriteNativePathsOption(bool on);

// The look-in text with each ';'-separated element that is an absolute
// native folder turned into its drive path; other elements stay as typed.
// When a native element lies on no drive, it stays as typed and, when
// unplaced is given, is stored there (the first such element).
std::string LookInToDriveForm(const std::string& look_in, std::string* unplaced = nullptr);

// The look-in text as the window shows it with native paths: each element
// that is a drive path of a drive ("C:", "C:\usr", or "\usr" on the drive
// of the element before it) becomes its native folder; other elements stay.
std::string LookInToNativeForm(const std::string& look_in);

// A message with every quoted drive path ("C:\usr\share*" and the like: a
// double quote, a drive letter, a colon and a backslash) turned into its
// native path; a '*' that follows the path inside the quotes stays.
std::string QuotedPathsToNative(const std::string& message);

}  // namespace quindelo
