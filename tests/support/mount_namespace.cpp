#include "support/mount_namespace.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <unistd.h>

namespace quindelo::test {
namespace {

bool Fail(const std::string& what, std::string* why) {
  *why = what + ": " + strerror(errno);
  return false;
}

bool WriteProcFile(const char* path, const std::string& text) {
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

}  // namespace

bool EnterPrivateMountNamespace(std::string* why) {
  if (geteuid() == 0) {
    if (unshare(CLONE_NEWNS) != 0) return Fail("unshare(CLONE_NEWNS)", why);
  } else {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
      return Fail("unshare(CLONE_NEWUSER | CLONE_NEWNS)", why);
    // Map this user to root inside, so that mounts are allowed there.
    WriteProcFile("/proc/self/setgroups", "deny");
    if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n"))
      return Fail("writing uid_map", why);
    if (!WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
      return Fail("writing gid_map", why);
  }
  // Nothing mounted here may reach the namespace the process came from.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return Fail("making / private", why);
  return true;
}

bool MountTmpfs(const std::string& native_folder, std::string* why) {
  return MountTmpfs(native_folder, std::size_t{64} << 20, why);
}

bool MountTmpfs(const std::string& native_folder, std::size_t size_bytes, std::string* why) {
  const std::string options = "size=" + std::to_string(size_bytes) + ",mode=0755";
  if (mount("tmpfs", native_folder.c_str(), "tmpfs", 0, options.c_str()) != 0)
    return Fail("mounting a tmpfs on " + native_folder, why);
  return true;
}

bool Unmount(const std::string& native_folder, std::string* why) {
  if (umount2(native_folder.c_str(), MNT_DETACH) != 0)
    return Fail("unmounting " + native_folder, why);
  return true;
}

bool BindMount(const std::string& native_source, const std::string& native_target,
               std::string* why) {
  if (mount(native_source.c_str(), native_target.c_str(), nullptr, MS_BIND, nullptr) != 0)
    return Fail("binding " + native_source + " on " + native_target, why);
  return true;
}

}  // namespace quindelo::test
