#include "search/search_driver.h"
#include "platform/thread_name.h"

#include <algorithm>
#include <variant>

#include "app/settings_store.h"
#include "base/ascii.h"
#include "base/message_report.h"
#include "platform/drive_table.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace quindelo {
namespace {

constexpr IndexAnswer kContinue = IndexAnswer::kGoOn;
constexpr IndexAnswer kStop = IndexAnswer::kStop;
constexpr int kProgressEvery = 100;
constexpr std::int32_t kDefaultFindDelay = 500;

std::string Cut(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

// True when tick a is at or after tick b, allowing for wrap-around.
bool TickReached(std::uint32_t now, std::uint32_t deadline) {
  return static_cast<std::int32_t>(deadline - now) <= 0;
}

// The drive of a look-in text as messages name it: its first two
// characters, right-aligned in two columns.
std::string DriveText(const std::string& look_in_text) {
  std::string drive = look_in_text.substr(0, 2);
  drive.insert(0, 2 - drive.size(), ' ');
  return drive;
}

std::string ProgressMessage(int rows) {
  return "Found " + std::to_string(rows) + " files (press Esc key to stop)...";
}

DriveIndex::Options IndexOptions(const SearchDriver::Options& options) {
  DriveIndex::Options index_options = options.index_options;
  if (options.index_only) index_options.index_only = true;
  return index_options;
}

// The cause of a failed index open, read on the thread that opened: the
// last file error when a file operation failed, else what is wrong with the
// drive.
std::string OpenFailureCause(char letter) {
  std::string cause = platform::DescribeFileError(platform::LastFileError());
  if (!cause.empty()) return cause;
  platform::DriveEntry entry;
  if (letter < 'A' || letter > 'Z' || !platform::LookUpDrive(letter, &entry, false))
    return std::string(1, letter) + ": is not a drive";
  if (!platform::PathExists(entry.root)) return entry.root + ": the drive's folder does not exist";
  return entry.root + ": the drive cannot be read";
}

}  // namespace

std::string FindEndMessage(int rows, bool stopped_at_limit, bool medium_gone) {
  switch (FindEndOutcome(rows, stopped_at_limit, medium_gone)) {
    case FindOutcome::kRowLimit:
      return "Stopped after maximum of " + std::to_string(rows) + " files found.";
    case FindOutcome::kFound:
      return rows == 1 ? "Found one file." : "Found " + std::to_string(rows) + " files.";
    case FindOutcome::kDriveNotReady:
      return "Disk drive is not ready.";
    default:
      return "No files found.  Check your search criteria.";
  }
}

FindOutcome FindEndOutcome(int rows, bool stopped_at_limit, bool medium_gone) {
  if (stopped_at_limit) return FindOutcome::kRowLimit;
  if (rows > 0) return FindOutcome::kFound;
  return medium_gone ? FindOutcome::kDriveNotReady : FindOutcome::kNoneFound;
}

SearchDriver::SearchDriver(FindWindow* window, const Options& options)
    : window_(window),
      row_limit_(options.row_limit < 0 ? 0 : options.row_limit),
      find_delay_ms_(options.find_delay_ms ? *options.find_delay_ms : KeyboardIdleMSecs()),
      clock_(options.clock),
      index_(IndexOptions(options)),
      results_(options.type_provider) {
  if (find_delay_ms_ < 0) find_delay_ms_ = kDefaultFindDelay;
  results_.set_row_limit(row_limit_);
  results_.set_sorted_insert(options.sorted_insert);
  starter_ = std::thread([this] {
    platform::NameThisThread("q-find-start");
    FindStarter();
  });
}

SearchDriver::~SearchDriver() { Shutdown(); }

// ---------------------------------------------------------------------------
// Small helpers

std::uint32_t SearchDriver::Ticks() {
  if (clock_) return clock_->Ticks();
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SearchDriver::Show(const std::string& message, const char* indicator) {
  if (!message.empty()) window_->SetStatusText(Cut(message, kPaneTextSize - 1).c_str());
  if (indicator) window_->SetIndicatorText(indicator);
}

bool SearchDriver::IdleLocked() const {
  return state_ == State::kIdle || state_ == State::kClosing || state_ == State::kShutDown;
}

bool SearchDriver::ClosingLocked() const {
  return state_ == State::kClosing || state_ == State::kShutDown || deferred_ == Deferred::kClose;
}

void SearchDriver::EmptyResults() {
  {
    platform::MutexLock lock(&mutex_);
    pending_.clear();
    handed_rows_ = 0;
    delivered_rows_ = 0;
    kept_rows_ = 0;
    handed_over_ = false;
    rows_refused_ = false;
    ++results_generation_;
  }
  window_->RunLater([this] {
    results_.Clear();
    window_->RowsDeleted();
  });
}

// ---- Accessors.

char SearchDriver::open_drive_letter() const {
  platform::MutexLock lock(&mutex_);
  return open_drive_letter_;
}

std::string SearchDriver::open_failure_cause() const {
  platform::MutexLock lock(&mutex_);
  return open_failure_cause_;
}

void SearchDriver::SetRequest(const FindRequest& request) {
  platform::MutexLock lock(&mutex_);
  request_.named_text = Cut(request.named_text, kMaxFindText);
  request_.containing_text = Cut(request.containing_text, kMaxFindText);
  request_.include_subfolders = request.include_subfolders;
}

std::string SearchDriver::named_text() const {
  platform::MutexLock lock(&mutex_);
  return request_.named_text;
}

bool SearchDriver::first_find_latch() const {
  platform::MutexLock lock(&mutex_);
  return first_find_latch_;
}

void SearchDriver::ClearFirstFindLatch() {
  platform::MutexLock lock(&mutex_);
  first_find_latch_ = false;
}

void SearchDriver::SetLookInFault(bool fault) {
  platform::MutexLock lock(&mutex_);
  look_in_fault_ = fault;
}

bool SearchDriver::look_in_fault() const {
  platform::MutexLock lock(&mutex_);
  return look_in_fault_;
}

void SearchDriver::SetLookInList(const StringList& list) {
  platform::MutexLock lock(&mutex_);
  look_in_list_.CopyFrom(list);
}

StringList SearchDriver::look_in_list() const {
  platform::MutexLock lock(&mutex_);
  StringList copy;
  copy.CopyFrom(look_in_list_);
  return copy;
}

void SearchDriver::set_include_subfolders(bool on) {
  platform::MutexLock lock(&mutex_);
  request_.include_subfolders = on;
}

bool SearchDriver::include_subfolders() const {
  platform::MutexLock lock(&mutex_);
  return request_.include_subfolders;
}

void SearchDriver::set_refresh_flag(bool on) {
  platform::MutexLock lock(&mutex_);
  refresh_ = on;
}

bool SearchDriver::refresh_flag() const {
  platform::MutexLock lock(&mutex_);
  return refresh_;
}

SearchDriver::State SearchDriver::state() const {
  platform::MutexLock lock(&mutex_);
  return state_;
}

bool SearchDriver::find_in_progress() const {
  platform::MutexLock lock(&mutex_);
  return find_active_ && (state_ == State::kScheduled || state_ == State::kStarting ||
                          state_ == State::kRunning);
}

bool SearchDriver::find_active() const {
  platform::MutexLock lock(&mutex_);
  return find_active_;
}

bool SearchDriver::closing() const {
  platform::MutexLock lock(&mutex_);
  return ClosingLocked();
}

std::uint32_t SearchDriver::finds_started() const {
  platform::MutexLock lock(&mutex_);
  return finds_started_;
}

bool SearchDriver::IndexMediumChanged() { return index_.IsRemovable() && !index_.SameVolume(); }

bool SearchDriver::DriveNeedsOpening(char drive) {
  // Under the index lock, so that no open runs while the volume is compared.
  platform::MutexLock index_lock(&index_lock_);
  return drive != open_drive_letter() || IndexMediumChanged();
}

// ---------------------------------------------------------------------------
// Opening the index

bool SearchDriver::OpenDriveIndex(const std::string& look_in_text, bool rebuild) {
  const std::string text = Cut(look_in_text, kMaxFindText);
  const char letter = ascii::ToUpper(text.empty() ? ' ' : text[0]);
  platform::CreateFolders(platform::DataFolder());
  const std::string index_path = platform::IndexFilePath(letter);

  window_->SetWaitCursor(true);
  window_->RepaintForm();
  window_->SetIndicatorText("BUSY");

  bool opened = false;
  {
    platform::MutexLock index_lock(&index_lock_);
    {
      platform::MutexLock lock(&mutex_);
      find_active_ = false;
    }
    if (index_.IsOpen()) {
      window_->SetStatusText("Closing index...");
      index_.Close();
    }
    {
      // A find whose end was lost with the closed index is not running.
      platform::MutexLock lock(&mutex_);
      open_drive_letter_ = ' ';
      if (state_ == State::kStarting || state_ == State::kRunning || state_ == State::kEnding)
        state_ = State::kIdle;
    }
    cv_.notify_all();
    window_->FindActivityChanged();
    EmptyResults();
    {
      platform::MutexLock lock(&mutex_);
      find_active_ = true;
    }

    Show(std::string(rebuild ? "Rebuilding" : "Opening") + " index for drive " + DriveText(text) +
             "...",
         nullptr);

    bool letter_ok = (letter >= 'A' && letter <= 'Z') && text.size() >= 2 && text[1] == ':';
    platform::ClearFileError();
    opened = letter_ok && index_.Open(index_path, text, this, rebuild);
    const std::string cause = opened ? std::string() : OpenFailureCause(letter);
    {
      // The refresh flag stays: the open's own refresh goes by the folder
      // stamps, and a relisting asked for (--refresh before the validation's
      // open) must still reach the next find.
      platform::MutexLock lock(&mutex_);
      open_failure_cause_ = cause;
      open_drive_letter_ = opened ? letter : ' ';
    }
    if (opened)
      Show("Ready.", " ");
    else
      Show("Unable to open index for drive " + DriveText(text) + "!", "ERR");
  }

  window_->SetWaitCursor(false);
  return opened;
}

// ---------------------------------------------------------------------------
// Scheduling and the find starter

void SearchDriver::ScheduleLocked() {
  if (open_drive_letter_ == ' ' || ClosingLocked() || look_in_fault_) return;
  find_active_ = true;
  std::uint32_t deadline = Ticks() + static_cast<std::uint32_t>(find_delay_ms_);
  deadline_ = deadline;
  state_ = State::kScheduled;
}

void SearchDriver::ScheduleFind() {
  {
    platform::MutexLock lock(&mutex_);
    ScheduleLocked();
  }
  cv_.notify_all();
  window_->FindActivityChanged();
}

bool SearchDriver::PassFirstFindLatchLocked() {
  if (first_find_latch_ && request_.named_text.empty()) return false;
  first_find_latch_ = false;
  return true;
}

void SearchDriver::OnFindTextEdited(const FindRequest& request) {
  SetRequest(request);
  {
    platform::MutexLock lock(&mutex_);
    refresh_ = false;
    if (!PassFirstFindLatchLocked()) return;
    ScheduleLocked();
  }
  cv_.notify_all();
  window_->FindActivityChanged();
}

void SearchDriver::Stop() {
  {
    platform::MutexLock lock(&mutex_);
    find_active_ = false;
    if (state_ == State::kScheduled) state_ = State::kIdle;
  }
  cv_.notify_all();
  window_->FindActivityChanged();
}

void SearchDriver::StopAndEmptyResults() {
  Stop();
  platform::MutexLock index_lock(&index_lock_);
  index_.StopAndWait();
  EmptyResults();
}

void SearchDriver::FindStarter() {
  mutex_.Lock();
  for (;;) {
    while (state_ != State::kScheduled && state_ != State::kShutDown) mutex_.Wait(&cv_);
    if (state_ == State::kShutDown) break;
    // A running find ends before the pause is timed.
    mutex_.Unlock();
    {
      platform::MutexLock index_lock(&index_lock_);
      index_.StopAndWait();
    }
    mutex_.Lock();
    // The deadline may move while this thread waits: the find starts the
    // delay after the last keystroke.
    for (;;) {
      if (state_ != State::kScheduled) break;
      const std::uint32_t now = Ticks();
      if (TickReached(now, deadline_)) break;
      const std::uint32_t wait = deadline_ - now;
      if (clock_) {
        mutex_.Unlock();
        clock_->Sleep(wait);
        mutex_.Lock();
      } else {
        mutex_.WaitUntil(&cv_, std::chrono::steady_clock::now() + std::chrono::milliseconds(wait));
      }
    }
    if (state_ != State::kScheduled) continue;
    if (!find_active_ || open_drive_letter_ == ' ') {
      state_ = State::kIdle;
      cv_.notify_all();
      mutex_.Unlock();
      window_->FindActivityChanged();
      mutex_.Lock();
      continue;
    }
    state_ = State::kStarting;
    FindRequest request = request_;
    mutex_.Unlock();
    {
      platform::MutexLock index_lock(&index_lock_);
      StartFind(std::move(request));
    }
    // No find waits any more; one may have started.
    window_->FindActivityChanged();
    mutex_.Lock();
  }
  mutex_.Unlock();
}

void SearchDriver::EndStart(const FindEnd& end) {
  ShowEnd(end);
  {
    platform::MutexLock lock(&mutex_);
    last_end_ = end;
    if (state_ == State::kStarting) state_ = State::kIdle;
  }
  cv_.notify_all();
}

void SearchDriver::StartFind(FindRequest request) {
  window_->UpdateTitle(request.named_text);
  index_.StopAndWait();
  EmptyResults();

  if (request.named_text.empty()) {
    EndStart(FindEnd{"Ready.", " ", FindOutcome::kReady});
    return;
  }
  if (request.named_text.find('\\') != std::string::npos) {
    EndStart(FindEnd{"Name must be a simple name, path not allowed.", "ERR", FindOutcome::kError});
    return;
  }
  {
    // Decided together with RequestClose and a new schedule: either they see
    // this find running and defer to its end, or this find is not started.
    platform::MutexLock lock(&mutex_);
    if (state_ != State::kStarting) return;
    request.look_in_list.CopyFrom(look_in_list_);
    request.refresh = refresh_;
    refresh_ = false;  // passed to this find only
    state_ = State::kRunning;
    ++finds_started_;  // taken back below when the index refuses it
  }
  window_->FindActivityChanged();
  std::string error;
  const bool started = StartIndexFind(request, &error);
  bool post_close = false;
  bool post_refresh = false;
  {
    platform::MutexLock lock(&mutex_);
    if (started) return;
    --finds_started_;
    // The find never started, so no end (FindEnded) will come: a close or a
    // Refresh that deferred itself to that end is carried out here instead
    // of being lost.
    // Ending until its message is shown and the deferred request posted.
    if (state_ == State::kRunning) {
      post_close = deferred_ == Deferred::kClose;
      post_refresh = deferred_ == Deferred::kRefresh;
      deferred_ = Deferred::kNone;
      state_ = State::kEnding;
    }
  }
  window_->FindActivityChanged();
  if (error.empty()) error = LastError().text;
  const FindEnd end{Cut(error + "!", kPaneTextSize - 1), "ERR", FindOutcome::kError};
  ShowEnd(end);
  if (post_close) window_->PostCloseRequest();
  if (post_refresh) window_->PostCommand(kCommandRefresh);
  {
    platform::MutexLock lock(&mutex_);
    last_end_ = end;
    if (state_ == State::kEnding) state_ = post_close ? State::kClosing : State::kIdle;
  }
  cv_.notify_all();
  window_->FindActivityChanged();
}

bool SearchDriver::StartIndexFind(const FindRequest& request, std::string* error) {
  return index_.StartFind(request, error);
}

// ---------------------------------------------------------------------------
// Stopping, Refresh and closing

void SearchDriver::Refresh(const std::string& look_in_text, bool rebuild, int focused_row) {
  bool deferred = false;
  {
    platform::MutexLock lock(&mutex_);
    if (state_ == State::kRunning) {
      // The running find ends without its end message and posts Refresh.
      find_active_ = false;
      deferred_ = Deferred::kRefresh;
      deferred = true;
    }
  }
  if (deferred) {
    window_->FindActivityChanged();
    return;
  }
  window_->RunLater([this, focused_row] { results_.set_reselect_row(focused_row); });
  if (!OpenDriveIndex(look_in_text, rebuild)) return;
  {
    platform::MutexLock lock(&mutex_);
    refresh_ = true;
    if (!PassFirstFindLatchLocked()) return;
    ScheduleLocked();
  }
  cv_.notify_all();
  window_->FindActivityChanged();
}

bool SearchDriver::RequestClose() {
  {
    platform::MutexLock lock(&mutex_);
    if (state_ == State::kShutDown) return true;
    if (state_ != State::kRunning) {
      state_ = State::kClosing;
      cv_.notify_all();
      return true;
    }
    find_active_ = false;
    deferred_ = Deferred::kClose;
  }
  window_->FindActivityChanged();
  return false;
}

void SearchDriver::Shutdown() {
  {
    platform::MutexLock lock(&mutex_);
    if (state_ == State::kShutDown) return;
    state_ = State::kShutDown;
    find_active_ = false;
  }
  cv_.notify_all();
  if (starter_.joinable()) starter_.join();
  platform::MutexLock index_lock(&index_lock_);
  index_.Shutdown();
  {
    platform::MutexLock lock(&mutex_);
    open_drive_letter_ = ' ';
  }
  cv_.notify_all();
  window_->FindActivityChanged();
}

// ---------------------------------------------------------------------------
// Waiting for the end of a find

bool SearchDriver::WaitForFindEnd(std::chrono::milliseconds timeout, FindEnd* end) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  platform::MutexLock lock(&mutex_);
  while (!IdleLocked())
    if (!mutex_.WaitUntil(&cv_, deadline)) break;
  const bool idle = IdleLocked();
  if (idle && end) *end = last_end_;
  return idle;
}

FindEnd SearchDriver::WaitForFindEnd() {
  FindEnd end;
  while (!WaitForFindEnd(std::chrono::hours(1), &end)) {
  }
  return end;
}

bool SearchDriver::RecountEnd(int rows, const std::string& shown) {
  std::string message;
  {
    platform::MutexLock lock(&mutex_);
    if (!IdleLocked() || last_end_.outcome != FindOutcome::kFound || last_end_.indicator != " " ||
        last_end_.message != shown)
      return false;
    last_end_.message = FindEndMessage(rows, false, false);
    last_end_.outcome = FindEndOutcome(rows, false, false);
    message = last_end_.message;
  }
  Show(message, nullptr);
  return true;
}

// ---------------------------------------------------------------------------
// The index's messages

IndexAnswer SearchDriver::OnIndexMessage(const IndexMessage& message) {
  if (std::holds_alternative<FindEnded>(message)) return OnFindEnd();
  if (const auto* found = std::get_if<FoundName>(&message)) return OnFoundFile(found->path);
  {
    // A stopped find, a closing form and a Refresh waiting for the end
    // answer stop to everything but the end.
    platform::MutexLock lock(&mutex_);
    if (!find_active_ || ClosingLocked() || deferred_ != Deferred::kNone)
      return kStop;
  }
  if (std::holds_alternative<PollRequest>(message)) return kContinue;
  return OnPhaseMessage(message);
}

IndexAnswer SearchDriver::OnFindEnd() {
  EndFacts facts;
  bool post_close = false;
  bool post_refresh = false;
  bool quiet = false;
  {
    platform::MutexLock lock(&mutex_);
    facts.was_running = state_ == State::kRunning;
    facts.stopped = !find_active_;
    facts.drive = open_drive_letter_;
    if (deferred_ == Deferred::kClose || state_ == State::kClosing || state_ == State::kShutDown) {
      // The form asked to close during the find; it closes now.
      quiet = true;
      post_close = deferred_ == Deferred::kClose;
      if (state_ != State::kShutDown) state_ = State::kClosing;
      deferred_ = Deferred::kNone;
    } else if (deferred_ == Deferred::kRefresh) {
      // Refresh was asked for during the find; it runs anew, and this end
      // shows no message.
      quiet = true;
      post_refresh = true;
      deferred_ = Deferred::kNone;
      if (facts.was_running) state_ = State::kIdle;
    } else if (facts.was_running) {
      state_ = State::kEnding;
    }
  }
  cv_.notify_all();
  window_->FindActivityChanged();
  if (quiet) {
    if (post_close) window_->PostCloseRequest();
    if (post_refresh) window_->PostCommand(kCommandRefresh);
    return kStop;
  }
  // Every row found reaches the window before the end message counts them.
  HandOverRows(RowsDue::kNow);
  facts.medium_gone = facts.was_running && !facts.stopped && IndexMediumChanged();
  facts.write_failure = index_.write_failure();
  const bool details_were_deferred = details_deferred_;
  details_deferred_ = false;
  window_->RunLater([this, facts, details_were_deferred] {
    ShowFindEnd(facts);
    if (details_were_deferred) DetailsDue();
    window_->FindActivityChanged();
    // The last touch of the driver: a waiter for the end may destroy it
    // once it sees the state. Only the end of the find that is ending ends
    // it: an earlier end without a find (a stopped walk) may run after the
    // next find's end arrived.
    platform::MutexLock lock(&mutex_);
    if (facts.was_running && state_ == State::kEnding) state_ = State::kIdle;
    cv_.notify_all();
  });
  return kContinue;
}

void SearchDriver::ShowFindEnd(const EndFacts& facts) {
  {
    platform::MutexLock lock(&mutex_);
    // The look-in text turned invalid: its fault stays on the status line,
    // and the rows of this find went with the results it emptied.
    if (look_in_fault_) return;
  }
  const FindEnd end = EndOfFind(facts, results_.row_count());
  ShowEnd(end);
  if (facts.was_running) {
    const int row = results_.TakeReselectRow();
    if (row >= 0) window_->SelectRow(row);
  }
  platform::MutexLock lock(&mutex_);
  if (facts.was_running) last_end_ = end;
}

FindEnd SearchDriver::EndOfFind(const EndFacts& facts, int rows) const {
  FindEnd end;
  if (!facts.was_running) {
    end = FindEnd{"Ready.", " ", FindOutcome::kReady};
  } else if (facts.stopped) {
    end = rows == 0 ? FindEnd{"User stopped.", " ", FindOutcome::kUserStopped}
                    : FindEnd{"User stopped after finding " + std::to_string(rows) + " file(s).",
                              " ", FindOutcome::kUserStopped};
  } else {
    const bool at_limit = row_limit_ > 0 && rows >= row_limit_;
    const bool medium_gone = rows == 0 && facts.medium_gone;
    end = FindEnd{FindEndMessage(rows, at_limit, medium_gone), " ",
                  FindEndOutcome(rows, at_limit, medium_gone)};
  }
  // Once a write of the open index file has failed, the message names that
  // failure and its cause with "ERR" (the outcome stays what the find
  // found): such an index gives partial answers until its rebuild at the
  // next open.
  if (!facts.write_failure.empty()) {
    end.message = "Unable to write index for drive " +
                  std::string(1, facts.drive == ' ' ? '?' : facts.drive) + ":! " +
                  facts.write_failure;
    end.indicator = "ERR";
  }
  return end;
}

void SearchDriver::DetailsDue() {
  results_.set_deferred_details(false);
  window_->DetailsDue();
}

IndexAnswer SearchDriver::OnPhaseMessage(const IndexMessage& message) {
  const bool running = state() == State::kRunning;
  const PhaseStarted* started = std::get_if<PhaseStarted>(&message);
  const FindPhase phase = started ? started->phase : FindPhase::kIdle;
  const bool name_phase = phase == FindPhase::kIndexFind;
  std::string status;
  const char* indicator = nullptr;
  if (name_phase) {
    status = "Finding matching file names...";
    indicator = "BUSY";
    if (!details_deferred_) window_->RunLater([this] { results_.set_deferred_details(true); });
    details_deferred_ = true;
    repainted_ = false;
  } else if (phase == FindPhase::kRefresh || std::holds_alternative<RefreshProgress>(message)) {
    if (!repainted_) window_->RepaintForm();
    repainted_ = true;
    if (const auto* refresh = std::get_if<RefreshProgress>(&message))
      status = (running ? "Finding while updating \"" : "Updating \"") + refresh->folder + "*\"...";
    else
      status = running ? "Finding while updating..." : "Updating name information.";
    indicator = "BUSY";
  } else if (phase == FindPhase::kCompaction) {
    status = running ? "Find completed.  Compressing index file." : "Compressing index file.";
    indicator = " ";
  } else if (phase == FindPhase::kContent || std::holds_alternative<ContentProgress>(message)) {
    if (const auto* content = std::get_if<ContentProgress>(&message))
      status = "Searching file \"" + content->file + "\"...";
    else
      status = "Searching files...";
    indicator = "BUSY";
  }
  // The final delivery shows nothing of its own.
  HandOverRows(status.empty() ? RowsDue::kWhenDue : RowsDue::kBeforeMessage);
  Show(status, indicator);
  if (!name_phase && details_deferred_) {
    details_deferred_ = false;
    window_->RunLater([this] { DetailsDue(); });
  }
  return kContinue;
}

IndexAnswer SearchDriver::OnFoundFile(const std::string& path) {
  FoundPaths batch;
  std::uint64_t generation = 0;
  // A second round follows a hand-over made for the limit's sake.
  for (bool handed = false;; handed = true) {
    bool due = false;
    bool added = false;
    {
      platform::MutexLock lock(&mutex_);
      // A stopped find, a closing form and a Refresh waiting for the end
      // answer stop; so does a ResultSet that holds as many rows as it may.
      if (!find_active_ || ClosingLocked() || deferred_ != Deferred::kNone || rows_refused_)
        return kStop;
      // The limit counts the rows the ResultSet kept, and those on their
      // way to it (a window without a filter keeps every row it is handed).
      const int in_flight = handed_rows_ - delivered_rows_;
      const int rows = kept_rows_ + in_flight + static_cast<int>(pending_.size());
      const bool room = row_limit_ == 0 || rows < row_limit_;
      if (!room && handed) return kStop;
      if (room) pending_.Add(path);
      added = room;
      due = TakeDueRowsLocked(added ? RowsDue::kWhenDue : RowsDue::kNow, &batch, &generation);
      if (added && !due) return kContinue;
    }
    if (due) PostRows(std::move(batch), generation);
    if (added) return kContinue;
    batch = FoundPaths();
  }
}

bool SearchDriver::TakeDueRowsLocked(RowsDue due, FoundPaths* batch, std::uint64_t* generation) {
  if (pending_.empty()) return false;
  const int before = handed_rows_;
  const std::uint32_t now = Ticks();
  if (due != RowsDue::kNow) {
    const bool time_due = !handed_over_ || TickReached(now, last_hand_over_ + kRowHandOverMs);
    const int found = before + static_cast<int>(pending_.size());
    const bool progress_due =
        due == RowsDue::kBeforeMessage && found / kProgressEvery > before / kProgressEvery;
    if (!time_due && !progress_due) return false;
  }
  std::swap(*batch, pending_);
  pending_.clear();
  handed_rows_ += static_cast<int>(batch->size());
  handed_over_ = true;
  last_hand_over_ = now;
  *generation = results_generation_;
  return true;
}

void SearchDriver::HandOverRows(RowsDue due) {
  FoundPaths batch;
  std::uint64_t generation = 0;
  {
    platform::MutexLock lock(&mutex_);
    if (!TakeDueRowsLocked(due, &batch, &generation)) return;
  }
  PostRows(std::move(batch), generation);
}

void SearchDriver::PostRows(FoundPaths batch, std::uint64_t generation) {
  window_->RunLater([this, batch = std::move(batch), generation] { DeliverRows(batch, generation); });
}

void SearchDriver::DeliverRows(const FoundPaths& paths, std::uint64_t generation) {
  {
    // Rows of results emptied since they were handed over go with them.
    platform::MutexLock lock(&mutex_);
    if (generation != results_generation_) return;
  }
  const int before = results_.row_count();
  bool out_of_memory = false;
  const std::vector<RowRange> ranges = results_.Add(paths, &out_of_memory);
  if (!ranges.empty()) window_->RowsInserted(results_, ranges);
  const int after = results_.row_count();
  for (int n = (before / kProgressEvery + 1) * kProgressEvery; n <= after; n += kProgressEvery)
    Show(ProgressMessage(n), nullptr);
  platform::MutexLock lock(&mutex_);
  if (generation != results_generation_) return;
  kept_rows_ = after;
  delivered_rows_ += static_cast<int>(paths.size());
  if (out_of_memory || results_.at_limit()) rows_refused_ = true;
}

}  // namespace quindelo
