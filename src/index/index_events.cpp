#include "index/index_events.h"

#include <new>
#include <type_traits>
#include <utility>

namespace quindelo {
namespace {

IndexEvent EventOfPhase(FindPhase phase) {
  switch (phase) {
    case FindPhase::kIndexFind: return IndexEvent::kIndexFind;
    case FindPhase::kRefresh: return IndexEvent::kRefresh;
    case FindPhase::kCompaction: return IndexEvent::kCompaction;
    case FindPhase::kContent: return IndexEvent::kContent;
    case FindPhase::kFinalDelivery: return IndexEvent::kFinalDelivery;
    case FindPhase::kIdle:
    case FindPhase::kStopped: break;
  }
  // Going idle is told by FindEnded; a stop tells nothing.
  return IndexEvent::kIdle;
}

}  // namespace

IndexEvent EventOf(const IndexMessage& message) {
  return std::visit(
      [](const auto& m) {
        using M = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<M, FindEnded>) return IndexEvent::kIdle;
        if constexpr (std::is_same_v<M, PollRequest>) return IndexEvent::kPoll;
        if constexpr (std::is_same_v<M, FoundName>) return IndexEvent::kFound;
        if constexpr (std::is_same_v<M, PhaseStarted>) return EventOfPhase(m.phase);
        if constexpr (std::is_same_v<M, RefreshProgress>) return IndexEvent::kRefresh;
        if constexpr (std::is_same_v<M, ContentProgress>) return IndexEvent::kContent;
      },
      message);
}

std::string_view TextOf(const IndexMessage& message) {
  if (const auto* m = std::get_if<FoundName>(&message)) return m->path;
  if (const auto* m = std::get_if<RefreshProgress>(&message)) return m->folder;
  if (const auto* m = std::get_if<ContentProgress>(&message)) return m->file;
  return std::string_view();
}

void IndexMessageQueue::Push(IndexMessage message) {
  platform::MutexLock lock(&lock_);
  try {
    messages_.push_back(std::move(message));
  } catch (const std::bad_alloc&) {
    // Dropped: see the class comment.
  }
}

bool IndexMessageQueue::Pop(IndexMessage* message) {
  platform::MutexLock lock(&lock_);
  if (messages_.empty()) return false;
  *message = std::move(messages_.front());
  messages_.pop_front();
  return true;
}

bool IndexMessageQueue::IsEmpty() const {
  platform::MutexLock lock(&lock_);
  return messages_.empty();
}

void IndexMessageQueue::Clear() {
  platform::MutexLock lock(&lock_);
  messages_.clear();
}

}  // namespace quindelo
