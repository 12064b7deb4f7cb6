// A file system that fails on demand, over the system's own (as LevelDB's
// fault-injection test env does over its Env): the Nth write from now fails
// with EIO, the disk fills once so many more bytes were written (a write
// that would then grow a file fails with ENOSPC after writing the part that
// fits inside it; writes inside a file's size still succeed, as on a real
// full disk), and chosen paths are locked by "another process". It counts
// the writes and remembers the lock wait each open asked for.
// Thread-safe (one lock), so a drive index's workers may use it too.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "base/mutex.h"
#include "platform/file_system.h"

namespace quindelo::test {

class FaultyFileSystem : public platform::FileSystem {
 public:
  FaultyFileSystem() = default;

  // The write_number-th write from now (1: the next) fails with EIO; 0: none.
  void FailWriteNumber(int write_number) {
    platform::MutexLock lock(&lock_);
    fail_at_write_ = write_number == 0 ? 0 : writes_ + write_number;
  }
  // The disk holds bytes more bytes from now.
  void FullAfterBytes(std::uint64_t bytes) {
    platform::MutexLock lock(&lock_);
    room_left_ = bytes;
    disk_limited_ = true;
  }
  // Opens of path fail as if another process held its lock past the wait.
  void HoldLock(const std::string& path) {
    platform::MutexLock lock(&lock_);
    held_.insert(path);
  }

  int writes() const {
    platform::MutexLock lock(&lock_);
    return writes_;
  }
  // The lock wait of the last open (of any path).
  std::chrono::milliseconds last_lock_wait() const {
    platform::MutexLock lock(&lock_);
    return last_lock_wait_;
  }

  platform::Status OpenLocked(const std::string& native_path, std::chrono::milliseconds lock_wait,
                              std::unique_ptr<platform::LockedFile>* file,
                              bool* existed) override {
    file->reset();
    {
      platform::MutexLock lock(&lock_);
      last_lock_wait_ = lock_wait;
      if (held_.count(native_path) != 0)
        return platform::PosixError(platform::kErrorFileInUse, native_path);
    }
    std::unique_ptr<platform::LockedFile> real;
    platform::Status status = target_->OpenLocked(native_path, lock_wait, &real, existed);
    if (status.ok()) *file = std::make_unique<Handle>(this, std::move(real));
    return status;
  }
  platform::Status RemoveFile(const std::string& native_path) override {
    return target_->RemoveFile(native_path);
  }
  platform::Status ReplaceFileWith(const std::string& native_path,
                                   const std::string& replacement_path) override {
    return target_->ReplaceFileWith(native_path, replacement_path);
  }

 private:
  class Handle : public platform::LockedFile {
   public:
    Handle(FaultyFileSystem* owner, std::unique_ptr<platform::LockedFile> real)
        : owner_(owner), real_(std::move(real)) {}
    platform::Status ReadAt(std::uint64_t offset, void* buffer, std::size_t count,
                            std::size_t* moved) override {
      return real_->ReadAt(offset, buffer, count, moved);
    }
    platform::Status WriteAt(std::uint64_t offset, const void* buffer,
                             std::size_t count) override {
      return owner_->Write(*real_, offset, buffer, count);
    }
    platform::Status Truncate(std::uint64_t size) override { return real_->Truncate(size); }
    platform::Status Size(std::uint64_t* size) override { return real_->Size(size); }
    platform::Status Sync() override { return real_->Sync(); }
    const std::string& path() const override { return real_->path(); }

   private:
    FaultyFileSystem* owner_;
    std::unique_ptr<platform::LockedFile> real_;
  };

  platform::Status Write(platform::LockedFile& real, std::uint64_t offset, const void* buffer,
                         std::size_t count) {
    platform::MutexLock lock(&lock_);
    ++writes_;
    if (fail_at_write_ != 0 && writes_ == fail_at_write_)
      return platform::PosixError(EIO, real.path());
    std::size_t fits = count;
    if (disk_limited_) {
      std::uint64_t size = 0;
      platform::Status status = real.Size(&size);
      if (!status.ok()) return status;
      // Only bytes past the end of the file take room.
      const std::uint64_t inside = offset >= size ? 0 : std::min<std::uint64_t>(count, size - offset);
      const std::uint64_t growth = count - inside;
      if (growth > room_left_) fits = static_cast<std::size_t>(inside + room_left_);
      room_left_ -= std::min(growth, room_left_);
    }
    if (fits > 0) {
      platform::Status status = real.WriteAt(offset, buffer, fits);
      if (!status.ok()) return status;
    }
    return fits == count ? platform::Status() : platform::PosixError(ENOSPC, real.path());
  }

  platform::FileSystem* const target_ = platform::FileSystem::Default();
  mutable platform::Mutex lock_;
  int writes_ GUARDED_BY(lock_) = 0;
  int fail_at_write_ GUARDED_BY(lock_) = 0;
  bool disk_limited_ GUARDED_BY(lock_) = false;
  std::uint64_t room_left_ GUARDED_BY(lock_) = 0;
  std::set<std::string> held_ GUARDED_BY(lock_);
  std::chrono::milliseconds last_lock_wait_ GUARDED_BY(lock_){0};
};

}  // namespace quindelo::test
