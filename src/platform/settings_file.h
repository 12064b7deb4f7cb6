// The settings file that stands in for the registry's product key:
// $XDG_CONFIG_HOME/Pemblet Software/Quindelo.conf (XDG_CONFIG_HOME defaults to
// ~/.config). INI text with one [Section] per subkey; each value is typed so
// that strings and 32-bit integers are told apart.
//
// Every call reads the file as it is now (the path is taken from the
// environment at each call, so tests can move it). Writes replace the whole
// file atomically (temporary file, then rename), so a reader never sees a
// half-written file; a write that would leave the text as it is (the value
// is already stored so) succeeds without touching the file. Section and value names compare without regard to case.
// A damaged line reads as a missing value; it is never a crash.
// All functions are thread-safe (one process-wide lock). Writes from several
// processes at once are taken one at a time (an exclusive lock on a lock file
// beside the settings file, held while the file is read, changed and
// rewritten, and deleted by its last holder), so every write that reports
// success is kept. A write that cannot take the lock within the lock wait
// (SettingsLockWait, 5 s) fails and changes nothing; the last file error (file.h) is then
// kErrorFileInUse on the lock file's path. Reads do not take the lock file:
// they see the file as it was before a rewrite or after it.
//
// File format (8-bit text, lines end in LF; a CR before the LF is ignored):
//
//   ; a comment (also "#"); comments and blank lines are kept on rewrite
//   [Section]
//   Name="text"
//   Count=dword:0000002a
//
// - A string is in double quotes. Inside them a backslash escapes:
//   \" quote, \\ backslash, \n LF, \r CR, \t tab, \xHH any byte (written
//   for the other control bytes 0x00-0x1F and 0x7F). Bytes 0x80-0xFF are
//   written as they are. Only blanks may follow the closing quote.
// - An integer is "dword:" and 1 to 8 hex digits (written as 8 lower-case
//   digits), the 32-bit two's complement pattern of the value.
// - Blanks around names, "=" and values are ignored. Values before the first
//   header belong to the section named "" (empty).
// - A line that is none of these (no "=", a bad escape, a missing quote, a
//   header without "]", a NUL byte, a line longer than
//   kSettingsMaxLineLength) is ignored, as are the values below a broken
//   header; such lines are dropped when the file is next written. When a
//   name appears twice in a section, the first wins and a write removes the
//   others.
// - A file larger than kSettingsMaxFileSize, or one that cannot be read,
//   reads as empty and is never overwritten (writes then fail).
//
// Names that could not be read back unchanged are refused (reads and deletes
// fail, writes fail): a section name holding "]" or a control byte, a value
// name that is empty or holds "=" or a control byte or starts with "[", ";"
// or "#", and either with blanks at its start or end.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quindelo::platform {

inline constexpr std::size_t kSettingsMaxLineLength = 64 * 1024;
inline constexpr std::size_t kSettingsMaxFileSize = 4 * 1024 * 1024;

// Full path of the settings file for the current environment.
std::string SettingsFilePath();

// How long a write waits for another process's lock before it fails (5 s at
// start). Tests that hold the lock on purpose shorten it; a write reads it
// when it starts. Thread-safe.
void SetSettingsLockWait(std::chrono::milliseconds wait);
std::chrono::milliseconds SettingsLockWait();

// False when the value is missing or is not of the asked type.
bool SettingsReadString(const std::string& section, const std::string& name,
                        std::string* value);
bool SettingsReadInt(const std::string& section, const std::string& name,
                     std::int32_t* value);

// False when the file could not be written; the old file is then unchanged.
bool SettingsWriteString(const std::string& section, const std::string& name,
                         const std::string& value);
bool SettingsWriteInt(const std::string& section, const std::string& name,
                      std::int32_t value);
// False when the value did not exist or the file could not be written.
bool SettingsDeleteValue(const std::string& section, const std::string& name);

// One change of a batch: set a string, set an integer, or delete a value.
struct SettingsChange {
  enum Kind { kString, kInt, kDelete };
  Kind kind = kString;
  std::string section;
  std::string name;
  std::string text;        // kString
  std::int32_t number = 0;  // kInt
};

// Applies the changes in order with one rewrite of the file: all of them or,
// on failure (a refused name, an overlong value, a write error), none. A
// delete of a missing value is not a failure.
bool SettingsApply(const std::vector<SettingsChange>& changes);

// The file as read once, for runs of many reads (numbered lists): each
// lookup costs a hash probe instead of a read of the file. Lookups follow
// the rules of SettingsReadString / SettingsReadInt. An unreadable file
// gives an empty snapshot. A snapshot may be read from any thread.
class SettingsSnapshot {
 public:
  SettingsSnapshot();  // reads the file now
  bool ReadString(const std::string& section, const std::string& name,
                  std::string* value) const;
  bool ReadInt(const std::string& section, const std::string& name,
               std::int32_t* value) const;
  // True when the value exists with either type.
  bool Contains(const std::string& section, const std::string& name) const;

 private:
  struct Values;
  std::shared_ptr<const Values> values_;
};

}  // namespace quindelo::platform
