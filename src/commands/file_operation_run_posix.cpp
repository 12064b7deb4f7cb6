#include "commands/file_operation_run.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <vector>

namespace quindelo::commands {
namespace {

// How one piece of work ended: done, cancelled, or failed with an errno value.
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
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now, reporting the error of close (a delayed write error).
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The names in an open folder but "." and "..". False, with errno set, when
// reading the folder failed.
bool ListNames(DIR* listing, std::vector<std::string>* names) {
  errno = 0;
  while (struct dirent* entry = readdir(listing)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names->emplace_back(entry->d_name);
  }
  return errno == 0;
}

std::string Join(const std::string& folder, const char* name) {
  // Appended piece by piece: GCC 12 at -O3 warns falsely about "/" + name
  // (GCC bug 105329).
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

// Renames from to to: replacing what is there only when replace is set,
// otherwise failing with EEXIST when to exists (also when the file system
// cannot rename without replacing, through a hard link).
Outcome Publish(const std::string& from, const std::string& to, bool replace) {
  if (replace) return rename(from.c_str(), to.c_str()) == 0 ? Outcome() : Outcome::Errno();
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return Outcome();
  if (errno != EINVAL && errno != ENOSYS) return Outcome::Errno();
  struct stat st;
  if (lstat(from.c_str(), &st) != 0) return Outcome::Errno();
  if (S_ISDIR(st.st_mode)) {
    if (lstat(to.c_str(), &st) == 0) return Outcome{EEXIST, false};
    return rename(from.c_str(), to.c_str()) == 0 ? Outcome() : Outcome::Errno();
  }
  if (link(from.c_str(), to.c_str()) != 0) return Outcome::Errno();
  unlink(from.c_str());
  return Outcome();
}

bool SyncFolder(const std::string& folder) {
  Fd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.get() >= 0 && fsync(fd.get()) == 0;
}

// Removes name inside the folder open as parent, a folder with everything in
// it, never following a symbolic link.
Outcome RemoveAt(int parent, const char* name) {
  if (unlinkat(parent, name, 0) == 0) return Outcome();
  int unlink_error = errno;
  if (unlink_error != EISDIR && unlink_error != EPERM) return Outcome::Errno();
  Fd folder(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get() < 0) {
    // Not a folder after all: the unlink's own reason is the one to show.
    return errno == ENOTDIR || errno == ELOOP ? Outcome{unlink_error, false} : Outcome::Errno();
  }
  int listing_fd = dup(folder.get());
  if (listing_fd < 0) return Outcome::Errno();
  std::unique_ptr<DIR, int (*)(DIR*)> listing(fdopendir(listing_fd), closedir);
  if (!listing) {
    close(listing_fd);
    return Outcome::Errno();
  }
  std::vector<std::string> names;
  if (!ListNames(listing.get(), &names)) return Outcome::Errno();
  for (const std::string& child : names) {
    Outcome removed = RemoveAt(folder.get(), child.c_str());
    if (!removed.ok()) return removed;
  }
  return unlinkat(parent, name, AT_REMOVEDIR) == 0 ? Outcome() : Outcome::Errno();
}

Outcome RemovePath(const std::string& path) {
  std::string folder = FolderOf(path);
  Fd parent(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (parent.get() < 0) return Outcome::Errno();
  std::string name = path.substr(path.rfind('/') + 1);
  return RemoveAt(parent.get(), name.c_str());
}

void SetTimes(int fd, const struct stat& source) {
  struct timespec times[2] = {source.st_atim, source.st_mtim};
  futimens(fd, times);  // a file system without times keeps the copy's own
}

class StepRunner {
 public:
  // flush: write copies through to the disk before they get their names
  // (when the source goes away afterwards, or an old file is replaced).
  StepRunner(FileOperationObserver* observer, std::size_t index, bool flush)
      : observer_(observer), index_(index), flush_(flush) {}

  // Copies the regular file open as in into out, block by block.
  Outcome CopyData(int in, int out) {
    bool kernel_copy = true;
    std::unique_ptr<char[]> buffer;
    for (;;) {
      if (observer_->Cancelled()) return Outcome::Cancel();
      ssize_t moved;
      if (kernel_copy) {
        moved = copy_file_range(in, nullptr, out, nullptr, kCopyBlockSize, 0);
        if (moved < 0 && bytes_ == 0 &&
            (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
             errno == EPERM)) {
          kernel_copy = false;
          continue;
        }
      } else {
        if (!buffer) buffer.reset(new char[kCopyBlockSize]);
        moved = read(in, buffer.get(), kCopyBlockSize);
        for (ssize_t written = 0; moved > 0 && written < moved;) {
          ssize_t n = write(out, buffer.get() + written, static_cast<std::size_t>(moved - written));
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) return n < 0 ? Outcome::Errno() : Outcome{EIO, false};
          written += n;
        }
      }
      if (moved < 0 && errno == EINTR) continue;
      if (moved < 0) return Outcome::Errno();
      if (moved == 0) return Outcome();
      bytes_ += static_cast<std::uint64_t>(moved);
      observer_->Progress(index_, bytes_);
    }
  }

  // Writes a copy of the regular file source at the new path target, which
  // must not exist (O_EXCL), with the source's mode bits and times, flushed.
  Outcome CopyFileContents(int source_fd, const struct stat& st, int target_fd) {
    Outcome copied = CopyData(source_fd, target_fd);
    if (!copied.ok()) return copied;
    if (fchmod(target_fd, st.st_mode & 07777) != 0) return Outcome::Errno();
    SetTimes(target_fd, st);
    if (flush_ && fsync(target_fd) != 0) return Outcome::Errno();
    return Outcome();
  }

  Outcome CopyFileTo(const std::string& source, const std::string& target, bool replace) {
    Fd in(open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.get() < 0) return Outcome::Errno();
    struct stat st;
    if (fstat(in.get(), &st) != 0) return Outcome::Errno();
    if (!S_ISREG(st.st_mode)) return Outcome{EOPNOTSUPP, false};
    std::string temporary = FolderOf(target) + "/.quindelo-copy-XXXXXX";
    Fd out(mkostemp(temporary.data(), O_CLOEXEC));
    if (out.get() < 0) return Outcome::Errno();
    Outcome result = CopyFileContents(in.get(), st, out.get());
    if (result.ok() && !out.Close()) result = Outcome::Errno();
    if (result.ok()) result = Publish(temporary, target, replace);
    if (!result.ok()) unlink(temporary.c_str());
    return result;
  }

  Outcome CopyLinkTo(const std::string& source, const std::string& target, bool replace) {
    std::vector<char> text(PATH_MAX + 1);
    ssize_t length = readlink(source.c_str(), text.data(), text.size());
    if (length < 0) return Outcome::Errno();
    if (static_cast<std::size_t>(length) >= text.size()) return Outcome{ENAMETOOLONG, false};
    std::string link_text(text.data(), static_cast<std::size_t>(length));
    std::string folder = FolderOf(target);
    for (int attempt = 0;; ++attempt) {
      std::string temporary = folder + "/.quindelo-link-" + std::to_string(getpid()) + "-" +
                              std::to_string(attempt);
      if (symlink(link_text.c_str(), temporary.c_str()) != 0) {
        if (errno == EEXIST && attempt < 1000) continue;
        return Outcome::Errno();
      }
      Outcome published = Publish(temporary, target, replace);
      if (!published.ok()) unlink(temporary.c_str());
      return published;
    }
  }

  // Copies the contents of folder source into the existing folder target.
  Outcome CopyFolderContents(const std::string& source, const std::string& target) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(source.c_str()), closedir);
    if (!listing) return Outcome::Errno();
    std::vector<std::string> names;
    if (!ListNames(listing.get(), &names)) return Outcome::Errno();
    listing.reset();
    for (const std::string& name : names) {
      std::string from = Join(source, name.c_str());
      std::string to = Join(target, name.c_str());
      struct stat st;
      if (lstat(from.c_str(), &st) != 0) return Outcome::Errno();
      Outcome result;
      if (S_ISDIR(st.st_mode)) {
        if (mkdir(to.c_str(), 0700) != 0) return Outcome::Errno();
        result = CopyFolderContents(from, to);
        if (result.ok()) result = FinishFolder(to, st);
      } else if (S_ISLNK(st.st_mode)) {
        result = CopyLinkTo(from, to, false);
      } else if (S_ISREG(st.st_mode)) {
        Fd in(open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (in.get() < 0) return Outcome::Errno();
        Fd out(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (out.get() < 0) return Outcome::Errno();
        result = CopyFileContents(in.get(), st, out.get());
        if (result.ok() && !out.Close()) result = Outcome::Errno();
      } else {
        result = Outcome{EOPNOTSUPP, false};  // devices, sockets and pipes hold no data to copy
      }
      if (!result.ok()) return result;
    }
    return Outcome();
  }

  Outcome FinishFolder(const std::string& folder, const struct stat& st) {
    Fd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return Outcome::Errno();
    if (fchmod(fd.get(), st.st_mode & 07777) != 0) return Outcome::Errno();
    SetTimes(fd.get(), st);
    return !flush_ || fsync(fd.get()) == 0 ? Outcome() : Outcome::Errno();
  }

  // Copies a folder as a whole: built under a temporary name beside target,
  // renamed once complete.
  Outcome CopyFolderTo(const std::string& source, const std::string& target) {
    struct stat st;
    if (lstat(source.c_str(), &st) != 0) return Outcome::Errno();
    std::string temporary = FolderOf(target) + "/.quindelo-copy-XXXXXX";
    if (mkdtemp(temporary.data()) == nullptr) return Outcome::Errno();
    Outcome result = CopyFolderContents(source, temporary);
    if (result.ok()) result = FinishFolder(temporary, st);
    if (result.ok()) result = Publish(temporary, target, false);
    if (!result.ok()) RemovePath(temporary);
    return result;
  }

  Outcome CopyAny(const PlannedStep& step, bool replace) {
    struct stat st;
    if (lstat(step.native_source.c_str(), &st) != 0) return Outcome::Errno();
    if (S_ISDIR(st.st_mode)) return CopyFolderTo(step.native_source, step.native_destination);
    if (S_ISLNK(st.st_mode)) return CopyLinkTo(step.native_source, step.native_destination, replace);
    return CopyFileTo(step.native_source, step.native_destination, replace);
  }

  Outcome Move(const PlannedStep& step, bool replace) {
    Outcome renamed = Publish(step.native_source, step.native_destination, replace);
    if (renamed.error != EXDEV) return renamed;
    // Another file system: a complete, flushed copy first, then the source goes.
    Outcome copied = CopyAny(step, replace);
    if (!copied.ok()) return copied;
    if (!SyncFolder(FolderOf(step.native_destination))) return Outcome::Errno();
    return RemovePath(step.native_source);
  }

 private:
  FileOperationObserver* observer_;
  std::size_t index_;
  bool flush_;
  std::uint64_t bytes_ = 0;
};

Outcome MakeFolders(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? Outcome() : Outcome{ENOTDIR, false};
  std::string parent = FolderOf(path);
  if (parent != path && parent != "." && parent != "/") {
    Outcome made = MakeFolders(parent);
    if (!made.ok()) return made;
  }
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return Outcome::Errno();
  return Outcome();
}

std::string FailureMessage(const PlannedStep& step, const Outcome& outcome) {
  std::string reason = outcome.error == EEXIST ? "it already exists" : strerror(outcome.error);
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

}  // namespace

FileOperationResult RunFileOperationPlan(const FileOperationPlan& plan, Trash* trash,
                                         FileOperationObserver* observer) {
  FileOperationResult result;
  for (std::size_t i = 0; i < plan.steps.size(); ++i) {
    const PlannedStep& step = plan.steps[i];
    if (step.action == StepAction::kSkip) continue;
    if (observer->Cancelled()) {
      result.stopped = true;
      break;
    }
    observer->Progress(i, 0);  // a new step begins
    bool replace = step.replaces_existing;
    if (replace && !observer->ConfirmReplace(step)) continue;
    StepRunner runner(observer, i, step.action != StepAction::kCopy || replace);
    Outcome outcome;
    switch (step.action) {
      case StepAction::kMakeFolder:
        outcome = MakeFolders(step.native_destination);
        break;
      case StepAction::kCopy:
        outcome = runner.CopyAny(step, replace);
        break;
      case StepAction::kMove:
      case StepAction::kRename:
        outcome = runner.Move(step, replace);
        break;
      case StepAction::kTrash: {
        std::string reason;
        if (trash->MoveToTrash(step.native_source, &reason)) break;
        if (!observer->ConfirmDeleteAfterTrashRefused(step, reason)) continue;
        outcome = RemovePath(step.native_source);
        break;
      }
      case StepAction::kDelete:
        outcome = RemovePath(step.native_source);
        break;
      case StepAction::kSkip:
        break;
    }
    if (outcome.cancelled) {
      result.stopped = true;
      break;
    }
    if (outcome.ok()) {
      ++result.done;
      continue;
    }
    ++result.failed;
    if (observer->Failed(step, FailureMessage(step, outcome)) == FailureAnswer::kStop) {
      result.stopped = true;
      break;
    }
  }
  return result;
}

}  // namespace quindelo::commands
