// Found files of a find inserted into the sorted results list through the
// search driver's found-file path (the index callback's found files, then
// its end, with a window that keeps its rows), for 10,000 names:
//   arg 0: names arrive in index order (folder by folder);
//   arg 1: names arrive already in the list's order;
//   arg 2, 3: the same with a window whose calls run on a thread of its own
//   (each window call from the driver waits for that thread, as the Qt
//   form's blocking queued calls do).
// Reports rows per second (a row's time is its inverse).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "index/drive_index.h"
#include "search/headless_find_window.h"
#include "search/search_driver.h"

namespace {

constexpr int kFiles = 10000;
constexpr int kFolders = 100;

std::vector<std::string> MakePaths(bool in_list_order) {
  std::vector<std::string> paths;
  char buffer[64];
  for (int f = 0; f < kFolders; ++f)
    for (int i = 0; i < kFiles / kFolders; ++i) {
      std::snprintf(buffer, sizeof buffer, "Q:\\data\\folder%03d\\file%05d.txt", f,
                    i * kFolders + (f * 37) % kFolders);
      paths.push_back(buffer);
    }
  // The list is sorted by name here; in list order the names arrive sorted.
  if (in_list_order)
    std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
      return a.substr(a.rfind('\\')) < b.substr(b.rfind('\\'));
    });
  return paths;
}

// Runs every window call on its own thread; the caller waits for it.
class ThreadedWindow : public quindelo::HeadlessFindWindow {
 public:
  ThreadedWindow() : thread_([this] { Loop(); }) {}
  ~ThreadedWindow() override {
    {
      std::lock_guard<std::mutex> lock(queue_lock_);
      quit_ = true;
    }
    queue_cv_.notify_all();
    thread_.join();
  }
  void RunOnWindowThread(const std::function<void()>& work) override {
    if (std::this_thread::get_id() == thread_.get_id()) {
      work();
      return;
    }
    std::unique_lock<std::mutex> lock(queue_lock_);
    const std::uint64_t ticket = ++posted_;
    works_.push_back(&work);
    queue_cv_.notify_all();
    queue_cv_.wait(lock, [&] { return done_ >= ticket; });
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(queue_lock_);
    for (;;) {
      queue_cv_.wait(lock, [this] { return quit_ || !works_.empty(); });
      if (works_.empty()) return;
      const std::function<void()>* work = works_.front();
      works_.pop_front();
      lock.unlock();
      (*work)();
      lock.lock();
      ++done_;
      queue_cv_.notify_all();
    }
  }
  std::mutex queue_lock_;
  std::condition_variable queue_cv_;
  std::deque<const std::function<void()>*> works_;
  std::uint64_t posted_ = 0;
  std::uint64_t done_ = 0;
  bool quit_ = false;
  std::thread thread_;
};

void BM_DriverInsertRows(benchmark::State& state) {
  const bool threaded = state.range(0) >= 2;
  const std::vector<std::string> paths = MakePaths(state.range(0) % 2 == 1);
  // The messages as the index's notify thread hands them over.
  std::vector<quindelo::IndexMessage> found;
  for (const std::string& p : paths) found.emplace_back(quindelo::FoundName{p});
  const quindelo::IndexMessage end{quindelo::FindEnded{}};
  quindelo::SearchDriver::Options options;
  options.find_delay_ms = 0;
  options.index_options.watch_changes = false;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<quindelo::HeadlessFindWindow> window;
    if (threaded)
      window = std::make_unique<ThreadedWindow>();
    else
      window = std::make_unique<quindelo::HeadlessFindWindow>();
    auto driver = std::make_unique<quindelo::SearchDriver>(window.get(), options);
    // An index that cannot be opened leaves the find active with no index
    // thread calling back, so the found-file path can be fed directly.
    driver->OpenDriveIndex("?:", false);
    driver->set_sort_order({quindelo::SortKey::kName, false});
    state.ResumeTiming();
    for (const quindelo::IndexMessage& m : found) driver->OnIndexMessage(m);
    // The end hands over the rows still held back.
    driver->OnIndexMessage(end);
    state.PauseTiming();
    if (window->Rows().size() != paths.size()) state.SkipWithError("rows were lost");
    driver.reset();
    window.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_DriverInsertRows)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
