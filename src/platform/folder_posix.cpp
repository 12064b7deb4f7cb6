// Folder enumeration on POSIX: readdir(3) plus fstatat(2) without following
// links, and statx(2) for birth times where the file system keeps them.
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "platform/folder.h"

#include "platform/file.h"

namespace quindelo::platform {
namespace {

// Failures of FilesBelowRoot: a Status, and the thread's last file error for
// the callers that still read it.
Status Failure(int number, const std::string& path) {
  RecordFileError(number, path);
  return PosixError(number, path);
}

std::uint64_t ToFileTime(const struct timespec& t) {
  if (t.tv_sec < 0) return 0;
  return kUnixEpochAsFileTime + static_cast<std::uint64_t>(t.tv_sec) * 10000000ull +
         static_cast<std::uint64_t>(t.tv_nsec) / 100;
}

std::uint64_t ToFileTime(const struct statx_timestamp& t) {
  if (t.tv_sec < 0) return 0;
  return kUnixEpochAsFileTime + static_cast<std::uint64_t>(t.tv_sec) * 10000000ull +
         t.tv_nsec / 100;
}

// The modification and creation times of a status. Without a birth time the
// creation time counts as nonzero, so that the folder stamp built from the
// last-write time stays usable.
void TimesOf(const struct statx& sx, std::uint64_t* creation_time,
             std::uint64_t* last_write_time) {
  *last_write_time = ToFileTime(sx.stx_mtime);
  if (sx.stx_mask & STATX_BTIME)
    *creation_time = ToFileTime(sx.stx_btime);
  else
    *creation_time = *last_write_time ? *last_write_time : 1;
}

// Fills data from the entry named name inside the folder open as dirfd (or
// from a whole path with AT_FDCWD).
bool Examine(int dirfd, const char* name, FindData* data) {
  struct statx sx;
  if (::statx(dirfd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
              STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
    return false;
  mode_t mode = sx.stx_mode;
  data->attributes = 0;
  data->is_link = S_ISLNK(mode);
  data->is_special = S_ISFIFO(mode) || S_ISSOCK(mode) || S_ISCHR(mode) || S_ISBLK(mode);
  if (S_ISDIR(mode))
    data->attributes |= kFileAttributeDirectory;
  else
    data->attributes |= kFileAttributeArchive;
  if (!(mode & S_IWUSR) && !S_ISDIR(mode)) data->attributes |= kFileAttributeReadOnly;
  TimesOf(sx, &data->creation_time, &data->last_write_time);
  // A folder's size is 0, as the find data of other platforms gives it:
  // its st_size (4096 on most file systems) is no size a user would know.
  data->size = S_ISDIR(mode) ? 0 : sx.stx_size;
  data->device = makedev(sx.stx_dev_major, sx.stx_dev_minor);  // as st_dev
  return true;
}

// A path too long for one system call (PATH_MAX bytes or more, as in trees
// thousands of folders deep) is reached a piece at a time: each piece up to
// a slash is opened as a folder, and the next is looked up from there. A
// shorter path is used as it is.
class PathAt {
 public:
  explicit PathAt(const std::string& path) {
    if (path.size() < PATH_MAX) {
      tail_ = path;
      rest_ = tail_.c_str();
      return;
    }
    std::size_t start = 0;
    while (path.size() - start >= PATH_MAX) {
      const std::size_t cut = path.rfind('/', start + PATH_MAX - 2);
      if (cut == std::string::npos || cut < start || (cut == start && start != 0)) {
        Fail(ENAMETOOLONG);
        return;
      }
      const std::string piece = path.substr(start, cut - start + 1);
      const int fd = ::openat(dir_, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0) {
        Fail(errno);
        return;
      }
      if (dir_ >= 0) ::close(dir_);
      dir_ = fd;
      start = cut + 1;
    }
    tail_ = path.substr(start);
    rest_ = tail_.c_str();
  }
  ~PathAt() {
    if (dir_ >= 0) ::close(dir_);
  }
  PathAt(const PathAt&) = delete;
  PathAt& operator=(const PathAt&) = delete;

  // False when the pieces could not be opened (errno says why).
  bool ok() const { return rest_ != nullptr; }
  int dir() const { return dir_; }
  const char* rest() const { return rest_; }

 private:
  void Fail(int error) {
    if (dir_ >= 0) ::close(dir_);
    dir_ = -1;
    rest_ = nullptr;
    errno = error;
  }

  int dir_ = AT_FDCWD;
  std::string tail_;
  const char* rest_ = nullptr;
};

const char* BaseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return path.c_str();
  if (slash + 1 == path.size()) return ".";
  return path.c_str() + slash + 1;
}

}  // namespace

bool GetFindData(const std::string& native_path, FindData* data) {
  if (native_path.empty()) return false;
  PathAt at(native_path);
  if (!at.ok() || !Examine(at.dir(), at.rest(), data)) return false;
  data->name = BaseName(native_path);
  if (data->name.size() > 1 && data->name[0] == '.') data->attributes |= kFileAttributeHidden;
  return true;
}

namespace {

// The times of the entry name inside the folder open as dirfd (or of a whole
// path with AT_FDCWD), asking the file system for nothing else.
bool ExamineTimes(int dirfd, const char* name, FolderTimes* times) {
  struct statx sx;
  if (::statx(dirfd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_MTIME | STATX_BTIME,
              &sx) != 0)
    return false;
  TimesOf(sx, &times->creation_time, &times->last_write_time);
  times->device = makedev(sx.stx_dev_major, sx.stx_dev_minor);  // as st_dev
  return true;
}

}  // namespace

bool GetFolderTimes(const std::string& native_path, FolderTimes* times) {
  if (native_path.empty()) return false;
  // A path that fits one system call is used as it is, without a copy.
  if (native_path.size() < PATH_MAX) return ExamineTimes(AT_FDCWD, native_path.c_str(), times);
  PathAt at(native_path);
  return at.ok() && ExamineTimes(at.dir(), at.rest(), times);
}

namespace {

// Opens (with O_PATH) the folder rest below the folder open as dir: names
// separated by slashes, each looked up without following a link, and the
// folder reached checked to lie on device. openat2 resolves the whole path
// at once where the kernel has it (RESOLVE_NO_SYMLINKS refuses a link
// anywhere on the way, RESOLVE_BENEATH a way out through ".."); elsewhere
// each name is opened from the one before with O_NOFOLLOW. -1 with errno
// set on failure (ELOOP or ENOTDIR for a link on the way, EXDEV for
// another file system).
int OpenFolderBeneath(int dir, const std::string& rest, std::uint64_t device) {
  static std::atomic<bool> no_openat2{false};
  int fd = -1;
  bool resolved = false;
  if (!rest.empty() && rest.size() < PATH_MAX && !no_openat2.load(std::memory_order_relaxed)) {
    struct open_how how {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
    fd = static_cast<int>(::syscall(SYS_openat2, dir, rest.c_str(), &how, sizeof how));
    // A kernel without openat2, or a filter that refuses it, answers ENOSYS
    // or EPERM; the names are then looked up one by one.
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
      resolved = true;
    else
      no_openat2.store(true, std::memory_order_relaxed);
  }
  if (!resolved) {
    fd = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
    std::size_t start = 0;
    std::string name;
    while (fd >= 0 && start < rest.size()) {
      std::size_t slash = rest.find('/', start);
      if (slash == std::string::npos) slash = rest.size();
      name.assign(rest, start, slash - start);
      start = slash + 1;
      if (name.empty() || name == "." || name == "..") {
        ::close(fd);
        errno = EXDEV;  // as RESOLVE_BENEATH refuses a way out
        return -1;
      }
      const int next = ::openat(fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const int error = errno;
      ::close(fd);
      fd = next;
      errno = error;
    }
  }
  if (fd < 0) return -1;
  struct stat st;
  const int error = ::fstat(fd, &st) != 0 ? errno : st.st_dev != device ? EXDEV : 0;
  if (error != 0) {
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Opens the root folder of a walk or of files below it: the folder the
// caller chose, whatever links lead to it.
int OpenRoot(const std::string& native_root, std::uint64_t* device, std::uint64_t* inode) {
  const int fd = ::open(native_root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return -1;
  }
  *device = st.st_dev;
  if (inode) *inode = st.st_ino;
  return fd;
}

std::string WithFinalSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace

FolderWalk::~FolderWalk() {
  LetGoBeyond(0);
  if (root_fd_ >= 0) ::close(root_fd_);
}

bool FolderWalk::Start(const std::string& native_root) {
  LetGoBeyond(0);
  if (root_fd_ >= 0) ::close(root_fd_);
  root_ = WithFinalSlash(native_root);
  root_fd_ = OpenRoot(root_, &root_device_, &root_inode_);
  return root_fd_ >= 0;
}

void FolderWalk::LetGoBeyond(std::size_t length) {
  while (!held_.empty() && held_.back().length > length) {
    ::close(held_.back().fd);
    held_.pop_back();
  }
  held_path_.resize(held_.empty() ? 0 : held_.back().length);
}

bool FolderWalk::Split(const std::string& native_path, std::string* folder,
                       std::string* name) const {
  folder->clear();
  name->clear();
  if (root_fd_ < 0) {
    errno = EBADF;
    return false;
  }
  // The root itself, with or without its final slash.
  if (native_path.size() + 1 == root_.size() && root_.compare(0, native_path.size(), native_path) == 0)
    return true;
  if (native_path.compare(0, root_.size(), root_) != 0) {
    errno = EXDEV;
    return false;
  }
  std::size_t end = native_path.size();
  while (end > root_.size() && native_path[end - 1] == '/') --end;
  const std::size_t slash = native_path.rfind('/', end - 1);
  // slash >= root_.size() - 1: the root's own final slash at the least.
  folder->assign(native_path, root_.size(), slash + 1 - std::min(slash + 1, root_.size()));
  name->assign(native_path, slash + 1, end - slash - 1);
  // A walk never names these; looked up, they would lead out of the folder.
  if (*name == "." || *name == "..") {
    errno = EXDEV;
    return false;
  }
  return true;
}

int FolderWalk::Folder(const std::string& rel) {
  if (rel.empty()) return root_fd_;
  // The held folders that lie on rel's way stay; the others are behind the walk.
  while (!held_.empty() &&
         (held_.back().length > rel.size() ||
          rel.compare(0, held_.back().length, held_path_, 0, held_.back().length) != 0))
    LetGoBeyond(held_.back().length - 1);
  if (!held_.empty() && held_.back().length == rel.size()) return held_.back().fd;
  const std::size_t from = held_.empty() ? 0 : held_.back().length;
  const int base = held_.empty() ? root_fd_ : held_.back().fd;
  const int fd = OpenFolderBeneath(base, rel.substr(from, rel.size() - from - 1), root_device_);
  if (fd < 0) return -1;
  Hold(rel, fd);
  return fd;
}

void FolderWalk::Hold(const std::string& rel, int fd) {
  // At the limit the deepest held folder gives way to the new one, which the
  // next folders of the walk start from.
  if (held_.size() >= kMaxOpenFolders) {
    ::close(held_.back().fd);
    held_.pop_back();
  }
  held_.push_back({rel.size(), fd});
  held_path_ = rel;
}

bool FolderWalk::GetTimes(const std::string& native_path, FolderTimes* times, bool entering) {
  if (!Split(native_path, &folder_, &name_)) return false;
  int dir = Folder(folder_);
  if (dir < 0) return false;
  struct statx sx;
  const unsigned mask = STATX_TYPE | STATX_MTIME | STATX_BTIME;
  if (name_.empty()) {
    if (::statx(dir, "", AT_EMPTY_PATH, mask, &sx) != 0) return false;
  } else if (entering) {
    // Opened now, the folder's times come from the folder the walk holds,
    // and its children are looked up from it; one on another file system
    // is examined but not held.
    const int fd = ::openat(dir, name_.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    if (::statx(fd, "", AT_EMPTY_PATH, mask, &sx) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return false;
    }
    if (makedev(sx.stx_dev_major, sx.stx_dev_minor) == root_device_) {
      folder_ += name_;
      folder_ += '/';
      Hold(folder_, fd);
    } else {
      ::close(fd);
    }
  } else if (::statx(dir, name_.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, mask, &sx) != 0) {
    return false;
  }
  if (!S_ISDIR(sx.stx_mode)) {
    errno = ENOTDIR;
    return false;
  }
  TimesOf(sx, &times->creation_time, &times->last_write_time);
  times->device = makedev(sx.stx_dev_major, sx.stx_dev_minor);  // as st_dev
  return true;
}

bool FolderWalk::OpenListing(const std::string& native_path, FolderEnumerator* folder) {
  folder->Close();
  if (!Split(native_path, &folder_, &name_)) return false;
  int fd;
  struct stat st;
  if (name_.empty()) {
    // The root by its path, so that a root without search permission still
    // lists as it always did; it must be the folder the walk started from.
    fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    if (::fstat(fd, &st) != 0 || st.st_dev != root_device_ || st.st_ino != root_inode_) {
      ::close(fd);
      errno = EXDEV;
      return false;
    }
  } else {
    fd = -1;
    // A folder held already (GetTimes entering it) is listed through what
    // the walk holds; that needs search permission on the folder itself,
    // which the lookup from its parent below does not.
    if (!held_.empty() && held_path_.size() == folder_.size() + name_.size() + 1 &&
        held_path_.compare(0, folder_.size(), folder_) == 0 &&
        held_path_.compare(folder_.size(), name_.size(), name_) == 0)
      fd = ::openat(held_.back().fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      const int dir = Folder(folder_);
      if (dir < 0) return false;
      fd = ::openat(dir, name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) return false;
    if (::fstat(fd, &st) != 0 || st.st_dev != root_device_) {
      ::close(fd);
      errno = EXDEV;
      return false;
    }
  }
  if (!folder->Adopt(fd)) return false;
  folder->folder_ = native_path;
  return true;
}

FilesBelowRoot::~FilesBelowRoot() { Close(); }

void FilesBelowRoot::Close() {
  CloseFolder();
  if (root_fd_ >= 0) ::close(root_fd_);
  root_fd_ = -1;
}

void FilesBelowRoot::CloseFolder() {
  if (folder_fd_ >= 0) ::close(folder_fd_);
  folder_fd_ = -1;
  folder_.clear();
}

Status FilesBelowRoot::SetRoot(const std::string& native_root) {
  const std::string root = WithFinalSlash(native_root);
  if (root_fd_ >= 0 && root == root_) return Status();
  CloseFolder();
  if (root_fd_ >= 0) ::close(root_fd_);
  root_ = root;
  root_fd_ = OpenRoot(root_, &root_device_, nullptr);
  if (root_fd_ < 0) return Failure(errno, native_root);
  return Status();
}

Status FilesBelowRoot::OpenForReading(const std::string& native_path, File* file,
                                      std::uint64_t* size) {
  file->Close();
  if (root_fd_ < 0) return Failure(EBADF, native_path);
  if (native_path.size() <= root_.size() || native_path.compare(0, root_.size(), root_) != 0 ||
      native_path.back() == '/')
    return Failure(EXDEV, native_path);
  const std::size_t slash = native_path.rfind('/');
  const std::size_t folder_length = slash + 1 - root_.size();  // with its final slash
  int dir = root_fd_;
  if (folder_length > 0) {
    if (folder_fd_ < 0 || native_path.compare(root_.size(), folder_length, folder_) != 0 ||
        folder_.size() != folder_length) {
      CloseFolder();
      const int fd = OpenFolderBeneath(
          root_fd_, native_path.substr(root_.size(), folder_length - 1), root_device_);
      if (fd < 0) return Failure(errno, native_path);
      folder_fd_ = fd;
      folder_.assign(native_path, root_.size(), folder_length);
    }
    dir = folder_fd_;
  }
  return file->OpenRegularIn(dir, native_path.c_str() + slash + 1, native_path, size);
}

bool GetFileAttributes(const std::string& native_path, std::uint32_t* attributes) {
  FindData data;
  if (!GetFindData(native_path, &data)) return false;
  *attributes = data.attributes;
  return true;
}

namespace {

bool MeansGone(int error) { return error == ENOENT || error == ENOTDIR; }

}  // namespace

EntryChecker::~EntryChecker() {
  if (folder_fd_ >= 0) ::close(folder_fd_);
}

bool EntryChecker::Gone(const std::string& native_path) {
  const std::size_t slash = native_path.rfind('/');
  struct stat st;
  if (slash == std::string::npos || slash + 1 == native_path.size())
    return ::lstat(native_path.c_str(), &st) != 0 && MeansGone(errno);
  const std::string folder = slash == 0 ? std::string("/") : native_path.substr(0, slash);
  if (folder_.empty() || folder != folder_) {  // a folder that failed to open is not tried again
    if (folder_fd_ >= 0) ::close(folder_fd_);
    folder_ = folder;
    folder_fd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    folder_error_ = folder_fd_ < 0 ? errno : 0;
  }
  if (folder_fd_ < 0) return MeansGone(folder_error_);
  return ::fstatat(folder_fd_, native_path.c_str() + slash + 1, &st, AT_SYMLINK_NOFOLLOW) != 0 &&
         MeansGone(errno);
}

struct FolderEnumerator::Listing {
  DIR* dir = nullptr;
};

FolderEnumerator::FolderEnumerator() = default;
FolderEnumerator::~FolderEnumerator() { Close(); }

bool FolderEnumerator::Open(const std::string& native_folder) {
  Close();
  PathAt at(native_folder.empty() ? std::string("/") : native_folder);
  if (!at.ok()) return false;
  int fd = ::openat(at.dir(), at.rest(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  if (!listing_) listing_ = std::make_unique<Listing>();
  listing_->dir = ::fdopendir(fd);
  if (!listing_->dir) {
    ::close(fd);
    return false;
  }
  folder_ = native_folder;
  return true;
}

bool FolderEnumerator::Adopt(int fd) {
  Close();
  if (!listing_) listing_ = std::make_unique<Listing>();
  listing_->dir = ::fdopendir(fd);
  if (!listing_->dir) {
    ::close(fd);
    return false;
  }
  return true;
}

bool FolderEnumerator::Next(FindData* data) {
  if (!listing_ || !listing_->dir) return false;
  DIR* const dir = listing_->dir;
  for (;;) {
    errno = 0;
    struct dirent* e = ::readdir(dir);
    if (!e) return false;
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    // Names with a backslash cannot be written as drive paths.
    if (std::strchr(name, '\\')) continue;
    if (!Examine(::dirfd(dir), name, data)) continue;  // vanished meanwhile
    data->name = name;
    if (name[0] == '.') data->attributes |= kFileAttributeHidden;
    return true;
  }
}

bool FolderEnumerator::NextName(FindData* data) {
  if (!listing_ || !listing_->dir) return false;
  DIR* const dir = listing_->dir;
  for (;;) {
    struct dirent* e = ::readdir(dir);
    if (!e) return false;
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    if (std::strchr(name, '\\')) continue;
    bool is_folder;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st;
      if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      is_folder = S_ISDIR(st.st_mode);
      data->is_link = S_ISLNK(st.st_mode);
    } else {
      is_folder = e->d_type == DT_DIR;
      data->is_link = e->d_type == DT_LNK;
    }
    data->name = name;
    data->attributes = is_folder ? kFileAttributeDirectory : kFileAttributeArchive;
    if (name[0] == '.') data->attributes |= kFileAttributeHidden;
    data->creation_time = data->last_write_time = data->size = data->device = 0;
    data->is_special = false;
    return true;
  }
}

void FolderEnumerator::Close() {
  if (listing_ && listing_->dir) {
    ::closedir(listing_->dir);
    listing_->dir = nullptr;
  }
}

std::uint64_t FileTimeNow() {
  struct timespec t;
  ::clock_gettime(CLOCK_REALTIME, &t);
  return ToFileTime(t);
}

}  // namespace quindelo::platform
