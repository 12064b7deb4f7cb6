#include "search/search_driver.h"

#include <cstdarg>
#include <cstdio>
#include <new>

#include "app/settings_store.h"
#include "platform/drive_table.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "search/message_report.h"

namespace quindelo {
namespace {

constexpr int kContinue = 0;
constexpr int kStop = 1;
constexpr int kProgressEvery = 100;
constexpr std::int32_t kDefaultFindDelay = 500;
// Message buffers: texts with a path, and the others.
constexpr std::size_t kPathMessageSize = 388;
constexpr std::size_t kMessageSize = 256;

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Cut(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

// True when tick a is at or after tick b, allowing for wrap-around.
bool TickReached(std::uint32_t now, std::uint32_t deadline) {
  return static_cast<std::int32_t>(deadline - now) <= 0;
}

void Format(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void Format(char* buffer, std::size_t size, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, size, format, args);
  va_end(args);
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
  char message[kMessageSize];
  if (stopped_at_limit)
    Format(message, sizeof message, "Stopped after maximum of %d files found.", rows);
  else if (rows == 1)
    Format(message, sizeof message, "Found one file.");
  else if (rows > 1)
    Format(message, sizeof message, "Found %d files.", rows);
  else if (medium_gone)
    Format(message, sizeof message, "Disk drive is not ready.");
  else
    Format(message, sizeof message, "No files found.  Check your search criteria.");
  return message;
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
  std::unique_lock<std::mutex> lock(sleep_lock_);
  sleep_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return closing_.load(); });
}

void SearchDriver::Show(const char* message, const char* indicator) {
  if (message) {
    char text[kPaneTextSize];
    Format(text, sizeof text, "%s", message);
    window_->SetStatusText(text);
  }
  if (indicator) window_->SetIndicatorText(indicator);
}

void SearchDriver::SetRunning(bool on) {
  {
    std::lock_guard<std::mutex> lock(state_lock_);
    running_ = on;
  }
  state_cv_.notify_all();
}

void SearchDriver::RecordEnd(const char* message, const char* indicator) {
  std::lock_guard<std::mutex> lock(state_lock_);
  last_end_.message = message;
  last_end_.indicator = indicator;
}

void SearchDriver::EmptyResults() {
  std::lock_guard<std::mutex> lock(insert_lock_);
  window_->RunOnWindowThread([this] { window_->DeleteAllRows(); });
  pool_.Clear();
  current_folder_.Forget();
}

void SearchDriver::SetLookInList(const StringList& list) {
  std::lock_guard<std::mutex> lock(request_lock_);
  look_in_list_.CopyFrom(list);
}

StringList SearchDriver::look_in_list() const {
  std::lock_guard<std::mutex> lock(request_lock_);
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
  std::lock_guard<std::mutex> find_lock(find_lock_);
  return drive != open_drive_letter_ || IndexMediumChanged();
}

// ---------------------------------------------------------------------------
// Opening the index

bool SearchDriver::OpenDriveIndex(const std::string& look_in_text, bool rebuild) {
  const std::string text = Cut(look_in_text, kMaxFindText);
  const char letter = Upper(text.empty() ? ' ' : text[0]);
  platform::CreateFolders(platform::DataFolder());
  const std::string index_path = platform::IndexFilePath(letter);

  window_->RunOnWindowThread([this] {
    window_->SetWaitCursor(true);
    window_->RepaintForm();
  });
  window_->SetIndicatorText("BUSY");

  bool opened = false;
  {
    std::lock_guard<std::mutex> find_lock(find_lock_);
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

    char message[kMessageSize];
    Format(message, sizeof message, "%s index for drive %2.2s...",
           rebuild ? "Rebuilding" : "Opening", text.c_str());
    Show(message, nullptr);

    bool letter_ok = (letter >= 'A' && letter <= 'Z') && text.size() >= 2 && text[1] == ':';
    platform::ClearFileError();
    opened = letter_ok && index_.Open(index_path, text, &SearchDriver::IndexCallbackThunk, this,
                                      rebuild);
    {
      std::lock_guard<std::mutex> lock(request_lock_);
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
      Format(message, sizeof message, "Unable to open index for drive %2.2s!", text.c_str());
      Show(message, "ERR");
    }
  }

  window_->RunOnWindowThread([this] { window_->SetWaitCursor(false); });
  return opened;
}

std::string SearchDriver::open_failure_cause() const {
  std::lock_guard<std::mutex> lock(request_lock_);
  return open_failure_cause_;
}

// ---------------------------------------------------------------------------
// Scheduling and the find starter

void SearchDriver::ScheduleFind() {
  if (open_drive_letter_ == ' ' || closing_) return;
  find_active_ = true;
  std::uint32_t deadline = Ticks() + static_cast<std::uint32_t>(find_delay_ms_);
  if (deadline == 0) deadline = 1;  // 0 means "no starter waiting"
  if (deadline_.exchange(deadline) == 0) LaunchStarter();
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
  std::lock_guard<std::mutex> lock(starters_lock_);
  {
    std::lock_guard<std::mutex> state(state_lock_);
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
                                FindStarter();
                                {
                                  std::lock_guard<std::mutex> state(state_lock_);
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
    std::lock_guard<std::mutex> find_lock(find_lock_);
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
    std::lock_guard<std::mutex> find_lock(find_lock_);
    // The deadline may have moved while this thread woke: only the deadline
    // it found due is taken, so the find starts the delay after the last
    // keystroke. From 0 on, a new edit starts a new starter.
    if (!deadline_.compare_exchange_strong(deadline, 0)) continue;
    bool active = find_active_.load();
    if (active && open_drive_letter_ != ' ' && !closing_) StartFindLocked();
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
    Show("Ready.", " ");
    RecordEnd("Ready.", " ");
    return;
  }
  if (request.named_text.find('\\') != std::string::npos) {
    const char* message = "Name must be a simple name, path not allowed.";
    Show(message, "ERR");
    RecordEnd(message, "ERR");
    return;
  }

  request.look_in_list = look_in_list();
  request.include_subfolders = include_subfolders_;
  request.refresh = refresh_;
  std::vector<std::string> look_in;
  for (std::size_t i = 0; i < request.look_in_list.Count(); ++i)
    look_in.emplace_back(request.look_in_list.Item(i));

  {
    // Decided together with RequestClose: either the form sees this find
    // running and defers its close, or this find is not started.
    std::lock_guard<std::mutex> lock(state_lock_);
    if (closing_) return;
    running_ = true;
  }
  std::string error;
  bool started = StartIndexFind(request.named_text, look_in, request.containing_text,
                                request.include_subfolders, request.refresh, &error);
  refresh_ = false;
  if (started) {
    ++finds_started_;
    return;
  }
  // The find never started, so no end (code 1) will come: a close or a
  // Refresh that deferred itself to that end while running_ was set is
  // carried out here instead of being lost.
  bool post_close = false;
  bool post_refresh = false;
  {
    std::lock_guard<std::mutex> lock(state_lock_);
    running_ = false;
    if (closing_) {
      post_close = close_deferred_;
      close_deferred_ = false;
    } else {
      post_refresh = restart_pending_;
    }
  }
  state_cv_.notify_all();
  if (error.empty()) error = LastError().text;
  char message[kMessageSize];
  Format(message, sizeof message, "%s!", error.c_str());
  Show(message, "ERR");
  RecordEnd(message, "ERR");
  if (post_close) window_->PostCloseRequest();
  if (post_refresh) window_->PostCommand(kCommandRefresh);
}

bool SearchDriver::StartIndexFind(const std::string& named, const std::vector<std::string>& look_in,
                                  const std::string& containing, bool include_subfolders,
                                  bool refresh, std::string* error) {
  return index_.StartFind(named, look_in, containing, include_subfolders, refresh, error);
}

// ---------------------------------------------------------------------------
// Stopping, Refresh and closing

void SearchDriver::Refresh(const std::string& look_in_text, bool rebuild) {
  {
    std::lock_guard<std::mutex> lock(state_lock_);
    restart_pending_ = true;
    if (running_) {
      // The running find ends without its end message and posts Refresh.
      find_active_ = false;
      return;
    }
    restart_pending_ = false;
  }
  int focused = -1;
  window_->RunOnWindowThread([&] { focused = window_->FocusedRow(); });
  reselect_row_ = focused;
  if (!OpenDriveIndex(look_in_text, rebuild)) return;
  refresh_ = true;
  if (PassFirstFindLatch()) ScheduleFind();
}

bool SearchDriver::RequestClose() {
  std::lock_guard<std::mutex> lock(state_lock_);
  closing_ = true;
  if (running_) {
    find_active_ = false;
    close_deferred_ = true;
    return false;
  }
  return true;
}

void SearchDriver::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(state_lock_);
    if (shut_down_) return;
    shut_down_ = true;
    closing_ = true;
    find_active_ = false;
  }
  {
    std::lock_guard<std::mutex> lock(sleep_lock_);
  }
  sleep_cv_.notify_all();
  std::list<Starter> starters;
  {
    std::lock_guard<std::mutex> lock(starters_lock_);
    starters.swap(starters_);
  }
  for (Starter& starter : starters) starter.thread.join();
  std::lock_guard<std::mutex> find_lock(find_lock_);
  index_.Shutdown();
  open_drive_letter_ = ' ';
  SetRunning(false);
}

// ---------------------------------------------------------------------------
// Waiting for the end of a find

bool SearchDriver::WaitForFindEnd(std::chrono::milliseconds timeout, FindEnd* end) {
  std::unique_lock<std::mutex> lock(state_lock_);
  bool idle = state_cv_.wait_for(lock, timeout, [this] {
    return deadline_.load() == 0 && starters_active_ == 0 && !running_ && !ending_;
  });
  if (idle && end) *end = last_end_;
  return idle;
}

FindEnd SearchDriver::WaitForFindEnd() {
  FindEnd end;
  while (!WaitForFindEnd(std::chrono::hours(1), &end)) {
  }
  return end;
}

// ---------------------------------------------------------------------------
// The index's callback

int SearchDriver::IndexCallbackThunk(int code, const char* text, void* user_data) {
  return static_cast<SearchDriver*>(user_data)->OnIndexCallback(code, text);
}

int SearchDriver::OnIndexCallback(int code, const char* text) {
  if (!text) text = "";
  // Gate 1: a stopped find answers stop to everything but its end.
  if (!find_active_ && code != kCodeIdle) return kStop;

  bool was_running = false;
  bool post_close = false;
  bool post_refresh = false;
  bool gated = false;
  if (code == kCodeIdle) {
    std::lock_guard<std::mutex> lock(state_lock_);
    was_running = running_.exchange(false);
    if (closing_) {
      // Gate 2: the form asked to close during the find; close now.
      gated = true;
      post_close = close_deferred_;
      close_deferred_ = false;
    } else if (restart_pending_) {
      // Gate 3: Refresh was asked for during the find; it runs anew.
      gated = true;
      post_refresh = true;
    } else {
      ending_ = was_running;
    }
  } else if (closing_ || restart_pending_) {
    return kStop;
  }
  if (gated) {
    state_cv_.notify_all();
    if (post_close) window_->PostCloseRequest();
    if (post_refresh) window_->PostCommand(kCommandRefresh);
    return kStop;
  }

  const bool running = running_.load();
  char message[kPathMessageSize];
  const char* shown = nullptr;
  const char* indicator = nullptr;
  int answer = kContinue;

  switch (code) {
    case kCodeIdle: {
      int rows = 0;
      window_->RunOnWindowThread([&] { rows = window_->RowCount(); });
      if (!was_running)
        Format(message, kMessageSize, "Ready.");
      else if (!find_active_)
        rows == 0 ? Format(message, kMessageSize, "User stopped.")
                  : Format(message, kMessageSize, "User stopped after finding %d file(s).", rows);
      else
        Format(message, kMessageSize, "%s",
               FindEndMessage(rows, row_limit_ > 0 && rows >= row_limit_,
                              rows == 0 && IndexMediumChanged())
                   .c_str());
      shown = message;
      indicator = " ";
      break;
    }
    case kCodePoll:
      return kContinue;
    case kCodeFound: {
      bool show = false;
      answer = OnFound(text, &show, message, kMessageSize);
      if (answer == kStop) return kStop;
      if (show) shown = message;
      break;
    }
    case kCodeIndexFind:
      Format(message, kMessageSize, "Finding matching file names...");
      shown = message;
      indicator = "BUSY";
      deferred_details_ = true;
      repainted_ = false;
      break;
    case kCodeRefresh:
      if (!repainted_.exchange(true)) window_->RunOnWindowThread([this] { window_->RepaintForm(); });
      if (*text)
        Format(message, kPathMessageSize,
               running ? "Finding while updating \"%s*\"..." : "Updating \"%s*\"...", text);
      else
        Format(message, kMessageSize,
               running ? "Finding while updating..." : "Updating name information.");
      shown = message;
      indicator = "BUSY";
      break;
    case kCodeCompaction:
      Format(message, kMessageSize,
             running ? "Find completed.  Compressing index file." : "Compressing index file.");
      shown = message;
      indicator = " ";
      break;
    case kCodeContent:
      if (*text)
        Format(message, kPathMessageSize, "Searching file \"%s\"...", text);
      else
        Format(message, kMessageSize, "Searching files...");
      shown = message;
      indicator = "BUSY";
      break;
    default:
      break;
  }

  // The tail.
  Show(shown, indicator);
  if (code == kCodeIdle && was_running) {
    // The end of a find: select the row Refresh remembered.
    int row = reselect_row_.exchange(-1);
    if (row >= 0) {
      window_->RunOnWindowThread([&] {
        int last = window_->RowCount() - 1;
        if (last < 0) return;
        if (row > last) row = last;
        if (window_->SelectRow(row)) window_->ScrollRowIntoView(row);
      });
    }
  }
  if (code != kCodeFound && code != kCodeIndexFind && deferred_details_.exchange(false)) {
    // The name phase is over: the visible rows fetch their details now.
    window_->RunOnWindowThread([this] {
      window_->FitColumns();
      window_->RepaintList(false);
    });
  }
  if (code == kCodeIdle) {
    {
      std::lock_guard<std::mutex> lock(state_lock_);
      if (was_running) last_end_ = FindEnd{shown, indicator};
      ending_ = false;
    }
    state_cv_.notify_all();
  }
  return answer;
}

int SearchDriver::OnFound(const char* path, bool* show, char* message, std::size_t size) {
  std::lock_guard<std::mutex> lock(insert_lock_);
  int answer = kContinue;
  window_->RunOnWindowThread([&] {
    const int rows = window_->RowCount();
    if (row_limit_ > 0 && rows >= row_limit_) {
      answer = kStop;
      return;
    }
    FoundFile* record = nullptr;
    try {
      record = pool_.AddFoundFile(path, &current_folder_);
    } catch (const std::bad_alloc&) {
      answer = kStop;  // the found file cannot be stored: end the find
      return;
    }
    const SortOrder order = sort_order();
    bool unreadable = false;
    std::size_t row = static_cast<std::size_t>(rows);
    bool placed = !sorted_insert_ || FindInsertRow(
        static_cast<std::size_t>(rows),
        [&](std::size_t probe) {
          FoundFile* other = window_->RowRecord(static_cast<int>(probe));
          if (!other) {
            unreadable = true;
            return 0;
          }
          return CompareFoundFiles(record, other, order, &pool_);
        },
        [&] { return find_active_.load() && !unreadable; }, &row);
    if (!placed || unreadable) {
      answer = kStop;
      return;
    }
    window_->InsertRow(static_cast<int>(row), record);
    if ((rows + 1) % kProgressEvery == 0) {
      Format(message, size, "Found %d files (press Esc key to stop)...", rows + 1);
      *show = true;
    }
  });
  return answer;
}

}  // namespace quindelo
