#include "search/search_driver.h"
#include "platform/thread_name.h"

#include <algorithm>
#include <new>
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
      sorted_insert_(options.sorted_insert),
      find_delay_ms_(options.find_delay_ms ? *options.find_delay_ms : KeyboardIdleMSecs()),
      clock_(options.clock),
      index_(IndexOptions(options)),
      pool_(options.type_provider) {
  if (find_delay_ms_ < 0) find_delay_ms_ = kDefaultFindDelay;
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

void SearchDriver::SleepTicks(std::uint32_t ms) {
  if (clock_) {
    clock_->Sleep(ms);
    return;
  }
  // Closing ends the sleep at once, so Shutdown never waits out a long delay.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  platform::MutexLock lock(&sleep_lock_);
  while (!closing_)
    if (!sleep_lock_.WaitUntil(&sleep_cv_, deadline)) break;
}

void SearchDriver::Show(const std::string& message, const char* indicator) {
  if (!message.empty()) window_->SetStatusText(Cut(message, kPaneTextSize - 1).c_str());
  if (indicator) window_->SetIndicatorText(indicator);
}

void SearchDriver::ShowEnd(const FindEnd& end) { Show(end.message, end.indicator.c_str()); }

void SearchDriver::SetRunning(bool on) {
  {
    platform::MutexLock lock(&state_lock_);
    running_ = on;
  }
  state_cv_.notify_all();
  window_->FindActivityChanged();
}

void SearchDriver::RecordEnd(const FindEnd& end) {
  platform::MutexLock lock(&state_lock_);
  last_end_ = end;
}

void SearchDriver::EmptyResults() {
  platform::MutexLock lock(&insert_lock_);
  window_->RunOnWindowThread([this] { window_->DeleteAllRows(); });
  pending_rows_.clear();
  shown_rows_ = 0;
  handed_over_ = false;
  pool_.Clear();
  current_folder_.Forget();
}

void SearchDriver::SetLookInList(const StringList& list) {
  platform::MutexLock lock(&request_lock_);
  look_in_list_.CopyFrom(list);
}

StringList SearchDriver::look_in_list() const {
  platform::MutexLock lock(&request_lock_);
  StringList copy;
  copy.CopyFrom(look_in_list_);
  return copy;
}

void SearchDriver::set_sort_order(SortOrder order) {
  sort_key_ = static_cast<std::int32_t>(order.key);
  sort_descending_ = order.descending;
}

SortOrder SearchDriver::sort_order() const {
  SortOrder order;
  order.key = static_cast<SortKey>(sort_key_.load());
  order.descending = sort_descending_.load();
  return order;
}

bool SearchDriver::IndexMediumChanged() { return index_.IsRemovable() && !index_.SameVolume(); }

bool SearchDriver::DriveNeedsOpening(char drive) {
  // Under the find lock, so that no open runs while the volume is compared.
  platform::MutexLock find_lock(&find_lock_);
  return drive != open_drive_letter_ || IndexMediumChanged();
}

// ---------------------------------------------------------------------------
// Opening the index

bool SearchDriver::OpenDriveIndex(const std::string& look_in_text, bool rebuild) {
  const std::string text = Cut(look_in_text, kMaxFindText);
  const char letter = ascii::ToUpper(text.empty() ? ' ' : text[0]);
  platform::CreateFolders(platform::DataFolder());
  const std::string index_path = platform::IndexFilePath(letter);

  window_->RunOnWindowThread([this] {
    window_->SetWaitCursor(true);
    window_->RepaintForm();
  });
  window_->SetIndicatorText("BUSY");

  bool opened = false;
  {
    platform::MutexLock find_lock(&find_lock_);
    find_active_ = false;
    if (index_.IsOpen()) {
      window_->SetStatusText("Closing index...");
      index_.Close();
      open_drive_letter_ = ' ';
    }
    // A find whose end was lost with the closed index is not running.
    SetRunning(false);
    EmptyResults();
    find_active_ = true;

    Show(std::string(rebuild ? "Rebuilding" : "Opening") + " index for drive " + DriveText(text) +
             "...",
         nullptr);

    bool letter_ok = (letter >= 'A' && letter <= 'Z') && text.size() >= 2 && text[1] == ':';
    platform::ClearFileError();
    opened = letter_ok && index_.Open(index_path, text, this,
                                      rebuild);
    {
      platform::MutexLock lock(&request_lock_);
      open_failure_cause_ = opened ? std::string() : OpenFailureCause(letter);
    }
    if (opened) {
      // The refresh flag stays: the open's own refresh goes by the folder
      // stamps, and a relisting asked for (--refresh before the validation's
      // open) must still reach the next find.
      open_drive_letter_ = letter;
      Show("Ready.", " ");
    } else {
      open_drive_letter_ = ' ';
      Show("Unable to open index for drive " + DriveText(text) + "!", "ERR");
    }
  }

  window_->RunOnWindowThread([this] { window_->SetWaitCursor(false); });
  return opened;
}

std::string SearchDriver::open_failure_cause() const {
  platform::MutexLock lock(&request_lock_);
  return open_failure_cause_;
}

// ---------------------------------------------------------------------------
// Scheduling and the find starter

void SearchDriver::ScheduleFind() {
  if (open_drive_letter_ == ' ' || closing_ || look_in_fault_) return;
  find_active_ = true;
  std::uint32_t deadline = Ticks() + static_cast<std::uint32_t>(find_delay_ms_);
  if (deadline == 0) deadline = 1;  // 0 means "no starter waiting"
  if (deadline_.exchange(deadline) == 0) LaunchStarter();
  window_->FindActivityChanged();
}

void SearchDriver::StopAndEmptyResults() {
  Stop();
  platform::MutexLock find_lock(&find_lock_);
  index_.StopAndWait();
  EmptyResults();
}

bool SearchDriver::PassFirstFindLatch() {
  if (first_find_latch_) {
    bool named_empty = true;
    window_->RunOnWindowThread([&] { named_empty = window_->NamedText().empty(); });
    if (named_empty) return false;
  }
  first_find_latch_ = false;
  return true;
}

void SearchDriver::OnFindTextEdited() {
  refresh_ = false;
  if (PassFirstFindLatch()) ScheduleFind();
}

void SearchDriver::LaunchStarter() {
  // starters_lock_ is held from the shut-down check until the thread is in
  // starters_: otherwise Shutdown could take the list between the two and
  // never join this thread.
  platform::MutexLock lock(&starters_lock_);
  {
    platform::MutexLock state(&state_lock_);
    if (shut_down_) {
      deadline_ = 0;
      return;
    }
    ++starters_active_;
  }
  for (auto it = starters_.begin(); it != starters_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = starters_.erase(it);
    } else {
      ++it;
    }
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  starters_.push_back(Starter{std::thread([this, done] {
                                platform::NameThisThread("q-find-start");
                                FindStarter();
                                {
                                  platform::MutexLock state(&state_lock_);
                                  --starters_active_;
                                }
                                state_cv_.notify_all();
                                *done = true;
                              }),
                              done});
}

void SearchDriver::FindStarter() {
  // A running find ends before the pause is timed.
  {
    platform::MutexLock find_lock(&find_lock_);
    SetRunning(false);
    index_.StopAndWait();
  }
  for (;;) {
    std::uint32_t deadline = deadline_.load();
    std::uint32_t now = Ticks();
    if (!TickReached(now, deadline) && !closing_) {
      SleepTicks(deadline - now);
      continue;
    }
    platform::MutexLock find_lock(&find_lock_);
    // The deadline may have moved while this thread woke: only the deadline
    // it found due is taken, so the find starts the delay after the last
    // keystroke. From 0 on, a new edit starts a new starter.
    if (!deadline_.compare_exchange_strong(deadline, 0)) continue;
    bool active = find_active_.load();
    if (active && open_drive_letter_ != ' ' && !closing_) StartFindLocked();
    // No find waits any more; one may have started.
    window_->FindActivityChanged();
    return;
  }
}

void SearchDriver::StartFindLocked() {
  FindRequest request;
  window_->RunOnWindowThread([&] {
    request.named_text = Cut(window_->NamedText(), kMaxFindText);
    request.containing_text = Cut(window_->ContainingText(), kMaxFindText);
    window_->UpdateTitle(request.named_text);
  });

  SetRunning(false);
  index_.StopAndWait();
  EmptyResults();

  if (request.named_text.empty()) {
    const FindEnd end{"Ready.", " ", FindOutcome::kReady};
    ShowEnd(end);
    RecordEnd(end);
    return;
  }
  if (request.named_text.find('\\') != std::string::npos) {
    const FindEnd end{"Name must be a simple name, path not allowed.", "ERR", FindOutcome::kError};
    ShowEnd(end);
    RecordEnd(end);
    return;
  }

  request.look_in_list = look_in_list();
  request.include_subfolders = include_subfolders_;
  request.refresh = refresh_;

  {
    // Decided together with RequestClose: either the form sees this find
    // running and defers its close, or this find is not started.
    platform::MutexLock lock(&state_lock_);
    if (closing_) return;
    running_ = true;
  }
  window_->FindActivityChanged();
  std::string error;
  bool started = StartIndexFind(request, &error);
  refresh_ = false;
  if (started) {
    ++finds_started_;
    return;
  }
  // The find never started, so no end (FindEnded) will come: a close or a
  // Refresh that deferred itself to that end while running_ was set is
  // carried out here instead of being lost.
  bool post_close = false;
  bool post_refresh = false;
  {
    platform::MutexLock lock(&state_lock_);
    running_ = false;
    if (closing_) {
      post_close = close_deferred_;
      close_deferred_ = false;
    } else {
      post_refresh = restart_pending_;
    }
  }
  state_cv_.notify_all();
  window_->FindActivityChanged();
  if (error.empty()) error = LastError().text;
  const FindEnd end{Cut(error + "!", kPaneTextSize - 1), "ERR", FindOutcome::kError};
  ShowEnd(end);
  RecordEnd(end);
  if (post_close) window_->PostCloseRequest();
  if (post_refresh) window_->PostCommand(kCommandRefresh);
}

bool SearchDriver::StartIndexFind(const FindRequest& request, std::string* error) {
  return index_.StartFind(request, error);
}

// ---------------------------------------------------------------------------
// Stopping, Refresh and closing

void SearchDriver::Refresh(const std::string& look_in_text, bool rebuild) {
  bool deferred = false;
  {
    platform::MutexLock lock(&state_lock_);
    restart_pending_ = true;
    if (running_) {
      // The running find ends without its end message and posts Refresh.
      find_active_ = false;
      deferred = true;
    } else {
      restart_pending_ = false;
    }
  }
  if (deferred) {
    window_->FindActivityChanged();
    return;
  }
  int focused = -1;
  window_->RunOnWindowThread([&] { focused = window_->FocusedRow(); });
  reselect_row_ = focused;
  if (!OpenDriveIndex(look_in_text, rebuild)) return;
  refresh_ = true;
  if (PassFirstFindLatch()) ScheduleFind();
}

bool SearchDriver::RequestClose() {
  {
    platform::MutexLock lock(&state_lock_);
    closing_ = true;
    if (!running_) return true;
    find_active_ = false;
    close_deferred_ = true;
  }
  window_->FindActivityChanged();
  return false;
}

void SearchDriver::Shutdown() {
  {
    platform::MutexLock lock(&state_lock_);
    if (shut_down_) return;
    shut_down_ = true;
    closing_ = true;
    find_active_ = false;
  }
  {
    platform::MutexLock lock(&sleep_lock_);
  }
  sleep_cv_.notify_all();
  std::list<Starter> starters;
  {
    platform::MutexLock lock(&starters_lock_);
    starters.swap(starters_);
  }
  for (Starter& starter : starters) starter.thread.join();
  platform::MutexLock find_lock(&find_lock_);
  index_.Shutdown();
  open_drive_letter_ = ' ';
  SetRunning(false);
}

// ---------------------------------------------------------------------------
// Waiting for the end of a find

bool SearchDriver::WaitForFindEnd(std::chrono::milliseconds timeout, FindEnd* end) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  platform::MutexLock lock(&state_lock_);
  while (!FindIdleLocked())
    if (!state_lock_.WaitUntil(&state_cv_, deadline)) break;
  const bool idle = FindIdleLocked();
  if (idle && end) *end = last_end_;
  return idle;
}

bool SearchDriver::RecountEnd(int rows, const std::string& shown) {
  std::string message;
  {
    platform::MutexLock lock(&state_lock_);
    if (!FindIdleLocked() || last_end_.outcome != FindOutcome::kFound ||
        last_end_.indicator != " " || last_end_.message != shown)
      return false;
    last_end_.message = FindEndMessage(rows, false, false);
    last_end_.outcome = FindEndOutcome(rows, false, false);
    message = last_end_.message;
  }
  Show(message, nullptr);
  return true;
}

bool SearchDriver::FindIdleLocked() const {
  return deadline_.load() == 0 && starters_active_ == 0 && !running_ && !ending_;
}

FindEnd SearchDriver::WaitForFindEnd() {
  FindEnd end;
  while (!WaitForFindEnd(std::chrono::hours(1), &end)) {
  }
  return end;
}

// ---------------------------------------------------------------------------
// The index's callback

IndexAnswer SearchDriver::OnIndexMessage(const IndexMessage& message) {
  if (std::holds_alternative<FindEnded>(message)) return OnFindEnd();
  // A stopped find, a closing form and a Refresh waiting for the end answer
  // stop to everything but the end.
  if (!find_active_ || closing_ || restart_pending_) return kStop;
  if (std::holds_alternative<PollRequest>(message)) return kContinue;
  if (const auto* found = std::get_if<FoundName>(&message)) return OnFoundFile(found->path);
  return OnPhaseMessage(message);
}

IndexAnswer SearchDriver::OnFindEnd() {
  bool was_running = false;
  bool post_close = false;
  bool post_refresh = false;
  bool deferred = false;
  {
    platform::MutexLock lock(&state_lock_);
    was_running = running_.exchange(false);
    if (closing_) {
      // The form asked to close during the find; it closes now.
      deferred = true;
      post_close = close_deferred_;
      close_deferred_ = false;
    } else if (restart_pending_) {
      // Refresh was asked for during the find; it runs anew, and this end
      // shows no message.
      deferred = true;
      post_refresh = true;
    } else {
      ending_ = was_running;
    }
  }
  window_->FindActivityChanged();
  if (deferred) {
    state_cv_.notify_all();
    if (post_close) window_->PostCloseRequest();
    if (post_refresh) window_->PostCommand(kCommandRefresh);
    return kStop;
  }

  if (look_in_fault_) {
    // The look-in text turned invalid: its fault stays on the status line,
    // and the rows of this find went with the results it emptied.
    deferred_details_ = false;
    {
      platform::MutexLock lock(&state_lock_);
      ending_ = false;
    }
    state_cv_.notify_all();
    return kContinue;
  }

  // Every row found reaches the window before the end message counts them.
  int rows = 0;
  {
    platform::MutexLock lock(&insert_lock_);
    HandOverRowsLocked(RowsDue::kNow);
    rows = shown_rows_;
  }
  const FindEnd end = WithIndexWriteFailure(EndOfFind(was_running, rows));
  ShowEnd(end);
  if (was_running) ReselectRow();
  if (deferred_details_.exchange(false)) {
    // The name phase is over: the visible rows fetch their details now.
    window_->RunOnWindowThread([this] {
      window_->FitColumns();
      window_->RepaintList(false);
    });
  }
  {
    platform::MutexLock lock(&state_lock_);
    if (was_running) last_end_ = end;
    ending_ = false;
  }
  state_cv_.notify_all();
  return kContinue;
}

FindEnd SearchDriver::EndOfFind(bool was_running, int rows) {
  if (!was_running) return FindEnd{"Ready.", " ", FindOutcome::kReady};
  if (!find_active_) {
    if (rows == 0) return FindEnd{"User stopped.", " ", FindOutcome::kUserStopped};
    return FindEnd{"User stopped after finding " + std::to_string(rows) + " file(s).", " ",
                   FindOutcome::kUserStopped};
  }
  const bool at_limit = row_limit_ > 0 && rows >= row_limit_;
  const bool medium_gone = rows == 0 && IndexMediumChanged();
  return FindEnd{FindEndMessage(rows, at_limit, medium_gone), " ",
                 FindEndOutcome(rows, at_limit, medium_gone)};
}

FindEnd SearchDriver::WithIndexWriteFailure(FindEnd end) const {
  const std::string cause = index_.write_failure();
  if (cause.empty()) return end;
  const char letter = open_drive_letter_.load();
  end.message = "Unable to write index for drive " + std::string(1, letter == ' ' ? '?' : letter) +
                ":! " + cause;
  end.indicator = "ERR";
  return end;
}

void SearchDriver::ReselectRow() {
  int row = reselect_row_.exchange(-1);
  if (row < 0) return;
  window_->RunOnWindowThread([&] {
    const int last = window_->RowCount() - 1;
    if (last < 0) return;
    if (row > last) row = last;
    if (window_->SelectRow(row)) window_->ScrollRowIntoView(row);
  });
}

IndexAnswer SearchDriver::OnPhaseMessage(const IndexMessage& message) {
  const bool running = running_.load();
  const PhaseStarted* started = std::get_if<PhaseStarted>(&message);
  const FindPhase phase = started ? started->phase : FindPhase::kIdle;
  const bool name_phase = phase == FindPhase::kIndexFind;
  std::string status;
  const char* indicator = nullptr;
  if (name_phase) {
    status = "Finding matching file names...";
    indicator = "BUSY";
    deferred_details_ = true;
    repainted_ = false;
  } else if (phase == FindPhase::kRefresh || std::holds_alternative<RefreshProgress>(message)) {
    if (!repainted_.exchange(true)) window_->RunOnWindowThread([this] { window_->RepaintForm(); });
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
  if (HandOverRows(status.empty() ? RowsDue::kWhenDue : RowsDue::kBeforeMessage) == kStop)
    return kStop;
  Show(status, indicator);
  if (!name_phase && deferred_details_.exchange(false)) {
    // The name phase is over: the visible rows fetch their details now.
    window_->RunOnWindowThread([this] {
      window_->FitColumns();
      window_->RepaintList(false);
    });
  }
  return kContinue;
}

IndexAnswer SearchDriver::OnFoundFile(const std::string& path) {
  platform::MutexLock lock(&insert_lock_);
  if (row_limit_ > 0 && shown_rows_ + static_cast<int>(pending_rows_.size()) >= row_limit_) {
    // The window may have left out rows it was handed: the limit counts the
    // rows it kept.
    if (HandOverRowsLocked(RowsDue::kNow) == kStop) return kStop;
    if (shown_rows_ >= row_limit_) return kStop;
  }
  try {
    pending_rows_.push_back(pool_.AddFoundFile(path, &current_folder_));
  } catch (const std::bad_alloc&) {
    return kStop;  // the found file cannot be stored: end the find
  }
  return HandOverRowsLocked(RowsDue::kWhenDue);
}

IndexAnswer SearchDriver::HandOverRows(RowsDue due) {
  platform::MutexLock lock(&insert_lock_);
  return HandOverRowsLocked(due);
}

IndexAnswer SearchDriver::HandOverRowsLocked(RowsDue due) {
  if (pending_rows_.empty()) return kContinue;
  const int before = shown_rows_;
  const std::uint32_t now = Ticks();
  if (due != RowsDue::kNow) {
    const bool time_due = !handed_over_ || TickReached(now, last_hand_over_ + kRowHandOverMs);
    const int found = before + static_cast<int>(pending_rows_.size());
    const bool progress_due =
        due == RowsDue::kBeforeMessage && found / kProgressEvery > before / kProgressEvery;
    if (!time_due && !progress_due) return kContinue;
  }
  std::vector<FoundFile*> batch;
  batch.swap(pending_rows_);
  bool unreadable = false;
  int after = before;
  window_->RunOnWindowThread([&] {
    const std::vector<RowInsert> rows = PlaceRows(&batch, &unreadable);
    if (!rows.empty()) window_->InsertRows(rows);
    after = window_->RowCount();
  });
  shown_rows_ = after;
  handed_over_ = true;
  last_hand_over_ = now;
  for (int n = (before / kProgressEvery + 1) * kProgressEvery; n <= after; n += kProgressEvery)
    Show(ProgressMessage(n), nullptr);
  return unreadable ? kStop : kContinue;
}

std::vector<RowInsert> SearchDriver::PlaceRows(std::vector<FoundFile*>* batch, bool* unreadable) {
  const int count = window_->RowCount();
  std::vector<RowInsert> rows;
  rows.reserve(batch->size());
  if (!sorted_insert_) {
    for (FoundFile* record : *batch) rows.push_back({count + static_cast<int>(rows.size()), record});
    return rows;
  }
  const SortOrder order = sort_order();
  auto before = [&](FoundFile* a, FoundFile* b) { return CompareFoundFiles(a, b, order, &pool_) < 0; };
  // The batch in list order, equal rows in their order of arrival. Rows
  // mostly arrive in order: the sorted run they start with is merged with
  // the rest, sorted on its own.
  const auto rest = std::is_sorted_until(batch->begin(), batch->end(), before);
  std::stable_sort(rest, batch->end(), before);
  std::inplace_merge(batch->begin(), rest, batch->end(), before);
  // Each row goes after every row of the list that does not come after it
  // (those arrived earlier). The batch is sorted, so each search starts
  // where the one before it ended.
  std::size_t base = 0;
  for (FoundFile* record : *batch) {
    std::size_t at = 0;
    FindInsertRow(
        static_cast<std::size_t>(count) - base,
        [&](std::size_t probe) {
          FoundFile* other = window_->RowRecord(static_cast<int>(base + probe));
          if (!other) {
            *unreadable = true;
            return 0;
          }
          return CompareFoundFiles(record, other, order, &pool_);
        },
        [&] { return !*unreadable; }, &at);
    if (*unreadable) break;  // a row that cannot be read ends the find
    base += at;
    rows.push_back({static_cast<int>(base + rows.size()), record});
  }
  return rows;
}

}  // namespace quindelo
