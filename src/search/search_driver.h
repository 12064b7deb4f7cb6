// SearchDriver: the find form's side of every find. It opens, closes and
// rebuilds the index of the drive being searched, starts a find a short delay
// after the user stops typing, hands the find request to the DriveIndex,
// turns the index's notifications into sorted rows of the results list and
// status messages, and owns the stop rules (Stop, a selection, new typing,
// closing, Refresh during a find, and the row limit).
//
// The driver talks to the form only through FindWindow (find_window.h); see
// there which of its calls run on which thread.
//
// Threads and locks:
//   - find_lock_: held by the find starter while it prepares and starts a
//     find, and by OpenDriveIndex and Shutdown, so that the DriveIndex is
//     driven by one thread at a time.
//   - insert_lock_: guards the ResultsPool, the current folder text and the
//     rows not yet handed to the window; held by the notify thread while it
//     stores a found file or hands rows over, and by whoever empties the
//     results.
//   - state_lock_: makes the running, closing, restart-pending and deferred
//     close decisions one step each (so a close or Refresh asked for just as
//     a find ends is never lost); never held while calling the window.
//   - request_lock_: guards the look-in list (written by validation, read by
//     the find starter).
//   - starters_lock_: guards the list of find starter threads; taken before
//     state_lock_ when both are held.
//   The remaining flags are atomics written by one thread and read by others.
//   OnIndexMessage never takes find_lock_.
//
// Failure: nothing here throws. A ResultsPool that cannot grow stops the find.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/mutex.h"
#include "base/string_list.h"
#include "base/thread_annotations.h"
#include "index/drive_index.h"
#include "search/find_request.h"
#include "search/find_window.h"
#include "search/found_file.h"

namespace quindelo {

// The row limit of the results list.
inline constexpr int kMaxResultRows = 10000;
// Rows found while a find runs reach the window at most this often (and at
// the end of the find).
inline constexpr std::uint32_t kRowHandOverMs = 50;
// Longest named, containing or look-in text (a 260-byte buffer).
inline constexpr std::size_t kMaxFindText = 259;

// Milliseconds for the find delay and the row hand-overs. The default reads
// a steady clock and sleeps for real; tests supply their own.
class DriverClock {
 public:
  virtual ~DriverClock() = default;
  // A tick count in milliseconds; wraps around.
  virtual std::uint32_t Ticks() = 0;
  // Sleeps for about ms milliseconds.
  virtual void Sleep(std::uint32_t ms) = 0;
};

// The end message of a find that ran to its end with rows rows:
// "Stopped after maximum of %d files found." when it stopped at the row
// limit, "Found one file." or "Found %d files.", and for none "Disk drive is
// not ready." when the drive's medium went away, else "No files found.  Check
// your search criteria.".
std::string FindEndMessage(int rows, bool stopped_at_limit, bool medium_gone);

// How a find (or a find start that ran no find) ended.
enum class FindOutcome {
  kReady,          // nothing to find (an empty named text): "Ready."
  kFound,          // "Found one file." or "Found %d files."
  kRowLimit,       // "Stopped after maximum of %d files found."
  kNoneFound,      // "No files found.  Check your search criteria."
  kDriveNotReady,  // "Disk drive is not ready." (the medium went away)
  kUserStopped,    // "User stopped." or "User stopped after finding %d file(s)."
  kError,          // refused: a path in the named text, a containing text
                   // that does not compile, with indicator "ERR"
};

// The outcome that goes with FindEndMessage's message.
FindOutcome FindEndOutcome(int rows, bool stopped_at_limit, bool medium_gone);

// The end of a find: its message, the indicator it was shown with, and the
// outcome. When a write of the index file failed, the message names that
// failure and its cause and the indicator is "ERR", whatever the outcome.
struct FindEnd {
  std::string message;
  std::string indicator;
  FindOutcome outcome = FindOutcome::kReady;
};

class SearchDriver : public IndexClient {
 public:
  struct Options {
    // Keyboard idle time before a find starts, in milliseconds. When not
    // given, "Settings"/"KeyboardIdleMSecs" is read once; a missing or
    // negative value (given or read) means 500.
    std::optional<std::int32_t> find_delay_ms;
    // The most rows a find may fill; 0 means no limit (the command-line
    // finder's --no-limit). The window keeps kMaxResultRows.
    int row_limit = kMaxResultRows;
    // Answer from the index as it stands (the command-line finder's
    // --index-only): the index is opened index-only (DriveIndex::Options), so
    // no walk runs and the file is left unchanged, while a content search
    // runs to its end; finds end with the usual found messages.
    bool index_only = false;
    // Insert each found row at its sorted place. When clear, rows are added
    // at the end in the order they are found, for a caller that orders
    // them itself once the find is over (the command-line finder).
    bool sorted_insert = true;
    // Not owned; must outlive the driver. Null: a steady clock.
    DriverClock* clock = nullptr;
    // Options of the driver's DriveIndex.
    DriveIndex::Options index_options;
    // Type and icon source of the ResultsPool; null: the core's default.
    const FileTypeProvider* type_provider = nullptr;
  };

  // window is not owned and must outlive the driver. The index's threads
  // start at once and idle; no drive is open.
  SearchDriver(FindWindow* window, const Options& options);
  explicit SearchDriver(FindWindow* window) : SearchDriver(window, Options()) {}
  // Shuts down (as Shutdown).
  virtual ~SearchDriver();
  SearchDriver(const SearchDriver&) = delete;
  SearchDriver& operator=(const SearchDriver&) = delete;

  // ---- Index.

  // Closes the open index (if any), empties the results, and opens (or with
  // rebuild, rebuilds) the index of the drive named by the first two
  // characters of look_in_text, which then refreshes itself in the
  // background. The refresh flag is kept: a relisting asked for before the
  // open reaches the next find. Shows "Opening"/"Rebuilding index for drive X:...", then
  // "Ready." or "Unable to open index for drive X:!" with "ERR". Returns
  // whether a drive is now open. Waits for the index: see find_window.h.
  bool OpenDriveIndex(const std::string& look_in_text, bool rebuild);

  // Why the last OpenDriveIndex failed, for the line under its message:
  // the path and the system's error text ("/x/DriveT.idx: Permission
  // denied"), or what is wrong with the drive. Empty after a success.
  std::string open_failure_cause() const;

  // The first failed write of the open (or last closed) index file: "path:
  // cause", or empty. Such an index gave a partial answer and is rebuilt at
  // its next open.
  std::string index_write_failure() const { return index_.write_failure(); }

  // Upper-case letter of the drive whose index is open, or ' '.
  char open_drive_letter() const { return open_drive_letter_.load(); }

  // True when the open index is on a removable drive that no longer holds
  // the volume it was opened on (its medium was taken out or exchanged).
  // Virtual so that tests can stand in for a removable drive.
  virtual bool IndexMediumChanged();

  // Validation's drive check: true when the index of drive (upper case) must
  // be opened, because another drive (or none) is open or the medium of the
  // open removable drive changed. Waits for a find being started.
  bool DriveNeedsOpening(char drive);

  // ---- Scheduling.

  // Starts a find the find delay from now, unless no drive is open or the
  // form is closing: sets the find-active flag and moves the find deadline;
  // only when no find starter waits is a new one started, so a burst of
  // calls yields one find, the delay after the last call.
  void ScheduleFind();

  // An edit of the named or containing box: clears the refresh flag; then,
  // unless this is before the first find and the named box is empty,
  // clears the first-find latch and schedules a find.
  void OnFindTextEdited();

  // The first-find latch: set at construction, cleared by the first
  // scheduling with a non-empty named text.
  bool first_find_latch() const { return first_find_latch_.load(); }
  void ClearFirstFindLatch() { first_find_latch_ = false; }

  // ---- Stopping, Refresh and closing (user-interface thread).

  // Stop and Esc, a click that leaves rows selected, the popup, the file
  // commands and loading a document: clears the find-active flag; the index
  // stops at its next poll and the end shows "User stopped...".
  void Stop() {
    find_active_ = false;
    window_->FindActivityChanged();
  }

  // Stops a scheduled or running find as Stop does, waits for the index to
  // go idle and empties the results (rows, ResultsPool, current folder).
  // Waits for the index: see find_window.h.
  void StopAndEmptyResults();

  // Validation's verdict on the look-in text. While the text is invalid no
  // find is scheduled, and the end of a find or of the index's refresh shows
  // no message, so that the fault and its "ERR" stay on the status line
  // until the text changes. Any thread.
  void SetLookInFault(bool fault) { look_in_fault_ = fault; }
  bool look_in_fault() const { return look_in_fault_.load(); }

  // Refresh: when a find is running, stops it and defers itself to its end
  // (the end posts kCommandRefresh, whose handler calls Refresh again).
  // Otherwise remembers the focused row as the reselect row, reopens the
  // index (rebuilding it when rebuild is set, the Shift key), sets the
  // refresh flag and, when the named box holds text or a find has been
  // scheduled before, schedules a find. Waits for the index: see
  // find_window.h.
  void Refresh(const std::string& look_in_text, bool rebuild);

  // A close request to the form: sets the closing flag. Returns true when
  // the form may close now; false when a find is running, which is stopped
  // and posts the close request again at its end.
  bool RequestClose();

  // Stops the find starter and shuts the index down (no more callbacks).
  // Idempotent.
  void Shutdown();

  // ---- The find request's other parts.

  // The look-in list of the last validation (folders of the open drive, each
  // beginning with a backslash; empty means the whole drive).
  void SetLookInList(const StringList& list);
  StringList look_in_list() const;
  void set_include_subfolders(bool on) { include_subfolders_ = on; }
  bool include_subfolders() const { return include_subfolders_.load(); }
  // The refresh flag: the next find asks the index to list every folder in
  // its scope again, whatever the folder stamps say (Refresh, Include
  // Subfolders and the file commands set it; --refresh of the finder).
  void set_refresh_flag(bool on) { refresh_ = on; }
  bool refresh_flag() const { return refresh_.load(); }
  // The order rows are inserted in (the view options' sort key and
  // descending flag). Window thread.
  void set_sort_order(SortOrder order);
  SortOrder sort_order() const;

  // ---- State read by the form and tests.

  bool running() const { return running_.load(); }
  // A find is in progress: scheduled, or handed to the index, and not
  // stopped. The Stop command is enabled exactly while this holds.
  bool find_in_progress() const {
    return find_active_.load() && (running_.load() || deadline_.load() != 0);
  }
  bool find_active() const { return find_active_.load(); }
  bool closing() const { return closing_.load(); }
  // While set, rows show only name and folder (no details are fetched).
  bool deferred_details() const { return deferred_details_.load(); }
  std::int32_t find_delay_ms() const { return find_delay_ms_; }
  // The pool that holds the records of the rows.
  ResultsPool& results_pool() { return pool_; }
  // Finds handed to the index so far.
  std::uint32_t finds_started() const { return finds_started_.load(); }

  // Waits until no find is scheduled, starting, running or ending, and gives
  // the message that ended the last find (or the last find start that ran
  // none: an empty named text, a path, a containing text that does not
  // compile). False when timeout passed first.
  bool WaitForFindEnd(std::chrono::milliseconds timeout, FindEnd* end);

  // Rows of the list went away after the last find ended (the window found
  // their files gone when it drew them); the list now holds rows rows. When
  // no find is under way, the last one ended with files found ("Found one
  // file." or "Found %d files.", no failure) and shown is still that
  // message, the message for rows becomes the find's end and is shown.
  // Returns whether it was. Window thread.
  bool RecountEnd(int rows, const std::string& shown);
  // The same without a time limit.
  FindEnd WaitForFindEnd();

  // ---- The index's callback.

  // A message of the DriveIndex; the answer asks it to go on or to stop.
  // Found files are kept until their hand-over to the window (see
  // find_window.h); the clock of Options decides when one is due.
  IndexAnswer OnIndexMessage(const IndexMessage& message) override;

 protected:
  // Hands a find to the DriveIndex (DriveIndex::StartFind), with the running
  // flag already set; false, with the compiler's message in *error, when the
  // index refuses it. Called by the find starter under the find lock.
  // Virtual so that tests can act in the moment before the index answers.
  virtual bool StartIndexFind(const FindRequest& request, std::string* error);

 private:
  void FindStarter();
  // Reads the request from the window and hands it to the index.
  void StartFindLocked() REQUIRES(find_lock_);
  // No find is due, starting, running or showing its end.
  bool FindIdleLocked() const REQUIRES(state_lock_);
  void LaunchStarter();
  // While the first-find latch is set, an empty named box schedules nothing;
  // otherwise the latch is cleared. True when a find may be scheduled.
  bool PassFirstFindLatch();
  void SleepTicks(std::uint32_t ms);
  std::uint32_t Ticks();
  void EmptyResults();  // DeleteAllRows, pool cleared, folder forgotten
  void SetRunning(bool on);
  void RecordEnd(const FindEnd& end);
  void Show(const std::string& message, const char* indicator);
  void ShowEnd(const FindEnd& end);

  // The index's notifications, after the gates of OnIndexMessage.
  IndexAnswer OnFindEnd();
  IndexAnswer OnFoundFile(const std::string& path);
  // A phase started, or the progress of the refresh or the content search.
  IndexAnswer OnPhaseMessage(const IndexMessage& message);
  // The end message of a find that ends with rows rows.
  FindEnd EndOfFind(bool was_running, int rows);
  // end, or, once a write of the open index file has failed, the message
  // "Unable to write index for drive X:! path: cause" with indicator "ERR"
  // in its place (the outcome stays what the find found): such an index
  // gives partial answers until its rebuild at the next open.
  FindEnd WithIndexWriteFailure(FindEnd end) const;
  // Selects the row Refresh remembered, clamped to the last row.
  void ReselectRow();

  // When the rows found since the last hand-over go to the window: now; when
  // kRowHandOverMs have passed since the last one (or none was made since
  // the results were emptied); or before a status message, also when the
  // rows reach a multiple of the progress step, so that the progress
  // messages keep their place before it.
  enum class RowsDue { kNow, kWhenDue, kBeforeMessage };
  // Hands the pending rows over when due, in one window call, and shows a
  // progress message for every hundredth row they bring. Answers stop when
  // a row of the list cannot be read. insert_lock_ held.
  IndexAnswer HandOverRowsLocked(RowsDue due) REQUIRES(insert_lock_);
  IndexAnswer HandOverRows(RowsDue due) EXCLUDES(insert_lock_);
  // Window thread: the batch's rows with their places in the list.
  std::vector<RowInsert> PlaceRows(std::vector<FoundFile*>* batch, bool* unreadable);

  FindWindow* const window_;
  const int row_limit_;
  const bool sorted_insert_;
  std::int32_t find_delay_ms_;
  DriverClock* const clock_;  // null: steady clock with interruptible sleep

  DriveIndex index_;

  platform::Mutex find_lock_;
  platform::Mutex insert_lock_;
  // Records added under insert_lock_, read on the window thread while the
  // hand-over holds it.
  ResultsPool pool_;
  CurrentFolder current_folder_ GUARDED_BY(insert_lock_);
  // Rows found since the last hand-over, in order of arrival; the rows the
  // window held after it; and when it was made.
  std::vector<FoundFile*> pending_rows_ GUARDED_BY(insert_lock_);
  int shown_rows_ GUARDED_BY(insert_lock_) = 0;
  bool handed_over_ GUARDED_BY(insert_lock_) = false;
  std::uint32_t last_hand_over_ GUARDED_BY(insert_lock_) = 0;

  mutable platform::Mutex request_lock_;
  StringList look_in_list_ GUARDED_BY(request_lock_);
  std::string open_failure_cause_ GUARDED_BY(request_lock_);

  std::atomic<char> open_drive_letter_{' '};
  std::atomic<bool> running_{false};         // changed under state_lock_
  std::atomic<bool> find_active_{false};
  std::atomic<bool> closing_{false};         // changed under state_lock_
  std::atomic<bool> refresh_{false};
  std::atomic<bool> restart_pending_{false};  // changed under state_lock_
  std::atomic<bool> include_subfolders_{true};
  std::atomic<bool> first_find_latch_{true};
  std::atomic<bool> look_in_fault_{false};
  std::atomic<bool> deferred_details_{false};
  std::atomic<bool> repainted_{false};
  std::atomic<int> reselect_row_{-1};
  std::atomic<std::int32_t> sort_key_{static_cast<std::int32_t>(SortKey::kFolder)};
  std::atomic<bool> sort_descending_{false};
  std::atomic<std::uint32_t> deadline_{0};
  std::atomic<std::uint32_t> finds_started_{0};

  // Decisions that must be one step, and the find-end wait.
  platform::Mutex state_lock_;
  std::condition_variable state_cv_;
  bool close_deferred_ GUARDED_BY(state_lock_) = false;
  bool ending_ GUARDED_BY(state_lock_) = false;  // a find's end is being shown
  int starters_active_ GUARDED_BY(state_lock_) = 0;
  FindEnd last_end_ GUARDED_BY(state_lock_);
  bool shut_down_ GUARDED_BY(state_lock_) = false;

  // Find starter threads; a finished one is joined when the next starts.
  struct Starter {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  platform::Mutex starters_lock_;
  std::list<Starter> starters_ GUARDED_BY(starters_lock_);

  // Interruptible sleep of the steady clock.
  platform::Mutex sleep_lock_;
  std::condition_variable sleep_cv_;
};

}  // namespace quindelo
