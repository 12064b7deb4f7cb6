// The index find's pass over every name of a drive: the records of an index
// file read and their names matched, as the plain loop did it (NextRecord
// through the 8 KiB window, EntryIterator, PatternSet::match for each name)
// and as the index find does it now (NextRecordInPlace, NameFilter), for a
// rare name and for *.txt, on synthetic drives of 100,000 and 1,000,000
// names (about 20 names a folder, realistic names, as bench/ trees are).
//
//   build/bin/index_find_bench [--benchmark_filter=...]
//
// The counters: names in the index, matches found, and the index file's size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/string_pool.h"
#include "index/folder_paths.h"
#include "index/index_records.h"
#include "index/index_store.h"
#include "index/name_cache.h"
#include "index/name_filter.h"
#include "index/pattern_set.h"
#include "synthetic_index.h"

namespace quindelo {
namespace {

// An index file of a synthetic drive (synthetic_index.h).
struct Drive {
  std::string folder;
  IndexStore store;
  std::uint64_t names = 0;

  explicit Drive(int total_names) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quindelo-find-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    folder = pattern;
    if (!store.Open(folder + "/DriveQ.idx")) std::abort();
    Build(total_names);
  }
  ~Drive() {
    store.Close();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  void Build(int total_names) { names = WriteSyntheticDrive(store, total_names).names; }
};

Drive& SharedDrive(int names) {
  static std::map<int, std::unique_ptr<Drive>> drives;  // built once each, removed at exit
  auto& drive = drives[names];
  if (!drive) drive = std::make_unique<Drive>(names);
  return *drive;
}

const char* const kNamed[] = {"_4211", "*.txt"};

void Count(benchmark::State& state, const Drive& drive, std::uint64_t matches) {
  state.counters["names_in_index"] = static_cast<double>(drive.names);
  state.counters["matches"] = static_cast<double>(matches);
  state.counters["file_bytes"] = static_cast<double>(drive.store.end_offset());
  state.SetLabel(kNamed[state.range(1)]);
}

// What the index find did for every record: a copy through the window, the
// folder's name cached, every entry matched in turn, the folder's path built
// at its first match.
void BM_PlainFind(benchmark::State& state) {
  Drive& drive = SharedDrive(static_cast<int>(state.range(0)));
  PatternSet patterns;
  patterns.parse(kNamed[state.range(1)]);
  std::vector<std::uint8_t> buffer;
  std::string folder_path, full;
  std::uint64_t matches = 0;
  for (auto _ : state) {
    NameCache cache(drive.store.table_length());
    StringPool pool;
    matches = 0;
    drive.store.BeginScan();
    while (drive.store.NextRecord(&buffer)) {
      FolderRecordView folder;
      if (!folder.Parse(buffer)) continue;
      NameCache::Slot& slot = cache.slot(folder.id());
      if (!slot.name) {
        slot.parent_id = folder.parent_id();
        slot.name = pool.Add(folder.name());
      }
      bool have_path = false;
      EntryIterator it(folder);
      FolderEntry entry;
      while (it.Next(&entry)) {
        if (!patterns.match(entry.name)) continue;
        if (!have_path && !BuildFolderPath(drive.store, folder.id(), &cache, &pool, &folder_path))
          break;
        have_path = true;
        full.assign("Q:").append(folder_path).append(entry.name);
        ++matches;
      }
    }
  }
  Count(state, drive, matches);
}

// What it does now: each record where it lies in the store's buffer, the
// names searched for the patterns' literals first, the folder's path built
// at its first match from the folders read or noted so far.
void BM_FilteredFind(benchmark::State& state) {
  Drive& drive = SharedDrive(static_cast<int>(state.range(0)));
  PatternSet patterns;
  patterns.parse(kNamed[state.range(1)]);
  const NameFilter filter(patterns);
  std::string folder_path, full;
  std::uint64_t matches = 0, reads = 0;
  for (auto _ : state) {
    FolderPaths paths(&drive.store);
    matches = 0;
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    drive.store.BeginScan();
    while (drive.store.NextRecordInPlace(&data, &length)) {
      FolderRecordView folder;
      if (!folder.Parse(data, length)) continue;
      paths.Note(folder);
      bool have_path = false;
      filter.ForEachMatch(folder, [&](const FolderEntry& entry) {
        if (!have_path && !paths.Build(folder.id(), &folder_path)) return false;
        have_path = true;
        full.assign("Q:").append(folder_path).append(entry.name);
        ++matches;
        return true;
      });
    }
    reads = paths.reads();
  }
  Count(state, drive, matches);
  state.counters["records_read"] = static_cast<double>(reads);
}

// The parts of the new pass on their own: reading the records in place,
// and walking every entry list without matching.
void BM_ReadInPlace(benchmark::State& state) {
  Drive& drive = SharedDrive(static_cast<int>(state.range(0)));
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    drive.store.BeginScan();
    while (drive.store.NextRecordInPlace(&data, &length)) bytes += length;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_WalkNames(benchmark::State& state) {
  Drive& drive = SharedDrive(static_cast<int>(state.range(0)));
  std::uint64_t names = 0;
  for (auto _ : state) {
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    drive.store.BeginScan();
    while (drive.store.NextRecordInPlace(&data, &length)) {
      FolderRecordView folder;
      if (!folder.Parse(data, length)) continue;
      EntryNameWalker walker(folder);
      std::uint32_t at, begin, end;
      while (walker.Next(&at, &begin, &end)) ++names;
    }
  }
  state.counters["names"] = benchmark::Counter(static_cast<double>(names),
                                                benchmark::Counter::kIsRate);
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int names : {100000, 1000000})
    for (int named = 0; named < 2; ++named) b->Args({names, named});
}
BENCHMARK(BM_PlainFind)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilteredFind)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadInPlace)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkNames)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quindelo

BENCHMARK_MAIN();
