// The automatic drive table over mountinfo text: which mounts become drives
// and on which letters. C: is "/", real file systems take D:, E:, ... in
// order of mount point whatever order the kernel lists them in, names come
// back from their escapes, pseudo file systems and bind mounts of a device
// already listed are left out, and letters mapped in the settings are kept.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "platform/drive_table.h"
#include "platform/mount_table.h"

namespace quindelo::platform {
namespace {

// "C:/ D:/data ...": every letter that is a drive, with its root.
std::string Letters(const std::array<DriveSlot, 26>& table) {
  std::string out;
  for (int i = 0; i < 26; ++i) {
    if (table[i].root.empty()) continue;
    if (!out.empty()) out += ' ';
    out += std::string(1, static_cast<char>('A' + i)) + ":" + table[i].root;
  }
  return out;
}

// One mountinfo line: id, parent, device, root, point, options, "-", type, source.
std::string Line(int id, const char* device, const char* point, const char* type,
                 const char* source, const char* root = "/") {
  return std::to_string(id) + " 1 " + device + " " + root + " " + point +
         " rw,relatime shared:1 - " + type + " " + source + " rw\n";
}

TEST(DriveTable, AutomaticLettersFromMountinfoText) {
  const std::string root = Line(21, "8:1", "/", "ext4", "/dev/sda1");
  struct Case {
    const char* what;
    std::string mountinfo;
    std::array<std::string, 26> mapped;
    std::string letters;
  };
  std::array<std::string, 26> none{};
  std::array<std::string, 26> d_mapped{};
  d_mapped[3] = "/srv/mine";
  std::array<std::string, 26> c_mapped{};
  c_mapped[2] = "/home";
  const Case cases[] = {
      {"the root alone", root, none, "C:/"},
      {"letters go by mount point, not by the kernel's order",
       root + Line(30, "8:17", "/mnt/zeta", "xfs", "/dev/sdb1") +
           Line(31, "8:33", "/data", "btrfs", "/dev/sdc1") +
           Line(32, "8:49", "/mnt/alpha", "vfat", "/dev/sdd1"),
       none, "C:/ D:/data E:/mnt/alpha F:/mnt/zeta"},
      {"escapes in the mount point", root + Line(30, "8:17", "/media/ann/My\\040Disk", "exfat",
                                                 "/dev/sdb1"),
       none, "C:/ D:/media/ann/My Disk"},
      {"pseudo and virtual file systems are left out",
       root + Line(40, "0:5", "/proc", "proc", "proc") + Line(41, "0:21", "/sys", "sysfs", "sysfs") +
           Line(42, "0:6", "/dev", "devtmpfs", "udev") + Line(43, "0:24", "/run", "tmpfs", "tmpfs") +
           Line(44, "0:25", "/sys/fs/cgroup", "cgroup2", "cgroup2") +
           Line(45, "0:40", "/var/lib/docker/overlay2/x/merged", "overlay", "overlay") +
           Line(46, "7:0", "/snap/core/1", "squashfs", "/dev/loop0") +
           Line(47, "0:26", "/dev/pts", "devpts", "devpts") +
           Line(48, "8:17", "/home", "ext4", "/dev/sdb1"),
       none, "C:/ D:/home"},
      {"a bind mount of a listed device is reached through its drive",
       root + Line(30, "8:17", "/data", "ext4", "/dev/sdb1") +
           Line(31, "8:17", "/srv/data", "ext4", "/dev/sdb1", "/sub") +
           Line(32, "8:1", "/mnt/rootbind", "ext4", "/dev/sda1", "/var"),
       none, "C:/ D:/data"},
      {"network file systems are drives", root + Line(50, "0:51", "/net/share", "nfs4",
                                                      "host:/export"),
       none, "C:/ D:/net/share"},
      {"a mapped letter is kept and the next free one taken",
       root + Line(30, "8:17", "/data", "ext4", "/dev/sdb1"), d_mapped,
       "C:/ D:/srv/mine E:/data"},
      {"C: mapped elsewhere leaves / without a letter",
       root + Line(30, "8:17", "/data", "ext4", "/dev/sdb1"), c_mapped, "C:/home D:/data"},
      {"lines that cannot be read are skipped",
       root + "garbage\n31 1 8:17\n" + Line(32, "8:33", "/data", "ext4", "/dev/sdc1"), none,
       "C:/ D:/data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<MountEntry> mounts = ParseMountTable(c.mountinfo);
    const std::array<DriveSlot, 26> table = AssignDrives(c.mapped, mounts);
    EXPECT_EQ(Letters(table), c.letters);
    // Every automatic letter points at the mount it came from.
    for (int i = 3; i < 26; ++i) {
      if (table[i].mount < 0) continue;
      ASSERT_LT(table[i].mount, static_cast<int>(mounts.size()));
      EXPECT_EQ(mounts[table[i].mount].point, table[i].root);
    }
  }
}

TEST(DriveTable, MoreMountsThanLettersStopAtZ) {
  std::string text = Line(21, "8:1", "/", "ext4", "/dev/sda1");
  for (int i = 0; i < 30; ++i) {
    const std::string device = "9:" + std::to_string(i);
    const std::string point = "/m/" + std::string(1, static_cast<char>('a' + i / 10)) +
                              std::to_string(i % 10);
    text += Line(100 + i, device.c_str(), point.c_str(), "ext4", "/dev/x");
  }
  const std::array<DriveSlot, 26> table = AssignDrives({}, ParseMountTable(text));
  EXPECT_EQ(table[3].root, "/m/a0");
  EXPECT_EQ(table[25].root, "/m/c2");  // D: to Z: is 23 letters
  EXPECT_EQ(table[0].root, "");
}

}  // namespace
}  // namespace quindelo::platform
