// A mutex and its scoped lock that the thread-safety analysis understands
// (std::mutex carries no annotations in libstdc++). Condition variables wait
// through the mutex, so that a wait keeps the lock rules visible:
//   MutexLock lock(&mu_);
//   while (!ready_) mu_.Wait(&cv_);  // ready_ is GUARDED_BY(mu_)
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "base/thread_annotations.h"

namespace quindelo::platform {

class CAPABILITY("mutex") Mutex {
 public:
  constexpr Mutex() noexcept = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

  // Releases the mutex while waiting on cv and holds it again on return
  // (spurious wake-ups included: callers wait in a loop on their condition).
  void Wait(std::condition_variable* cv) REQUIRES(this) {
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    cv->wait(lock);
    lock.release();
  }
  // As Wait, giving up at deadline; false when the deadline has passed.
  bool WaitUntil(std::condition_variable* cv, std::chrono::steady_clock::time_point deadline)
      REQUIRES(this) {
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    bool woken = cv->wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~MutexLock() RELEASE() { mutex_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mutex_;
};

}  // namespace quindelo::platform
