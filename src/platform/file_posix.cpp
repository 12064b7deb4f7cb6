// File operations on POSIX: open(2) with flock(2) for exclusive use,
// pread/pwrite with retries on EINTR. Every failure is made by Failure
// below: a Status from PosixError, also kept as the thread's last file
// error for the callers that read it there.
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/file.h"

namespace quindelo::platform {
namespace {

thread_local FileError last_error;

constexpr auto kLockRetryPause = std::chrono::milliseconds(20);

Status Failure(int number, const std::string& path) {
  RecordFileError(number, path);
  return PosixError(number, path);
}

}  // namespace

Status PosixError(int code, std::string path) {
  if (code == 0) return Status();
  std::string text;
  switch (code) {
    case kErrorFileInUse: text = "in use by another process"; break;
    case kErrorNotRegularFile: text = "not a regular file"; break;
    case kErrorShortTransfer: text = "incomplete transfer"; break;
    case kErrorUnusableFile: text = "damaged or of an unknown format"; break;
    default: {
      char buffer[256];
      // GNU strerror_r returns the text, which may or may not be buffer.
      text = ::strerror_r(code, buffer, sizeof buffer);
      break;
    }
  }
  return Status(code, std::move(path), std::move(text));
}

const FileError& LastFileError() { return last_error; }

void ClearFileError() {
  last_error.number = 0;
  last_error.path.clear();
}

bool RecordFileError(int number, const std::string& path) {
  last_error.number = number;
  last_error.path = path;
  return false;
}

std::string DescribeFileError(const FileError& error) {
  return PosixError(error.number, error.path).ToString();
}

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

Status File::Fail(int number) const { return Failure(number, path_); }

Status File::OpenAlways(const std::string& native_path, bool* existed, int lock_wait_ms) {
  Close();
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(lock_wait_ms, 0));
  for (;;) {
    struct stat st;
    const bool was_there = ::lstat(native_path.c_str(), &st) == 0;
    if (was_there && S_ISDIR(st.st_mode)) return Failure(EISDIR, native_path);
    if (was_there && !S_ISREG(st.st_mode)) return Failure(kErrorNotRegularFile, native_path);
    int fd = ::open(native_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      // A link swapped in after the lstat above.
      return Failure(errno == ELOOP ? kErrorNotRegularFile : errno, native_path);
    }
    for (;;) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
      const int error = errno;
      if (error == EINTR) continue;
      if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
        ::close(fd);
        return Failure(error == EWOULDBLOCK ? kErrorFileInUse : error, native_path);
      }
      std::this_thread::sleep_for(kLockRetryPause);
    }
    // The holder we waited for may have deleted the file or put another in
    // its place (an index being rebuilt): the lock then guards a file that
    // the path no longer names, and the path is opened again.
    struct stat held, now;
    if (::fstat(fd, &held) == 0 && ::lstat(native_path.c_str(), &now) == 0 &&
        held.st_dev == now.st_dev && held.st_ino == now.st_ino) {
      fd_ = fd;
      path_ = native_path;
      if (existed) *existed = was_there;
      return Status();
    }
    ::close(fd);
    if (std::chrono::steady_clock::now() >= deadline) return Failure(kErrorFileInUse, native_path);
  }
}

Status File::OpenForReading(const std::string& native_path) {
  return OpenForReadingIn(AT_FDCWD, native_path.c_str(), native_path);
}

Status File::OpenForReadingIn(int dir, const char* name, const std::string& native_path) {
  Close();
  auto kind_error = [](const struct stat& st) {
    return S_ISDIR(st.st_mode) ? EISDIR : S_ISREG(st.st_mode) ? 0 : kErrorNotRegularFile;
  };
  struct stat st;
  if (::fstatat(dir, name, &st, 0) != 0) return Failure(errno, native_path);
  if (const int error = kind_error(st)) return Failure(error, native_path);
  // O_NONBLOCK keeps an open of a FIFO that replaced the file meanwhile from
  // waiting for a writer; the check of the opened file then refuses it.
  int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return Failure(errno, native_path);
  const int error = ::fstat(fd, &st) != 0 ? errno : kind_error(st);
  if (error != 0) {
    ::close(fd);
    return Failure(error, native_path);
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
  path_ = native_path;
  return Status();
}

Status File::OpenRegularIn(int dir, const char* name, const std::string& native_path,
                           std::uint64_t* size) {
  Close();
  struct stat st;
  if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return Failure(errno, native_path);
  if (!S_ISREG(st.st_mode))
    return Failure(S_ISDIR(st.st_mode) ? EISDIR : kErrorNotRegularFile, native_path);
  // O_NOFOLLOW refuses a link swapped in since, O_NONBLOCK keeps the open of
  // a FIFO swapped in from waiting for a writer. The flag stays: reads of a
  // regular file do not heed it (ReadAt clears it should one ever answer
  // EAGAIN).
  const int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  if (fd < 0) return Failure(errno == ELOOP ? kErrorNotRegularFile : errno, native_path);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = errno;
    ::close(fd);
    return Failure(S_ISREG(st.st_mode) ? error : kErrorNotRegularFile, native_path);
  }
  fd_ = fd;
  path_ = native_path;
  *size = static_cast<std::uint64_t>(st.st_size);
  return Status();
}

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // also releases the flock
    fd_ = -1;
  }
  path_.clear();
}

Status File::ReadSome(std::uint64_t offset, void* buffer, std::size_t count,
                      std::size_t* moved) {
  *moved = 0;
  if (fd_ < 0) return Fail(EBADF);
  auto* out = static_cast<char*>(buffer);
  while (*moved < count) {
    ssize_t n = ::pread(fd_, out + *moved, count - *moved, static_cast<off_t>(offset + *moved));
    if (n < 0) {
      if (errno == EINTR) continue;
      // A file opened with O_NONBLOCK (OpenRegularIn) on a file system that
      // heeds it for regular files: the flag goes and the read is retried.
      if (errno == EAGAIN) {
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags >= 0 && (flags & O_NONBLOCK) != 0 && ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) == 0)
          continue;
        errno = EAGAIN;
      }
      return Fail(errno);
    }
    if (n == 0) break;
    *moved += static_cast<std::size_t>(n);
  }
  return Status();
}

long long File::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) {
  std::size_t moved = 0;
  if (!ReadSome(offset, buffer, count, &moved).ok()) return -1;
  return static_cast<long long>(moved);
}

Status File::ReadExact(std::uint64_t offset, void* buffer, std::size_t count) {
  std::size_t moved = 0;
  Status status = ReadSome(offset, buffer, count, &moved);
  if (!status.ok() || moved == count) return status;
  return Fail(kErrorShortTransfer);
}

Status File::WriteExact(std::uint64_t offset, const void* buffer, std::size_t count) {
  if (fd_ < 0) return Fail(EBADF);
  std::size_t done = 0;
  auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t n = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      // A write that ran into a full disk or a size limit moved part of the
      // data and then fails with ENOSPC, EFBIG or EDQUOT: that is the cause.
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) return Fail(kErrorShortTransfer);
    done += static_cast<std::size_t>(n);
  }
  return Status();
}

long long File::Read(void* buffer, std::size_t count) {
  if (fd_ < 0) {
    Fail(EBADF);
    return -1;
  }
  for (;;) {
    ssize_t n = ::read(fd_, buffer, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(errno);
    return n;
  }
}

Status File::Truncate(std::uint64_t size) {
  if (fd_ < 0) return Fail(EBADF);
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Fail(errno);
  return Status();
}

Status File::Size(std::uint64_t* size) const {
  if (fd_ < 0) return Fail(EBADF);
  struct stat st;
  if (::fstat(fd_, &st) != 0) return Fail(errno);
  *size = static_cast<std::uint64_t>(st.st_size);
  return Status();
}

Status File::Sync() {
  if (fd_ < 0) return Fail(EBADF);
  for (;;) {
    if (::fsync(fd_) == 0) return Status();
    if (errno != EINTR) return Fail(errno);
  }
}

Status ReplaceFileContents(const std::string& native_path, const std::string& data,
                           unsigned new_file_mode) {
  std::string target = native_path;
  if (char* real = ::realpath(native_path.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  std::size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
  std::string temp = target.substr(0, slash + 1) + ".quindelo-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return Failure(errno, native_path);
  mode_t mode;
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = static_cast<mode_t>(new_file_mode) & ~mask;
  }
  File file;
  file.fd_ = fd;
  file.path_ = native_path;
  Status status = ::fchmod(fd, mode) == 0 ? file.WriteExact(0, data.data(), data.size())
                                          : Failure(errno, native_path);
  if (status.ok()) status = file.Sync();
  file.fd_ = -1;
  if (::close(fd) != 0 && status.ok()) status = Failure(errno, native_path);
  if (status.ok() && ::rename(temp.c_str(), target.c_str()) != 0)
    status = Failure(errno, native_path);
  if (!status.ok()) {
    ::unlink(temp.c_str());
    return status;
  }
  // Make the rename itself durable; a failure here does not undo the write.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return Status();
}

Status ReadFilePrefix(const std::string& native_path, std::size_t max_bytes, std::string* out) {
  File file;
  Status status = file.OpenForReading(native_path);
  if (!status.ok()) return status;
  out->assign(max_bytes, '\0');
  std::size_t got = 0;
  status = file.ReadSome(0, out->data(), out->size(), &got);
  out->resize(got);
  return status;
}

Status RemoveFile(const std::string& native_path) {
  if (::unlink(native_path.c_str()) != 0) return Failure(errno, native_path);
  return Status();
}

Status ReplaceFileWith(const std::string& native_path, const std::string& replacement_path) {
  if (::rename(replacement_path.c_str(), native_path.c_str()) != 0)
    return Failure(errno, native_path);
  const std::size_t slash = native_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : native_path.substr(0, slash + 1);
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return Status();
}

Status CreateFolders(const std::string& native_path) {
  // Each missing folder is made and then set to exactly 0700: the umask can
  // only take bits away from mkdir's mode, and one that takes the owner's
  // own bits (0277) would leave a folder nobody can write into.
  struct stat st;
  for (std::size_t pos = 1; pos <= native_path.size(); ++pos) {
    if (pos < native_path.size() && native_path[pos] != '/') continue;
    const std::string part = native_path.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) == 0) {
      if (::chmod(part.c_str(), 0700) != 0) return Failure(errno, part);
    } else if (errno != EEXIST) {
      // A folder that exists may still refuse mkdir (EACCES, EROFS).
      const int error = errno;
      if (::stat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Failure(error, part);
    }
  }
  if (::stat(native_path.c_str(), &st) != 0) return Failure(errno, native_path);
  if (!S_ISDIR(st.st_mode)) return Failure(ENOTDIR, native_path);
  return Status();
}

bool PathExists(const std::string& native_path) {
  struct stat st;
  return ::lstat(native_path.c_str(), &st) == 0;
}

}  // namespace quindelo::platform
