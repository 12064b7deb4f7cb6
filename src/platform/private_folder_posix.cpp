#include "platform/private_folder.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quindelo::platform {
namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool IsPrivateFolder(const std::string& path, uid_t uid) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return false;
  return S_ISDIR(status.st_mode) && status.st_uid == uid && (status.st_mode & 07777) == 0700;
}

std::string PrivateRuntimeFolder(const char* runtime_dir) {
  const uid_t uid = getuid();
  if (runtime_dir != nullptr && runtime_dir[0] == '/') {
    std::string folder = WithoutTrailingSlashes(runtime_dir);
    if (IsPrivateFolder(folder, uid)) return folder;
  }
  const char* temporary = getenv("TMPDIR");
  std::string base = temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp";
  std::string folder =
      WithoutTrailingSlashes(base) + "/quindelo-runtime-" + std::to_string(static_cast<long>(uid));
  if (mkdir(folder.c_str(), 0700) == 0) {
    chmod(folder.c_str(), 0700);  // whatever the umask took away
  } else if (errno != EEXIST) {
    return std::string();
  }
  return IsPrivateFolder(folder, uid) ? folder : std::string();
}

}  // namespace quindelo::platform
