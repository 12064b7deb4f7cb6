// Folder enumeration on POSIX: readdir(3) plus fstatat(2) without following
// links, and statx(2) for birth times where the file system keeps them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "platform/folder.h"

namespace quindelo::platform {
namespace {

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

// Levels between two folders a FolderTimesReader holds open: a path is looked
// up from its deepest open folder in at most this many names, and a folder is
// opened (and closed again) only at every fourth level and only when the
// walk goes below it.
constexpr int kLevelsPerAnchor = 4;
// Open folders per reader at most; below the deepest the paths grow longer.
constexpr std::size_t kMaxAnchors = 64;

}  // namespace

FolderTimesReader::~FolderTimesReader() { LetGoBeyond(0); }

void FolderTimesReader::LetGoBeyond(std::size_t length) {
  while (!anchors_.empty() && anchors_.back().length > length) {
    ::close(anchors_.back().fd);
    anchors_.pop_back();
  }
  anchored_.resize(anchors_.empty() ? 0 : anchors_.back().length);
}

bool FolderTimesReader::Get(const std::string& native_path, FolderTimes* times) {
  if (native_path.empty() || native_path[0] != '/') return GetFolderTimes(native_path, times);
  // The anchors that lie above this path stay; the others are behind the
  // walk. Each anchor's path is a piece of the deepest one's, up to a slash.
  while (!anchors_.empty() &&
         (native_path.size() <= anchors_.back().length ||
          native_path.compare(0, anchors_.back().length, anchored_, 0, anchors_.back().length) != 0))
    LetGoBeyond(anchors_.back().length - 1);
  // Open further anchors while the path reaches more than kLevelsPerAnchor
  // names below the deepest one.
  for (;;) {
    // From the root the first piece is the absolute path of the anchor.
    const std::size_t start = anchors_.empty() ? 0 : anchors_.back().length;
    std::size_t end = start == 0 ? 1 : start;
    int names = 0;
    while (names < kLevelsPerAnchor) {
      const std::size_t slash = native_path.find('/', end);
      if (slash == std::string::npos) break;
      end = slash + 1;
      ++names;
    }
    // An anchor is opened only for a folder with names still below it.
    if (names < kLevelsPerAnchor || end >= native_path.size() || anchors_.size() >= kMaxAnchors)
      break;
    piece_.assign(native_path, start, end - start);
    const int dir = anchors_.empty() ? AT_FDCWD : anchors_.back().fd;
    const int fd = ::openat(dir, piece_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) break;  // looked up from the anchor above, or as a whole path
    anchors_.push_back({end, fd});
    anchored_.assign(native_path, 0, end);
  }
  const std::size_t start = anchors_.empty() ? 0 : anchors_.back().length;
  if (native_path.size() - start >= PATH_MAX) return GetFolderTimes(native_path, times);
  const int dir = anchors_.empty() ? AT_FDCWD : anchors_.back().fd;
  return ExamineTimes(dir, native_path.c_str() + start, times);
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
