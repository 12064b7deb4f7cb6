// SearchDriver: the find form's side of every find. It opens, closes and
// rebuilds the index of the drive being searched, starts a find a short delay
// after the user stops typing, hands the find request to the DriveIndex,
// turns the index's notifications into rows of its ResultSet and status
// messages, and owns the stop rules (Stop, a selection, new typing, closing,
// Refresh during a find, and the row limit).
//
// The driver talks to the form only through FindWindow (find_window.h): it
// never reads anything back from it. The form hands it the texts of a find
// (SetRequest, OnFindTextEdited) and the focused row (Refresh).
//
// Threads and locks:
//   - the caller's (the window's) thread: scheduling, Stop, Refresh, closing;
//     OpenDriveIndex, Refresh and Shutdown wait for the index and may be
//     made from any one thread at a time;
//   - "q-find-start", the one find starter, which waits for the find
//     deadline and starts each find;
//   - the index's notify thread, which delivers its messages to
//     OnIndexMessage, and the index workers, which poll it.
//   mutex_ guards the driver's state: the one life-cycle state (State), the
//   deferred intent (close or refresh after the running find), the find
//   deadline and request, the flags, the last end and the paths found since
//   the last hand-over; it is never held while calling the window or the
//   index. index_lock_ is held by whoever calls into the DriveIndex (the
//   starter, opening, stopping, shutting down), so that one thread at a time
//   drives it.
//   The ResultSet belongs to the window's thread (FindWindow::RunLater):
//   found paths reach it by value, in batches, and the notify thread never
//   waits for the window.
//
// Failure: nothing here throws. A ResultsPool that cannot grow stops the find.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
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
#include "search/result_set.h"

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

  // The life cycle of finds, one state at a time.
  enum class State {
    kIdle,       // no find due, starting, running or ending
    kScheduled,  // a find starts at the deadline
    kStarting,   // the starter prepares the find
    kRunning,    // the find is with the index, until its end arrives
    kEnding,     // its end is on its way to the window
    kClosing,    // the form closes: no find starts any more
    kShutDown,   // Shutdown ran
  };
  // What the running find's end does instead of showing its message.
  enum class Deferred { kNone, kClose, kRefresh };

  // window is not owned and must outlive the driver. The index's threads
  // and the find starter start at once and idle; no drive is open.
  SearchDriver(FindWindow* window, const Options& options);
  explicit SearchDriver(FindWindow* window) : SearchDriver(window, Options()) {}
  // Shuts down (as Shutdown).
  ~SearchDriver() override;
  SearchDriver(const SearchDriver&) = delete;
  SearchDriver& operator=(const SearchDriver&) = delete;

  // ---- Index.

  // Closes the open index (if any), empties the results, and opens (or with
  // rebuild, rebuilds) the index of the drive named by the first two
  // characters of look_in_text, which then refreshes itself in the
  // background. The refresh flag is kept: a relisting asked for before the
  // open reaches the next find. Shows "Opening"/"Rebuilding index for drive X:...", then
  // "Ready." or "Unable to open index for drive X:!" with "ERR". Returns
  // whether a drive is now open. Waits for the index.
  bool OpenDriveIndex(const std::string& look_in_text, bool rebuild) EXCLUDES(mutex_);

  // Why the last OpenDriveIndex failed, for the line under its message:
  // the path and the system's error text ("/x/DriveT.idx: Permission
  // denied"), or what is wrong with the drive. Empty after a success.
  std::string open_failure_cause() const EXCLUDES(mutex_);

  // The first failed write of the open (or last closed) index file: "path:
  // cause", or empty. Such an index gave a partial answer and is rebuilt at
  // its next open.
  std::string index_write_failure() const { return index_.write_failure(); }
  // True when the last find's names were all on the disk as it started (a
  // live index with every folder watched): see DriveIndex::last_find_exact.
  bool last_find_exact() const { return index_.last_find_exact(); }

  // Upper-case letter of the drive whose index is open, or ' '.
  char open_drive_letter() const EXCLUDES(mutex_);

  // True when the open index is on a removable drive that no longer holds
  // the volume it was opened on (its medium was taken out or exchanged).
  // Virtual so that tests can stand in for a removable drive.
  virtual bool IndexMediumChanged();

  // Validation's drive check: true when the index of drive (upper case) must
  // be opened, because another drive (or none) is open or the medium of the
  // open removable drive changed. Waits for a find being started.
  bool DriveNeedsOpening(char drive) EXCLUDES(mutex_);

  // ---- The request and scheduling.

  // The texts of the next find as the form's boxes hold them: named and
  // containing text (cut to kMaxFindText) and the include-subfolders flag.
  // The look-in list comes from validation (SetLookInList), the refresh
  // flag from the driver. Any thread.
  void SetRequest(const FindRequest& request) EXCLUDES(mutex_);
  // The named text of the last SetRequest.
  std::string named_text() const EXCLUDES(mutex_);

  // Starts a find the find delay from now, unless no drive is open or the
  // form is closing: sets the find-active flag and moves the find deadline,
  // so a burst of calls yields one find, the delay after the last call.
  void ScheduleFind() EXCLUDES(mutex_);

  // An edit of the named or containing box, with the boxes' texts: takes
  // the request, clears the refresh flag; then, unless this is before the
  // first find and the named box is empty, clears the first-find latch and
  // schedules a find.
  void OnFindTextEdited(const FindRequest& request) EXCLUDES(mutex_);

  // The first-find latch: set at construction, cleared by the first
  // scheduling with a non-empty named text.
  bool first_find_latch() const EXCLUDES(mutex_);
  void ClearFirstFindLatch() EXCLUDES(mutex_);

  // ---- Stopping, Refresh and closing.

  // Stop and Esc, a click that leaves rows selected, the popup, the file
  // commands and loading a document: clears the find-active flag; a
  // scheduled find does not start, a running one stops at the index's next
  // poll and its end shows "User stopped...".
  void Stop() EXCLUDES(mutex_);

  // Stops a scheduled or running find as Stop does, waits for the index to
  // go idle and empties the results (rows, ResultsPool, current folder).
  // Waits for the index.
  void StopAndEmptyResults() EXCLUDES(mutex_);

  // Validation's verdict on the look-in text. While the text is invalid no
  // find is scheduled, and the end of a find or of the index's refresh shows
  // no message, so that the fault and its "ERR" stay on the status line
  // until the text changes. Any thread.
  void SetLookInFault(bool fault) EXCLUDES(mutex_);
  bool look_in_fault() const EXCLUDES(mutex_);

  // Refresh: when a find is running, stops it and defers itself to its end
  // (the end posts kCommandRefresh, whose handler calls Refresh again).
  // Otherwise remembers focused_row (the form's focused row, or -1) as the
  // reselect row, reopens the index (rebuilding it when rebuild is set, the
  // Shift key), sets the refresh flag and, when the named box holds text or
  // a find has been scheduled before, schedules a find. Waits for the index.
  void Refresh(const std::string& look_in_text, bool rebuild, int focused_row = -1)
      EXCLUDES(mutex_);

  // A close request to the form. Returns true when the form may close now
  // (no find starts any more); false when a find is running, which is
  // stopped and posts the close request again at its end.
  bool RequestClose() EXCLUDES(mutex_);

  // Stops the find starter and shuts the index down (no more callbacks).
  // Idempotent.
  void Shutdown() EXCLUDES(mutex_);

  // ---- The find request's other parts.

  // The look-in list of the last validation (folders of the open drive, each
  // beginning with a backslash; empty means the whole drive).
  void SetLookInList(const StringList& list) EXCLUDES(mutex_);
  StringList look_in_list() const EXCLUDES(mutex_);
  void set_include_subfolders(bool on) EXCLUDES(mutex_);
  bool include_subfolders() const EXCLUDES(mutex_);
  // The refresh flag: the next find asks the index to list every folder in
  // its scope again, whatever the folder stamps say (Refresh, Include
  // Subfolders and the file commands set it; --refresh of the finder).
  void set_refresh_flag(bool on) EXCLUDES(mutex_);
  bool refresh_flag() const EXCLUDES(mutex_);
  // The order rows are inserted in (the view options' sort key and
  // descending flag). Window thread.
  void set_sort_order(SortOrder order) { results_.set_sort_order(order); }
  SortOrder sort_order() const { return results_.sort_order(); }

  // ---- State read by the form and tests.

  State state() const EXCLUDES(mutex_);
  bool running() const { return state() == State::kRunning; }
  // A find is in progress: scheduled, or handed to the index, and not
  // stopped. The Stop command is enabled exactly while this holds.
  bool find_in_progress() const EXCLUDES(mutex_);
  bool find_active() const EXCLUDES(mutex_);
  bool closing() const EXCLUDES(mutex_);
  std::int32_t find_delay_ms() const { return find_delay_ms_; }
  // The rows and their records. Window thread only.
  ResultSet& result_set() { return results_; }
  // Finds handed to the index so far.
  std::uint32_t finds_started() const EXCLUDES(mutex_);

  // Waits until no find is scheduled, starting, running or ending, and gives
  // the message that ended the last find (or the last find start that ran
  // none: an empty named text, a path, a containing text that does not
  // compile). False when timeout passed first. Never call it on the
  // window's thread while a find ends: the end is shown there.
  bool WaitForFindEnd(std::chrono::milliseconds timeout, FindEnd* end) EXCLUDES(mutex_);
  // The same without a time limit.
  FindEnd WaitForFindEnd();

  // Rows of the list went away after the last find ended (the window found
  // their files gone when it drew them); the list now holds rows rows. When
  // no find is under way, the last one ended with files found ("Found one
  // file." or "Found %d files.", no failure) and shown is still that
  // message, the message for rows becomes the find's end and is shown.
  // Returns whether it was. Window thread.
  bool RecountEnd(int rows, const std::string& shown) EXCLUDES(mutex_);

  // ---- The index's messages.

  // A message of the DriveIndex; the answer asks it to go on or to stop.
  // Found paths are kept until their hand-over to the window (see
  // find_window.h); the clock of Options decides when one is due.
  IndexAnswer OnIndexMessage(const IndexMessage& message) override EXCLUDES(mutex_);

 protected:
  // Hands a find to the DriveIndex (DriveIndex::StartFind), with the state
  // already running; false, with the compiler's message in *error, when the
  // index refuses it. Called by the find starter under the index lock.
  // Virtual so that tests can act in the moment before the index answers.
  virtual bool StartIndexFind(const FindRequest& request, std::string* error);

 private:
  // The find starter's loop.
  void FindStarter() EXCLUDES(mutex_);
  // Takes the request and hands it to the index.
  void StartFind(FindRequest request) REQUIRES(index_lock_) EXCLUDES(mutex_);
  // The end of a find start that ran no find.
  void EndStart(const FindEnd& end) EXCLUDES(mutex_);
  bool IdleLocked() const REQUIRES(mutex_);
  bool ClosingLocked() const REQUIRES(mutex_);
  void ScheduleLocked() REQUIRES(mutex_);
  // While the first-find latch is set, an empty named text schedules
  // nothing; otherwise the latch is cleared. True when a find may be
  // scheduled.
  bool PassFirstFindLatchLocked() REQUIRES(mutex_);
  std::uint32_t Ticks();
  // Every row goes: the pending paths at once, the ResultSet on the
  // window's thread.
  void EmptyResults() EXCLUDES(mutex_);
  void Show(const std::string& message, const char* indicator);
  void ShowEnd(const FindEnd& end) { Show(end.message, end.indicator.c_str()); }

  // The index's notifications, after the gates of OnIndexMessage.
  IndexAnswer OnFindEnd() EXCLUDES(mutex_);
  IndexAnswer OnFoundFile(const std::string& path) EXCLUDES(mutex_);
  // A phase started, or the progress of the refresh or the content search.
  IndexAnswer OnPhaseMessage(const IndexMessage& message) EXCLUDES(mutex_);
  // What the end of a find knows when it arrives.
  struct EndFacts {
    bool was_running = false;
    bool stopped = false;      // the user stopped it
    bool medium_gone = false;  // the removable drive's medium went away
    std::string write_failure;
    char drive = ' ';
  };
  // Window thread: shows the end of a find with the rows it left.
  void ShowFindEnd(const EndFacts& facts) EXCLUDES(mutex_);
  FindEnd EndOfFind(const EndFacts& facts, int rows) const;
  // Window thread: the name phase is over; the rows fetch their details.
  void DetailsDue();

  // When the paths found since the last hand-over go to the window: now;
  // when kRowHandOverMs have passed since the last one (or none was made
  // since the results were emptied); or before a status message, also when
  // the rows reach a multiple of the progress step, so that the progress
  // messages keep their place before it.
  enum class RowsDue { kNow, kWhenDue, kBeforeMessage };
  void HandOverRows(RowsDue due) EXCLUDES(mutex_);
  // Takes the pending paths into *batch when they are due; true when it did.
  bool TakeDueRowsLocked(RowsDue due, FoundPaths* batch, std::uint64_t* generation)
      REQUIRES(mutex_);
  // Hands a taken batch to the window's thread.
  void PostRows(FoundPaths batch, std::uint64_t generation) EXCLUDES(mutex_);
  // Window thread: puts a batch into the ResultSet and shows a progress
  // message for every hundredth row it brings.
  void DeliverRows(const FoundPaths& paths, std::uint64_t generation)
      EXCLUDES(mutex_);

  FindWindow* const window_;
  const int row_limit_;
  std::int32_t find_delay_ms_;
  DriverClock* const clock_;  // null: steady clock

  DriveIndex index_;
  // Serialises the calls into index_ (Open, StartFind, StopAndWait, Close,
  // Shutdown); never taken while mutex_ is held.
  platform::Mutex index_lock_;

  // The window's thread's.
  ResultSet results_;
  bool details_deferred_ = false;  // notify thread only
  bool repainted_ = false;         // notify thread only

  mutable platform::Mutex mutex_;
  std::condition_variable cv_;  // state_, deadline_ or request_ changed
  State state_ GUARDED_BY(mutex_) = State::kIdle;
  Deferred deferred_ GUARDED_BY(mutex_) = Deferred::kNone;
  std::uint32_t deadline_ GUARDED_BY(mutex_) = 0;
  FindRequest request_ GUARDED_BY(mutex_);
  StringList look_in_list_ GUARDED_BY(mutex_);
  bool refresh_ GUARDED_BY(mutex_) = false;
  bool find_active_ GUARDED_BY(mutex_) = false;
  bool first_find_latch_ GUARDED_BY(mutex_) = true;
  bool look_in_fault_ GUARDED_BY(mutex_) = false;
  char open_drive_letter_ GUARDED_BY(mutex_) = ' ';
  std::string open_failure_cause_ GUARDED_BY(mutex_);
  std::uint32_t finds_started_ GUARDED_BY(mutex_) = 0;
  FindEnd last_end_ GUARDED_BY(mutex_);
  // Paths found since the last hand-over, in order of arrival; the rows
  // handed over since the results were emptied; when the last went; and
  // which emptying they belong to.
  FoundPaths pending_ GUARDED_BY(mutex_);
  int handed_rows_ GUARDED_BY(mutex_) = 0;
  // Of those, the rows delivered to the ResultSet, and the rows it kept.
  int delivered_rows_ GUARDED_BY(mutex_) = 0;
  int kept_rows_ GUARDED_BY(mutex_) = 0;
  bool handed_over_ GUARDED_BY(mutex_) = false;
  std::uint32_t last_hand_over_ GUARDED_BY(mutex_) = 0;
  std::uint64_t results_generation_ GUARDED_BY(mutex_) = 0;
  // The ResultSet took no more rows (the row limit, or no memory).
  bool rows_refused_ GUARDED_BY(mutex_) = false;

  std::thread starter_;  // last: starts once the rest exists
};

}  // namespace quindelo
