// Test doubles for the search driver: a window that records every pane text
// and posted request (on the caller's thread, or on a window thread of its
// own), and a clock whose time only moves when the test says.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "search/found_file.h"
#include "search/find_request.h"
#include "search/find_window.h"
#include "search/search_driver.h"
#include "support/quick_options.h"

namespace quindelo::test {

// A thread with an event queue, as a window's own thread: Send runs work on
// it and waits (at once when called on it), Post queues work and returns.
// Events still queued when it is destroyed run first.
class EventThread {
 public:
  EventThread() : thread_([this] { Loop(); }) {}
  ~EventThread() {
    {
      std::lock_guard<std::mutex> lock(lock_);
      quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  EventThread(const EventThread&) = delete;
  EventThread& operator=(const EventThread&) = delete;

  void Send(const std::function<void()>& work) {
    if (OnThread()) {
      work();
      return;
    }
    bool done = false;
    std::unique_lock<std::mutex> lock(lock_);
    events_.push_back([&] {
      work();
      std::lock_guard<std::mutex> done_lock(lock_);
      done = true;
    });
    cv_.notify_all();
    cv_.wait(lock, [&] { return done; });
  }
  bool OnThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  void Post(std::function<void()> event) {
    {
      std::lock_guard<std::mutex> lock(lock_);
      events_.push_back(std::move(event));
    }
    cv_.notify_all();
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
      cv_.wait(lock, [this] { return quit_ || !events_.empty(); });
      if (events_.empty()) return;
      std::function<void()> event = std::move(events_.front());
      events_.pop_front();
      lock.unlock();
      event();
      lock.lock();
      cv_.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> events_;  // guarded by lock_
  bool quit_ = false;                         // guarded by lock_
  std::thread thread_;                        // last: starts once the rest exists
};

// A window without widgets: it keeps the texts of the named and containing
// boxes for the test to hand to the driver (Request), mirrors the rows of
// the driver's result set as they are inserted, and records every pane text,
// posted command and close request.
class FakeWindow : public FindWindow {
 public:
  // With own_thread, RunLater work and the pane texts of other threads run
  // on a thread of the window's own, and close requests and commands are
  // posted to it; otherwise everything runs on the caller's thread (work of
  // RunLater one at a time).
  explicit FakeWindow(bool own_thread = false)
      : window_thread_(own_thread ? std::make_unique<EventThread>() : nullptr) {}
  // The window thread ends (running what is still queued) while the window
  // is whole.
  ~FakeWindow() override { window_thread_.reset(); }

  // The boxes, as the form would hand them over.
  void SetNamedText(const std::string& text) {
    std::lock_guard<std::mutex> lock(history_lock_);
    named_ = text;
  }
  void SetContainingText(const std::string& text) {
    std::lock_guard<std::mutex> lock(history_lock_);
    containing_ = text;
  }
  FindRequest Request() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    FindRequest request;
    request.named_text = named_;
    request.containing_text = containing_;
    return request;
  }
  // The row a click gave the focus (for Refresh's reselect row).
  void SetFocusedRow(int row) {
    std::lock_guard<std::mutex> lock(history_lock_);
    focused_row_ = row;
  }
  int focused_row() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return focused_row_;
  }
  // The row last selected through SelectRow, or -1.
  int selected_row() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return selected_row_;
  }
  bool named_enabled() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return named_enabled_;
  }
  bool containing_enabled() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return containing_enabled_;
  }

  // A copy of the rows, in list order, as the last insertion left them.
  std::vector<FoundFile*> Rows() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return rows_;
  }
  int RowCount() const { return static_cast<int>(Rows().size()); }
  // Full paths of the rows, in list order (read after the find ended).
  std::vector<std::string> RowPaths() const {
    std::vector<std::string> paths;
    for (FoundFile* record : Rows()) paths.push_back(FullPath(*record));
    return paths;
  }

  // FindWindow.
  void RunLater(std::function<void()> work) override {
    if (window_thread_) {
      window_thread_->Post(std::move(work));
      return;
    }
    std::lock_guard<std::recursive_mutex> lock(window_work_);
    work();
  }
  void SetStatusText(const char* text) override {
    OnWindow([this, text = std::string(text ? text : " "), from = std::this_thread::get_id()] {
      std::lock_guard<std::mutex> lock(history_lock_);
      statuses_.push_back(text);
      status_threads_.push_back(from);
      cv_.notify_all();
    });
  }
  void SetIndicatorText(const char* text) override {
    OnWindow([this, text = std::string(text ? text : " "), from = std::this_thread::get_id()] {
      std::lock_guard<std::mutex> lock(history_lock_);
      indicators_.push_back(text);
      indicator_threads_.push_back(from);
    });
  }
  void PostCloseRequest() override {
    Posted([this] { ++close_requests_; });
  }
  void PostCommand(int command) override {
    Posted([this, command] { posted_commands_.push_back(command); });
  }
  void EnableBoxes(bool look_in_valid) override {
    std::lock_guard<std::mutex> lock(history_lock_);
    named_enabled_ = look_in_valid;
    containing_enabled_ = look_in_valid && !named_.empty();
  }
  void FocusLookIn() override {
    std::lock_guard<std::mutex> lock(history_lock_);
    ++look_in_focus_count_;
  }
  void RowsInserted(const ResultSet& rows, const std::vector<RowRange>&) override {
    CheckWindowThread("RowsInserted");
    std::lock_guard<std::mutex> lock(history_lock_);
    rows_ = rows.rows();
  }
  void RowsDeleted() override {
    CheckWindowThread("RowsDeleted");
    std::lock_guard<std::mutex> lock(history_lock_);
    rows_.clear();
  }
  void SelectRow(int row) override {
    CheckWindowThread("SelectRow");
    std::lock_guard<std::mutex> lock(history_lock_);
    selected_row_ = row;
  }

  std::vector<std::string> statuses() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return statuses_;
  }
  std::vector<std::string> indicators() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return indicators_;
  }
  // The latest texts of the two panes (empty before the first write).
  std::string status() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return statuses_.empty() ? std::string() : statuses_.back();
  }
  std::string indicator() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return indicators_.empty() ? std::string() : indicators_.back();
  }
  // The latest texts written by the calling thread: the index's own
  // background messages (written by its notify thread) are left out.
  std::string MyStatus() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    for (std::size_t i = statuses_.size(); i-- > 0;)
      if (status_threads_[i] == std::this_thread::get_id()) return statuses_[i];
    return std::string();
  }
  std::string MyIndicator() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    for (std::size_t i = indicators_.size(); i-- > 0;)
      if (indicator_threads_[i] == std::this_thread::get_id()) return indicators_[i];
    return std::string();
  }
  bool SawStatus(const std::string& text) const {
    for (const std::string& s : statuses())
      if (s == text) return true;
    return false;
  }
  int look_in_focus_count() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return look_in_focus_count_;
  }
  void ClearHistory() {
    std::lock_guard<std::mutex> lock(history_lock_);
    statuses_.clear();
    indicators_.clear();
    status_threads_.clear();
    indicator_threads_.clear();
  }
  // Posted commands since the last call, in order; and the number of close
  // requests posted so far.
  std::vector<int> TakePostedCommands() {
    std::lock_guard<std::mutex> lock(history_lock_);
    std::vector<int> taken;
    taken.swap(posted_commands_);
    return taken;
  }
  int close_requests() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return close_requests_;
  }

  // Waits (at most a minute) until a command has been posted; returns it.
  int WaitForPostedCommand() {
    std::unique_lock<std::mutex> lock(history_lock_);
    if (!cv_.wait_for(lock, std::chrono::minutes(1), [this] { return !posted_commands_.empty(); }))
      return 0;
    const int command = posted_commands_.front();
    posted_commands_.erase(posted_commands_.begin());
    return command;
  }
  // Waits (at most a minute) until n close requests have been posted.
  bool WaitForCloseRequests(int n) {
    std::unique_lock<std::mutex> lock(history_lock_);
    return cv_.wait_for(lock, std::chrono::minutes(1), [&] { return close_requests_ >= n; });
  }
  // Waits (at most a minute) until the window thread has run everything
  // handed to it so far.
  void Drain() {
    if (!window_thread_) return;
    window_thread_->Send([] {});
  }

 private:
  void CheckWindowThread(const char* call) const {
    if (window_thread_ && !window_thread_->OnThread())
      ADD_FAILURE() << call << " was called off the window thread";
  }
  // Runs work on the window thread: at once when there is none or when
  // called on it, else queued.
  void OnWindow(std::function<void()> work) {
    if (window_thread_ && !window_thread_->OnThread())
      window_thread_->Post(std::move(work));
    else
      work();
  }

  // Records a posted request: on the window thread when there is one (the
  // poster does not wait), else at once. record runs under history_lock_.
  void Posted(std::function<void()> record) {
    auto event = [this, record = std::move(record)] {
      std::lock_guard<std::mutex> lock(history_lock_);
      record();
      cv_.notify_all();
    };
    if (window_thread_)
      window_thread_->Post(std::move(event));
    else
      event();
  }

  mutable std::mutex history_lock_;
  std::condition_variable cv_;
  std::string named_;
  std::string containing_;
  int focused_row_ = -1;
  int selected_row_ = -1;
  bool named_enabled_ = false;
  bool containing_enabled_ = false;
  std::vector<FoundFile*> rows_;
  std::vector<std::string> statuses_;
  std::vector<std::string> indicators_;
  std::vector<std::thread::id> status_threads_;
  std::vector<std::thread::id> indicator_threads_;
  std::vector<int> posted_commands_;
  int close_requests_ = 0;
  int look_in_focus_count_ = 0;
  // Work of RunLater without a window thread, one at a time.
  std::recursive_mutex window_work_;
  std::unique_ptr<EventThread> window_thread_;
};

// Time that moves only through Advance. Sleep blocks until the time has
// reached the sleeper's wake-up tick (or the clock is released).
class FakeClock : public DriverClock {
 public:
  explicit FakeClock(std::uint32_t start = 1000) : now_(start) {}

  std::uint32_t Ticks() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
  }
  void Sleep(std::uint32_t ms) override {
    std::unique_lock<std::mutex> lock(mutex_);
    std::uint32_t wake = now_ + ms;
    sleepers_.insert(wake);
    cv_.notify_all();
    cv_.wait(lock, [&] { return released_ || static_cast<std::int32_t>(wake - now_) <= 0; });
    sleepers_.erase(sleepers_.find(wake));
    cv_.notify_all();
  }

  void Advance(std::uint32_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ += ms;
    cv_.notify_all();
  }
  // Whether a sleeper waits for tick wake now (for a test whose own thread
  // must keep running its event loop meanwhile).
  bool HasSleeper(std::uint32_t wake) {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleepers_.count(wake) > 0;
  }
  // Waits (at most a minute) until a sleeper waits for tick wake.
  bool WaitForSleeper(std::uint32_t wake) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::minutes(1),
                        [&] { return sleepers_.count(wake) > 0; });
  }
  // Ends every sleep, now and later.
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::uint32_t now_;
  std::multiset<std::uint32_t> sleepers_;
  bool released_ = false;
};

// A driver whose index can be told that its removable medium is gone.
class MediumDriver : public SearchDriver {
 public:
  using SearchDriver::SearchDriver;
  // Callbacks stop before this part of the object goes.
  ~MediumDriver() override { Shutdown(); }
  std::atomic<bool> medium_gone{false};
  bool IndexMediumChanged() override { return medium_gone.load(); }
};

}  // namespace quindelo::test
