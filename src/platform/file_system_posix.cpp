// The system's own FileSystem on POSIX: each call is the File operation of
// file_posix.cpp, whose failures are already PosixError's.
#include <memory>

#include "platform/file.h"
#include "platform/file_system.h"

namespace quindelo::platform {
namespace {

class PosixLockedFile final : public LockedFile {
 public:
  explicit PosixLockedFile(File file) : file_(std::move(file)) {}

  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t count,
                std::size_t* moved) override {
    return file_.ReadSome(offset, buffer, count, moved);
  }
  Status WriteAt(std::uint64_t offset, const void* buffer, std::size_t count) override {
    return file_.WriteExact(offset, buffer, count);
  }
  Status Truncate(std::uint64_t size) override { return file_.Truncate(size); }
  Status Size(std::uint64_t* size) override { return file_.Size(size); }
  Status Sync() override { return file_.Sync(); }
  const std::string& path() const override { return file_.path(); }

 private:
  File file_;
};

class PosixFileSystem final : public FileSystem {
 public:
  Status OpenLocked(const std::string& native_path, std::chrono::milliseconds lock_wait,
                    std::unique_ptr<LockedFile>* file, bool* existed) override {
    file->reset();
    File opened;
    Status status = opened.OpenAlways(native_path, existed, static_cast<int>(lock_wait.count()));
    if (status.ok()) *file = std::make_unique<PosixLockedFile>(std::move(opened));
    return status;
  }
  Status RemoveFile(const std::string& native_path) override {
    return platform::RemoveFile(native_path);
  }
  Status ReplaceFileWith(const std::string& native_path,
                         const std::string& replacement_path) override {
    return platform::ReplaceFileWith(native_path, replacement_path);
  }
};

}  // namespace

FileSystem* FileSystem::Default() {
  static PosixFileSystem* const file_system = new PosixFileSystem();
  return file_system;
}

}  // namespace quindelo::platform
