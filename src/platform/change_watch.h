// Change notification for a folder and everything below it: tells that a
// file or folder name was created, deleted or moved somewhere in the
// subtree, not what changed.
//
// On Linux this is inotify with a watch on every folder of the subtree; new
// folders are watched as they appear. When the system's watch limit is
// reached the notification gives up (Wait reports an error), and the caller
// falls back to periodic refreshes.
//
// Thread-safety: one thread calls Start and Wait; Cancel may be called from
// any thread at any time and makes a running or later Wait return at once.
#pragma once

#include <atomic>
#include <string>
#include <unordered_map>

namespace quindelo::platform {

class ChangeNotification {
 public:
  enum class WaitResult { kChanged, kTimeout, kCancelled, kFailed };

  ChangeNotification();
  ~ChangeNotification();
  ChangeNotification(const ChangeNotification&) = delete;
  ChangeNotification& operator=(const ChangeNotification&) = delete;

  // Starts watching native_folder and its subtree. Adding the watches walks
  // the subtree (it stops early when cancelled). False when the folder
  // cannot be watched or the watch limit is reached.
  bool Start(const std::string& native_folder);

  // Waits at most timeout_ms for a change. Drains every pending event (and
  // watches folders created meanwhile) before reporting kChanged.
  WaitResult Wait(int timeout_ms);

  void Cancel();

 private:
  bool AddTree(const std::string& folder, int depth);
  bool AddWatch(const std::string& folder);

  int inotify_fd_ = -1;
  int cancel_fd_ = -1;  // eventfd written by Cancel
  std::atomic<bool> cancelled_{false};
  std::unordered_map<int, std::string> folders_;  // watch descriptor -> folder
};

}  // namespace quindelo::platform
