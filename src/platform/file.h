// Files for the index store and the content reader: exclusive read-write
// files opened or created in one step, plain read-only files, and the few
// whole-file operations the system needs.
//
// All paths here are native paths (see paths.h for drive paths).
// Operations never throw; they report failure through their result.
// A File object is not thread-safe: one thread uses it at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quindelo::platform {

class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens the file for reading and writing, creating it (mode 0600) when it
  // does not exist, and takes an exclusive lock so that no other process
  // can open it the same way meanwhile. *existed (may be null) tells whether
  // the file was there before. Fails when the path cannot be opened or is
  // locked by another holder. Any file held before is closed first.
  bool OpenAlways(const std::string& native_path, bool* existed);

  // Opens an existing regular file for reading only, without a lock.
  // Never opens FIFOs, sockets or devices (fails for them without blocking).
  bool OpenForReading(const std::string& native_path);

  bool IsOpen() const { return fd_ >= 0; }
  void Close();

  // Positioned transfers. Return the number of bytes moved (which may be
  // less than count at the end of the file), or -1 on an error.
  // Interrupted calls are retried; a short count means end of file or a
  // full disk.
  long long ReadAt(std::uint64_t offset, void* buffer, std::size_t count);
  long long WriteAt(std::uint64_t offset, const void* buffer, std::size_t count);

  // True only when exactly count bytes were moved.
  bool ReadExact(std::uint64_t offset, void* buffer, std::size_t count);
  bool WriteExact(std::uint64_t offset, const void* buffer, std::size_t count);

  // Sequential read from the current position (for readers that stream).
  long long Read(void* buffer, std::size_t count);

  bool Truncate(std::uint64_t size);
  bool Size(std::uint64_t* size) const;

 private:
  friend bool ReplaceFileContents(const std::string&, const std::string&, unsigned);
  int fd_ = -1;
};

// Replaces the contents of the file at native_path in one step: the data go
// to a temporary file in the same folder, are flushed to disk and renamed
// over the path, so that a reader (or a crash) sees the old file or the new
// one, never a part. A link is followed: the file it points to is replaced.
// An existing file keeps its permission bits; a new one gets new_file_mode
// less the umask. False when anything failed; the old file is then unchanged.
bool ReplaceFileContents(const std::string& native_path, const std::string& data,
                         unsigned new_file_mode);

// Reads at most max_bytes from the start of a regular file (never a FIFO,
// socket or device) into *out. False when it cannot be opened or read.
bool ReadFilePrefix(const std::string& native_path, std::size_t max_bytes, std::string* out);

// Deletes a file. False when it did not exist or could not be removed.
bool RemoveFile(const std::string& native_path);

// Creates a folder and any missing parents, each with mode 0700 whatever the
// umask, so that the user's indexes, settings and finds are private to the
// user. Folders that already exist keep their mode (they may be folders the
// user chose and shares). True when the folder exists afterwards; on failure
// errno tells why. Every folder the system creates is created here.
bool CreateFolders(const std::string& native_path);

// True when something (of any kind) exists at the path; links not followed.
bool PathExists(const std::string& native_path);

}  // namespace quindelo::platform
