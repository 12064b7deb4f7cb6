// Files by identity: the device and inode number of what a native path
// names, and of every folder that holds a folder, so that "is this the same
// file" and "is this inside that folder" are answered by what is on the
// disk, not by how the paths are spelt (another drive letter, a symbolic
// link or ".." on the way, a second mount of the same folder).
//
// Thread-safe; no state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quindelo::platform {

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of what native_path names: its parent folders resolved
// (links among them followed), the entry itself not followed when it is a
// symbolic link. False when nothing is there.
bool EntryIdentity(const std::string& native_path, FileIdentity* identity);

// The identities of the folder native_folder (a link to it followed, as a
// file written into it would be) and of every folder that holds it, the
// folder itself first: its parents by ".." up to the root, and where one of
// them is the root of a mount of a subfolder (a bind mount), the parents of
// that subfolder in its own file system as well, when the mount table shows
// the file system mounted from higher up somewhere. False when native_folder
// is not a folder that can be opened, or holds more than 65,536 folders
// above it.
bool FolderHolders(const std::string& native_folder, std::vector<FileIdentity>* holders);

}  // namespace quindelo::platform
