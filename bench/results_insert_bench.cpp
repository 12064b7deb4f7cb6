// Sorted insertion of found files into the results rows: 10,000 records,
// each placed by FindInsertRow (last row probed first) and inserted into a
// std::vector, as the search driver does while a find goes on.
//   arg 0: names arrive in index order (folder by folder, each folder's
//          names in order), sorted by name;
//   arg 1: names arrive already in name order (one comparison each).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "search/found_file.h"

namespace {

constexpr int kFiles = 10000;
constexpr int kFolders = 100;

std::vector<std::string> MakePaths(bool sorted_by_name) {
  std::vector<std::string> paths;
  paths.reserve(kFiles);
  char buffer[64];
  // Folder f holds names whose numbers interleave with other folders', so
  // index order is far from name order.
  for (int f = 0; f < kFolders; ++f) {
    for (int i = 0; i < kFiles / kFolders; ++i) {
      std::snprintf(buffer, sizeof buffer, "C:\\data\\folder%03d\\file%05d.txt", f,
                    i * kFolders + (f * 37) % kFolders);
      paths.push_back(buffer);
    }
  }
  if (sorted_by_name) {
    std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
      return a.substr(a.rfind('\\')) < b.substr(b.rfind('\\'));
    });
  }
  return paths;
}

void BM_InsertFoundFiles(benchmark::State& state) {
  const std::vector<std::string> paths = MakePaths(state.range(0) == 1);
  const quindelo::SortOrder order{quindelo::SortKey::kName, false};
  std::int64_t comparisons = 0;
  for (auto _ : state) {
    quindelo::ResultsPool pool;
    quindelo::CurrentFolder current;
    std::vector<quindelo::FoundFile*> rows;
    for (const std::string& path : paths) {
      quindelo::FoundFile* file = pool.AddFoundFile(path, &current);
      std::size_t row = 0;
      quindelo::FindInsertRow(
          rows.size(),
          [&](std::size_t r) {
            ++comparisons;
            return quindelo::CompareFoundFiles(file, rows[r], order, &pool);
          },
          [] { return true; }, &row);
      rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(row), file);
    }
    benchmark::DoNotOptimize(rows.data());
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
  state.counters["cmp_per_file"] =
      static_cast<double>(comparisons) / static_cast<double>(state.iterations() * kFiles);
}
BENCHMARK(BM_InsertFoundFiles)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
