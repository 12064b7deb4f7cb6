// The drive table on Linux: letters mapped in the settings file, and the
// automatic drives read from /proc/self/mountinfo.
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "base/ascii.h"
#include "base/mutex.h"
#include "platform/drive_table.h"
#include "platform/mount_table.h"
#include "platform/settings_file.h"

namespace quindelo::platform {
namespace {

using Mount = MountEntry;

bool IsRealFileSystem(const std::string& t) {
  static const std::set<std::string> kReal = {
      "ext2", "ext3",  "ext4", "xfs",  "btrfs",  "vfat", "exfat", "msdos",      "ntfs",
      "ntfs3", "f2fs", "jfs",  "zfs",  "hfsplus", "hfs", "reiserfs", "iso9660", "udf",
      "nfs",  "nfs4",  "cifs", "smb3", "fuse.sshfs", "fuseblk"};
  return kReal.count(t) != 0;
}

bool IsNetworkFileSystem(const std::string& t) {
  return t == "nfs" || t == "nfs4" || t == "cifs" || t == "smb3" || t == "fuse.sshfs";
}

bool StartsWithFolder(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

std::atomic<std::uint64_t> g_tables_built{0};
std::atomic<std::uint64_t> g_types_worked_out{0};

bool IsRemovableDevice(unsigned major, unsigned minor) {
  // The partition's own folder has no "removable"; its disk (the parent) has.
  std::error_code ec;
  std::string dev = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
  auto real = std::filesystem::canonical(dev, ec);
  if (ec) return false;
  for (auto p = real; !p.empty() && p != p.root_path(); p = p.parent_path()) {
    std::ifstream f(p / "removable");
    int value = 0;
    if (f >> value) return value == 1;
  }
  return false;
}

std::uint32_t DriveTypeOf(const Mount& m) {
  g_types_worked_out.fetch_add(1, std::memory_order_relaxed);
  if (m.fs_type == "iso9660" || m.fs_type == "udf") return kDriveCdRom;
  if (IsNetworkFileSystem(m.fs_type)) return kDriveRemote;
  if (StartsWithFolder(m.point, "/media") || StartsWithFolder(m.point, "/run/media") ||
      IsRemovableDevice(m.major, m.minor))
    return kDriveRemovable;
  return kDriveFixed;
}

// /dev/disk/by-label names escape bytes as \xHH.
std::string UnescapeLabel(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
      out += static_cast<char>(std::strtol(s.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string LabelOf(std::uint64_t device) {
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/dev/disk/by-label", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    struct stat st;
    if (::stat(it->path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device)
      return UnescapeLabel(it->path().filename().string());
  }
  return {};
}

struct Slot {
  std::string root;
  const Mount* mount = nullptr;  // automatic drives only
  // Worked out when the table is built: telling a removable device takes a
  // walk under /sys, far too much for every path the window converts.
  std::uint32_t type = kDriveFixed;
};

Mutex g_process_drives_lock;
std::vector<std::pair<char, std::string>> g_process_drives GUARDED_BY(g_process_drives_lock);

// Builds the whole table: mapped letters first, then the automatic drives
// on the letters left free. The slots of automatic drives point into mounts.
std::array<Slot, 26> BuildTable(std::vector<Mount>* mounts) {
  std::array<Slot, 26> table;
  {
    MutexLock lock(&g_process_drives_lock);
    if (!g_process_drives.empty()) {
      for (const auto& [letter, folder] : g_process_drives) {
        int i = ascii::ToUpper(letter) - 'A';
        if (i >= 0 && i < 26) table[i].root = folder;
      }
      return table;
    }
  }
  std::array<std::string, 26> mapped;
  for (int i = 0; i < 26; ++i) {
    std::string folder;
    if (SettingsReadString("Drives", std::string(1, static_cast<char>('A' + i)), &folder) &&
        !folder.empty() && folder[0] == '/') {
      while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
      mapped[i] = folder;
      table[i].root = folder;
    }
  }
  std::int32_t automatic = 1;
  if (SettingsReadInt("Drives", "Auto", &automatic) && automatic == 0) return table;

  *mounts = ReadMountTable();
  const std::array<DriveSlot, 26> slots = AssignDrives(mapped, *mounts);
  for (int i = 0; i < 26; ++i) {
    table[i].root = slots[i].root;
    table[i].mount = slots[i].mount < 0 ? nullptr : &(*mounts)[slots[i].mount];
  }
  return table;
}

}  // namespace

std::array<DriveSlot, 26> AssignDrives(const std::array<std::string, 26>& mapped,
                                       const std::vector<MountEntry>& mounts) {
  std::array<DriveSlot, 26> table;
  for (int i = 0; i < 26; ++i) table[i].root = mapped[i];
  // assign(1, '/') rather than = "/": GCC 12 at -O3 warns falsely about the
  // literal's copy (GCC bug 105329).
  if (table[2].root.empty()) table[2].root.assign(1, '/');
  std::set<std::pair<unsigned, unsigned>> devices;
  std::vector<int> candidates;
  for (int k = 0; k < static_cast<int>(mounts.size()); ++k) {
    const Mount& m = mounts[k];
    if (m.point == "/") {
      devices.insert({m.major, m.minor});
      if (table[2].mount < 0 && table[2].root == "/") table[2].mount = k;
    }
  }
  for (int k = 0; k < static_cast<int>(mounts.size()); ++k)
    if (mounts[k].point != "/" && IsRealFileSystem(mounts[k].fs_type)) candidates.push_back(k);
  std::stable_sort(candidates.begin(), candidates.end(),
                   [&](int a, int b) { return mounts[a].point < mounts[b].point; });
  int next = 3;  // D:
  for (const int k : candidates) {
    const Mount& m = mounts[k];
    // A bind mount of a device already listed is reached through that drive.
    if (!devices.insert({m.major, m.minor}).second) continue;
    while (next < 26 && !table[next].root.empty()) ++next;
    if (next >= 26) break;
    table[next].root = m.point;
    table[next].mount = k;
    ++next;
  }
  return table;
}

namespace {

// The table as last built, with the mounts its slots point into. Building
// it reads the settings file and /proc/self/mountinfo, which costs far more
// than a lookup: the window turns a path into a native one for every row it
// draws. A table is used again while the settings file is the same file,
// unchanged, and for at most kMountsKeptFor after reading the mounts (a
// mount or unmount shows within that time); drives set for the process
// replace it at once.
struct TableSnapshot {
  std::vector<Mount> mounts;
  std::array<Slot, 26> table;
};

struct SettingsStamp {
  std::string path;
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;
  bool operator==(const SettingsStamp&) const = default;
};

SettingsStamp StampOfSettings() {
  SettingsStamp stamp;
  stamp.path = SettingsFilePath();
  struct stat st;
  if (::stat(stamp.path.c_str(), &st) != 0) return stamp;
  stamp.exists = true;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.modified_ns = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changed_ns = std::int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

constexpr auto kMountsKeptFor = std::chrono::seconds(1);

Mutex g_snapshot_lock;
std::shared_ptr<const TableSnapshot> g_snapshot GUARDED_BY(g_snapshot_lock);
SettingsStamp g_snapshot_stamp GUARDED_BY(g_snapshot_lock);
std::chrono::steady_clock::time_point g_snapshot_time GUARDED_BY(g_snapshot_lock);

// Counts the changes of the process's drives; a table built while one
// happened is not kept.
std::uint64_t g_generation GUARDED_BY(g_snapshot_lock) = 0;

void ForgetSnapshot() {
  MutexLock lock(&g_snapshot_lock);
  ++g_generation;
  g_snapshot.reset();
}

std::shared_ptr<const TableSnapshot> CurrentTable() {
  const SettingsStamp stamp = StampOfSettings();
  const auto now = std::chrono::steady_clock::now();
  std::uint64_t generation;
  {
    MutexLock lock(&g_snapshot_lock);
    if (g_snapshot && g_snapshot_stamp == stamp && now - g_snapshot_time < kMountsKeptFor)
      return g_snapshot;
    generation = g_generation;
  }
  auto snapshot = std::make_shared<TableSnapshot>();
  snapshot->table = BuildTable(&snapshot->mounts);
  for (Slot& slot : snapshot->table)
    if (slot.mount) slot.type = DriveTypeOf(*slot.mount);
  g_tables_built.fetch_add(1, std::memory_order_relaxed);
  MutexLock lock(&g_snapshot_lock);
  if (generation != g_generation) return snapshot;
  g_snapshot = snapshot;
  g_snapshot_stamp = stamp;
  g_snapshot_time = now;
  return snapshot;
}

std::uint32_t FoldSerial(const struct statvfs& vfs, std::uint64_t device) {
  std::uint64_t fsid = vfs.f_fsid;
  std::uint32_t serial = static_cast<std::uint32_t>(fsid) ^ static_cast<std::uint32_t>(fsid >> 32);
  if (serial == 0)
    serial = static_cast<std::uint32_t>(device) ^ static_cast<std::uint32_t>(device >> 32);
  return serial;
}

}  // namespace

DriveTableCounts DriveTableCountsSoFar() {
  DriveTableCounts counts;
  counts.tables_built = g_tables_built.load(std::memory_order_relaxed);
  counts.types_worked_out = g_types_worked_out.load(std::memory_order_relaxed);
  return counts;
}

void SetProcessDrives(const std::vector<std::pair<char, std::string>>& drives) {
  {
    MutexLock lock(&g_process_drives_lock);
    g_process_drives.clear();
    for (auto [letter, folder] : drives) {
      while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
      g_process_drives.emplace_back(letter, folder);
    }
  }
  ForgetSnapshot();
}

std::uint32_t LogicalDriveMask() {
  const auto snapshot = CurrentTable();
  const auto& table = snapshot->table;
  std::uint32_t mask = 0;
  for (int i = 0; i < 26; ++i)
    if (!table[i].root.empty()) mask |= 1u << i;
  return mask;
}

bool LookUpDrive(char letter, DriveEntry* entry, bool with_volume) {
  *entry = DriveEntry{};
  int index = ascii::ToUpper(letter) - 'A';
  if (index < 0 || index >= 26) return false;
  const auto snapshot = CurrentTable();
  const Slot& slot = snapshot->table[index];
  entry->letter = static_cast<char>('A' + index);
  if (slot.root.empty()) {
    entry->type = kDriveUnknown;
    return false;
  }
  entry->root = slot.root;
  struct stat st;
  if (::stat(slot.root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    entry->type = kDriveNoRootDir;
    return false;
  }
  entry->device = st.st_dev;
  entry->type = slot.type;
  if (slot.mount && entry->type == kDriveRemote) entry->remote_name = slot.mount->source;
  if (!with_volume) return true;
  struct statvfs vfs;
  if (::statvfs(slot.root.c_str(), &vfs) != 0 || ::access(slot.root.c_str(), R_OK | X_OK) != 0)
    return false;
  entry->serial = FoldSerial(vfs, st.st_dev);
  entry->label = LabelOf(st.st_dev);
  return true;
}

}  // namespace quindelo::platform
