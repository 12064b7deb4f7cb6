// Change notification for a folder and everything below it, folder by
// folder: which folders had a name created, deleted or moved in them,
// which folders arrived whole (made, or moved in) or left whole, which
// folders could not be watched, and whether events were lost.
//
// On Linux this is inotify with a watch on every folder of the subtree; new
// folders are watched as they appear, and a folder moved away takes its
// watches with it. A folder that cannot be watched (the watch limit, or the
// limit given in Options) is kept in the unwatched set, and the folders below
// it are not watched either; watching goes on everywhere else. Folders on
// another file system than the root's, and links, are never watched.
//
// Paths in Changes are relative to the watched root, with a slash after
// each folder name: "" for the root itself, "a/b/" for the folder a/b.
// Names holding a backslash are left out (they cannot be written as drive
// paths).
//
// Thread-safety: Start, then Wait on one thread; Drain, TakeChanges,
// unwatched and Cancel may be called from any thread at any time. Cancel
// makes a running or later Wait return at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"

namespace quindelo::platform {

class ChangeNotification {
 public:
  enum class WaitResult { kChanged, kTimeout, kCancelled, kFailed };

  struct Options {
    // Watches at most this many folders (0: as many as the system allows).
    std::size_t watch_limit = 0;
  };

  // What changed since the last TakeChanges.
  struct Changes {
    // Folders that had a name created, deleted or moved in or out.
    std::set<std::string> folders;
    // Folders that arrived whole (made, or moved in) or left whole (deleted,
    // or moved away): what the index holds below them, if anything, no
    // longer tells what is there.
    std::set<std::string> trees;
    // Events were lost (the queue overflowed): nothing above can be trusted.
    bool overflowed = false;
    bool empty() const { return folders.empty() && trees.empty() && !overflowed; }
  };

  ChangeNotification();
  explicit ChangeNotification(const Options& options);
  ~ChangeNotification();
  ChangeNotification(const ChangeNotification&) = delete;
  ChangeNotification& operator=(const ChangeNotification&) = delete;

  // Starts watching native_folder and its subtree. Adding the watches walks
  // the subtree (it stops early when cancelled). False when the folder
  // itself cannot be watched, or when cancelled.
  bool Start(const std::string& native_folder);

  // Waits at most timeout_ms for a change, then drains every pending event
  // (watching folders made meanwhile) and reports kChanged.
  WaitResult Wait(int timeout_ms);

  // Reads every event the system holds now, without waiting. After Drain,
  // every change completed before it is in the next TakeChanges.
  void Drain();

  // Hands over what changed since the last call, and forgets it.
  Changes TakeChanges();

  // The folders without a watch (each stands for its subtree), as now.
  std::vector<std::string> unwatched() const;
  std::size_t watch_count() const;

  void Cancel();

 private:
  // Watches the folder rel ("a/b/") and its subtree; a folder that cannot
  // be watched goes to the unwatched set with its subtree.
  void AddTree(const std::string& rel) REQUIRES(lock_);
  // Forgets the watches of rel and of every folder below it.
  void RemoveTree(const std::string& rel) REQUIRES(lock_);
  // Reads and applies the events the descriptor holds; false when there
  // were none.
  bool ReadEvents() REQUIRES(lock_);

  const Options options_;
  std::string root_;  // native, with a final slash
  std::uint64_t root_device_ = 0;
  int inotify_fd_ = -1;
  int cancel_fd_ = -1;  // eventfd written by Cancel
  std::atomic<bool> cancelled_{false};

  mutable Mutex lock_;
  // The watched folders: rel -> descriptor, and back (each path is kept
  // once, in watches_).
  using Watches = std::map<std::string, int>;
  Watches watches_ GUARDED_BY(lock_);
  std::unordered_map<int, Watches::const_iterator> folders_ GUARDED_BY(lock_);
  std::set<std::string> unwatched_ GUARDED_BY(lock_);
  Changes changes_ GUARDED_BY(lock_);
};

}  // namespace quindelo::platform
