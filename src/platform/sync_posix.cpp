// Events and thread priorities on POSIX.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/sync.h"

namespace quindelo::platform {

void AutoResetEvent::Set() {
  {
    MutexLock lock(&mutex_);
    signalled_ = true;
  }
  cv_.notify_one();
}

bool AutoResetEvent::Wait() {
  MutexLock lock(&mutex_);
  while (!signalled_) mutex_.Wait(&cv_);
  signalled_ = false;
  return true;
}

bool AutoResetEvent::WaitFor(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(&mutex_);
  while (!signalled_)
    if (!mutex_.WaitUntil(&cv_, deadline)) break;
  if (!signalled_) return false;
  signalled_ = false;
  return true;
}

namespace {
void SetNice(int nice) {
  // On Linux, PRIO_PROCESS with a thread id sets that thread's niceness.
  pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}
}  // namespace

void SetCurrentThreadBelowNormal() { SetNice(5); }
void SetCurrentThreadAboveNormal() { SetNice(-2); }

std::uint64_t TickCountMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace quindelo::platform
