// The index find with and without the name index beside the index file,
// on synthetic drives of 100,000 and 1,000,000 names (the drives of
// index_find_bench: folders of 10 to 28 realistic names, at most 12 deep):
// a scan of every record as the index find makes it, against the narrowed
// find that reads only the folders the name index names, for a rare name,
// a name of a few hundred folders and *.txt (which every folder holds).
// Also what building, writing and reading the name index costs.
//
//   build/bin/name_index_bench [--benchmark_filter=...]
//
// The counters: matches found, folders read, the index file's size and the
// name index file's size.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "index/folder_paths.h"
#include "index/index_records.h"
#include "index/index_store.h"
#include "index/name_filter.h"
#include "index/name_index.h"
#include "index/pattern_set.h"
#include "synthetic_index.h"

namespace quindelo {
namespace {

struct Drive {
  std::string folder;
  IndexStore store;
  NameIndex names_index;
  std::uint64_t names = 0;
  std::uint64_t folders = 0;
  std::uint64_t name_index_bytes = 0;

  explicit Drive(int total_names) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quindelo-name-index-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    folder = pattern;
    if (!store.Open(folder + "/DriveQ.idx")) std::abort();
    if (!CreateDriveRecord(store, DriveDescription{})) std::abort();
    Build(total_names);
    NameIndex built;
    if (!built.Build(store) || !built.Save(NameIndexPath(store.path()))) std::abort();
    if (!names_index.Load(NameIndexPath(store.path())) || !names_index.Describes(store))
      std::abort();
    name_index_bytes = std::filesystem::file_size(NameIndexPath(store.path()));
  }
  ~Drive() {
    store.Close();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  void Build(int total_names) {
    const SyntheticCounts counts = WriteSyntheticDrive(store, total_names);
    names = counts.names;
    folders = counts.folders;
  }
};

Drive& SharedDrive(int names) {
  static std::map<int, std::unique_ptr<Drive>> drives;  // built once each, removed at exit
  auto& drive = drives[names];
  if (!drive) drive = std::make_unique<Drive>(names);
  return *drive;
}

const char* const kNamed[] = {"_4211", "budget42", "*.txt"};

// The index find's pass: the folders given (all, or the candidates), their
// names filtered, the path of each folder with a match built.
void Find(benchmark::State& state, bool narrowed) {
  Drive& drive = SharedDrive(static_cast<int>(state.range(0)));
  PatternSet patterns;
  patterns.parse(kNamed[state.range(1)]);
  const NameFilter filter(patterns);
  std::string folder_path, full;
  std::uint64_t matches = 0, folders_read = 0;
  for (auto _ : state) {
    FolderPaths paths(&drive.store);
    matches = folders_read = 0;
    ForEachFolderToSearch(drive.store, narrowed ? &drive.names_index : nullptr, patterns,
                          [&](const FolderRecordView& folder) {
                            ++folders_read;
                            paths.Note(folder);
                            bool have_path = false;
                            filter.ForEachMatch(folder, [&](const FolderEntry& entry) {
                              if (!have_path && !paths.Build(folder.id(), &folder_path))
                                return false;
                              have_path = true;
                              full.assign("Q:").append(folder_path).append(entry.name);
                              ++matches;
                              return true;
                            });
                            return true;
                          });
  }
  if (drive.store.is_damaged()) std::abort();
  state.counters["names_in_index"] = static_cast<double>(drive.names);
  state.counters["matches"] = static_cast<double>(matches);
  state.counters["folders_read"] = static_cast<double>(folders_read);
  state.counters["idx_bytes"] = static_cast<double>(drive.store.end_offset());
  state.counters["tri_bytes"] = static_cast<double>(drive.name_index_bytes);
  state.SetLabel(kNamed[state.range(1)]);
}

void BM_FullScanFind(benchmark::State& state) { Find(state, false); }
void BM_NarrowedFind(benchmark::State& state) { Find(state, true); }

void BM_BuildNameIndex(benchmark::State& state) {
  Drive& drive = SharedDrive(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    NameIndex index;
    if (!index.Build(drive.store)) std::abort();
    benchmark::DoNotOptimize(index.trigram_count());
  }
  state.counters["folders"] = static_cast<double>(drive.folders);
  state.counters["trigrams"] = static_cast<double>(drive.names_index.trigram_count());
}

void BM_EncodeNameIndex(benchmark::State& state) {
  Drive& drive = SharedDrive(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(drive.names_index.Encode().size());
}

void BM_LoadNameIndex(benchmark::State& state) {
  Drive& drive = SharedDrive(static_cast<int>(state.range(0)));
  const std::string path = NameIndexPath(drive.store.path());
  for (auto _ : state) {
    NameIndex index;
    if (!index.Load(path)) std::abort();
  }
  state.counters["tri_bytes"] = static_cast<double>(drive.name_index_bytes);
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int names : {100000, 1000000})
    for (int named = 0; named < 3; ++named) b->Args({names, named});
}
BENCHMARK(BM_FullScanFind)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NarrowedFind)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildNameIndex)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeNameIndex)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadNameIndex)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quindelo

BENCHMARK_MAIN();
