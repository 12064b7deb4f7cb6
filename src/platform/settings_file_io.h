// What each platform provides to the portable settings file code
// (settings_file.cpp, which parses, edits and writes the INI text): where the
// file is, reading it whole, replacing it whole, and the lock that lets one
// writer at a time, of any process, read, change and rewrite it.
// settings_file_posix.cpp implements these on POSIX. Not for other callers:
// everything else goes through settings_file.h.
#pragma once

#include <string>

#include "platform/file.h"

namespace quindelo::platform {

// Reads the settings file whole into *text. A missing file (or folder) reads
// as empty text. False when the file exists but is not a regular file, cannot
// be read or is larger than kSettingsMaxFileSize: a write must then leave it
// alone rather than replace it with text that lost its contents.
bool ReadSettingsText(std::string* text);

// Replaces the settings file with text in one step (readers see the old file
// or the new one), creating its folder when missing (private to the user)
// and the file with mode 0600. False when anything failed; the old file is
// then unchanged and the cause recorded as the last file error.
bool WriteSettingsText(const std::string& text);

// Held around each read, change and rewrite of the settings file so that
// writers in other processes neither overwrite this one's change nor have
// theirs overwritten. Waits up to SettingsLockWait() for another holder;
// when the lock is not taken in that time, held() is false and the cause is
// recorded as the last file error (kErrorFileInUse on the lock file's path),
// and the caller must not write (status() says why). Released when destroyed. Readers do not
// take it: the file is always replaced whole.
class SettingsWriteLock {
 public:
  SettingsWriteLock();
  ~SettingsWriteLock();
  SettingsWriteLock(const SettingsWriteLock&) = delete;
  SettingsWriteLock& operator=(const SettingsWriteLock&) = delete;

  bool held() const { return file_.IsOpen(); }
  const Status& status() const { return status_; }

 private:
  File file_;
  Status status_;
  std::string path_;
};

}  // namespace quindelo::platform
