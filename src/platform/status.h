// Status: what a platform operation or the index store reports, success or
// the cause of a failure: a code, the path it concerns and the text that
// explains the code.
//
// It lives in the platform layer rather than in base because its codes are
// the operating system's error numbers (errno) and this layer's own numbers
// below, and only a platform backend knows how to put a number into words.
// Each backend builds its failures in one place: PosixError (file_posix.cpp)
// on POSIX, as LevelDB's env_posix.cc does; a Windows backend would have its
// own from GetLastError. Nothing else makes the text, so a cause reads the
// same wherever it is shown.
//
// A Status is a plain value: copy it, keep it, hand it to another thread.
#pragma once

#include <string>
#include <utility>

namespace quindelo::platform {

// Codes beyond errno's: the file is locked by another holder longer than
// the caller waited, the path names something other than a regular file (a
// FIFO, socket, device or link), a transfer moved fewer bytes than asked
// without an error from the system, or a file that could be read holds
// nothing its reader can use (a damaged index, another format).
inline constexpr int kErrorFileInUse = -1;
inline constexpr int kErrorNotRegularFile = -2;
inline constexpr int kErrorShortTransfer = -3;
inline constexpr int kErrorUnusableFile = -4;

class Status {
 public:
  // Success.
  Status() = default;
  static Status Ok() { return Status(); }

  bool ok() const { return code_ == 0; }
  // True on success, so that `if (!store.Open(path))` reads as "if the open
  // failed" and older callers that kept a bool still build.
  explicit operator bool() const { return ok(); }

  // 0 on success, else an errno value or one of the codes above.
  int code() const { return code_; }
  // The path the failure concerns (may be empty).
  const std::string& path() const { return path_; }
  // The cause in words ("No space left on device", "in use by another
  // process"); empty on success.
  const std::string& text() const { return text_; }
  // "path: text", or the text alone without a path; empty on success. This
  // is the form every message of the system shows.
  std::string ToString() const { return path_.empty() ? text_ : path_ + ": " + text_; }

 private:
  friend Status PosixError(int code, std::string path);
  Status(int code, std::string path, std::string text)
      : code_(code), path_(std::move(path)), text_(std::move(text)) {}

  int code_ = 0;
  std::string path_;
  std::string text_;
};

// The POSIX backend's one constructor of failures: the system's text for an
// errno value (strerror), or this layer's for its own codes. Code 0 gives
// success.
Status PosixError(int code, std::string path);

}  // namespace quindelo::platform
