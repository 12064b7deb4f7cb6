// Change notification on inotify.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/change_watch.h"

namespace quindelo::platform {
namespace {
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}
}  // namespace

ChangeNotification::ChangeNotification() : ChangeNotification(Options()) {}

ChangeNotification::ChangeNotification(const Options& options) : options_(options) {
  cancel_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

ChangeNotification::~ChangeNotification() {
  if (inotify_fd_ >= 0) ::close(inotify_fd_);
  if (cancel_fd_ >= 0) ::close(cancel_fd_);
}

void ChangeNotification::Cancel() {
  cancelled_ = true;
  if (cancel_fd_ >= 0) {
    std::uint64_t one = 1;
    (void)!::write(cancel_fd_, &one, sizeof one);
  }
}

void ChangeNotification::AddTree(const std::string& top) {
  std::vector<std::string> pending{top};
  while (!pending.empty() && !cancelled_) {
    std::string rel = std::move(pending.back());
    pending.pop_back();
    const std::string native = root_ + rel;
    // Opened without following a link, so that only a folder of the tree is
    // listed for its subfolders.
    const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      // Gone, or a link: nothing to watch. Anything else (no permission, a
      // path too long) leaves a folder that is there but not watched.
      if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) unwatched_.insert(rel);
      continue;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_dev != root_device_) {
      ::close(fd);
      continue;
    }
    int wd = -1;
    if (options_.watch_limit == 0 || watches_.size() < options_.watch_limit)
      wd = ::inotify_add_watch(inotify_fd_, native.c_str(), kWatchMask);
    if (wd < 0) {
      ::close(fd);
      unwatched_.insert(rel);
      continue;
    }
    // The same folder watched before under another path (moved) keeps its
    // descriptor: only its path changes.
    auto known = folders_.find(wd);
    if (known != folders_.end() && known->second->first != rel) {
      watches_.erase(known->second);
      folders_.erase(known);
    }
    auto same_path = watches_.find(rel);
    if (same_path != watches_.end() && same_path->second != wd) folders_.erase(same_path->second);
    folders_[wd] = watches_.insert_or_assign(rel, wd).first;
    unwatched_.erase(rel);
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
      ::close(fd);
      continue;
    }
    while (struct dirent* e = ::readdir(dir)) {
      const char* n = e->d_name;
      if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
      if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN) continue;
      if (std::strchr(n, '\\')) continue;
      pending.push_back(rel + n + "/");
    }
    ::closedir(dir);
  }
}

void ChangeNotification::RemoveTree(const std::string& rel) {
  for (auto it = watches_.lower_bound(rel); it != watches_.end() && StartsWith(it->first, rel);) {
    ::inotify_rm_watch(inotify_fd_, it->second);
    folders_.erase(it->second);
    it = watches_.erase(it);
  }
  for (auto it = unwatched_.lower_bound(rel);
       it != unwatched_.end() && StartsWith(*it, rel);)
    it = unwatched_.erase(it);
}

bool ChangeNotification::Start(const std::string& native_folder) {
  if (cancel_fd_ < 0) return false;
  MutexLock lock(&lock_);
  if (inotify_fd_ >= 0) return false;
  inotify_fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (inotify_fd_ < 0) return false;
  struct stat st;
  if (::stat(native_folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  root_device_ = st.st_dev;
  root_ = native_folder;
  if (root_.empty() || root_.back() != '/') root_ += '/';
  // The root is the folder the caller chose: a link to it is followed.
  const int wd = ::inotify_add_watch(inotify_fd_, root_.c_str(),
                                     kWatchMask & ~static_cast<std::uint32_t>(IN_DONT_FOLLOW));
  if (wd < 0) return false;
  folders_[wd] = watches_.emplace("", wd).first;
  // The subfolders, through AddTree, which skips the root it finds watched.
  DIR* dir = ::opendir(root_.c_str());
  if (dir) {
    std::vector<std::string> children;
    while (struct dirent* e = ::readdir(dir)) {
      const char* n = e->d_name;
      if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
      if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN) continue;
      if (std::strchr(n, '\\')) continue;
      children.push_back(std::string(n) + "/");
    }
    ::closedir(dir);
    for (const std::string& child : children) AddTree(child);
  }
  return !cancelled_;
}

bool ChangeNotification::ReadEvents() {
  if (inotify_fd_ < 0) return false;
  alignas(struct inotify_event) char buffer[16384];
  bool any = false;
  for (;;) {
    const ssize_t got = ::read(inotify_fd_, buffer, sizeof buffer);
    if (got <= 0) break;
    any = true;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(struct inotify_event)) <= got;) {
      struct inotify_event ev;
      std::memcpy(&ev, buffer + at, sizeof ev);
      const char* name = buffer + at + sizeof(struct inotify_event);
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + ev.len);
      if (ev.mask & IN_Q_OVERFLOW) {
        changes_.overflowed = true;
        continue;
      }
      auto it = folders_.find(ev.wd);
      if (it == folders_.end()) continue;
      const std::string rel = it->second->first;
      if (ev.mask & IN_IGNORED) {
        watches_.erase(it->second);
        folders_.erase(it);
        continue;
      }
      if (ev.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
        // Its parent reports the name; the root has none to report it.
        if (rel.empty()) changes_.trees.insert(rel);
        continue;
      }
      if (ev.len == 0) continue;
      const std::size_t length = ::strnlen(name, ev.len);
      const std::string entry(name, length);
      if (entry.find('\\') != std::string::npos) continue;
      changes_.folders.insert(rel);
      if (!(ev.mask & IN_ISDIR)) continue;
      const std::string child = rel + entry + "/";
      changes_.trees.insert(child);
      RemoveTree(child);
      if (ev.mask & (IN_CREATE | IN_MOVED_TO)) AddTree(child);
    }
  }
  return any;
}

void ChangeNotification::Drain() {
  MutexLock lock(&lock_);
  ReadEvents();
}

ChangeNotification::Changes ChangeNotification::TakeChanges() {
  MutexLock lock(&lock_);
  Changes out;
  std::swap(out, changes_);
  return out;
}

std::vector<std::string> ChangeNotification::unwatched() const {
  MutexLock lock(&lock_);
  return std::vector<std::string>(unwatched_.begin(), unwatched_.end());
}

std::size_t ChangeNotification::watch_count() const {
  MutexLock lock(&lock_);
  return watches_.size();
}

ChangeNotification::WaitResult ChangeNotification::Wait(int timeout_ms) {
  if (cancelled_) return WaitResult::kCancelled;
  {
    MutexLock lock(&lock_);
    if (inotify_fd_ < 0) return WaitResult::kFailed;
  }
  struct pollfd fds[2] = {{inotify_fd_, POLLIN, 0}, {cancel_fd_, POLLIN, 0}};
  const int n = ::poll(fds, 2, timeout_ms);
  if (cancelled_) return WaitResult::kCancelled;
  if (n < 0) return errno == EINTR ? WaitResult::kTimeout : WaitResult::kFailed;
  if (n == 0) return WaitResult::kTimeout;
  if (fds[0].revents & (POLLERR | POLLNVAL)) return WaitResult::kFailed;
  MutexLock lock(&lock_);
  // Another thread may have drained the events meanwhile.
  ReadEvents();
  return WaitResult::kChanged;
}

}  // namespace quindelo::platform
