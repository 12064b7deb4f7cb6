// DriveIndex: the index of one drive, with the worker threads that search
// it, keep it current, search file contents and deliver results.
//
// A find runs as a chain of phases (FindPhase, index_events.h), each on its
// own worker thread, so that only one thread uses the index file at a time:
//   idle -> index find (find thread) -> refresh (refresh thread)
//   -> content (content thread) -> compaction (content thread)
//   -> final delivery (notify thread) -> idle.
// The find under way is a FindRun (find_run.h): its look-in folders,
// patterns and content expression, and the look-in tests of the index find
// and of the refresh walk; the walk (DriveScanner) hands its folders and new
// names to this index, which asks the run.
// Opening an index requests the refresh directly, so the index is brought up
// to date in the background after every open. An index-only DriveIndex
// (Options::index_only) skips the refresh and the compaction and never walks
// the drive.
//
// Live: with the watcher on, the index watches every folder of the drive
// (ChangeNotification) and notes which folders changed. Once a walk of the
// whole drive by stamps has ended that began after every watch was set, the
// index is live: it differs from the disk only in the folders noted since. A
// find of a live index then takes every change the system holds at its
// start; its index find leaves out the folders noted changed (and what lies
// below folders that arrived or left whole), and its refresh lists exactly
// those folders in scope, reporting every matching name of them, and walks
// the folders without a watch by their stamps, instead of walking the drive.
// Events lost by the system make the index not live until the next walk of
// the whole drive ends; so does a watcher that fails.
//
// Everything the index has to say travels to the IndexClient given at open,
// as IndexMessage values: the notify thread delivers them in the order
// they were posted, except PollRequest ("should I stop?"), which is called
// directly from whichever worker polls. Every FoundName of a find is
// delivered before that find's FindEnded.
//
// Threads: the find thread ("q-index-find") runs the index find, the refresh
// thread ("q-index-walk") the refresh walk, content thread 1 ("q-content-1")
// the content search and the compaction, with a second content thread
// ("q-content-2") started for the content phase of a find with more than one
// file left to search, and the notify thread ("q-index-notify") the delivery
// of the messages. An open index with a watcher has one more thread
// ("q-index-watch"), which only notes that something changed.
//
// The watcher's own lock is taken after the phase lock (the changes it
// noted are taken and made pending in one step).
//
// The phase lock (phase_lock_) is the index's one lock for its state: it
// guards both phase values and every phase change, the open flag, the client
// pointer, the change and relist flags, and the marks the workers and the
// controlling thread wait on (a walk under way, content threads busy, the
// notify thread busy, work queued for a sleeping content or notify thread).
// Every wait of the index waits on its one condition variable (phase_cv_)
// for its own condition on those values: a worker for its phase to be
// current or the index to be stopped, the controlling thread for idle, for
// the content threads to rest or for the delivery to end. The message and
// content queues have locks of their own, always taken after the phase lock.
// The requested phase is also kept where the workers' loops read it without
// the lock, as their stop flag.
//
// Thread-safety: Open, StartFind, StopAndWait, Close and Shutdown are called
// from one controlling thread (the user interface). The client is called on
// the notify thread (and, for polls, on the workers); it is never called with
// the phase lock held. The client must not call Open, Close, StopAndWait or
// Shutdown of the same index.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
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
#include "index/drive_scanner.h"
#include "index/find_request.h"
#include "index/find_run.h"
#include "index/index_events.h"
#include "index/index_store.h"
#include "index/pattern_set.h"
#include "platform/change_watch.h"
#include "platform/sync.h"

namespace quindelo {

// Longest path the index reports or queues (Linux paths may exceed the 259
// characters that Windows drive paths allowed; they are kept whole).
inline constexpr std::size_t kMaxReportedPath = 4095;

class NameIndexKeeper;  // name_index.h

class DriveIndex {
 public:
  struct Options {
    // Watch the drive's folders from open on (a short-lived command-line run
    // does not need it): see "Live" above.
    bool watch_changes = true;
    // Watch at most this many folders (0: as many as the system allows); the
    // others are walked by their stamps at every find.
    std::size_t watch_limit = 0;
    // Keep a name index of the drive in memory (read from beside the index
    // file at open, followed through every change, written back at close),
    // so that a find of a name with three letters or more in a row reads
    // only the folders that can hold it. Reading it costs more than one
    // scan of the index: a process that ends with its find goes without
    // (and removes the file, unless it only reads the index).
    bool keep_name_index = true;
    // For a process that ends with its find: open requests no refresh, and a
    // find of look-in folders walks only those folders (and the folders
    // above them), leaving the rest of the drive to a later refresh.
    bool scope_only_refresh = false;
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

  // Creates the queues and starts the find, refresh,
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
  // client is not owned; it must stay valid until Close (or the next Open).
  bool Open(const std::string& index_path, const std::string& look_in_text, IndexClient* client,
            bool rebuild);

  // Starts the find request describes: its look_in_list holds folders of
  // the drive, each beginning with a backslash and without drive letter
  // (empty: the whole drive); named_text the name patterns; containing_text
  // the content expression (empty: none). look_in_text is not read. With
  // refresh set the refresh phase lists every folder in scope (and the
  // folders above the look-in folders) whatever their stamps say, and merges
  // what it finds; index-only, refresh is ignored.
  // Returns false, with the compiler's message in *message, when the
  // containing text does not compile; false without message when no index
  // is open. Does nothing (returns false) unless the index is idle.
  bool StartFind(const FindRequest& request, std::string* message);

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

  bool IsOpen() const EXCLUDES(phase_lock_);
  // True when an index is open and its drive is not a fixed disk.
  bool IsRemovable() const;
  // True when an index is open and its drive now holds the same volume
  // (label without regard to case, and serial number) as at open.
  bool SameVolume() const;

  // Deletes every "*.idx" file in data_folder (native) last written more than
  // 31 days before now. Returns the number deleted.
  static int ExpireOldIndexes(const std::string& data_folder);

  // For the caller and tests.
  FindPhase current_phase() const EXCLUDES(phase_lock_);
  FindPhase requested_phase() const { return requested_phase_.load(); }
  const DriveDescription& drive_description() const { return description_; }
  // True once the drive held more folders than the index can keep; the
  // folders beyond the limit are not listed.
  bool ids_exhausted() const EXCLUDES(phase_lock_);
  // True while a change noticed by the watcher (or asked for by a find)
  // waits for the next refresh: of a live index, a folder noted changed.
  bool change_pending() const EXCLUDES(phase_lock_);
  // True once the change watcher of the open index watches its whole tree.
  bool watching() const EXCLUDES(phase_lock_);
  // True while the index is live (see the top of this file).
  bool live() const EXCLUDES(phase_lock_);
  // Folders without a watch, each standing for its subtree.
  std::size_t unwatched_count() const EXCLUDES(phase_lock_);
  // True when the last find that ran its index find answered live with
  // every folder of the drive watched: each name it reported was on the
  // disk when the find started (no check of the disk is needed for it). It
  // may be called from any thread; after the find's end it tells of that
  // find until the next one starts.
  bool last_find_exact() const EXCLUDES(phase_lock_);
  // Treats the watcher's events as lost, as when the system's event queue
  // overflows: the index is no longer live.
  void NoteEventsLost() EXCLUDES(phase_lock_);
  // Folders listed from the disk by refreshes since construction.
  std::uint64_t folders_listed() const EXCLUDES(phase_lock_);
  // The first failed write of the index file since it was opened ("path:
  // cause"), or empty. The file is then condemned and rebuilt at its next
  // open. Kept after Close; may be called from any thread.
  std::string write_failure() const { return store_.write_failure(); }

 private:
  // What the refresh walk (DriveScanner) sees of this index.
  class RefreshScanHost;

  // Phase machine.
  // Moves from phase expected to next (or to the phase requested meanwhile);
  // a stale hand-over (the current phase is not expected) changes nothing.
  void SetPhase(FindPhase next, FindPhase expected) EXCLUDES(phase_lock_);
  void SetPhaseLocked(FindPhase next, FindPhase expected) REQUIRES(phase_lock_);
  void RequestPhase(FindPhase phase) EXCLUDES(phase_lock_);
  FindPhase CurrentPhase() const EXCLUDES(phase_lock_) { return current_phase(); }
  // Queues a message for the notify thread and wakes it.
  void Post(IndexMessage message) EXCLUDES(phase_lock_);
  void PostLocked(IndexMessage message) REQUIRES(phase_lock_);
  // Marks work for the notify thread, waking it when it sleeps.
  void WakeNotifyLocked() REQUIRES(phase_lock_);
  // A progress message (RefreshProgress or ContentProgress): queued
  // in order, with the notify thread woken at most every few milliseconds.
  void PostProgress(IndexMessage message) EXCLUDES(phase_lock_);
  // Wakes the controlling thread when it waits for a worker's mark.
  void NotifyControlLocked() REQUIRES(phase_lock_);
  // Asks the client whether to go on; an answer to stop requests idle.
  IndexAnswer Poll() EXCLUDES(phase_lock_);

  // Worker threads.
  void FindThread();
  void RefreshThread();
  void ContentThread(int number);
  void NotifyThread();
  // Notify thread: pops and delivers every queued message; returns how many
  // were popped.
  int DeliverQueued() EXCLUDES(phase_lock_);
  // Notify thread: a message was queued, the final delivery came or the
  // index stops.
  bool NotifyDueLocked() const REQUIRES(phase_lock_);
  // Waits until no content thread works on a queued path.
  void WaitForContentThreads() EXCLUDES(phase_lock_);
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
  // Moves the store to the wide variant (with one status message); false,
  // with the message that the rest of the drive is not listed, when that
  // failed.
  bool WidenStore();
  void NoteIdsExhausted();
  void StartWatcher();
  void StopWatcher();
  // Takes what the watcher noted (after reading every event the system
  // holds) into the pending changes.
  void CollectChanges() EXCLUDES(phase_lock_, watcher_lock_);
  void CollectChangesFrom(platform::ChangeNotification* watch) EXCLUDES(phase_lock_);
  void NoteEventsLostLocked() REQUIRES(phase_lock_);
  // The index find of a live index leaves out this folder ("\a\b\").
  bool LeftToListing(const std::string& folder_path) const;
  // The refresh of a live find, and the walk of the drive by stamps.
  void TargetedPass();
  void FullPass();
  // Puts the targets of the pass not yet walked (from pass_next_ on) back
  // into the pending changes and drops them from the pass.
  void GiveBackTargetsLocked() REQUIRES(phase_lock_);
  void CompactStore();

  const Options options_;

  // The phase lock and its condition variable: see the top of this file.
  // phase_cv_ is notified at every phase change and at every change of a
  // mark that somebody waits for (the marks of sleeping threads only when
  // they sleep: see content_waiting_, notify_waiting_ and control_waiters_).
  mutable platform::Mutex phase_lock_;
  std::condition_variable phase_cv_;
  FindPhase current_phase_ GUARDED_BY(phase_lock_) = FindPhase::kIdle;
  // Written only under phase_lock_; read without it by the workers' loops,
  // as their stop flag.
  std::atomic<FindPhase> requested_phase_{FindPhase::kIdle};
  bool store_open_ GUARDED_BY(phase_lock_) = false;
  // The client: set at open while idle, cleared at close after the workers
  // idle.
  IndexClient* client_ GUARDED_BY(phase_lock_) = nullptr;
  // A change noticed by the watcher (or asked for by a find) waits for the
  // next refresh.
  bool change_flag_ GUARDED_BY(phase_lock_) = false;
  // A find asked for its scope to be listed whatever the stamps (set by
  // StartFind while idle, taken by the next refresh pass).
  bool relist_requested_ GUARDED_BY(phase_lock_) = false;
  bool ids_exhausted_ GUARDED_BY(phase_lock_) = false;
  std::uint64_t folders_listed_ GUARDED_BY(phase_lock_) = 0;
  bool watching_ GUARDED_BY(phase_lock_) = false;
  // Live state (see the top of this file). watch_epoch_ changes whenever
  // what the watcher noted can no longer be trusted (lost events, a watcher
  // stopped or started), so that a walk knows whether it began under the
  // watches that are set now.
  bool watch_ready_ GUARDED_BY(phase_lock_) = false;
  bool watch_starting_ GUARDED_BY(phase_lock_) = false;
  std::uint64_t watch_epoch_ GUARDED_BY(phase_lock_) = 0;
  bool live_ GUARDED_BY(phase_lock_) = false;
  // Folders noted changed and not yet listed, as paths below the root
  // ("a/b/"), and folders that arrived or left whole.
  std::set<std::string> pending_folders_ GUARDED_BY(phase_lock_);
  std::set<std::string> pending_trees_ GUARDED_BY(phase_lock_);
  std::vector<std::string> unwatched_ GUARDED_BY(phase_lock_);
  bool last_find_exact_ GUARDED_BY(phase_lock_) = false;
  // The refresh thread is inside a refresh pass (Close waits for a paused
  // pass to give up before it returns).
  bool refresh_running_ GUARDED_BY(phase_lock_) = false;
  // Content threads working on a queued path; Open and StartFind wait for 0.
  int content_busy_ GUARDED_BY(phase_lock_) = 0;
  // A path was queued since content thread 1 last woke; it sleeps now.
  bool content_wake_ GUARDED_BY(phase_lock_) = false;
  bool content_waiting_ GUARDED_BY(phase_lock_) = false;
  // A message was queued since the notify thread last woke; the notify
  // thread sleeps now; it delivers (the controlling thread waits for that to
  // end).
  bool notify_wake_ GUARDED_BY(phase_lock_) = false;
  bool notify_waiting_ GUARDED_BY(phase_lock_) = false;
  bool notify_busy_ GUARDED_BY(phase_lock_) = false;
  std::uint64_t last_progress_wake_ms_ GUARDED_BY(phase_lock_) = 0;
  // The controlling thread waits for one of the workers' marks.
  int control_waiters_ GUARDED_BY(phase_lock_) = 0;

  IndexMessageQueue notify_queue_;
  ItemQueue content_queue_;

  // Used only by the worker of the current phase, or by the controlling
  // thread while idle.
  IndexStore store_;
  // The name index beside the store, for the index find (the store's rule).
  std::unique_ptr<NameIndexKeeper> name_index_;
  DriveDescription description_;
  std::string drive_root_text_;  // "C:"
  std::string native_root_;      // root folder of the drive ("/" or "/media/x")
  std::uint64_t root_device_ = 0;
  std::uint32_t last_refresh_ = 0;
  index_format::RecordId root_folder_id_ = 0;
  // The refresh pass starts over (refresh thread only).
  bool restart_flag_ = false;
  // The walk under way lists folders in scope whatever their stamps
  // (refresh thread only).
  bool relisting_ = false;
  // The find under way runs live: set by its index find, read by its
  // refresh, with the folders the index find left out ("\a\b\": exactly,
  // and with everything below) and the drive paths of those whose names the
  // refresh has reported since (the find chain only, one phase at a time).
  bool live_find_ = false;
  // The chain under way began with an index find (a find somebody waits
  // for), not with the refresh after an open.
  bool chain_has_find_ = false;
  std::set<std::string, std::less<>> left_folders_;
  std::set<std::string, std::less<>> left_trees_;
  std::set<std::string> kept_reported_;
  // The walks of a targeted pass not yet done (refresh thread only); a pause
  // gives them back to the pending changes.
  struct PassTarget {
    std::string rel;
    DriveScanner::Target kind;
  };
  std::vector<PassTarget> pass_targets_;
  std::size_t pass_next_ = 0;
  bool targeted_pass_ = false;

  // The find under way: set by StartFind while idle (the content threads at
  // rest), read by the workers.
  FindRun find_;

  // Threads.
  std::thread find_thread_, refresh_thread_, content_thread_, notify_thread_;
  // Content thread 1 only (and Shutdown, once content thread 1 is joined).
  std::thread extra_content_thread_;
  bool extra_mark_ = false;
  bool shut_down_ = false;            // controlling thread only

  // Change watcher: one thread per open; Close cancels and joins it. The
  // watcher lock is taken before the phase lock.
  platform::Mutex watcher_lock_;
  std::thread watcher_thread_ GUARDED_BY(watcher_lock_);
  std::shared_ptr<platform::ChangeNotification> watcher_ GUARDED_BY(watcher_lock_);
};

}  // namespace quindelo
