// Found files of a find inserted into the sorted results list through the
// search driver's found-file path (the index callback's code 3 with a
// window that keeps its rows), for 10,000 names:
//   arg 0: names arrive in index order (folder by folder);
//   arg 1: names arrive already in the list's order.
// Reports rows per second (a row's time is its inverse).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
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

void BM_DriverInsertRows(benchmark::State& state) {
  const std::vector<std::string> paths = MakePaths(state.range(0) == 1);
  quindelo::SearchDriver::Options options;
  options.find_delay_ms = 0;
  options.index_options.watch_changes = false;
  for (auto _ : state) {
    state.PauseTiming();
    auto window = std::make_unique<quindelo::HeadlessFindWindow>();
    auto driver = std::make_unique<quindelo::SearchDriver>(window.get(), options);
    // An index that cannot be opened leaves the find active with no index
    // thread calling back, so the found-file path can be fed directly.
    driver->OpenDriveIndex("?:", false);
    driver->set_sort_order({quindelo::SortKey::kName, false});
    state.ResumeTiming();
    for (const std::string& p : paths) driver->OnIndexCallback(quindelo::kCodeFound, p.c_str());
    state.PauseTiming();
    if (window->Rows().size() != paths.size()) state.SkipWithError("rows were lost");
    driver.reset();
    window.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_DriverInsertRows)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
