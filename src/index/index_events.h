// What a DriveIndex tells its caller, and what the caller answers.
//
// The index moves through the phases of a find and reports to one
// IndexClient: found names, the start of each phase, the progress of the
// refresh and of the content search, and the end of the find. The phases'
// and events' numbers are the ones the index's messages have always been
// known by; they are written here and nowhere else.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <variant>

#include "base/mutex.h"
#include "base/thread_annotations.h"

namespace quindelo {

// The phases of the index's state machine.
enum class FindPhase : std::uint16_t {
  kStopped = 0,         // shut down: every worker leaves its loop
  kIdle = 1,            // nothing to do; the controlling thread may use the store
  kIndexFind = 4,       // find thread: names of the index matched
  kRefresh = 5,         // refresh thread: the drive walked and merged
  kCompaction = 6,      // content thread: the index file compacted
  kContent = 7,         // content threads: contents of the queued names searched
  kFinalDelivery = 8,   // notify thread: the last messages delivered
};

// The kinds of message the client receives.
enum class IndexEvent : std::uint16_t {
  kIdle = 1,           // the index went idle (FindEnded)
  kPoll = 2,           // should the find stop? (PollRequest)
  kFound = 3,          // a matching name (FoundName)
  kIndexFind = 4,      // the index find started (PhaseStarted)
  kRefresh = 5,        // the refresh started (PhaseStarted) or lists a folder (RefreshProgress)
  kCompaction = 6,     // compaction started (PhaseStarted)
  kContent = 7,        // the content search started (PhaseStarted) or reads a file
                       // (ContentProgress)
  kFinalDelivery = 8,  // the last messages are being delivered (PhaseStarted)
};

// The client's answer: go on, or ask the index to stop the find.
enum class IndexAnswer { kGoOn, kStop };

// The index went idle: the find (or the refresh after an open) is over.
struct FindEnded {
  // The phase the index left for idle: kFinalDelivery when the find ran
  // through all its phases, the phase that was cut short when it was stopped.
  FindPhase left = FindPhase::kFinalDelivery;
  bool ran_to_end() const { return left == FindPhase::kFinalDelivery; }
};

// Asked over and over by the workers, on their own threads, while they work:
// answering kStop stops the find. Never queued.
struct PollRequest {};

// A name that matches the find (with a containing text: whose contents
// match too).
struct FoundName {
  std::string path;  // full drive path: "C:", the folder, the name
};

// The index entered a phase of the find other than idle.
struct PhaseStarted {
  FindPhase phase = FindPhase::kIndexFind;
};

// The refresh lists this folder (a top-level or newly found one).
struct RefreshProgress {
  std::string folder;  // drive path ending in a backslash
};

// The content search reads this file.
struct ContentProgress {
  std::string file;  // full drive path
};

using IndexMessage =
    std::variant<FindEnded, PollRequest, FoundName, PhaseStarted, RefreshProgress, ContentProgress>;

// The kind of a message, and the text it carries (empty when none).
IndexEvent EventOf(const IndexMessage& message);
std::string_view TextOf(const IndexMessage& message);

// What the caller of a DriveIndex gives it at open to hear what it has to
// say. OnIndexMessage is called with every message of the index: on the
// index's notify thread, and for PollRequest on the polling worker (so it may
// run on several threads at once). It is never called with an index lock
// held, and must not call Open, Close, StopAndWait or Shutdown of the index
// that calls it.
class IndexClient {
 public:
  virtual ~IndexClient() = default;
  virtual IndexAnswer OnIndexMessage(const IndexMessage& message) = 0;
};

// Messages waiting for the notify thread, first in first out. A message that
// cannot be stored (out of memory) is dropped, as the client would rather
// miss a progress message than see the index fail.
class IndexMessageQueue {
 public:
  void Push(IndexMessage message) EXCLUDES(lock_);
  // Takes the oldest message; false when there is none.
  bool Pop(IndexMessage* message) EXCLUDES(lock_);
  bool IsEmpty() const EXCLUDES(lock_);
  void Clear() EXCLUDES(lock_);

 private:
  mutable platform::Mutex lock_;
  std::deque<IndexMessage> messages_ GUARDED_BY(lock_);
};

}  // namespace quindelo
