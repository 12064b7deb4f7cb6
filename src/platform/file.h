// Files for the index store and the content reader: exclusive read-write
// files opened or created in one step, plain read-only files, and the few
// whole-file operations the system needs.
//
// All paths here are native paths (see paths.h for drive paths).
// Operations never throw; they report failure through their result, a
// Status (status.h) whose code is the error number and whose path is the
// file's. Each failure is also kept as the calling thread's last file error
// for callers outside the platform layer that still read it there
// (LastFileError); new code reads the Status.
// A File object is not thread-safe: one thread uses it at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"

namespace quindelo::platform {

// The cause of the last failed file operation of the calling thread, kept
// for the callers above the platform layer that read it instead of the
// Status they were given. number is 0 when no failure was recorded since
// ClearFileError.
struct FileError {
  int number = 0;
  std::string path;
};

// The calling thread's last file error (thread-local: failures of other
// threads never show here).
const FileError& LastFileError();
void ClearFileError();
// Records a failure as the calling thread's last file error; returns false so
// that callers can write `return RecordFileError(errno, path);`.
bool RecordFileError(int number, const std::string& path);
// PosixError(number, path).ToString(): empty when number is 0.
std::string DescribeFileError(const FileError& error);

class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens the file for reading and writing, creating it (mode 0600) when it
  // does not exist, and takes an exclusive lock (flock) so that no other
  // holder can open it the same way meanwhile. *existed (may be null) tells
  // whether the file was there before. While another holder keeps the lock,
  // waits for it up to lock_wait_ms milliseconds (0: not at all); a file
  // that its holder deleted or replaced meanwhile is opened again by its
  // path. Fails (kErrorFileInUse) when the lock stays taken, and for
  // anything but a regular file: a folder (EISDIR), a FIFO, socket, device
  // or link (kErrorNotRegularFile). Any file held before is closed first.
  Status OpenAlways(const std::string& native_path, bool* existed, int lock_wait_ms = 0);

  // Opens an existing regular file for reading only, without a lock. A link
  // is followed, but only to a regular file: FIFOs, sockets, devices and
  // folders, named directly or through links, are never opened (opening a
  // device can act on it), and the opened file is checked again in case the
  // path changed meanwhile.
  Status OpenForReading(const std::string& native_path);

  bool IsOpen() const { return fd_ >= 0; }
  void Close();

  // Positioned read of up to count bytes; *moved is less than count only at
  // the end of the file. Interrupted calls are retried.
  Status ReadSome(std::uint64_t offset, void* buffer, std::size_t count, std::size_t* moved);
  // The same returning the number of bytes moved, or -1 on an error (the
  // cause then only in the last file error).
  long long ReadAt(std::uint64_t offset, void* buffer, std::size_t count);

  // Exactly count bytes moved, or a failure: kErrorShortTransfer when the
  // file ended first (a read) or the system moved fewer without an error.
  // A write that ran into a full disk or a size limit fails with ENOSPC,
  // EFBIG or EDQUOT.
  Status ReadExact(std::uint64_t offset, void* buffer, std::size_t count);
  Status WriteExact(std::uint64_t offset, const void* buffer, std::size_t count);

  // Sequential read from the current position (for readers that stream):
  // the number of bytes read, 0 at the end, -1 on an error.
  long long Read(void* buffer, std::size_t count);

  Status Truncate(std::uint64_t size);
  Status Size(std::uint64_t* size) const;
  // Flushes the file's data to the storage device (fsync).
  Status Sync();

  // The path the file was opened by (for messages).
  const std::string& path() const { return path_; }

 private:
  friend Status ReplaceFileContents(const std::string&, const std::string&, unsigned);
  friend class FilesBelowRoot;  // opens files relative to a folder it holds
  // OpenForReading of the entry name inside the folder open as dir (a
  // descriptor, or AT_FDCWD with a whole path); native_path names it in
  // messages.
  Status OpenForReadingIn(int dir, const char* name, const std::string& native_path);
  // Opens the regular file name inside the folder open as dir without
  // following a link (name itself being one included) and sets *size. The
  // entry is examined before the open, so that nothing but a regular file is
  // ever opened, and the open file is checked once (its kind and its size),
  // so that an entry swapped meanwhile is not read.
  Status OpenRegularIn(int dir, const char* name, const std::string& native_path,
                       std::uint64_t* size);
  Status Fail(int number) const;
  int fd_ = -1;
  std::string path_;
};

// Replaces the contents of the file at native_path in one step: the data go
// to a temporary file in the same folder, are flushed to disk and renamed
// over the path, so that a reader (or a crash) sees the old file or the new
// one, never a part. A link is followed: the file it points to is replaced.
// An existing file keeps its permission bits; a new one gets new_file_mode
// less the umask. On a failure the old file is unchanged.
Status ReplaceFileContents(const std::string& native_path, const std::string& data,
                         unsigned new_file_mode);

// Reads at most max_bytes from the start of a regular file (never a FIFO,
// socket or device) into *out. Fails when it cannot be opened or read.
Status ReadFilePrefix(const std::string& native_path, std::size_t max_bytes, std::string* out);

// Deletes a file. Fails when it did not exist or could not be removed.
Status RemoveFile(const std::string& native_path);

// Renames a file over another of the same folder in one step (a reader or a
// crash sees the old file or the new one) and makes the rename durable.
// Fails when the rename failed.
Status ReplaceFileWith(const std::string& native_path, const std::string& replacement_path);

// Creates a folder and any missing parents, each with mode 0700 whatever the
// umask, so that the user's indexes, settings and finds are private to the
// user. Folders that already exist keep their mode (they may be folders the
// user chose and shares). Succeeds when the folder exists afterwards.
// Every folder the system creates is created here.
Status CreateFolders(const std::string& native_path);

// True when something (of any kind) exists at the path; links not followed.
bool PathExists(const std::string& native_path);

}  // namespace quindelo::platform
