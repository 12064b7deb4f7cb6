// Synchronisation and thread helpers used by the worker threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/mutex.h"
#include "base/thread_annotations.h"

namespace quindelo::platform {

// An auto-reset event: Set wakes one waiter (or the next one to wait), and
// a successful wait resets it. Thread-safe.
class AutoResetEvent {
 public:
  void Set();
  // Waits until set; resets it. Always true.
  bool Wait();
  // Waits at most timeout; true when the event was set (and is now reset).
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  Mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ GUARDED_BY(mutex_) = false;
};

// Thread priorities as niceness of the calling thread; failures are ignored
// (raising priority needs privileges that a desktop user lacks).
void SetCurrentThreadBelowNormal();
void SetCurrentThreadAboveNormal();

// Milliseconds from a steady clock (GetTickCount's role).
std::uint64_t TickCountMs();

}  // namespace quindelo::platform
