// Folder enumeration and file attributes, in the terms the rest of the
// system works with: attribute bits and times as 64-bit counts of 100 ns
// since 1 January 1601 UTC.
//
// Linux names map to attributes as follows: a name that starts with a dot is
// hidden; a folder (never a link to one) has kFileAttributeDirectory; a file
// without write permission for its owner is read-only; every other entry is
// archive. There are no system or temporary attributes. Links are never
// followed. Names holding a backslash cannot be written as drive paths and
// are left out of every enumeration.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace quindelo::platform {

class File;  // file.h
class FolderEnumerator;

inline constexpr std::uint32_t kFileAttributeReadOnly = 0x1;
inline constexpr std::uint32_t kFileAttributeHidden = 0x2;
inline constexpr std::uint32_t kFileAttributeSystem = 0x4;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;
inline constexpr std::uint32_t kFileAttributeArchive = 0x20;
inline constexpr std::uint32_t kFileAttributeTemporary = 0x100;

// 100 ns units between 1601-01-01 and 1970-01-01.
inline constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

struct FindData {
  std::string name;
  std::uint32_t attributes = 0;
  std::uint64_t creation_time = 0;    // birth time; nonzero stand-in when unknown
  std::uint64_t last_write_time = 0;  // modification time
  std::uint64_t size = 0;
  std::uint64_t device = 0;  // file system the entry lives on
  bool is_link = false;
  bool is_special = false;  // FIFO, socket or device: never to be opened
};

// Fills data for the entry at path itself (folder or file), without following
// a final link. False when the path does not exist or cannot be examined.
bool GetFindData(const std::string& native_path, FindData* data);

// What a walk needs of a folder to tell whether it changed since it was last
// listed: its times and its file system, the same values GetFindData gives.
struct FolderTimes {
  std::uint64_t creation_time = 0;    // birth time; nonzero stand-in when unknown
  std::uint64_t last_write_time = 0;  // modification time
  std::uint64_t device = 0;           // file system the entry lives on
};

// The times of the entry at path itself (a final link is not followed), as
// GetFindData fills them, at the cost of one status call that asks the file
// system for the times alone and builds no name. False when the path does
// not exist or cannot be examined.
bool GetFolderTimes(const std::string& native_path, FolderTimes* times);

// The folders of a depth-first walk below one root folder, each reached
// from the folder above it by its name alone: never through a symbolic link
// and never onto another file system than the root's. A folder swapped for
// a link (to a folder outside the root, say) at any moment of the walk is
// neither examined nor listed, and neither is anything below it; so nothing
// outside the root is reached through the names of the walk.
//
// The folders on the path of the last call stay open (at most
// kMaxOpenFolders; below the deepest of them a path is resolved from it in
// one step), so that each folder of a walk costs the lookup of one name.
// Paths are native and absolute: the root itself, or a path below it, with
// or without a final slash. Not thread-safe; one walk per object.
class FolderWalk {
 public:
  static constexpr std::size_t kMaxOpenFolders = 64;

  FolderWalk() = default;
  ~FolderWalk();
  FolderWalk(const FolderWalk&) = delete;
  FolderWalk& operator=(const FolderWalk&) = delete;

  // Opens the root folder (links on the way to it are followed: the root is
  // the folder the caller chose) and lets go of any earlier one. False when
  // it cannot be opened; every call below then fails.
  bool Start(const std::string& native_root);

  // The times and the file system of the folder at native_path, as
  // GetFolderTimes gives them. False when it cannot be examined, is no folder
  // (a link to one included), or when a folder on its way is a link, is no
  // folder or lies on another file system than the root. With entering (the
  // walk expects to go below the folder next), the folder is opened at once
  // and its times are read from the open folder, which the walk's next
  // steps start from; the answers are the same.
  bool GetTimes(const std::string& native_path, FolderTimes* times, bool entering = false);

  // Opens the folder at native_path for listing through folder (as
  // FolderEnumerator::Open), under the rules of GetTimes; a folder on
  // another file system than the root is not opened either.
  bool OpenListing(const std::string& native_path, FolderEnumerator* folder);

 private:
  struct Held {
    std::size_t length;  // of the folder's path below the root, its final slash included
    int fd;              // the folder, opened with O_PATH
  };
  // The open folder for rel ("a/b/", or "" for the root), from the deepest
  // held folder on its way; -1 (errno set) when it cannot be reached.
  int Folder(const std::string& rel);
  // Holds fd as the folder for rel, letting go of the deepest held folder
  // first at the limit.
  void Hold(const std::string& rel, int fd);
  // Splits native_path into the path below the root of its folder (ending
  // in a slash, or empty) and its name (empty for the root). False when the
  // path does not lie below the root.
  bool Split(const std::string& native_path, std::string* folder, std::string* name) const;
  void LetGoBeyond(std::size_t length);  // closes the held folders longer than length

  std::string root_;  // with a final slash
  int root_fd_ = -1;
  std::uint64_t root_device_ = 0;
  std::uint64_t root_inode_ = 0;
  std::string held_path_;  // the path below the root of the deepest held folder
  std::vector<Held> held_;
  std::string folder_, name_;  // kept for the next call, so that a walk does not allocate
};

// Regular files below one root folder opened for reading, each reached from
// the root by the names of its folders, never through a symbolic link and
// never onto another file system than the root's: a file whose folder was
// swapped for a link is not read. The file's own name is not followed
// either: a link is never opened, whatever it leads to. Only a regular file
// is ever opened (a FIFO, socket, device or folder is refused before the
// open: opening a FIFO waits for a writer, opening a device can act on it),
// and the open file is checked once more, so that an entry swapped for
// anything else meanwhile is not read. The folder of the last file stays
// open, so that consecutive files of one folder cost one lookup each; a file
// costs one examination, one open and one check. Not thread-safe; one object
// per thread.
class FilesBelowRoot {
 public:
  FilesBelowRoot() = default;
  ~FilesBelowRoot();
  FilesBelowRoot(const FilesBelowRoot&) = delete;
  FilesBelowRoot& operator=(const FilesBelowRoot&) = delete;

  // Makes native_root the root (links on the way to it are followed), unless
  // it already is. Fails when it cannot be opened.
  Status SetRoot(const std::string& native_root);

  // Opens the file at native_path (absolute, below the root) into *file and
  // sets *size to its size as the open file's check found it. Fails when it
  // cannot be opened under these rules, or with EXDEV when it lies outside
  // the root.
  Status OpenForReading(const std::string& native_path, File* file, std::uint64_t* size);

  // Lets go of the root and the open folder; the next SetRoot opens it again.
  void Close();

 private:
  void CloseFolder();

  std::string root_;  // with a final slash
  int root_fd_ = -1;
  std::uint64_t root_device_ = 0;
  std::string folder_;  // below the root, ending in a slash: the folder open as folder_fd_
  int folder_fd_ = -1;
};

// GetFileAttributes: false when the path does not exist.
bool GetFileAttributes(const std::string& native_path, std::uint32_t* attributes);

// Tells whether entries are still there, for many paths in a row. An entry
// is gone when it is missing itself (a final link is not followed), or a
// folder on its way is missing or is no folder; an entry that exists but
// cannot be examined (a folder on the way denies search permission) is not
// gone. The folder of the last path stays open, so that consecutive entries
// of one folder cost one short lookup each. One checker per thread.
class EntryChecker {
 public:
  EntryChecker() = default;
  ~EntryChecker();
  EntryChecker(const EntryChecker&) = delete;
  EntryChecker& operator=(const EntryChecker&) = delete;

  // native_path is absolute.
  bool Gone(const std::string& native_path);

 private:
  std::string folder_;   // the folder open as folder_fd_, or failed to open
  int folder_fd_ = -1;
  int folder_error_ = 0;  // errno of the folder's open, 0 when open
};

// Lists one folder, entry by entry, skipping "." and "..".
// Not thread-safe; one enumerator per thread.
class FolderEnumerator {
 public:
  FolderEnumerator();
  ~FolderEnumerator();
  FolderEnumerator(const FolderEnumerator&) = delete;
  FolderEnumerator& operator=(const FolderEnumerator&) = delete;

  // False when the folder cannot be opened (it then lists nothing).
  bool Open(const std::string& native_folder);
  // Next entry; false at the end. An entry that vanishes between listing
  // and examination is skipped.
  bool Next(FindData* data);
  // Like Next, but fills only the name and the directory and hidden bits
  // (from the folder listing itself, examining the entry only when the file
  // system does not say its type). Times, size and device stay 0; a link is
  // never a folder. Much cheaper for walks that need names only.
  bool NextName(FindData* data);
  void Close();

 private:
  friend class FolderWalk;
  // Lists the folder open as fd, which it takes over (closes on failure).
  bool Adopt(int fd);

  struct Listing;  // the open folder, as the platform's source keeps it
  std::unique_ptr<Listing> listing_;  // made at the first Open, kept for the next
  std::string folder_;
};

// Current time as 100 ns units since 1601 UTC.
std::uint64_t FileTimeNow();

}  // namespace quindelo::platform
