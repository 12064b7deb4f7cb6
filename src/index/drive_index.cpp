// The drive index: open and close, the phase machine, the worker threads,
// the index find and the change watcher. The refresh walk is in
// drive_scanner.cpp.
#include "index/drive_index.h"
#include "platform/thread_name.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "base/ascii.h"
#include "base/message_report.h"
#include "base/string_pool.h"
#include "content/content_matcher.h"
#include "index/drive_query.h"
#include "index/drive_scanner.h"
#include "index/folder_paths.h"
#include "index/index_records.h"
#include "index/name_cache.h"
#include "index/name_filter.h"
#include "index/name_index.h"
#include "platform/drive_table.h"
#include "platform/file.h"
#include "platform/folder.h"
#include "platform/paths.h"

namespace quindelo {
namespace {

constexpr int kCloseRounds = 100;
constexpr auto kCloseRoundTime = std::chrono::milliseconds(100);
constexpr int kWatchTimeoutMs = 5000;
constexpr auto kDeliveryWait = std::chrono::milliseconds(2000);
constexpr std::uint64_t kProgressWakeMs = 20;

// Identifies the folder a drive is rooted at, for the drive record: a
// 32-bit FNV-1a hash of the root's canonical path (links resolved, so that a
// link moved to another folder counts as another root), never 0. The path
// rather than the folder's inode number: a remount at the same place keeps
// it, while inode numbers change at every mount on FAT, exFAT and FUSE file
// systems and a freed one is soon given to a new folder on ext4 or tmpfs.
// Another volume mounted at the same path is told apart by the volume check.
std::uint32_t RootFolderId(const std::string& native_root) {
  std::error_code ec;
  std::string path = std::filesystem::canonical(native_root, ec).string();
  if (ec || path.empty()) path = native_root;
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : path) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash == 0 ? 1 : hash;
}

// A path as the index reports it: cut to kMaxReportedPath bytes.
std::string Reported(const std::string& path) {
  return path.size() > kMaxReportedPath ? path.substr(0, kMaxReportedPath) : path;
}

// A folder below the drive's root as the watcher names it ("a/b/") in the
// index's form ("\\a\\b\\").
std::string IndexPathOf(const std::string& rel) {
  std::string path = "\\";
  for (char c : rel) path.push_back(c == '/' ? '\\' : c);
  return path;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and shutdown

DriveIndex::DriveIndex() : DriveIndex(Options{}) {}

DriveIndex::DriveIndex(const Options& options)
    : options_(options), name_index_(std::make_unique<NameIndexKeeper>()) {
  find_thread_ = std::thread([this] {
    platform::NameThisThread("q-index-find");
    FindThread();
  });
  refresh_thread_ = std::thread([this] {
    platform::NameThisThread("q-index-walk");
    RefreshThread();
  });
  content_thread_ = std::thread([this] {
    platform::NameThisThread("q-content-1");
    ContentThread(1);
  });
  notify_thread_ = std::thread([this] {
    platform::NameThisThread("q-index-notify");
    NotifyThread();
  });
}

DriveIndex::~DriveIndex() { Shutdown(); }

void DriveIndex::Shutdown() {
  if (shut_down_) return;
  Close();
  SetPhase(FindPhase::kStopped, FindPhase::kIdle);
  // Joining replaces a fixed sleep: every worker leaves its loop as soon as
  // it sees the stopped phase, and the stop woke every wait.
  for (std::thread* t : {&find_thread_, &refresh_thread_, &content_thread_, &notify_thread_})
    if (t->joinable()) t->join();
  // Content thread 1, which starts and joins the extra one, has ended.
  if (extra_content_thread_.joinable()) extra_content_thread_.join();
  shut_down_ = true;
}

// ---------------------------------------------------------------------------
// Phase machine

void DriveIndex::SetPhase(FindPhase next, FindPhase expected) {
  platform::MutexLock lock(&phase_lock_);
  SetPhaseLocked(next, expected);
}

void DriveIndex::SetPhaseLocked(FindPhase next, FindPhase expected) {
  if (next == FindPhase::kStopped) {
    requested_phase_ = FindPhase::kStopped;
    current_phase_ = FindPhase::kStopped;
    phase_cv_.notify_all();
    return;
  }
  if (current_phase_ != expected) return;  // a stale hand-over
  if (requested_phase_ == expected)
    requested_phase_ = next;
  else
    next = requested_phase_;
  current_phase_ = next;
  if (client_ != nullptr && requested_phase_ != FindPhase::kStopped) {
    if (next == FindPhase::kIdle)
      PostLocked(FindEnded{expected});
    else
      PostLocked(PhaseStarted{next});
  }
  phase_cv_.notify_all();
}

void DriveIndex::RequestPhase(FindPhase phase) {
  platform::MutexLock lock(&phase_lock_);
  if (requested_phase_ == phase) return;
  requested_phase_ = phase;
  SetPhaseLocked(phase, FindPhase::kIdle);
  // A worker that waits for anything but its phase learns of the request.
  phase_cv_.notify_all();
}

FindPhase DriveIndex::current_phase() const {
  platform::MutexLock lock(&phase_lock_);
  return current_phase_;
}

bool DriveIndex::IsOpen() const {
  platform::MutexLock lock(&phase_lock_);
  return store_open_;
}

bool DriveIndex::ids_exhausted() const {
  platform::MutexLock lock(&phase_lock_);
  return ids_exhausted_;
}

bool DriveIndex::change_pending() const {
  platform::MutexLock lock(&phase_lock_);
  return change_flag_ || !pending_folders_.empty() || !pending_trees_.empty();
}

bool DriveIndex::watching() const {
  platform::MutexLock lock(&phase_lock_);
  return watching_;
}

bool DriveIndex::live() const {
  platform::MutexLock lock(&phase_lock_);
  return live_;
}

bool DriveIndex::last_find_exact() const {
  platform::MutexLock lock(&phase_lock_);
  return last_find_exact_;
}

std::size_t DriveIndex::unwatched_count() const {
  platform::MutexLock lock(&phase_lock_);
  return unwatched_.size();
}

void DriveIndex::NoteEventsLost() {
  platform::MutexLock lock(&phase_lock_);
  NoteEventsLostLocked();
}

void DriveIndex::NoteEventsLostLocked() {
  // The folders noted so far stay pending: a find under way left them to
  // its refresh, and listing them again later costs little.
  live_ = false;
  ++watch_epoch_;
  change_flag_ = true;
}

std::uint64_t DriveIndex::folders_listed() const {
  platform::MutexLock lock(&phase_lock_);
  return folders_listed_;
}

void DriveIndex::WakeNotifyLocked() {
  notify_wake_ = true;
  if (notify_waiting_) phase_cv_.notify_all();
}

void DriveIndex::NotifyControlLocked() {
  if (control_waiters_ > 0) phase_cv_.notify_all();
}

void DriveIndex::Post(IndexMessage message) {
  platform::MutexLock lock(&phase_lock_);
  PostLocked(std::move(message));
}

void DriveIndex::PostLocked(IndexMessage message) {
  notify_queue_.Push(std::move(message));
  WakeNotifyLocked();
}

void DriveIndex::PostProgress(IndexMessage message) {
  notify_queue_.Push(std::move(message));
  // Waking the notify thread for every folder listed or file searched costs
  // more than the work itself; progress is delivered with the next wake-up,
  // at most kProgressWakeMs later (the notify thread keeps waking every
  // kProgressWakeMs for as long as it finds messages), and always before the
  // end of the find.
  const std::uint64_t now = platform::TickCountMs();
  platform::MutexLock lock(&phase_lock_);
  if (now - last_progress_wake_ms_ >= kProgressWakeMs) {
    last_progress_wake_ms_ = now;
    WakeNotifyLocked();
  }
}

IndexAnswer DriveIndex::Poll() {
  IndexClient* client = nullptr;
  {
    platform::MutexLock lock(&phase_lock_);
    client = client_;
  }
  if (!client) return IndexAnswer::kGoOn;
  static const IndexMessage kPoll{PollRequest{}};
  const IndexAnswer answer = client->OnIndexMessage(kPoll);
  if (answer == IndexAnswer::kStop) RequestPhase(FindPhase::kIdle);
  return answer;
}

void DriveIndex::StopAndWait() {
  RequestPhase(FindPhase::kIdle);
  platform::MutexLock lock(&phase_lock_);
  while (current_phase_ != FindPhase::kIdle && current_phase_ != FindPhase::kStopped)
    phase_lock_.Wait(&phase_cv_);
  // Let the notify thread deliver the end (FindEnded) of the stopped find, so
  // that it cannot be taken for the end of the next find. Bounded, because a
  // client that waits for this thread would otherwise never return.
  const auto deadline = std::chrono::steady_clock::now() + kDeliveryWait;
  ++control_waiters_;
  while (!notify_queue_.IsEmpty() || notify_busy_)
    if (!phase_lock_.WaitUntil(&phase_cv_, deadline)) break;
  --control_waiters_;
}

// ---------------------------------------------------------------------------
// Open and close

bool DriveIndex::Open(const std::string& index_path, const std::string& look_in_text,
                      IndexClient* client, bool rebuild) {
  if (shut_down_) return false;
  if (IsOpen()) Close();
  StopAndWait();
  // A content thread may still be searching a file of the last find (a stop
  // does not wait for it). Let it finish before this open's phases run, or
  // it would report that file of the old drive to the new client.
  content_queue_.Clear();
  WaitForContentThreads();
  if (look_in_text.size() < 2 || look_in_text[1] != ':') return false;
  const std::string drive = look_in_text.substr(0, 2);
  DriveDescription description;
  if (!QueryDrive(drive.c_str(), &description, true)) return false;
  platform::DriveEntry entry;
  if (!platform::LookUpDrive(drive[0], &entry, false)) return false;

  const std::uint32_t root_id = RootFolderId(entry.root);

  platform::CreateFolders(std::filesystem::path(index_path).parent_path().string());

  // An index is accepted only for the volume and the root folder it was
  // built for. One written without the root's identification (0) cannot
  // show which folder it holds and is rebuilt once.
  bool accepted = false;
  std::vector<std::uint8_t> record;
  if (!rebuild && store_.Open(index_path)) {
    if (store_.is_new_file()) {
      accepted = true;
    } else {
      DriveRecord values;
      if (ReadDriveRecord(store_, &values) && values.root_folder_id != 0 &&
          values.root_id == root_id &&
          ascii::EqualNoCase(values.description.label(), description.label()) &&
          values.description.serial() == description.serial()) {
        accepted = true;
        last_refresh_ = values.last_refresh;
        root_folder_id_ = values.root_folder_id;
      }
    }
  }
  if (!accepted) {
    store_.Close();
    // Another process holding the file (its lock) keeps it: deleting it under
    // that process would lose its work. Only a file we can lock is rebuilt.
    platform::File probe;
    if (!probe.OpenAlways(index_path, nullptr)) return false;
    platform::RemoveFile(index_path);
    NameIndexKeeper::RemoveBeside(index_path);
    probe.Close();
    if (!store_.Open(index_path)) return false;
  }
  if (store_.is_new_file()) {
    if (!CreateDriveRecord(store_, description, root_id) || !store_.Flush()) {
      store_.Close();
      return false;
    }
    last_refresh_ = 0;
    root_folder_id_ = 0;
  }
  if (options_.keep_name_index) {
    name_index_->Opened(store_, options_.index_only);
  } else if (!options_.index_only) {
    // What this process writes, it does not follow in a name index: none
    // may describe the file afterwards.
    NameIndexKeeper::RemoveBeside(index_path);
  }

  description_ = description;
  drive_root_text_ = description.root_text();
  native_root_ = entry.root;
  root_device_ = entry.device;
  find_.ClearContent();
  live_find_ = false;
  {
    platform::MutexLock lock(&phase_lock_);
    client_ = client;
    change_flag_ = true;
    relist_requested_ = false;
    store_open_ = true;
  }
  if (options_.watch_changes) StartWatcher();
  chain_has_find_ = false;
  if (!options_.index_only && !options_.scope_only_refresh) RequestPhase(FindPhase::kRefresh);
  return true;
}

void DriveIndex::Close() {
  if (shut_down_) return;
  StopAndWait();
  notify_queue_.Clear();
  bool was_open = false;
  {
    // The notify thread may still be delivering to the client (which may be
    // slow to answer); give it a bounded time to finish.
    platform::MutexLock lock(&phase_lock_);
    const auto deadline = std::chrono::steady_clock::now() + kCloseRounds * kCloseRoundTime;
    ++control_waiters_;
    while (notify_busy_ && std::chrono::steady_clock::now() < deadline) {
      notify_queue_.Clear();
      WakeNotifyLocked();
      phase_lock_.WaitUntil(&phase_cv_,
                            std::min(deadline, std::chrono::steady_clock::now() + kCloseRoundTime));
    }
    --control_waiters_;
    was_open = store_open_;
  }
  StopWatcher();
  if (was_open) {
    if (!options_.index_only) SaveDriveRecord();
    if (options_.keep_name_index) name_index_->Closing(store_);
    store_.Close();
    // A refresh paused in its walk sees the store closed and gives up; wait
    // for it, so that no walk of this store outlives its close.
    platform::MutexLock lock(&phase_lock_);
    store_open_ = false;
    phase_cv_.notify_all();
    ++control_waiters_;
    while (refresh_running_) phase_lock_.Wait(&phase_cv_);
    --control_waiters_;
  }
  platform::MutexLock lock(&phase_lock_);
  client_ = nullptr;
}

void DriveIndex::SaveDriveRecord() {
  if (!store_.IsOpen()) return;
  quindelo::SaveDriveRecord(store_, last_refresh_, root_folder_id_);
}

bool DriveIndex::IsRemovable() const {
  return IsOpen() && description_.type() != platform::kDriveFixed;
}

bool DriveIndex::SameVolume() const {
  if (!IsOpen()) return false;
  DriveDescription now;
  if (!QueryDrive(drive_root_text_.c_str(), &now, true)) return false;
  return ascii::EqualNoCase(now.label(), description_.label()) &&
         now.serial() == description_.serial();
}

int DriveIndex::ExpireOldIndexes(const std::string& data_folder) {
  constexpr std::uint64_t kThirtyOneDays = 26784000000000ull;  // in 100 ns units
  const std::uint64_t limit = platform::FileTimeNow() - kThirtyOneDays;
  platform::FolderEnumerator folder;
  if (!folder.Open(data_folder)) return 0;
  int deleted = 0;
  platform::FindData data;
  while (folder.Next(&data)) {
    const std::string& n = data.name;
    if (n.size() < 4 || n.compare(n.size() - 4, 4, ".idx") != 0) continue;
    if (data.attributes & platform::kFileAttributeDirectory) continue;
    if (data.last_write_time < limit && platform::RemoveFile(data_folder + "/" + n)) {
      NameIndexKeeper::RemoveBeside(data_folder + "/" + n);
      ++deleted;
    }
  }
  return deleted;
}

// ---------------------------------------------------------------------------
// Start find

bool DriveIndex::StartFind(const FindRequest& request, std::string* message) {
  if (message) message->clear();
  {
    platform::MutexLock lock(&phase_lock_);
    if (!store_open_ || current_phase_ != FindPhase::kIdle) return false;
  }
  // The content threads may still be finishing a file of the last find: let
  // them, so that nothing of that find reaches this one.
  content_queue_.Clear();
  WaitForContentThreads();

  {
    platform::MutexLock lock(&phase_lock_);
    if (request.refresh) change_flag_ = true;
    relist_requested_ = request.refresh && !options_.index_only;
  }
  if (!find_.Set(request, message)) return false;
  RequestPhase(FindPhase::kIndexFind);
  return true;
}

// ---------------------------------------------------------------------------
// Reporting

void DriveIndex::ReportResult(const std::string& path) {
  if (find_.has_content()) {
    content_queue_.Append(path.data(), std::min(path.size(), kMaxReportedPath));
    platform::MutexLock lock(&phase_lock_);
    content_wake_ = true;
    if (content_waiting_) phase_cv_.notify_all();
  } else {
    Post(FoundName{Reported(path)});
  }
}

// ---------------------------------------------------------------------------
// Worker threads

void DriveIndex::FindThread() {
  for (;;) {
    {
      platform::MutexLock lock(&phase_lock_);
      while (current_phase_ != FindPhase::kIndexFind && requested_phase_ != FindPhase::kStopped)
        phase_lock_.Wait(&phase_cv_);
      if (requested_phase_ == FindPhase::kStopped) return;
    }
    chain_has_find_ = true;
    IndexFind();
    SetPhase(options_.index_only ? FindPhase::kContent : FindPhase::kRefresh,
             FindPhase::kIndexFind);
  }
}

void DriveIndex::RefreshThread() {
  platform::SetCurrentThreadBelowNormal();
  for (;;) {
    {
      platform::MutexLock lock(&phase_lock_);
      while (current_phase_ != FindPhase::kRefresh && requested_phase_ != FindPhase::kStopped)
        phase_lock_.Wait(&phase_cv_);
      if (requested_phase_ == FindPhase::kStopped) return;
      refresh_running_ = true;
    }
    RefreshPass();
    platform::MutexLock lock(&phase_lock_);
    refresh_running_ = false;
    NotifyControlLocked();
  }
}

void DriveIndex::WaitForContentThreads() {
  platform::MutexLock lock(&phase_lock_);
  ++control_waiters_;
  while (content_busy_ != 0) phase_lock_.Wait(&phase_cv_);
  --control_waiters_;
}

// Searches one queued path; returns false when the content thread is to stop
// taking paths (the find was stopped or has no content expression).
bool DriveIndex::SearchQueuedPath(const std::string& path, std::unique_ptr<ContentMatcher>* matcher,
                                  std::uint64_t* matcher_generation,
                                  FileSearcher* files) {
  auto active = [this] {
    FindPhase r = requested_phase_;
    return r != FindPhase::kStopped && r != FindPhase::kIdle;
  };
  if (active()) {
    Poll();
    if (CurrentPhase() == FindPhase::kContent) PostProgress(ContentProgress{Reported(path)});
    if (active() && find_.has_content()) {
      // Each thread searches with its own copy of the find's expression.
      if (!*matcher || *matcher_generation != find_.generation()) {
        *matcher = std::make_unique<ContentMatcher>(find_.expression());
        *matcher_generation = find_.generation();
      }
      std::string unused;
      // A stop, or a poll answered with stop, ends the search of a large
      // file between two of its blocks; the client is polled every 20 ms.
      auto last_poll = std::chrono::steady_clock::now();
      auto stop_requested = [&] {
        if (!active()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_poll < std::chrono::milliseconds(20)) return false;
        last_poll = now;
        Poll();
        return !active();
      };
      // A root that cannot be opened leaves every file unread.
      files->SetRoot(native_root_);
      if (files->Search(platform::NativePathBelow(native_root_, path), matcher->get(), stop_requested,
                        &unused) == FileSearcher::Result::kMatch &&
          active())
        Post(FoundName{Reported(path)});
    }
  }
  return active() && find_.has_content();
}

void DriveIndex::ContentThread(int number) {
  std::unique_ptr<ContentMatcher> matcher;
  std::uint64_t matcher_generation = 0;
  // The drive's files, reached from its root without following a link.
  FileSearcher files;
  std::string path;
  std::vector<char> buffer(kMaxReportedPath);
  std::size_t size = 0;
  for (;;) {
    // Search queued paths while the find goes on.
    for (;;) {
      {
        platform::MutexLock lock(&phase_lock_);
        ++content_busy_;
      }
      bool got = content_queue_.Pop(buffer.data(), buffer.size(), &size);
      if (got) path.assign(buffer.data(), size);
      bool go_on = false;
      if (got) {
        if (number == 1 && !extra_mark_ && requested_phase_ == FindPhase::kContent &&
            !content_queue_.IsEmpty()) {
          if (extra_content_thread_.joinable()) extra_content_thread_.join();
          extra_content_thread_ = std::thread([this] {
            platform::NameThisThread("q-content-2");
            ContentThread(2);
          });
          extra_mark_ = true;
        }
        go_on = SearchQueuedPath(path, &matcher, &matcher_generation, &files);
        if (!go_on) content_queue_.Clear();
      }
      {
        platform::MutexLock lock(&phase_lock_);
        --content_busy_;
        if (content_busy_ == 0) NotifyControlLocked();
      }
      if (!got || !go_on) break;
    }
    // Nothing of the drive stays open between finds (a removable drive can
    // then be unmounted).
    files.Close();
    if (number != 1) return;
    if (CurrentPhase() == FindPhase::kContent) {
      // This thread may have left the loop above for the last find (stopped,
      // or its queue empty) while the next find reached its content phase
      // with paths queued: those are searched before the phase is handed on.
      // Nothing is queued during the content phase itself, so an empty queue
      // here stays empty.
      if (!content_queue_.IsEmpty() && requested_phase_ == FindPhase::kContent) continue;
      // The extra thread may still be searching its last file; its result
      // must arrive before the end of this find.
      if (extra_content_thread_.joinable()) extra_content_thread_.join();
      extra_mark_ = false;
      if (options_.index_only) {
        SetPhase(FindPhase::kFinalDelivery, FindPhase::kContent);
      } else {
        SetPhase(FindPhase::kCompaction, FindPhase::kContent);
        CompactStore();
        SetPhase(FindPhase::kFinalDelivery, FindPhase::kCompaction);
      }
    }
    // Sleep until a path is queued, the content phase comes or the index
    // stops.
    platform::MutexLock lock(&phase_lock_);
    content_waiting_ = true;
    while (!content_wake_ && current_phase_ != FindPhase::kContent &&
           requested_phase_ != FindPhase::kStopped)
      phase_lock_.Wait(&phase_cv_);
    content_waiting_ = false;
    content_wake_ = false;
    if (requested_phase_ == FindPhase::kStopped) return;
  }
}

void DriveIndex::CompactStore() {
  if (CurrentPhase() != FindPhase::kCompaction || !store_.IsOpen()) return;
  store_.Compact([this] { return requested_phase_ != FindPhase::kCompaction ? 1 : 0; });
  // A whole build waits for a chain that nobody waits for: the refresh
  // after an open, not the end of a find.
  if (options_.keep_name_index)
    name_index_->Refresh(
        store_, [this] { return requested_phase_ != FindPhase::kCompaction; }, !chain_has_find_);
}

int DriveIndex::DeliverQueued() {
  IndexMessage message;
  int popped = 0;
  while (notify_queue_.Pop(&message)) {
    ++popped;
    FindPhase requested = requested_phase_;
    // After a stop only the end of the find gets through.
    if (requested == FindPhase::kStopped) continue;
    IndexClient* client = nullptr;
    {
      platform::MutexLock lock(&phase_lock_);
      if (requested != FindPhase::kIdle ||
          (std::holds_alternative<FindEnded>(message) && store_open_))
        client = client_;
    }
    if (client && client->OnIndexMessage(message) == IndexAnswer::kStop)
      RequestPhase(FindPhase::kIdle);
  }
  return popped;
}

bool DriveIndex::NotifyDueLocked() const {
  return notify_wake_ || current_phase_ == FindPhase::kFinalDelivery ||
         requested_phase_ == FindPhase::kStopped;
}

void DriveIndex::NotifyThread() {
  platform::SetCurrentThreadAboveNormal();
  // After every wake-up, wait at most kProgressWakeMs before sleeping without
  // limit: a progress message posted meanwhile does not wake this thread
  // (PostProgress), and the walk may then post nothing more for a long time.
  // Only a short wait that passed without a signal and found nothing to
  // deliver leads to the long sleep; it began after the last progress
  // wake-up, so a progress message posted later finds the interval passed
  // and wakes this thread itself.
  bool linger = false;
  for (;;) {
    if (CurrentPhase() == FindPhase::kFinalDelivery) {
      // Whatever the find queued is delivered before it goes idle: going
      // idle first would make the messages still queued count as stopped.
      DeliverQueued();
      SetPhase(FindPhase::kIdle, FindPhase::kFinalDelivery);
    }
    bool signalled = true;
    {
      platform::MutexLock lock(&phase_lock_);
      notify_busy_ = false;
      NotifyControlLocked();
      const auto deadline =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(kProgressWakeMs);
      notify_waiting_ = true;
      while (!NotifyDueLocked()) {
        if (!linger)
          phase_lock_.Wait(&phase_cv_);
        else if (!phase_lock_.WaitUntil(&phase_cv_, deadline))
          break;
      }
      notify_waiting_ = false;
      signalled = NotifyDueLocked();
      notify_wake_ = false;
      if (requested_phase_ == FindPhase::kStopped) break;
      notify_busy_ = true;
    }
    linger = DeliverQueued() > 0 || signalled;
  }
  platform::MutexLock lock(&phase_lock_);
  notify_busy_ = false;
  NotifyControlLocked();
}

// ---------------------------------------------------------------------------
// Index find

bool DriveIndex::LeftToListing(const std::string& folder_path) const {
  if (left_folders_.count(folder_path)) return true;
  if (left_trees_.empty()) return false;
  for (std::size_t at = folder_path.find('\\'); at != std::string::npos;
       at = folder_path.find('\\', at + 1)) {
    if (left_trees_.count(std::string_view(folder_path.data(), at + 1))) return true;
  }
  return false;
}

void DriveIndex::IndexFind() {
  // A live index answers for the folders noted changed from their listing
  // in the refresh, not from what the index holds of them.
  live_find_ = false;
  left_folders_.clear();
  left_trees_.clear();
  kept_reported_.clear();
  bool live = false;
  {
    platform::MutexLock lock(&phase_lock_);
    live = live_ && !relist_requested_ && !options_.index_only;
    last_find_exact_ = false;
  }
  if (live) {
    CollectChanges();
    platform::MutexLock lock(&phase_lock_);
    live_find_ = live_;
    last_find_exact_ = live_find_ && unwatched_.empty();
    if (live_find_) {
      for (const std::string& rel : pending_folders_) left_folders_.insert(IndexPathOf(rel));
      for (const std::string& rel : pending_trees_) left_trees_.insert(IndexPathOf(rel));
    }
  }
  FolderPaths paths(&store_);
  std::string folder_path;
  std::string full;
  const bool test_scope = find_.TestsScope();
  // The names are searched for the patterns' literal parts in each record as
  // it lies in the store's buffer; a folder's path is built, and its look-in
  // test made, only when one of its names matches.
  const NameFilter filter(find_.patterns());
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  FoldersToSearch folders(store_, name_index_->index(), find_.patterns());
  while (folders.Next(&data, &length)) {
    if (requested_phase_ != FindPhase::kIndexFind) break;
    if (Poll() == IndexAnswer::kStop) break;
    FolderRecordView folder(store_.layout());
    if (!folder.Parse(data, length)) continue;
    paths.Note(folder);
    enum class Scope { kUntested, kIn, kOut } scope = Scope::kUntested;
    bool stop = false;
    const NameFilter::Walk walk = filter.ForEachMatch(folder, [&](const FolderEntry& entry) {
      if (requested_phase_ != FindPhase::kIndexFind) {
        stop = true;
        return false;
      }
      if (scope == Scope::kUntested) {
        // A folder whose path cannot be built is left out of the find.
        scope = paths.Build(folder.id(), &folder_path) &&
                        (!test_scope || find_.FolderInScope(folder_path)) &&
                        !(live_find_ && LeftToListing(folder_path))
                    ? Scope::kIn
                    : Scope::kOut;
      }
      if (scope == Scope::kOut) return false;
      full.clear();
      if (folder_path.size() < 2 || folder_path[1] != ':') full = drive_root_text_;
      full += folder_path;
      full += entry.name;
      if (requested_phase_ == FindPhase::kStopped) {
        stop = true;
        return false;
      }
      ReportResult(full);
      return true;
    });
    // A list that breaks off (an entry running past its record) is damage:
    // the names after the break are lost, and a merge would write the
    // folder's names again in front of it.
    if (walk == NameFilter::Walk::kBroken) store_.MarkDamaged();
    if (stop) break;
  }
}

// ---------------------------------------------------------------------------
// Refresh pass

// The refresh walk's view of this index: the store, the find under way, the
// drive's root, and the refresh thread's answers.
class DriveIndex::RefreshScanHost final : public ScanHost {
 public:
  explicit RefreshScanHost(DriveIndex* index) : index_(index) {}

  IndexStore& store() override { return index_->store_; }
  FolderScope ScopeOf(std::string_view folder) const override {
    const FindRun::WalkScope scope = index_->find_.ScopeOfWalkFolder(folder);
    return FolderScope{scope.in_scope, scope.above};
  }
  const std::string& drive_root_text() const override { return index_->drive_root_text_; }
  const std::string& native_root() const override { return index_->native_root_; }
  std::uint64_t root_device() const override { return index_->root_device_; }
  bool relisting() const override { return index_->relisting_; }
  bool ReportsKeptNames(std::string_view folder) override {
    if (!index_->live_find_) return false;
    const std::string& root = index_->drive_root_text_;
    if (folder.substr(0, root.size()) != root) return false;
    if (!index_->LeftToListing(std::string(folder.substr(root.size())))) return false;
    // Once per find: a second listing of the folder finds its names reported.
    return index_->kept_reported_.emplace(folder).second;
  }
  bool MayContinue(const std::function<void()>& before_pause) override {
    return index_->MayContinue(before_pause);
  }
  ScanAnswer NewName(std::string_view folder, std::string_view name) override {
    if (!index_->find_.Matches(name) || !ScopeOf(folder).in_scope) return ScanAnswer::kGoOn;
    // An index being shut down reports nothing more.
    if (index_->requested_phase_ == FindPhase::kStopped) return ScanAnswer::kStop;
    std::string path(folder);
    path.append(name);
    index_->ReportResult(path);
    return ScanAnswer::kGoOn;
  }
  void PostProgress(const std::string& folder) override {
    index_->PostProgress(RefreshProgress{Reported(folder)});
  }
  void CountFolderListed() override {
    platform::MutexLock lock(&index_->phase_lock_);
    ++index_->folders_listed_;
  }
  std::uint64_t folders_listed() const override { return index_->folders_listed(); }
  void NoteIdsExhausted() override { index_->NoteIdsExhausted(); }

 private:
  DriveIndex* index_;
};

void DriveIndex::RefreshPass() {
  // A pass paused for the next find starts over as that find's pass.
  do {
    restart_flag_ = false;
    if (live_find_)
      TargetedPass();
    else
      FullPass();
  } while (restart_flag_ && CurrentPhase() == FindPhase::kRefresh);
  SetPhase(FindPhase::kContent, FindPhase::kRefresh);
}

void DriveIndex::TargetedPass() {
  // Changes that came after the index find are listed as well; their
  // folders' names were reported by it, so only new names are reported.
  CollectChanges();
  pass_targets_.clear();
  pass_next_ = 0;
  {
    platform::MutexLock lock(&phase_lock_);
    auto in_reach = [this](const std::string& rel) {
      std::string drive = drive_root_text_ + IndexPathOf(rel);
      const FindRun::WalkScope scope = find_.ScopeOfWalkFolder(drive);
      return scope.in_scope || scope.above;
    };
    auto take = [&](std::set<std::string>* from, DriveScanner::Target kind) {
      for (auto it = from->begin(); it != from->end();) {
        if (!in_reach(*it)) {
          ++it;
          continue;
        }
        pass_targets_.push_back(PassTarget{*it, kind});
        it = from->erase(it);
      }
    };
    take(&pending_trees_, DriveScanner::Target::kTree);
    take(&pending_folders_, DriveScanner::Target::kFolder);
    for (const std::string& rel : unwatched_)
      if (in_reach(rel)) pass_targets_.push_back(PassTarget{rel, DriveScanner::Target::kStamps});
  }
  // Folders above first, so that a folder gone with its parent is not
  // listed; a folder inside a tree listed whole is listed with it.
  std::stable_sort(pass_targets_.begin(), pass_targets_.end(),
                   [](const PassTarget& a, const PassTarget& b) { return a.rel < b.rel; });
  {
    std::vector<PassTarget> kept;
    std::string tree;
    bool have_tree = false;
    for (PassTarget& t : pass_targets_) {
      if (have_tree && t.rel.compare(0, tree.size(), tree) == 0) continue;
      if (t.kind == DriveScanner::Target::kTree) {
        tree = t.rel;
        have_tree = true;
      }
      kept.push_back(std::move(t));
    }
    pass_targets_ = std::move(kept);
  }
  if (root_folder_id_ == 0) return;
  RefreshScanHost host(this);
  DriveScanner scanner(&host);
  targeted_pass_ = true;
  using WalkResult = DriveScanner::WalkResult;
  while (pass_next_ < pass_targets_.size()) {
    // A copy: a pause gives the targets back and drops them from the list.
    const PassTarget target = pass_targets_[pass_next_];
    const WalkResult result = scanner.WalkFolder(root_folder_id_, target.rel, target.kind);
    if (result == WalkResult::kStopped) break;
    // A narrow index whose ids ran out moves to the wide variant, and the
    // same folder is walked again.
    if (result == WalkResult::kOutOfIds && WidenStore()) continue;
    ++pass_next_;
  }
  targeted_pass_ = false;
  // What a stop left undone is listed by a later find.
  {
    platform::MutexLock lock(&phase_lock_);
    GiveBackTargetsLocked();
  }
  pass_targets_.clear();
  pass_next_ = 0;
  if (requested_phase_ != FindPhase::kStopped && IsOpen()) SaveDriveRecord();
}

void DriveIndex::GiveBackTargetsLocked() {
  for (std::size_t i = pass_next_; i < pass_targets_.size(); ++i) {
    if (pass_targets_[i].kind == DriveScanner::Target::kTree)
      pending_trees_.insert(pass_targets_[i].rel);
    else if (pass_targets_[i].kind == DriveScanner::Target::kFolder)
      pending_folders_.insert(pass_targets_[i].rel);
  }
  pass_targets_.resize(pass_next_);
}

void DriveIndex::FullPass() {
  {
    // Watches that are being set are set first: a walk that begins after
    // them leaves the index live when it ends.
    platform::MutexLock lock(&phase_lock_);
    while (watch_starting_ && requested_phase_ == FindPhase::kRefresh && store_open_)
      phase_lock_.Wait(&phase_cv_);
  }
  const auto now = static_cast<std::uint32_t>(std::time(nullptr));
  const bool recent = now - last_refresh_ < options_.refresh_interval_seconds;
  if (!recent || change_pending()) {
    std::uint32_t pass_start = now;
    // A relisting asked for holds for the whole pass, a restarted one too.
    bool relist = false;
    bool whole_drive = false;
    bool watched_from_start = false;
    std::uint64_t epoch = 0;
    do {
      {
        platform::MutexLock lock(&phase_lock_);
        if (relist_requested_) relist = true;
        relist_requested_ = false;
        change_flag_ = false;
        watched_from_start = watch_ready_;
        epoch = watch_epoch_;
      }
      whole_drive = false;
      restart_flag_ = false;
      pass_start = static_cast<std::uint32_t>(std::time(nullptr));
      if (root_folder_id_ == 0) {
        root_folder_id_ = CreateFolderRecord(store_, 0, std::string_view());
        SaveDriveRecord();
      }
      if (root_folder_id_ == 0) break;
      RefreshScanHost host(this);
      DriveScanner scanner(&host);
      using WalkResult = DriveScanner::WalkResult;
      WalkResult result = WalkResult::kCompleted;
      // The walk that covers the scope first relists it; the walk of the
      // whole drive after a look-in walk goes by the stamps again.
      relisting_ = relist;
      if (!find_.look_in().empty()) {
        result = scanner.WalkRoot(root_folder_id_, true);
        relisting_ = false;
      }
      const bool scope_only = options_.scope_only_refresh && !find_.look_in().empty();
      if (result == WalkResult::kCompleted && !scope_only) {
        result = scanner.WalkRoot(root_folder_id_, false);
        whole_drive = result == WalkResult::kCompleted;
      }
      relisting_ = false;
      // A narrow index whose ids ran out moves to the wide variant and the
      // pass starts over, going quickly over the folders it already holds.
      if (result == WalkResult::kOutOfIds && WidenStore()) restart_flag_ = true;
    } while (restart_flag_ && CurrentPhase() == FindPhase::kRefresh);
    if (requested_phase_ == FindPhase::kRefresh && whole_drive) last_refresh_ = pass_start;
    if (whole_drive && watched_from_start && requested_phase_ == FindPhase::kRefresh) {
      platform::MutexLock lock(&phase_lock_);
      if (watch_ready_ && watch_epoch_ == epoch) live_ = true;
    }
    if (requested_phase_ != FindPhase::kStopped && IsOpen()) SaveDriveRecord();
  }
}

bool DriveIndex::MayContinue(const std::function<void()>& before_pause) {
  if (requested_phase_ == FindPhase::kRefresh) {
    Poll();
    if (requested_phase_ == FindPhase::kRefresh) return true;
  }
  if (before_pause) before_pause();
  // Pause: leave the file consistent for the find that comes next.
  SaveDriveRecord();
  platform::MutexLock lock(&phase_lock_);
  if (targeted_pass_) {
    // The folders not yet listed go back to the pending changes before the
    // next find's index find reads them (the one under way included).
    GiveBackTargetsLocked();
  }
  const FindPhase requested = requested_phase_;
  if (requested != FindPhase::kStopped) SetPhaseLocked(requested, FindPhase::kRefresh);
  // Wait for the next find's chain to come back to the refresh phase.
  while (requested_phase_ != FindPhase::kStopped && store_open_) {
    if (current_phase_ == FindPhase::kRefresh) {
      if (!change_flag_ && !targeted_pass_) return true;
      restart_flag_ = true;
      return false;
    }
    phase_lock_.Wait(&phase_cv_);
  }
  return false;
}

bool DriveIndex::WidenStore() {
  ReportStatus("Drive %s holds more folders than a standard index can number; "
               "moving its index to the wide format.",
               drive_root_text_.c_str());
  if (WidenIndex(store_)) return true;
  NoteIdsExhausted();
  return false;
}

void DriveIndex::NoteIdsExhausted() {
  bool first = false;
  {
    platform::MutexLock lock(&phase_lock_);
    first = !ids_exhausted_;
    ids_exhausted_ = true;
  }
  if (first) {
    ReportStatus("Drive %s holds more folders than its index can keep; the rest are not listed.",
                 drive_root_text_.c_str());
  }
}

// ---------------------------------------------------------------------------
// Change watcher

void DriveIndex::StartWatcher() {
  StopWatcher();
  platform::ChangeNotification::Options watch_options;
  watch_options.watch_limit = options_.watch_limit;
  auto watch = std::make_shared<platform::ChangeNotification>(watch_options);
  const std::string native = native_root_;
  {
    platform::MutexLock phase(&phase_lock_);
    watch_starting_ = true;
  }
  platform::MutexLock lock(&watcher_lock_);
  watcher_ = watch;
  watcher_thread_ = std::thread([this, watch, native] {
    platform::NameThisThread("q-index-watch");
    const bool started = watch->Start(native);
    {
      platform::MutexLock phase(&phase_lock_);
      watch_starting_ = false;
      if (started) {
        watching_ = true;
        watch_ready_ = true;
        ++watch_epoch_;
      }
      phase_cv_.notify_all();
    }
    if (!started) return;
    CollectChangesFrom(watch.get());
    for (;;) {
      const auto result = watch->Wait(kWatchTimeoutMs);
      if (result == platform::ChangeNotification::WaitResult::kChanged) {
        CollectChangesFrom(watch.get());
      } else if (result != platform::ChangeNotification::WaitResult::kTimeout) {
        // A watcher that fails leaves the index to its walks by stamps.
        platform::MutexLock phase(&phase_lock_);
        watch_ready_ = false;
        live_ = false;
        ++watch_epoch_;
        return;
      }
    }
  });
}

void DriveIndex::StopWatcher() {
  platform::MutexLock lock(&watcher_lock_);
  if (watcher_) watcher_->Cancel();
  if (watcher_thread_.joinable()) watcher_thread_.join();
  watcher_.reset();
  platform::MutexLock phase(&phase_lock_);
  watching_ = false;
  watch_ready_ = false;
  watch_starting_ = false;
  live_ = false;
  ++watch_epoch_;
  pending_folders_.clear();
  pending_trees_.clear();
  unwatched_.clear();
  phase_cv_.notify_all();
}

void DriveIndex::CollectChanges() {
  std::shared_ptr<platform::ChangeNotification> watch;
  {
    platform::MutexLock lock(&watcher_lock_);
    watch = watcher_;
  }
  if (watch) CollectChangesFrom(watch.get());
}

void DriveIndex::CollectChangesFrom(platform::ChangeNotification* watch) {
  watch->Drain();
  // Taken and merged in one step under the phase lock: whoever takes the
  // changes another thread's Drain read, they are pending once that
  // thread holds the lock next.
  platform::MutexLock lock(&phase_lock_);
  platform::ChangeNotification::Changes changes = watch->TakeChanges();
  unwatched_ = watch->unwatched();
  // The root itself gone or moved: nothing noted below it holds.
  if (changes.overflowed || changes.trees.count(std::string())) {
    NoteEventsLostLocked();
    return;
  }
  if (changes.empty()) return;
  // Before the index is live, a change has the next refresh walk the drive.
  if (!live_) change_flag_ = true;
  pending_folders_.merge(changes.folders);
  pending_trees_.merge(changes.trees);
}

}  // namespace quindelo
