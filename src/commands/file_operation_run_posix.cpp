#include "commands/file_operation_run.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/beneath.h"
#include "platform/drive_table.h"
#include "platform/paths.h"

namespace quindelo::commands {
namespace {

// Reasons of this module's own, beside errno values (which are positive).
constexpr int kLinkOnTheWay = -1;  // a folder on the path is a symbolic link
constexpr int kChanged = -2;       // the entry was replaced between a look and its opening
constexpr int kDevice = -3;        // a device node: nothing to copy
constexpr int kSocket = -4;        // a socket: nothing to copy
constexpr int kNoDrive = -5;       // the path's letter is not a drive now
constexpr int kBadPath = -6;       // a name of the path cannot be used
constexpr int kReported = -7;      // the observer was told already, and said stop

constexpr char kTemporaryPrefix[] = ".quindelo-copy-";
constexpr std::size_t kTemporaryRandomLength = 6;

// How one piece of work ended: done, cancelled, or failed with a reason.
struct Outcome {
  int error = 0;
  bool cancelled = false;
  bool ok() const { return error == 0 && !cancelled; }
  static Outcome Errno() { return Outcome{errno != 0 ? errno : EIO, false}; }
  static Outcome Cancel() { return Outcome{0, true}; }
};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  // Closes now, reporting the error of close (a delayed write error).
  bool Close() {
    int fd = std::exchange(fd_, -1);
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

// A file's identity: its device and inode.
using Identity = std::pair<dev_t, ino_t>;
Identity IdentityOf(const struct stat& st) { return {st.st_dev, st.st_ino}; }

bool SameEntry(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}

// An entry of the disk as the executor acts on it: the folder that holds
// it, open and reached without following a link, and its name there.
struct Place {
  Fd folder;  // O_PATH
  std::string name;
  std::string native;  // the whole native path, for the desktop trash only
};

// The names in an open folder but "." and "..". False, with errno set, when
// reading the folder failed.
bool ListNames(int folder_fd, std::vector<std::string>* names) {
  int listing_fd = openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing_fd < 0) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> listing(fdopendir(listing_fd), closedir);
  if (!listing) {
    close(listing_fd);
    return false;
  }
  errno = 0;
  while (struct dirent* entry = readdir(listing.get())) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names->emplace_back(entry->d_name);
  }
  return errno == 0;
}

std::string TemporaryName() {
  static constexpr char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = kTemporaryPrefix;
  for (std::size_t i = 0; i < kTemporaryRandomLength; ++i)
    name += kChars[arc4random_uniform(sizeof kChars - 1)];
  return name;
}

bool IsTemporaryName(const char* name) {
  const std::size_t prefix = sizeof kTemporaryPrefix - 1;
  if (strncmp(name, kTemporaryPrefix, prefix) != 0) return false;
  std::size_t i = prefix;
  for (; name[i] != '\0'; ++i) {
    char c = name[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return i - prefix == kTemporaryRandomLength;
}

// Locks an open temporary of this program as in use (released with its
// descriptor, also by a crash), so that another run's clean-up leaves it.
// False when someone else holds it.
bool LockInUse(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

// Whether the entry name in folder is still the file open as fd.
bool StillNamed(int folder, const std::string& name, int fd) {
  struct stat named, open;
  return fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &open) == 0 &&
         SameEntry(named, open);
}

// A temporary folder of this program in folder, open and locked.
Outcome MakeTemporaryFolder(int folder, std::string* name, Fd* fd) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = TemporaryName();
    if (mkdirat(folder, name->c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return Outcome::Errno();
    }
    *fd = Fd(openat(folder, name->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd->get() < 0 && errno != ENOENT && errno != ENOTDIR) {
      Outcome failed = Outcome::Errno();
      unlinkat(folder, name->c_str(), AT_REMOVEDIR);
      return failed;
    }
    // Another run's clean-up may take a new name before its lock is held:
    // then a fresh name is made.
    if (fd->get() >= 0 && LockInUse(fd->get()) && StillNamed(folder, *name, fd->get()))
      return Outcome();
  }
  return Outcome{EEXIST, false};
}

// Gives the unnamed file open as fd (O_TMPFILE) the name in folder, failing
// with EEXIST when something has it.
bool LinkUnnamed(int fd, int folder, const char* name) {
  if (linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) return true;
  if (errno != ENOENT && errno != EPERM) return false;  // ENOENT: not allowed without a capability
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, self.c_str(), folder, name, AT_SYMLINK_FOLLOW) == 0;
}

// Renames from to to: replacing what is there only when replace is set,
// otherwise failing with EEXIST when to exists (also when the file system
// cannot rename without replacing, through a hard link).
Outcome Publish(int from_folder, const char* from, int to_folder, const char* to, bool replace) {
  if (replace)
    return renameat(from_folder, from, to_folder, to) == 0 ? Outcome() : Outcome::Errno();
  if (renameat2(from_folder, from, to_folder, to, RENAME_NOREPLACE) == 0) return Outcome();
  if (errno != EINVAL && errno != ENOSYS) return Outcome::Errno();
  struct stat st;
  if (fstatat(from_folder, from, &st, AT_SYMLINK_NOFOLLOW) != 0) return Outcome::Errno();
  if (S_ISDIR(st.st_mode)) {
    if (fstatat(to_folder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) return Outcome{EEXIST, false};
    return renameat(from_folder, from, to_folder, to) == 0 ? Outcome() : Outcome::Errno();
  }
  if (linkat(from_folder, from, to_folder, to, 0) != 0) return Outcome::Errno();
  unlinkat(from_folder, from, 0);
  return Outcome();
}

bool SyncFolder(int folder) {
  Fd fd(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.get() >= 0 && fsync(fd.get()) == 0;
}

// Removes entries, a folder with everything in it, never following a
// symbolic link. Entries whose identity is in keep stay (with the folders
// that hold them); with cancel_by set, a cancel stops the removal between
// entries.
class Remover {
 public:
  Remover(const std::set<Identity>* keep, FileOperationObserver* cancel_by)
      : keep_(keep), cancel_by_(cancel_by) {}

  // Removes name inside the folder open as parent. *kept is set when
  // something of it stayed.
  Outcome RemoveAt(int parent, const char* name, bool* kept) {
    if (cancel_by_ && cancel_by_->Cancelled()) return Outcome::Cancel();
    if (keep_ && !keep_->empty()) {
      struct stat st;
      if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return Outcome::Errno();
      if (keep_->count(IdentityOf(st)) != 0) {
        *kept = true;
        return Outcome();
      }
    }
    if (unlinkat(parent, name, 0) == 0) return Outcome();
    int unlink_error = errno;
    if (unlink_error != EISDIR && unlink_error != EPERM) return Outcome::Errno();
    Fd folder(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0) {
      // Not a folder after all: the unlink's own reason is the one to show.
      return errno == ENOTDIR || errno == ELOOP ? Outcome{unlink_error, false} : Outcome::Errno();
    }
    std::vector<std::string> names;
    if (!ListNames(folder.get(), &names)) return Outcome::Errno();
    bool kept_inside = false;
    for (const std::string& child : names) {
      Outcome removed = RemoveAt(folder.get(), child.c_str(), &kept_inside);
      if (!removed.ok()) return removed;
    }
    if (kept_inside) {
      *kept = true;
      return Outcome();
    }
    return unlinkat(parent, name, AT_REMOVEDIR) == 0 ? Outcome() : Outcome::Errno();
  }

 private:
  const std::set<Identity>* keep_;
  FileOperationObserver* cancel_by_;
};

Outcome RemoveAt(int parent, const char* name) {
  bool kept = false;
  return Remover(nullptr, nullptr).RemoveAt(parent, name, &kept);
}

// Removes what an earlier run of this program left in folder under its
// temporary name (a copy killed half way): the user's own files and folders
// only, and none that a running copy holds locked. Failures are ignored:
// the folder is simply left as it is.
void RemoveLeftovers(int folder) {
  std::vector<std::string> names;
  if (!ListNames(folder, &names)) return;
  for (const std::string& name : names) {
    if (!IsTemporaryName(name.c_str())) continue;
    struct stat looked, open;
    if (fstatat(folder, name.c_str(), &looked, AT_SYMLINK_NOFOLLOW) != 0 ||
        looked.st_uid != geteuid() || !(S_ISREG(looked.st_mode) || S_ISDIR(looked.st_mode)))
      continue;
    Fd fd(openat(folder, name.c_str(),
                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                     (S_ISDIR(looked.st_mode) ? O_DIRECTORY : 0)));
    if (fd.get() < 0 || fstat(fd.get(), &open) != 0 || !SameEntry(looked, open) ||
        !LockInUse(fd.get()))
      continue;
    if (S_ISDIR(looked.st_mode))
      RemoveAt(folder, name.c_str());
    else if (StillNamed(folder, name, fd.get()))
      unlinkat(folder, name.c_str(), 0);
  }
}

void SetTimes(int fd, const struct stat& source) {
  struct timespec times[2] = {source.st_atim, source.st_mtim};
  futimens(fd, times);  // a file system without times keeps the copy's own
}

// The drives of one run, each root opened once; paths are resolved below
// them without following links.
class Drives {
 public:
  // The folder holding the entry of drive_path, and the entry's name.
  Outcome Resolve(const std::string& drive_path, Place* place) {
    std::string relative;
    int root = -1;
    Outcome found = Root(drive_path, &root, &relative);
    if (!found.ok()) return found;
    std::size_t slash = relative.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : relative.substr(0, slash);
    place->name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    if (!platform::IsPlainName(place->name)) return Outcome{kBadPath, false};
    place->folder = Fd(platform::OpenFolderBeneath(root, folder, O_PATH));
    if (place->folder.get() < 0) return ResolveError();
    place->native = platform::NativePathBelow(root_paths_[Index(drive_path)], drive_path);
    return Outcome();
  }

  // Makes the folder of drive_path with the folders it needs, one by one,
  // never through a link.
  Outcome MakeFolders(const std::string& drive_path) {
    std::string relative;
    int root = -1;
    Outcome found = Root(drive_path, &root, &relative);
    if (!found.ok()) return found;
    Fd folder(openat(root, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return Outcome::Errno();
    std::size_t at = 0;
    while (at < relative.size()) {
      std::size_t slash = relative.find('/', at);
      if (slash == std::string::npos) slash = relative.size();
      std::string name = relative.substr(at, slash - at);
      Fd next(platform::OpenFolderBeneath(folder.get(), name, O_PATH));
      if (next.get() < 0 && errno == ENOENT) {
        if (mkdirat(folder.get(), name.c_str(), 0777) != 0 && errno != EEXIST)
          return Outcome::Errno();
        next = Fd(platform::OpenFolderBeneath(folder.get(), name, O_PATH));
      }
      if (next.get() < 0) return ResolveError();
      folder = std::move(next);
      at = slash + 1;
    }
    return Outcome();
  }

 private:
  static int Index(const std::string& drive_path) { return (drive_path[0] | 0x20) - 'a'; }

  static Outcome ResolveError() {
    if (errno == ELOOP || errno == EXDEV) return Outcome{kLinkOnTheWay, false};
    if (errno == EINVAL) return Outcome{kBadPath, false};
    return Outcome::Errno();
  }

  // The root of drive_path's drive, open, and the rest of the path with "/"
  // between plain names.
  Outcome Root(const std::string& drive_path, int* root, std::string* relative) {
    const char letter = drive_path.empty() ? '\0' : drive_path[0];
    if (drive_path.size() < 3 || !((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) ||
        drive_path[1] != ':' || drive_path[2] != '\\')
      return Outcome{kBadPath, false};
    const int index = Index(drive_path);
    if (!looked_up_[index]) {
      looked_up_[index] = true;
      platform::DriveEntry entry;
      if (platform::LookUpDrive(letter, &entry, false)) {
        root_paths_[index] = entry.root;
        roots_[index] = Fd(open(entry.root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        root_errors_[index] = roots_[index].get() < 0 ? errno : 0;
      } else {
        root_errors_[index] = kNoDrive;
      }
    }
    if (roots_[index].get() < 0) return Outcome{root_errors_[index], false};
    *root = roots_[index].get();
    relative->clear();
    for (std::size_t i = 3; i < drive_path.size(); ++i) {
      const char c = drive_path[i];
      if (c == '/' || c == '\0') return Outcome{kBadPath, false};
      *relative += c == '\\' ? '/' : c;
    }
    return Outcome();
  }

  Fd roots_[26];
  std::string root_paths_[26];
  int root_errors_[26] = {};
  bool looked_up_[26] = {};
};

class StepRunner {
 public:
  // flush: write copies through to the disk before they get their names
  // (when the source goes away afterwards, or an old file is replaced).
  StepRunner(const PlannedStep& step, FileOperationObserver* observer, std::size_t index, bool flush)
      : step_(step), observer_(observer), index_(index), flush_(flush) {}

  // Copies the regular file open as in into out, block by block.
  Outcome CopyData(int in, int out) {
    std::uint64_t file_bytes = 0;
    for (;;) {
      if (observer_->Cancelled()) return Outcome::Cancel();
      ssize_t moved;
      if (kernel_copy_) {
        moved = copy_file_range(in, nullptr, out, nullptr, kCopyBlockSize, 0);
        // The kernel cannot copy between these files (another file system,
        // say): this file and the step's next ones go through the buffer.
        if (moved < 0 && file_bytes == 0 &&
            (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
             errno == EPERM)) {
          kernel_copy_ = false;
          continue;
        }
      } else {
        if (!buffer_) buffer_.reset(new char[kCopyBlockSize]);
        moved = read(in, buffer_.get(), kCopyBlockSize);
        for (ssize_t written = 0; moved > 0 && written < moved;) {
          ssize_t n = write(out, buffer_.get() + written, static_cast<std::size_t>(moved - written));
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) return n < 0 ? Outcome::Errno() : Outcome{EIO, false};
          written += n;
        }
      }
      if (moved < 0 && errno == EINTR) continue;
      if (moved < 0) return Outcome::Errno();
      if (moved == 0) return Outcome();
      file_bytes += static_cast<std::uint64_t>(moved);
      bytes_ += static_cast<std::uint64_t>(moved);
      observer_->Progress(index_, bytes_);
    }
  }

  // Fills the new file out with the data, mode bits and times of the
  // regular file in, flushed when the step asks for it.
  Outcome CopyFileContents(int in, const struct stat& st, int out) {
    Outcome copied = CopyData(in, out);
    if (!copied.ok()) return copied;
    if (fchmod(out, st.st_mode & 07777) != 0) return Outcome::Errno();
    SetTimes(out, st);
    if (flush_ && fsync(out) != 0) return Outcome::Errno();
    return Outcome();
  }

  // Opens the regular file name of folder that fstatat saw as looked, for
  // reading: never blocking (a FIFO put in its place would), and only when
  // it is still that file.
  static Outcome OpenRegular(int folder, const char* name, const struct stat& looked, Fd* in) {
    *in = Fd(openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (in->get() < 0) return errno == ELOOP ? Outcome{kChanged, false} : Outcome::Errno();
    struct stat open;
    if (fstat(in->get(), &open) != 0) return Outcome::Errno();
    if (!S_ISREG(open.st_mode) || !SameEntry(open, looked)) return Outcome{kChanged, false};
    int flags = fcntl(in->get(), F_GETFL);
    if (flags < 0 || fcntl(in->get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return Outcome::Errno();
    return Outcome();
  }

  // Copies the regular file of from (seen as st) to to: written unnamed
  // (O_TMPFILE) or under a temporary name, and named only when complete.
  Outcome CopyFileTo(const Place& from, const struct stat& st, const Place& to, bool replace) {
    Fd in;
    Outcome opened = OpenRegular(from.folder.get(), from.name.c_str(), st, &in);
    if (!opened.ok()) return opened;
    const int folder = to.folder.get();
    Fd out(openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (out.get() >= 0) {
      LockInUse(out.get());  // nobody else can have it yet
      Outcome result = CopyFileContents(in.get(), st, out.get());
      if (!result.ok()) return result;  // the unnamed file goes with its descriptor
      if (!replace) {
        if (!LinkUnnamed(out.get(), folder, to.name.c_str())) return Outcome::Errno();
        if (out.Close()) return Outcome();
        Outcome closed = Outcome::Errno();
        unlinkat(folder, to.name.c_str(), 0);
        return closed;
      }
      // Replacing: a temporary name first, renamed over the old file.
      for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = TemporaryName();
        if (!LinkUnnamed(out.get(), folder, temporary.c_str())) {
          if (errno == EEXIST) continue;
          return Outcome::Errno();
        }
        Outcome published =
            out.Close() ? Publish(folder, temporary.c_str(), folder, to.name.c_str(), true)
                        : Outcome::Errno();
        if (!published.ok()) unlinkat(folder, temporary.c_str(), 0);
        return published;
      }
      return Outcome{EEXIST, false};
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
      return Outcome::Errno();
    // No unnamed files on this file system: a named temporary.
    std::string temporary;
    for (int attempt = 0; attempt < 100 && out.get() < 0; ++attempt) {
      temporary = TemporaryName();
      out = Fd(openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600));
      if (out.get() < 0 && errno != EEXIST) return Outcome::Errno();
      if (out.get() >= 0 && !(LockInUse(out.get()) && StillNamed(folder, temporary, out.get())))
        out = Fd();
    }
    if (out.get() < 0) return Outcome{EEXIST, false};
    Outcome result = CopyFileContents(in.get(), st, out.get());
    if (result.ok() && !out.Close()) result = Outcome::Errno();
    if (result.ok()) result = Publish(folder, temporary.c_str(), folder, to.name.c_str(), replace);
    if (!result.ok()) unlinkat(folder, temporary.c_str(), 0);
    return result;
  }

  // Copies the symbolic link from_name of from_folder as a link, never
  // what it points to.
  static Outcome CopyLinkAt(int from_folder, const char* from_name, int folder,
                            const char* to_name, bool replace) {
    std::vector<char> text(PATH_MAX + 1);
    ssize_t length = readlinkat(from_folder, from_name, text.data(), text.size());
    if (length < 0) return errno == EINVAL ? Outcome{kChanged, false} : Outcome::Errno();
    if (static_cast<std::size_t>(length) >= text.size()) return Outcome{ENAMETOOLONG, false};
    text[static_cast<std::size_t>(length)] = '\0';
    // A link holds no data: made under its name at once, unless it replaces.
    if (!replace) return symlinkat(text.data(), folder, to_name) == 0 ? Outcome() : Outcome::Errno();
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string temporary = TemporaryName();
      if (symlinkat(text.data(), folder, temporary.c_str()) != 0) {
        if (errno == EEXIST) continue;
        return Outcome::Errno();
      }
      Outcome published = Publish(folder, temporary.c_str(), folder, to_name, true);
      if (!published.ok()) unlinkat(folder, temporary.c_str(), 0);
      return published;
    }
    return Outcome{EEXIST, false};
  }

  // Makes a FIFO like the one seen as st, as name in folder. A FIFO holds
  // no data: it is never opened.
  static Outcome MakeFifoAt(int folder, const char* name, const struct stat& st) {
    if (mkfifoat(folder, name, st.st_mode & 07777) != 0) return Outcome::Errno();
    if (fchmodat(folder, name, st.st_mode & 07777, AT_SYMLINK_NOFOLLOW) != 0) return Outcome::Errno();
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    utimensat(folder, name, times, AT_SYMLINK_NOFOLLOW);
    return Outcome();
  }

  Outcome CopyFifoTo(const struct stat& st, const Place& to, bool replace) {
    const int folder = to.folder.get();
    if (!replace) return MakeFifoAt(folder, to.name.c_str(), st);
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string temporary = TemporaryName();
      Outcome made = MakeFifoAt(folder, temporary.c_str(), st);
      if (made.error == EEXIST) continue;
      if (made.ok()) made = Publish(folder, temporary.c_str(), folder, to.name.c_str(), true);
      if (!made.ok()) unlinkat(folder, temporary.c_str(), 0);
      return made;
    }
    return Outcome{EEXIST, false};
  }

  // A device or socket inside a copied folder is left out, with a message;
  // the observer says whether the copy goes on without it.
  Outcome LeaveOut(const std::string& drive_path, const struct stat& st) {
    left_out_.insert(IdentityOf(st));
    std::string message = "\"" + drive_path + "\" is " +
                          (S_ISSOCK(st.st_mode) ? "a socket" : "a device") +
                          ", which holds no data to copy: it is left out.";
    if (observer_->Failed(step_, message) == FailureAnswer::kStop) return Outcome{kReported, false};
    return Outcome();
  }

  // Copies the contents of the folder open as source into the new folder
  // open as target; drive_path is the source's, for messages.
  Outcome CopyFolderContents(int source, int target, std::string* drive_path) {
    std::vector<std::string> names;
    if (!ListNames(source, &names)) return Outcome::Errno();
    const std::size_t length = drive_path->size();
    for (const std::string& name : names) {
      if (observer_->Cancelled()) return Outcome::Cancel();
      drive_path->resize(length);
      *drive_path += '\\';
      *drive_path += name;
      struct stat st;
      if (fstatat(source, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Outcome::Errno();
      Outcome result;
      if (S_ISDIR(st.st_mode)) {
        Fd from(openat(source, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat open;
        if (from.get() < 0 || fstat(from.get(), &open) != 0) return Outcome::Errno();
        if (!SameEntry(open, st)) return Outcome{kChanged, false};
        if (mkdirat(target, name.c_str(), 0700) != 0) return Outcome::Errno();
        Fd to(openat(target, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (to.get() < 0) return Outcome::Errno();
        result = CopyFolderContents(from.get(), to.get(), drive_path);
        if (result.ok()) result = FinishFolder(to.get(), st);
      } else if (S_ISLNK(st.st_mode)) {
        result = CopyLinkAt(source, name.c_str(), target, name.c_str(), false);
      } else if (S_ISREG(st.st_mode)) {
        Fd in;
        result = OpenRegular(source, name.c_str(), st, &in);
        if (!result.ok()) return result;
        Fd out(openat(target, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600));
        if (out.get() < 0) return Outcome::Errno();
        result = CopyFileContents(in.get(), st, out.get());
        if (result.ok() && !out.Close()) result = Outcome::Errno();
      } else if (S_ISFIFO(st.st_mode)) {
        result = MakeFifoAt(target, name.c_str(), st);
      } else {
        result = LeaveOut(*drive_path, st);
      }
      if (!result.ok()) return result;
    }
    drive_path->resize(length);
    return Outcome();
  }

  Outcome FinishFolder(int folder, const struct stat& st) {
    if (fchmod(folder, st.st_mode & 07777) != 0) return Outcome::Errno();
    SetTimes(folder, st);
    return !flush_ || fsync(folder) == 0 ? Outcome() : Outcome::Errno();
  }

  // Copies a folder as a whole: built under a temporary name beside the
  // destination, renamed once complete.
  Outcome CopyFolderTo(const Place& from, const struct stat& st, const Place& to) {
    Fd source(openat(from.folder.get(), from.name.c_str(),
                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat open;
    if (source.get() < 0 || fstat(source.get(), &open) != 0)
      return errno == ENOTDIR ? Outcome{kChanged, false} : Outcome::Errno();
    if (!SameEntry(open, st)) return Outcome{kChanged, false};
    std::string temporary;
    Fd target;
    Outcome result = MakeTemporaryFolder(to.folder.get(), &temporary, &target);
    if (!result.ok()) return result;
    std::string drive_path = step_.source;
    result = CopyFolderContents(source.get(), target.get(), &drive_path);
    if (result.ok()) result = FinishFolder(target.get(), st);
    if (result.ok())
      result = Publish(to.folder.get(), temporary.c_str(), to.folder.get(), to.name.c_str(), false);
    if (!result.ok()) RemoveAt(to.folder.get(), temporary.c_str());
    return result;
  }

  // Copies from's entry to to's, as what it is: a link as a link, a FIFO
  // made anew; a device or a socket is not copied.
  Outcome CopyAny(const Place& from, const Place& to, bool replace) {
    struct stat st;
    if (fstatat(from.folder.get(), from.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return Outcome::Errno();
    switch (st.st_mode & S_IFMT) {
      case S_IFDIR: return CopyFolderTo(from, st, to);
      case S_IFLNK:
        return CopyLinkAt(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str(),
                          replace);
      case S_IFREG: return CopyFileTo(from, st, to, replace);
      case S_IFIFO: return CopyFifoTo(st, to, replace);
      case S_IFSOCK: return Outcome{kSocket, false};
      default: return Outcome{kDevice, false};
    }
  }

  Outcome Move(const Place& from, const Place& to, bool replace) {
    Outcome renamed =
        Publish(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str(), replace);
    if (renamed.error != EXDEV) return renamed;
    // Another file system: a complete, flushed copy first, then the source
    // goes (but for what the copy left out).
    Outcome copied = CopyAny(from, to, replace);
    if (!copied.ok()) return copied;
    if (!SyncFolder(to.folder.get())) return Outcome::Errno();
    bool kept = false;
    return Remover(&left_out_, nullptr).RemoveAt(from.folder.get(), from.name.c_str(), &kept);
  }

 private:
  const PlannedStep& step_;
  FileOperationObserver* observer_;
  std::size_t index_;
  bool flush_;
  std::uint64_t bytes_ = 0;
  bool kernel_copy_ = true;
  std::unique_ptr<char[]> buffer_;
  std::set<Identity> left_out_;  // devices and sockets a folder copy left out
};

std::string FailureMessage(const PlannedStep& step, const Outcome& outcome) {
  std::string reason;
  switch (outcome.error) {
    case EEXIST: reason = "it already exists"; break;
    case kLinkOnTheWay: reason = "a folder on its way is a symbolic link, which is not followed"; break;
    case kChanged: reason = "it was replaced by another file while it was being worked on"; break;
    case kDevice: reason = "it is a device, which holds no data to copy"; break;
    case kSocket: reason = "it is a socket, which holds no data to copy"; break;
    case kNoDrive: reason = "its drive is not there"; break;
    case kBadPath: reason = "its path holds a name that cannot be used"; break;
    default: reason = strerror(outcome.error);
  }
  auto quoted = [](const std::string& text) { return "\"" + text + "\""; };
  switch (step.action) {
    case StepAction::kMakeFolder:
      return "Unable to create the folder " + quoted(step.destination) + ": " + reason + ".";
    case StepAction::kCopy:
      return "Unable to copy " + quoted(step.source) + " to " + quoted(step.destination) + ": " +
             reason + ".";
    case StepAction::kMove:
      return "Unable to move " + quoted(step.source) + " to " + quoted(step.destination) + ": " +
             reason + ".";
    case StepAction::kRename:
      return "Unable to rename " + quoted(step.source) + " to " + quoted(step.destination) + ": " +
             reason + ".";
    default:
      return "Unable to delete " + quoted(step.source) + ": " + reason + ".";
  }
}

// The run's state across steps: its drives, and the destination folders
// already cleared of leftovers.
class Run {
 public:
  Run(Trash* trash, FileOperationObserver* observer) : trash_(trash), observer_(observer) {}

  // Carries out one step. Sets *declined when the observer declined it.
  Outcome Step(const PlannedStep& step, std::size_t index, bool* declined) {
    const bool replace = step.replaces_existing;
    StepRunner runner(step, observer_, index, step.action != StepAction::kCopy || replace);
    Place from, to;
    switch (step.action) {
      case StepAction::kMakeFolder:
        return drives_.MakeFolders(step.destination);
      case StepAction::kCopy:
      case StepAction::kMove:
      case StepAction::kRename: {
        Outcome found = drives_.Resolve(step.source, &from);
        if (found.ok()) found = drives_.Resolve(step.destination, &to);
        if (!found.ok()) return found;
        ClearLeftovers(to.folder.get());
        return step.action == StepAction::kCopy ? runner.CopyAny(from, to, replace)
                                                : runner.Move(from, to, replace);
      }
      case StepAction::kTrash: {
        Outcome found = drives_.Resolve(step.source, &from);
        if (found.ok()) found = CheckTrashPath(from);
        if (!found.ok()) return found;
        std::string reason;
        if (trash_->MoveToTrash(from.native, &reason)) return Outcome();
        if (!observer_->ConfirmDeleteAfterTrashRefused(step, reason)) {
          *declined = true;
          return Outcome();
        }
        return RemoveAt(from.folder.get(), from.name.c_str());
      }
      case StepAction::kDelete: {
        Outcome found = drives_.Resolve(step.source, &from);
        if (!found.ok()) return found;
        bool kept = false;
        return Remover(nullptr, observer_).RemoveAt(from.folder.get(), from.name.c_str(), &kept);
      }
      case StepAction::kSkip:
        break;
    }
    return Outcome();
  }

 private:
  // The trash takes a native path and walks it again: right before, the
  // path's folder must still be the folder reached without links.
  static Outcome CheckTrashPath(const Place& place) {
    struct stat entry, reached, by_path;
    if (fstatat(place.folder.get(), place.name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
      return Outcome::Errno();
    const std::size_t slash = place.native.rfind('/');
    const std::string folder =
        slash == 0 || slash == std::string::npos ? std::string("/") : place.native.substr(0, slash);
    if (fstat(place.folder.get(), &reached) != 0) return Outcome::Errno();
    if (stat(folder.c_str(), &by_path) != 0 || !SameEntry(reached, by_path))
      return Outcome{kLinkOnTheWay, false};
    return Outcome();
  }

  void ClearLeftovers(int folder) {
    struct stat st;
    if (fstat(folder, &st) != 0 || !cleared_.insert(IdentityOf(st)).second) return;
    RemoveLeftovers(folder);
  }

  Trash* trash_;
  FileOperationObserver* observer_;
  Drives drives_;
  std::set<Identity> cleared_;
};

}  // namespace

FileOperationResult RunFileOperationPlan(const FileOperationPlan& plan, Trash* trash,
                                         FileOperationObserver* observer) {
  FileOperationResult result;
  Run run(trash, observer);
  for (std::size_t i = 0; i < plan.steps.size(); ++i) {
    const PlannedStep& step = plan.steps[i];
    if (step.action == StepAction::kSkip) continue;
    if (observer->Cancelled()) {
      result.stopped = true;
      break;
    }
    observer->Progress(i, 0);  // a new step begins
    if (step.replaces_existing && !observer->ConfirmReplace(step)) continue;
    bool declined = false;
    Outcome outcome = run.Step(step, i, &declined);
    if (declined) continue;
    if (outcome.cancelled) {
      result.stopped = true;
      break;
    }
    if (outcome.ok()) {
      ++result.done;
      continue;
    }
    ++result.failed;
    if (outcome.error == kReported ||
        observer->Failed(step, FailureMessage(step, outcome)) == FailureAnswer::kStop) {
      result.stopped = true;
      break;
    }
  }
  return result;
}

}  // namespace quindelo::commands
