// A current find of a rare name, with a file made just before it, on a
// synthetic drive of 100,000 and 1,000,000 names: through a live index
// (watched; the find lists only the folder that changed) against an index
// without a watcher (the find walks every folder of the drive by its stamp,
// as a process that is not live must). Both run in this process, one right
// after the other, on the same tree.
//
//   build/bin/live_find_bench [--benchmark_filter=...]
//
// The counters: names on the drive, answers that held the file made just
// before the find (of all finds), folders listed per find, and the resident
// memory of the process once the live index is open.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "index/drive_index.h"
#include "platform/paths.h"
#include "platform/settings_file.h"

namespace quindelo {
namespace {

namespace fs = std::filesystem;

class Collector : public IndexClient {
 public:
  IndexAnswer OnIndexMessage(const IndexMessage& message) override {
    std::lock_guard<std::mutex> lock(lock_);
    if (const auto* found = std::get_if<FoundName>(&message)) found_.push_back(found->path);
    if (std::holds_alternative<FindEnded>(message)) ++ends_;
    cv_.notify_all();
    return IndexAnswer::kGoOn;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(lock_);
    found_.clear();
    ends_ = 0;
  }
  std::vector<std::string> WaitForEnd() {
    std::unique_lock<std::mutex> lock(lock_);
    cv_.wait(lock, [&] { return ends_ > 0; });
    return found_;
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  std::vector<std::string> found_;
  int ends_ = 0;
};

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
  }
  return 0;
}

// A tree of about `names` names: 10 to 28 a folder, one in 20 a folder, at
// most 12 levels deep; with a private settings file mapping drive L: to it.
struct Drive {
  std::string work;
  std::string root;
  std::vector<std::string> folders;
  explicit Drive(std::uint64_t names) {
    char pattern[] = "/tmp/quindelo-live-bench-XXXXXX";
    work = ::mkdtemp(pattern);
    root = work + "/tree";
    Map();
    std::mt19937 random(1);
    std::vector<std::pair<std::string, int>> open{{root, 0}};
    fs::create_directories(root);
    folders.push_back(root);
    std::uint64_t made = 0;
    for (std::size_t at = 0; at < open.size() && made < names; ++at) {
      const auto [folder, depth] = open[at];
      const int count = std::uniform_int_distribution<int>(10, 28)(random);
      for (int i = 0; i < count && made < names; ++i, ++made) {
        const std::string name = "entry" + std::to_string(made);
        if (depth < 12 && std::uniform_int_distribution<int>(0, 19)(random) == 0) {
          fs::create_directory(folder + "/" + name);
          open.emplace_back(folder + "/" + name, depth + 1);
          folders.push_back(folder + "/" + name);
        } else {
          std::ofstream(folder + "/" + name + ".txt");
        }
      }
      // No folder left to fill: a new one below a folder made so far.
      if (at + 1 == open.size() && made < names) {
        auto& [parent, parent_depth] = open[std::uniform_int_distribution<std::size_t>(
            0, open.size() - 1)(random)];
        const std::string made_folder = parent + "/extra" + std::to_string(made);
        const int made_depth = std::min(parent_depth + 1, 12);
        fs::create_directory(made_folder);
        folders.push_back(made_folder);
        open.emplace_back(made_folder, made_depth);
      }
    }
  }
  // Makes this tree drive L:, with a settings file and data folder of its own.
  void Map() const {
    ::setenv("XDG_CONFIG_HOME", (work + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (work + "/data").c_str(), 1);
    platform::SettingsWriteInt("Drives", "Auto", 0);
    platform::SettingsWriteString("Drives", "L", root);
  }
  ~Drive() {
    std::error_code ec;
    fs::remove_all(work, ec);
  }
};

void CurrentFind(benchmark::State& state, bool live) {
  const auto names = static_cast<std::uint64_t>(state.range(0));
  static std::map<std::uint64_t, std::unique_ptr<Drive>> drives;
  auto& drive = drives[names];
  if (!drive) drive = std::make_unique<Drive>(names);
  drive->Map();
  DriveIndex::Options options;
  options.watch_changes = live;
  options.refresh_interval_seconds = 0;  // every find of the other index walks
  DriveIndex index(options);
  Collector client;
  if (!index.Open(platform::IndexFilePath('L'), "L:", &client, false)) {
    state.SkipWithError("open failed");
    return;
  }
  client.WaitForEnd();
  state.counters["folders"] = static_cast<double>(drive->folders.size());
  while (live && !index.live()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const long resident = ResidentKiB();
  std::mt19937 random(2);
  int finds = 0, right = 0;
  const std::uint64_t listed_before = index.folders_listed();
  for (auto _ : state) {
    const std::string name = "zephyr" + std::to_string(finds++) + (live ? "l" : "w");
    const std::string& folder = drive->folders[std::uniform_int_distribution<std::size_t>(
        0, drive->folders.size() - 1)(random)];
    std::ofstream(folder + "/" + name + ".md");
    index.StopAndWait();
    client.Clear();
    FindRequest request;
    request.named_text = name;
    std::string message;
    index.StartFind(request, &message);
    const std::vector<std::string> found = client.WaitForEnd();
    right += found.size() == 1;
  }
  state.counters["names"] = static_cast<double>(names);
  state.counters["right"] = right;
  state.counters["finds"] = finds;
  state.counters["listed_per_find"] =
      static_cast<double>(index.folders_listed() - listed_before) / std::max(finds, 1);
  state.counters["rss_MiB"] = static_cast<double>(resident) / 1024;
  index.Shutdown();
  std::error_code ec;
  fs::remove(platform::IndexFilePath('L'), ec);
}

void BM_CurrentFindLive(benchmark::State& state) { CurrentFind(state, true); }
void BM_CurrentFindWalk(benchmark::State& state) { CurrentFind(state, false); }

BENCHMARK(BM_CurrentFindLive)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
    ->Iterations(100)->UseRealTime();
BENCHMARK(BM_CurrentFindWalk)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
    ->Iterations(20)->UseRealTime();

}  // namespace
}  // namespace quindelo

BENCHMARK_MAIN();
