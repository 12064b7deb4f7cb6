// File operations on POSIX: open(2) with flock(2) for exclusive use,
// pread/pwrite with retries on EINTR.
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/file.h"

namespace quindelo::platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool File::OpenAlways(const std::string& native_path, bool* existed) {
  Close();
  struct stat st;
  bool was_there = ::lstat(native_path.c_str(), &st) == 0;
  if (was_there && !S_ISREG(st.st_mode)) return false;
  int fd = ::open(native_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  if (existed) *existed = was_there;
  return true;
}

bool File::OpenForReading(const std::string& native_path) {
  Close();
  // O_NONBLOCK keeps an open of a FIFO from waiting for a writer; the type
  // check below then refuses it before any read.
  int fd = ::open(native_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
  return true;
}

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // also releases the flock
    fd_ = -1;
  }
}

long long File::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) {
  if (fd_ < 0) return -1;
  std::size_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

long long File::WriteAt(std::uint64_t offset, const void* buffer, std::size_t count) {
  if (fd_ < 0) return -1;
  std::size_t done = 0;
  auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t n = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

bool File::ReadExact(std::uint64_t offset, void* buffer, std::size_t count) {
  return ReadAt(offset, buffer, count) == static_cast<long long>(count);
}

bool File::WriteExact(std::uint64_t offset, const void* buffer, std::size_t count) {
  return WriteAt(offset, buffer, count) == static_cast<long long>(count);
}

long long File::Read(void* buffer, std::size_t count) {
  if (fd_ < 0) return -1;
  for (;;) {
    ssize_t n = ::read(fd_, buffer, count);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool File::Truncate(std::uint64_t size) {
  if (fd_ < 0) return false;
  return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool File::Size(std::uint64_t* size) const {
  if (fd_ < 0) return false;
  struct stat st;
  if (::fstat(fd_, &st) != 0) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool ReplaceFileContents(const std::string& native_path, const std::string& data,
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
  if (fd < 0) return false;
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
  bool ok = ::fchmod(fd, mode) == 0 && file.WriteExact(0, data.data(), data.size()) &&
            ::fsync(fd) == 0;
  file.fd_ = -1;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; a failure here does not undo the write.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool ReadFilePrefix(const std::string& native_path, std::size_t max_bytes, std::string* out) {
  File file;
  if (!file.OpenForReading(native_path)) return false;
  out->assign(max_bytes, '\0');
  std::size_t got = 0;
  while (got < out->size()) {
    long long n = file.Read(out->data() + got, out->size() - got);
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out->resize(got);
  return true;
}

bool RemoveFile(const std::string& native_path) {
  return ::unlink(native_path.c_str()) == 0;
}

bool CreateFolders(const std::string& native_path) {
  // Each missing folder is made and then set to exactly 0700: the umask can
  // only take bits away from mkdir's mode, and one that takes the owner's
  // own bits (0277) would leave a folder nobody can write into.
  struct stat st;
  for (std::size_t pos = 1; pos <= native_path.size(); ++pos) {
    if (pos < native_path.size() && native_path[pos] != '/') continue;
    const std::string part = native_path.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) == 0) {
      if (::chmod(part.c_str(), 0700) != 0) return false;
    } else if (errno != EEXIST) {
      // A folder that exists may still refuse mkdir (EACCES, EROFS).
      const int error = errno;
      if (::stat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        errno = error;
        return false;
      }
    }
  }
  if (::stat(native_path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

bool PathExists(const std::string& native_path) {
  struct stat st;
  return ::lstat(native_path.c_str(), &st) == 0;
}

}  // namespace quindelo::platform
