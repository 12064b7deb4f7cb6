// FileSystem: the file operations the index store makes, behind one small
// interface, so that a test can put a wrapper in between that fails on
// demand (a write that fails, a disk that fills, a lock that another
// process holds) the way LevelDB's EnvWrapper and its fault-injection test
// do. FileSystem::Default() is the system's own; FileSystemWrapper forwards
// every call to another file system and is the base of such wrappers.
//
// All paths are native paths. Every failure is a Status (status.h); nothing
// throws.
//
// Thread-safety: a FileSystem may be used from any thread at once (Default()
// keeps no state). A LockedFile is used by one thread at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace quindelo::platform {

// A regular file open for reading and writing and locked against every other
// holder (in this process or another) until it is destroyed.
class LockedFile {
 public:
  virtual ~LockedFile() = default;

  // Reads up to count bytes at offset; *moved is less than count only at the
  // end of the file.
  virtual Status ReadAt(std::uint64_t offset, void* buffer, std::size_t count,
                        std::size_t* moved) = 0;
  // Writes all count bytes at offset, or fails: ENOSPC, EFBIG or EDQUOT for
  // a full disk or a size limit (part of the data may have been written),
  // kErrorShortTransfer when the system moved fewer without an error.
  virtual Status WriteAt(std::uint64_t offset, const void* buffer, std::size_t count) = 0;
  virtual Status Truncate(std::uint64_t size) = 0;
  virtual Status Size(std::uint64_t* size) = 0;
  // Flushes the file's data to the storage device.
  virtual Status Sync() = 0;
  // The path the file was opened by (for messages).
  virtual const std::string& path() const = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The system's own file system; lives as long as the process.
  static FileSystem* Default();

  // Opens the regular file at native_path for reading and writing, creating
  // it (mode 0600) when missing, and locks it as File::OpenAlways does
  // (file.h), waiting up to lock_wait for another holder. *existed tells
  // whether the file was there before. On success *file holds it; on a
  // failure *file is empty and the Status says why: kErrorFileInUse when the
  // lock stayed taken, EISDIR or kErrorNotRegularFile for anything but a
  // regular file, or the system's error.
  virtual Status OpenLocked(const std::string& native_path, std::chrono::milliseconds lock_wait,
                            std::unique_ptr<LockedFile>* file, bool* existed) = 0;

  // Deletes a file; fails when it did not exist or could not be removed.
  virtual Status RemoveFile(const std::string& native_path) = 0;

  // Renames replacement_path over native_path in one step and makes the
  // rename durable (file.h's ReplaceFileWith).
  virtual Status ReplaceFileWith(const std::string& native_path,
                                 const std::string& replacement_path) = 0;
};

// Forwards every call to target, which must outlive the wrapper. A subclass
// overrides the calls it wants to change.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem* target) : target_(target) {}

  FileSystem* target() const { return target_; }

  Status OpenLocked(const std::string& native_path, std::chrono::milliseconds lock_wait,
                    std::unique_ptr<LockedFile>* file, bool* existed) override {
    return target_->OpenLocked(native_path, lock_wait, file, existed);
  }
  Status RemoveFile(const std::string& native_path) override {
    return target_->RemoveFile(native_path);
  }
  Status ReplaceFileWith(const std::string& native_path,
                         const std::string& replacement_path) override {
    return target_->ReplaceFileWith(native_path, replacement_path);
  }

 private:
  FileSystem* target_;
};

}  // namespace quindelo::platform
