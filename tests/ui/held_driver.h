// A search driver whose find start waits until the test lets it go, so that
// a close, a key or a command arrives while the find runs (the running flag
// is set while it waits). Arm() holds the next find start again.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "search/search_driver.h"

namespace quindelo::test {

class HeldDriver : public SearchDriver {
 public:
  using SearchDriver::SearchDriver;
  ~HeldDriver() override {
    Release();
    Shutdown();
  }
  // Lets the waiting find start (and every later one, until Arm).
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  // The next find start waits again.
  void Arm() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = false;
    entered = false;
  }
  std::atomic<bool> entered{false};

 protected:
  bool StartIndexFind(const FindRequest& request, std::string* error) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      entered = true;
      cv_.wait(lock, [this] { return released_; });
    }
    return SearchDriver::StartIndexFind(request, error);
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
};

}  // namespace quindelo::test
