#include "platform/beneath.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <string>

namespace quindelo::platform {
namespace {

std::atomic<bool> g_no_openat2{false};      // the kernel answered ENOSYS
std::atomic<bool> g_walk_for_tests{false};

constexpr int kAlways = O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The error of a failed open of a folder by name: ELOOP when the name is a
// symbolic link (O_DIRECTORY | O_NOFOLLOW answers ENOTDIR for one).
int FolderOpenError(int parent, const char* name, int error) {
  struct stat st;
  if (error == ENOTDIR && fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode))
    return ELOOP;
  return error;
}

int WalkNameByName(int base_fd, std::string_view relative, int extra) {
  int fd = openat(base_fd, ".", extra | kAlways);
  if (fd < 0 || relative.empty()) return fd;
  std::string name;
  std::size_t at = 0;
  while (at <= relative.size()) {
    std::size_t slash = relative.find('/', at);
    if (slash == std::string_view::npos) slash = relative.size();
    name.assign(relative.substr(at, slash - at));
    const bool last = slash == relative.size();
    // Folders on the way are only named through; the last gets the caller's flags.
    int next = openat(fd, name.c_str(), (last ? extra : O_PATH) | kAlways);
    if (next < 0) {
      int error = FolderOpenError(fd, name.c_str(), errno);
      close(fd);
      errno = error;
      return -1;
    }
    close(fd);
    fd = next;
    at = slash + 1;
  }
  return fd;
}

bool AllNamesPlain(std::string_view relative) {
  if (relative.empty()) return true;
  std::size_t at = 0;
  for (;;) {
    std::size_t slash = relative.find('/', at);
    if (!IsPlainName(relative.substr(at, slash == std::string_view::npos ? slash : slash - at)))
      return false;
    if (slash == std::string_view::npos) return true;
    at = slash + 1;
  }
}

}  // namespace

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

int OpenFolderBeneath(int base_fd, std::string_view relative, int extra) {
  if (!AllNamesPlain(relative)) {
    errno = EINVAL;
    return -1;
  }
  if (relative.empty() || g_no_openat2.load(std::memory_order_relaxed) ||
      g_walk_for_tests.load(std::memory_order_relaxed))
    return WalkNameByName(base_fd, relative, extra);
  const std::string path(relative);
  struct open_how how = {};
  how.flags = static_cast<unsigned>(extra | kAlways);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  for (int attempt = 0;; ++attempt) {
    long fd = syscall(SYS_openat2, base_fd, path.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    // EAGAIN: a rename raced with the walk; ENOSYS or EPERM: no openat2
    // here (a kernel before 5.6, or a sandbox that filters it).
    if (errno == EAGAIN && attempt < 8) continue;
    if (errno == ENOSYS || errno == EPERM) {
      if (errno == ENOSYS) g_no_openat2.store(true, std::memory_order_relaxed);
      return WalkNameByName(base_fd, relative, extra);
    }
    if (errno == ENOTDIR) {
      // Which name is not a folder decides the reason: a link, or a file.
      // The walk name by name finds it (and fails the same way).
      return WalkNameByName(base_fd, relative, extra);
    }
    return -1;
  }
}

bool WalkNameByNameForTesting(bool on) { return g_walk_for_tests.exchange(on); }

}  // namespace quindelo::platform
