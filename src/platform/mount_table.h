// The mounts this process sees, as /proc/self/mountinfo lists them.
//
// Thread-safety: ReadMountTable keeps no state; it may run on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quindelo::platform {

struct MountEntry {
  std::uint64_t id = 0;     // the mount's id (statx's stx_mnt_id)
  unsigned major = 0, minor = 0;  // the device of the mounted file system
  std::string root;         // the mounted folder, as a path inside its file system
  std::string point;        // where it is mounted
  std::string fs_type;      // "ext4", "tmpfs", "nfs4", ...
  std::string source;       // the device or share mounted ("/dev/sda1", "host:/export")
};

// Every mount in the order the kernel lists them (parents before the
// mounts on top of them); lines that cannot be read are left out, and an
// unreadable table gives none.
std::vector<MountEntry> ReadMountTable();

// The same over the text of a mountinfo file (ReadMountTable reads
// /proc/self/mountinfo and hands it here).
std::vector<MountEntry> ParseMountTable(const std::string& text);

// A field of the table with its escapes (\ooo, written for blanks, tabs,
// newlines and backslashes) turned back into the characters.
std::string UnescapeMountField(const std::string& field);

}  // namespace quindelo::platform
