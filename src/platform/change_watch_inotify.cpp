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

#include "platform/change_watch.h"

namespace quindelo::platform {
namespace {
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
constexpr int kMaxDepth = 256;
}  // namespace

ChangeNotification::ChangeNotification() {
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

bool ChangeNotification::AddWatch(const std::string& folder) {
  int wd = ::inotify_add_watch(inotify_fd_, folder.c_str(), kWatchMask);
  if (wd < 0) return errno != ENOSPC;  // ENOSPC: the watch limit is reached
  folders_[wd] = folder;
  return true;
}

bool ChangeNotification::AddTree(const std::string& folder, int depth) {
  if (cancelled_ || depth > kMaxDepth) return !cancelled_;
  if (!AddWatch(folder)) return false;
  struct stat top;
  if (::lstat(folder.c_str(), &top) != 0) return true;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return true;
  bool ok = true;
  while (struct dirent* e = ::readdir(dir)) {
    const char* n = e->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN) continue;
    std::string child = folder;
    if (child != "/") child += '/';
    child += n;
    struct stat st;
    // Folders only, never through links, and not onto other file systems.
    if (::lstat(child.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_dev != top.st_dev)
      continue;
    if (!AddTree(child, depth + 1)) {
      ok = false;
      break;
    }
  }
  ::closedir(dir);
  return ok;
}

bool ChangeNotification::Start(const std::string& native_folder) {
  if (cancel_fd_ < 0) return false;
  inotify_fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (inotify_fd_ < 0) return false;
  struct stat st;
  if (::stat(native_folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return AddTree(native_folder, 0) && !cancelled_;
}

ChangeNotification::WaitResult ChangeNotification::Wait(int timeout_ms) {
  if (cancelled_) return WaitResult::kCancelled;
  if (inotify_fd_ < 0) return WaitResult::kFailed;
  struct pollfd fds[2] = {{inotify_fd_, POLLIN, 0}, {cancel_fd_, POLLIN, 0}};
  int n = ::poll(fds, 2, timeout_ms);
  if (cancelled_) return WaitResult::kCancelled;
  if (n < 0) return errno == EINTR ? WaitResult::kTimeout : WaitResult::kFailed;
  if (n == 0) return WaitResult::kTimeout;
  if (!(fds[0].revents & POLLIN)) return WaitResult::kFailed;
  alignas(struct inotify_event) char buffer[16384];
  bool failed = false;
  for (;;) {
    ssize_t got = ::read(inotify_fd_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(struct inotify_event)) <= got;) {
      struct inotify_event ev;
      std::memcpy(&ev, buffer + at, sizeof ev);
      const char* name = buffer + at + sizeof(struct inotify_event);
      if (ev.mask & IN_Q_OVERFLOW) {
        // Events were lost; the change itself is still reported.
      } else if ((ev.mask & IN_CREATE || ev.mask & IN_MOVED_TO) && (ev.mask & IN_ISDIR) && ev.len) {
        auto it = folders_.find(ev.wd);
        if (it != folders_.end()) {
          std::string child = it->second;
          if (child != "/") child += '/';
          child += name;
          if (!AddTree(child, 0)) failed = true;
        }
      } else if (ev.mask & IN_IGNORED) {
        folders_.erase(ev.wd);
      }
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + ev.len);
    }
  }
  // Even when the limit was hit while adding new folders, this change counts;
  // the next wait reports the failure.
  if (failed) {
    ::close(inotify_fd_);
    inotify_fd_ = -1;
  }
  return WaitResult::kChanged;
}

}  // namespace quindelo::platform
