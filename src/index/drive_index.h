// DriveIndex: the index of one drive, with the worker threads that search
// it, keep it current, search file contents and deliver results.
//
// A find runs as a chain of phases (FindPhase, index_events.h), each on its
// own worker thread, so that only one thread uses the index file at a time:
//   idle -> index find (find thread) -> refresh (refresh thread)
//   -> content (content thread) -> compaction (content thread)
//   -> final delivery (notify thread) -> idle.
// Opening an index requests the refresh directly, so the index is brought up
// to date in the background after every open. An index-only DriveIndex
// (Options::index_only) skips the refresh and the compaction and never walks
// the drive.
//
// Everything the index has to say travels through the IndexCallback given at
// open, as IndexMessage values: the notify thread delivers them in the order
// they were posted, except PollRequest ("should I stop?"), which is called
// directly from whichever worker polls. Every FoundName of a find is
// delivered before that find's FindEnded.
//
// Thread-safety: Open, StartFind, StopAndWait, Close and Shutdown are called
// from one controlling thread (the user interface). The callback runs on the
// notify thread (and, for polls, on the workers); it is never called with
// the phase lock held. The callback must not call Open, Close, StopAndWait
// or Shutdown of the same index.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/item_queue.h"
#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "content/containing_expression.h"
#include "content/content_matcher.h"
#include "content/file_searcher.h"
#include "index/drive_description.h"
#include "index/index_events.h"
#include "index/index_store.h"
#include "index/pattern_set.h"
#include "platform/change_watch.h"
#include "platform/sync.h"

namespace quindelo {

// Longest path the index reports or queues (Linux paths may exceed the 259
// characters that Windows drive paths allowed; they are kept whole).
inline constexpr std::size_t kMaxReportedPath = 4095;

class DriveIndex {
 public:
  struct Options {
    // Start the change watcher at open (a short-lived command-line run does
    // not need it).
    bool watch_changes = true;
    // Seconds after the last complete refresh before a refresh lists the
    // drive again without a noticed change.
    std::uint32_t refresh_interval_seconds = 600;
    // Answer finds from the index as it stands and leave the file as it is:
    // open requests no refresh, a find goes from the index find straight to
    // the content phase and final delivery (no refresh, no compaction), and
    // close saves nothing. An index that open has to create or rebuild is
    // written, and then holds no names.
    bool index_only = false;
  };

  // Creates the locks, events and queues and starts the find, refresh,
  // content and notify threads, which idle. No file is open.
  DriveIndex();
  explicit DriveIndex(const Options& options);
  // Shuts down (as Shutdown) if not done yet.
  ~DriveIndex();
  DriveIndex(const DriveIndex&) = delete;
  DriveIndex& operator=(const DriveIndex&) = delete;

  // Opens the index file at index_path (native) for the drive named by the
  // first two characters of look_in_text ("C:"). The index is rebuilt (file
  // deleted and created anew) when rebuild is set, or when the file is
  // damaged, belongs to another volume (label or serial differ) or to
  // another root folder (the drive letter now maps elsewhere, or the file
  // does not record its root), or has no usable drive record. Starts the
  // change watcher on look_in_text (when it names one folder), sets the
  // change flag and, unless index-only, requests a refresh.
  // REQUIRES: idle (call Close or StopAndWait first). Waits for a content
  // search of the last find still under way. Waits up to 5 s for another
  // process that holds the file. Returns false when the drive cannot be
  // queried or the file can neither be opened nor made; the cause is then
  // the calling thread's platform::LastFileError() (none for the drive).
  bool Open(const std::string& index_path, const std::string& look_in_text,
            IndexCallback callback, void* user_data, bool rebuild);

  // Starts a find: look_in holds folders of the drive, each beginning with a
  // backslash and without drive letter (empty: the whole drive); named is
  // the named text; containing the containing text (empty: none). With
  // refresh set the refresh phase lists every folder in scope (and the
  // folders above the look-in folders) whatever their stamps say, and merges
  // what it finds; index-only, refresh is ignored.
  // Returns false, with the compiler's message in *message, when the
  // containing text does not compile; false without message when no index
  // is open. Does nothing (returns false) unless the index is idle.
  bool StartFind(const std::string& named, const std::vector<std::string>& look_in,
                 const std::string& containing, bool include_subfolders, bool refresh,
                 std::string* message);

  // Requests idle and blocks until the index is idle (or stopped) and, for at
  // most 2 seconds, until the notify thread has delivered what was queued
  // (the stopped find's FindEnded).
  void StopAndWait();

  // Stops any find and the watcher, saves the drive record and closes the
  // index file. Waits at most 100 x 100 ms for the notify thread to finish
  // delivering. Safe to call when nothing is open.
  void Close();

  // Close, then stops and joins every worker thread. Idempotent.
  void Shutdown();

  bool IsOpen() const { return store_open_.load(); }
  // True when an index is open and its drive is not a fixed disk.
  bool IsRemovable() const;
  // True when an index is open and its drive now holds the same volume
  // (label without regard to case, and serial number) as at open.
  bool SameVolume() const;

  // Deletes every "*.idx" file in data_folder (native) last written more than
  // 31 days before now. Returns the number deleted.
  static int ExpireOldIndexes(const std::string& data_folder);

  // For the caller and tests.
  FindPhase current_phase() const { return current_phase_.load(); }
  FindPhase requested_phase() const { return requested_phase_.load(); }
  const DriveDescription& drive_description() const { return description_; }
  // True once the drive held more folders than the index can keep; the
  // folders beyond the limit are not listed.
  bool ids_exhausted() const { return ids_exhausted_.load(); }
  // True while a change noticed by the watcher (or asked for by a find)
  // waits for the next refresh.
  bool change_pending() const { return change_flag_.load(); }
  // True once the change watcher of the open index watches its whole tree.
  bool watching() const { return watching_.load(); }
  // Folders listed from the disk by refreshes since construction.
  std::uint64_t folders_listed() const { return folders_listed_.load(); }
  // The first failed write of the index file since it was opened ("path:
  // cause"), or empty. The file is then condemned and rebuilt at its next
  // open. Kept after Close; may be called from any thread.
  std::string write_failure() const { return store_.write_failure(); }

 private:
  // What the refresh walk (DriveScanner) sees of this index.
  class RefreshScanHost;

  // An auto-reset event with the waiting rule: a waiter that is woken while
  // others still wait signals the event again, so one signal wakes them all
  // one after another.
  struct PhaseEvent {
    platform::AutoResetEvent event;
    std::atomic<int> waiters{0};
    void Signal() { event.Set(); }
    void Wait();
    // Waits at most timeout; true when signalled (single waiter only).
    bool WaitFor(std::chrono::milliseconds timeout) { return event.WaitFor(timeout); }
  };

  // Phase machine.
  // Moves from phase expected to next (or to the phase requested meanwhile);
  // a stale hand-over (the current phase is not expected) changes nothing.
  void SetPhase(FindPhase next, FindPhase expected) EXCLUDES(phase_lock_);
  void SetPhaseLocked(FindPhase next, FindPhase expected) REQUIRES(phase_lock_);
  void RequestPhase(FindPhase phase) EXCLUDES(phase_lock_);
  void SignalPhaseEvent(FindPhase phase);
  void Post(IndexMessage message);
  // A progress message (RefreshProgress or ContentProgress): queued
  // in order, with the notify thread woken at most every few milliseconds.
  void PostProgress(IndexMessage message);
  // Asks the callback whether to go on; an answer to stop requests idle.
  IndexAnswer Poll();

  // Worker threads.
  void FindThread();
  void RefreshThread();
  void ContentThread(int number);
  void NotifyThread();
  // Notify thread: pops and delivers every queued message; returns how many
  // were popped.
  int DeliverQueued();
  void WaitForContentThreads();
  bool SearchQueuedPath(const std::string& path, std::unique_ptr<ContentMatcher>* matcher,
                        std::uint64_t* matcher_generation, FileSearcher* files);

  // Work of the phases.
  void IndexFind();
  void RefreshPass();
  // The walk's question: go on (true) or give up. When the walk must pause,
  // before_pause (if given) runs first, while the walk still owns the store.
  bool MayContinue(const std::function<void()>& before_pause = nullptr);
  void ReportResult(const std::string& path);  // FoundName, or the content queue
  void SaveDriveRecord();
  bool FolderInScope(const std::string& folder_path) const;
  // Moves the store to the wide variant (with one status message); false,
  // with the message that the rest of the drive is not listed, when that
  // failed.
  bool WidenStore();
  void NoteIdsExhausted();
  void StartWatcher(const std::string& look_in_text);
  void StopWatcher();
  void CompactStore();

  const Options options_;

  // Guards both phase values and every phase change; taken before any queue lock.
  platform::Mutex phase_lock_;
  std::atomic<FindPhase> current_phase_{FindPhase::kIdle};    // written under phase_lock_
  std::atomic<FindPhase> requested_phase_{FindPhase::kIdle};  // written under phase_lock_

  PhaseEvent idle_event_, find_event_, refresh_event_, content_event_, notify_event_;
  IndexMessageQueue notify_queue_;
  ItemQueue content_queue_;
  std::atomic<bool> notify_busy_{false};
  platform::Mutex delivered_lock_;  // with delivered_cv_: the notify thread has emptied its queue
  std::condition_variable delivered_cv_;

  // The refresh thread is inside a refresh pass (Close waits for a paused
  // pass to give up before it returns).
  platform::Mutex refresh_running_lock_;
  std::condition_variable refresh_running_cv_;
  bool refresh_running_ GUARDED_BY(refresh_running_lock_) = false;

  // Content threads working on a queued path; StartFind waits for 0.
  platform::Mutex content_busy_lock_;
  std::condition_variable content_busy_cv_;
  int content_busy_ GUARDED_BY(content_busy_lock_) = 0;

  // Used only by the worker of the current phase, or by the controlling
  // thread while idle.
  IndexStore store_;
  std::atomic<bool> store_open_{false};
  DriveDescription description_;
  std::string drive_root_text_;  // "C:"
  std::string native_root_;      // root folder of the drive ("/" or "/media/x")
  std::uint64_t root_device_ = 0;
  std::uint32_t last_refresh_ = 0;
  index_format::RecordId root_folder_id_ = 0;
  std::atomic<bool> change_flag_{false};
  std::atomic<bool> restart_flag_{false};
  // A find asked for its scope to be listed whatever the stamps (set by
  // StartFind while idle, taken by the next refresh pass).
  std::atomic<bool> relist_requested_{false};
  // The walk under way lists folders in scope whatever their stamps
  // (refresh thread only).
  bool relisting_ = false;
  std::atomic<bool> ids_exhausted_{false};
  std::atomic<std::uint64_t> folders_listed_{0};
  std::atomic<std::uint64_t> last_progress_wake_ms_{0};

  // Find parameters: written by StartFind while idle, read by the workers.
  std::vector<std::string> look_in_;
  bool include_subfolders_ = true;
  PatternSet patterns_;
  bool has_content_ = false;
  ContainingExpression expression_;
  std::atomic<std::uint64_t> find_generation_{0};  // changed by StartFind while content threads rest

  // Callback: set at open while idle, cleared at close after the workers idle.
  std::atomic<IndexCallback> callback_{nullptr};
  std::atomic<void*> user_data_{nullptr};

  // Threads.
  std::thread find_thread_, refresh_thread_, content_thread_, notify_thread_;
  platform::Mutex extra_lock_;
  std::thread extra_content_thread_ GUARDED_BY(extra_lock_);
  bool extra_mark_ = false;           // content thread 1 only
  bool shut_down_ = false;            // controlling thread only

  // Change watcher: one thread per open; Close cancels and joins it.
  platform::Mutex watcher_lock_;
  std::thread watcher_thread_ GUARDED_BY(watcher_lock_);
  std::shared_ptr<platform::ChangeNotification> watcher_ GUARDED_BY(watcher_lock_);
  std::atomic<bool> watching_{false};
};

}  // namespace quindelo
