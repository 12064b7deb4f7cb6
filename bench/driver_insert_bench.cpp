// Found files of a find inserted into the sorted results list through the
// search driver's found-file path (the index callback's found files, then
// its end, with a window that keeps its rows), for 10,000 names:
//   arg 0: names arrive in index order (folder by folder);
//   arg 1: names arrive already in the list's order;
//   arg 2, 3: the same with a window whose work runs on a thread of its own
//   (queued, as the Qt form's are; the time ends once that thread has
//   inserted every row).
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
#include "search/find_window.h"
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

// A window that keeps nothing: its work runs at once on the calling thread,
// or, with a thread of its own, queued to that thread.
class BenchWindow : public quindelo::FindWindow {
 public:
  explicit BenchWindow(bool threaded) {
    if (threaded) thread_ = std::thread([this] { Loop(); });
  }
  ~BenchWindow() override {
    {
      std::lock_guard<std::mutex> lock(queue_lock_);
      quit_ = true;
    }
    queue_cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  void RunLater(std::function<void()> work) override {
    if (!thread_.joinable()) {
      work();
      return;
    }
    std::lock_guard<std::mutex> lock(queue_lock_);
    works_.push_back(std::move(work));
    queue_cv_.notify_all();
  }
  // Waits until every work queued so far has run.
  void Drain() {
    std::unique_lock<std::mutex> lock(queue_lock_);
    queue_cv_.wait(lock, [this] { return works_.empty() && !busy_; });
  }
  void SetStatusText(const char*) override {}
  void SetIndicatorText(const char*) override {}
  void PostCloseRequest() override {}
  void PostCommand(int) override {}
  void EnableBoxes(bool) override {}

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(queue_lock_);
    for (;;) {
      queue_cv_.wait(lock, [this] { return quit_ || !works_.empty(); });
      if (works_.empty()) return;
      std::function<void()> work = std::move(works_.front());
      works_.pop_front();
      busy_ = true;
      lock.unlock();
      work();
      lock.lock();
      busy_ = false;
      queue_cv_.notify_all();
    }
  }
  std::mutex queue_lock_;
  std::condition_variable queue_cv_;
  std::deque<std::function<void()>> works_;
  bool busy_ = false;
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
    auto window = std::make_unique<BenchWindow>(threaded);
    auto driver = std::make_unique<quindelo::SearchDriver>(window.get(), options);
    // An index that cannot be opened leaves the find active with no index
    // thread calling back, so the found-file path can be fed directly.
    driver->OpenDriveIndex("?:", false);
    driver->set_sort_order({quindelo::SortKey::kName, false});
    state.ResumeTiming();
    for (const quindelo::IndexMessage& m : found) driver->OnIndexMessage(m);
    // The end hands over the rows still held back.
    driver->OnIndexMessage(end);
    window->Drain();
    state.PauseTiming();
    int rows = 0;
    window->RunLater([&] { rows = driver->result_set().row_count(); });
    window->Drain();
    if (rows != static_cast<int>(paths.size())) state.SkipWithError("rows were lost");
    driver.reset();
    window.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_DriverInsertRows)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
