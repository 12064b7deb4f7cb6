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

namespace quindelo::platform {

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

// GetFolderTimes for the folders of a depth-first walk, one after another.
// A whole path costs the file system a lookup of every folder on it; this
// reader keeps a few folders of the current path open (every fourth level)
// and looks each path up from the deepest of them that lies on it, so that
// a deep tree costs a few names per folder. The answers are those of
// GetFolderTimes for the same paths; where a folder on the way cannot be
// held open, the whole path is used. Folders left by the walk (no longer on
// the path asked for) are let go. Not thread-safe; one reader per walk.
class FolderTimesReader {
 public:
  FolderTimesReader() = default;
  ~FolderTimesReader();
  FolderTimesReader(const FolderTimesReader&) = delete;
  FolderTimesReader& operator=(const FolderTimesReader&) = delete;

  // As GetFolderTimes(native_path, times).
  bool Get(const std::string& native_path, FolderTimes* times);

 private:
  struct Anchor {
    std::size_t length;  // of the folder's path in anchored_, its final slash included
    int fd;              // the folder, opened with O_PATH
  };
  void LetGoBeyond(std::size_t length);  // closes the anchors longer than length

  std::string anchored_;  // the path of the deepest anchor
  std::vector<Anchor> anchors_;
  std::string piece_;  // the names from an anchor down to the next one
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
  struct Listing;  // the open folder, as the platform's source keeps it
  std::unique_ptr<Listing> listing_;  // made at the first Open, kept for the next
  std::string folder_;
};

// Current time as 100 ns units since 1601 UTC.
std::uint64_t FileTimeNow();

}  // namespace quindelo::platform
