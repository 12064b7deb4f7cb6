// The drive table: which drive letters exist on this machine and what they
// are. Letters come from the settings section "Drives" (a value named by a
// letter whose string is an absolute folder makes that letter a drive rooted
// there) and, unless the integer value "Auto" there is 0, from the mount
// table: C: is "/", and every other mounted real file system takes the next
// free letter from D: in order of mount point.
//
// Thread-safe. The table is built from the settings and the mount table and
// kept while the settings file is unchanged, for at most a second after the
// mounts were read; the type of each automatic drive is worked out once per
// build, not at each lookup.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quindelo::platform {

struct MountEntry;

// Drive types as the rest of the system reads them.
inline constexpr std::uint32_t kDriveUnknown = 0;
inline constexpr std::uint32_t kDriveNoRootDir = 1;
inline constexpr std::uint32_t kDriveRemovable = 2;
inline constexpr std::uint32_t kDriveFixed = 3;
inline constexpr std::uint32_t kDriveRemote = 4;
inline constexpr std::uint32_t kDriveCdRom = 5;
inline constexpr std::uint32_t kDriveRamDisk = 6;

struct DriveEntry {
  char letter = 0;           // 'A'..'Z'
  std::string root;          // native root folder, no trailing slash except "/"
  std::uint32_t type = kDriveUnknown;
  std::string remote_name;   // mount source of a network drive
  std::string label;         // file system label, or empty
  std::uint32_t serial = 0;  // volume serial number
  std::uint64_t device = 0;  // st_dev of the root folder
};

// Replaces the whole table for this process (not the settings file): only
// the given letters are drives, rooted at the given native folders, and the
// automatic drives are off. An empty list restores the normal table.
// Used by the command-line finder's --drive option.
void SetProcessDrives(const std::vector<std::pair<char, std::string>>& drives);

// How often, in this process so far, the table was built and the type of
// an automatic drive was worked out from the system (for tests and
// benchmarks, which compare two readings).
struct DriveTableCounts {
  std::uint64_t tables_built = 0;
  std::uint64_t types_worked_out = 0;
};
DriveTableCounts DriveTableCountsSoFar();

// One letter of the table: its native root ("" when the letter is no drive)
// and, for an automatic drive, the index in the mount table of its mount
// (-1 for none).
struct DriveSlot {
  std::string root;
  int mount = -1;
};

// The automatic part of the table, over a mount table (in the kernel's
// order) and the letters mapped already (mapped[i] the root of letter
// 'A' + i, or empty): C: is "/" unless mapped, and takes the mount of "/"
// when it is "/"; every other mount of a real file system, pseudo and
// virtual ones (proc, tmpfs, overlay, squashfs, ...) left out, takes the
// next free letter from D: in order of mount point, except a bind mount of
// a device already listed (the root's included). Mapped letters stay as
// they are. Thread-safe (no state).
std::array<DriveSlot, 26> AssignDrives(const std::array<std::string, 26>& mapped,
                                       const std::vector<MountEntry>& mounts);

// Bit n set when drive letter 'A' + n exists (GetLogicalDrives).
std::uint32_t LogicalDriveMask();

// Looks up one letter (either case). Type is kDriveNoRootDir when the letter
// is mapped but its root folder is missing, kDriveUnknown when the letter is
// not a drive. With volume set, the label, serial and device are read as
// well, and the call fails when they cannot be (the root is unreadable).
bool LookUpDrive(char letter, DriveEntry* entry, bool with_volume);

}  // namespace quindelo::platform
