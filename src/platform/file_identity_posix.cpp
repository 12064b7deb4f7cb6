#include "platform/file_identity.h"
#include "platform/mount_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

namespace quindelo::platform {
namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr std::size_t kMostFolders = 65536;

struct Opened {
  FileIdentity identity;
  std::uint64_t mount_id = 0;
};

bool Look(int fd, Opened* out) {
  struct statx sx;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_MNT_ID, &sx) != 0) return false;
  out->identity.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  out->identity.inode = sx.stx_ino;
  out->mount_id = (sx.stx_mask & STATX_MNT_ID) != 0 ? sx.stx_mnt_id : 0;
  return true;
}

using Mount = MountEntry;

// Whether folder path inside a file system lies strictly below ancestor.
bool StrictlyBelow(const std::string& path, const std::string& ancestor) {
  if (ancestor == "/") return path != "/";
  return path.size() > ancestor.size() && path.compare(0, ancestor.size(), ancestor) == 0 &&
         path[ancestor.size()] == '/';
}

// The folder open as root_of_mount (the root of mount mount_id, with
// identity) reached through another mount of its file system whose root
// lies higher up, so that ".." from there leads to its real parent. An
// invalid Fd when the mount table shows none.
Fd ThroughWiderMount(std::uint64_t mount_id, const FileIdentity& identity,
                     std::optional<std::vector<Mount>>* mounts) {
  if (!*mounts) *mounts = ReadMountTable();
  auto self = std::find_if((*mounts)->begin(), (*mounts)->end(),
                           [&](const Mount& m) { return m.id == mount_id; });
  if (self == (*mounts)->end() || self->root == "/") return Fd();
  std::vector<const Mount*> wider;
  for (const Mount& m : **mounts)
    if (m.major == self->major && m.minor == self->minor && StrictlyBelow(self->root, m.root))
      wider.push_back(&m);
  std::sort(wider.begin(), wider.end(),
            [](const Mount* a, const Mount* b) { return a->root.size() < b->root.size(); });
  for (const Mount* m : wider) {
    std::string path = m->point;
    if (path.empty() || path.back() != '/') path += '/';
    path += self->root.substr(m->root == "/" ? 1 : m->root.size() + 1);
    Fd fd(open(path.c_str(), kFolderFlags));
    Opened seen;
    if (fd.get() >= 0 && Look(fd.get(), &seen) && seen.identity == identity) return fd;
  }
  return Fd();
}

}  // namespace

bool EntryIdentity(const std::string& native_path, FileIdentity* identity) {
  struct stat st;
  if (lstat(native_path.c_str(), &st) != 0) return false;
  identity->device = st.st_dev;
  identity->inode = st.st_ino;
  return true;
}

bool FolderHolders(const std::string& native_folder, std::vector<FileIdentity>* holders) {
  holders->clear();
  std::vector<Fd> starts;
  starts.emplace_back(open(native_folder.c_str(), kFolderFlags));
  if (starts.back().get() < 0) return false;
  std::optional<std::vector<Mount>> mounts;  // read at the first bind mount met
  while (!starts.empty()) {
    Fd folder = std::move(starts.back());
    starts.pop_back();
    Opened here;
    if (!Look(folder.get(), &here)) return !holders->empty();
    while (std::find(holders->begin(), holders->end(), here.identity) == holders->end()) {
      if (holders->size() >= kMostFolders) return false;
      holders->push_back(here.identity);
      Fd parent(openat(folder.get(), "..", kFolderFlags));
      Opened above;
      if (parent.get() < 0 || !Look(parent.get(), &above) || above.identity == here.identity)
        break;  // the root
      if (above.mount_id != here.mount_id) {
        // here is the root of a mount: by ".." the walk goes on to where it
        // is mounted; its real parent is reached through a wider mount.
        Fd wide = ThroughWiderMount(here.mount_id, here.identity, &mounts);
        if (wide.get() >= 0) {
          Fd real_parent(openat(wide.get(), "..", kFolderFlags));
          if (real_parent.get() >= 0) starts.push_back(std::move(real_parent));
        }
      }
      folder = std::move(parent);
      here = above;
    }
  }
  return true;
}

}  // namespace quindelo::platform
