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
#include "search/headless_find_window.h"
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

class FakeWindow : public HeadlessFindWindow {
 public:
  // With own_thread, window calls run on a thread of the window's own and
  // close requests and commands are posted to it; otherwise everything runs
  // on the caller's thread.
  explicit FakeWindow(bool own_thread = false)
      : window_thread_(own_thread ? std::make_unique<EventThread>() : nullptr) {}
  // The window thread ends (running what is still queued) while the window
  // is whole.
  ~FakeWindow() override { window_thread_.reset(); }

  void RunOnWindowThread(const std::function<void()>& work) override {
    if (window_thread_)
      window_thread_->Send(work);
    else
      HeadlessFindWindow::RunOnWindowThread(work);
  }
  // With a window thread, the calls that belong to it fail the test when
  // made on any other thread.
  int RowCount() override {
    CheckWindowThread("RowCount");
    return HeadlessFindWindow::RowCount();
  }
  FoundFile* RowRecord(int row) override {
    CheckWindowThread("RowRecord");
    return HeadlessFindWindow::RowRecord(row);
  }
  void InsertRows(const std::vector<RowInsert>& rows) override {
    CheckWindowThread("InsertRows");
    HeadlessFindWindow::InsertRows(rows);
  }
  void DeleteAllRows() override {
    CheckWindowThread("DeleteAllRows");
    HeadlessFindWindow::DeleteAllRows();
  }
  int FocusedRow() override {
    CheckWindowThread("FocusedRow");
    return HeadlessFindWindow::FocusedRow();
  }
  bool SelectRow(int row) override {
    CheckWindowThread("SelectRow");
    return HeadlessFindWindow::SelectRow(row);
  }
  std::string NamedText() override {
    CheckWindowThread("NamedText");
    return HeadlessFindWindow::NamedText();
  }
  std::string ContainingText() override {
    CheckWindowThread("ContainingText");
    return HeadlessFindWindow::ContainingText();
  }
  void SetStatusText(const char* text) override {
    HeadlessFindWindow::SetStatusText(text);
    std::lock_guard<std::mutex> lock(history_lock_);
    statuses_.push_back(text ? text : " ");
    status_threads_.push_back(std::this_thread::get_id());
    cv_.notify_all();
  }
  void SetIndicatorText(const char* text) override {
    HeadlessFindWindow::SetIndicatorText(text);
    std::lock_guard<std::mutex> lock(history_lock_);
    indicators_.push_back(text ? text : " ");
    indicator_threads_.push_back(std::this_thread::get_id());
  }
  void PostCloseRequest() override {
    Posted([this] { HeadlessFindWindow::PostCloseRequest(); });
  }
  void PostCommand(int command) override {
    Posted([this, command] { HeadlessFindWindow::PostCommand(command); });
  }
  void FocusLookIn() override {
    std::lock_guard<std::mutex> lock(history_lock_);
    ++look_in_focus_count_;
  }

  std::vector<std::string> statuses() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return statuses_;
  }
  std::vector<std::string> indicators() const {
    std::lock_guard<std::mutex> lock(history_lock_);
    return indicators_;
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

  // Waits (at most a minute) until a command has been posted; returns it.
  int WaitForPostedCommand() {
    for (;;) {
      std::vector<int> taken = TakePostedCommands();
      if (!taken.empty()) return taken.front();
      std::unique_lock<std::mutex> lock(history_lock_);
      if (!cv_.wait_for(lock, std::chrono::minutes(1), [this] {
            platform::MutexLock inner(&mutex_);
            return !posted_commands_.empty();
          }))
        return 0;
    }
  }
  // Waits (at most a minute) until n close requests have been posted.
  bool WaitForCloseRequests(int n) {
    std::unique_lock<std::mutex> lock(history_lock_);
    return cv_.wait_for(lock, std::chrono::minutes(1), [&] { return close_requests() >= n; });
  }

  // Full paths of the rows, in list order (read after the find ended).
  std::vector<std::string> RowPaths() const {
    std::vector<std::string> paths;
    for (FoundFile* record : Rows()) paths.push_back(FullPath(*record));
    return paths;
  }

 private:
  void CheckWindowThread(const char* call) const {
    if (window_thread_ && !window_thread_->OnThread())
      ADD_FAILURE() << call << " was called off the window thread";
  }

  // Records a posted request: on the window thread when there is one (the
  // poster does not wait), else at once.
  void Posted(std::function<void()> record) {
    auto event = [this, record = std::move(record)] {
      record();
      std::lock_guard<std::mutex> lock(history_lock_);
      cv_.notify_all();
    };
    if (window_thread_)
      window_thread_->Post(std::move(event));
    else
      event();
  }

  mutable std::mutex history_lock_;
  std::condition_variable cv_;
  std::vector<std::string> statuses_;
  std::vector<std::string> indicators_;
  std::vector<std::thread::id> status_threads_;
  std::vector<std::thread::id> indicator_threads_;
  int look_in_focus_count_ = 0;
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
