// Sequential scan of an index file: BeginScan/NextRecord over every record,
// with and without decoding the entry lists, on a synthetic drive of about
// 32,000 folders and 400,000 names. Reports record bytes per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "index/index_records.h"
#include "index/index_store.h"

namespace quindelo {
namespace {

constexpr int kFolders = 32000;
constexpr int kBranching = 8;

struct Fixture {
  std::string folder;
  IndexStore store;
  std::uint64_t names = 0;

  Fixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quindelo-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    folder = pattern;
    if (!store.Open(folder + "/DriveC.idx")) std::abort();
    Build();
  }
  ~Fixture() {
    store.Close();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  // Folder i has the folders kBranching*i+1 .. kBranching*i+kBranching as
  // children and 0 to 24 files; names vary in length and case.
  void Build() {
    std::mt19937 rng(2024);
    static const char* const kWords[] = {"report", "Setup", "index", "README", "photo",
                                         "lib",    "Makefile", "notes", "data", "build"};
    static const char* const kTypes[] = {".txt", ".cpp", ".h", ".jpg", ".pdf", "", ".so.1"};
    std::vector<std::uint16_t> ids(kFolders);
    for (auto& id : ids) id = store.AllocateId();
    for (int i = 0; i < kFolders; ++i) {
      std::vector<std::pair<std::string, int>> entries;  // name, child index or -1
      for (int c = kBranching * i + 1; c <= kBranching * i + kBranching && c < kFolders; ++c) {
        entries.push_back({"Folder " + std::to_string(c), c});
      }
      const int files = static_cast<int>(rng() % 25);
      for (int f = 0; f < files; ++f) {
        std::string name = kWords[rng() % 10];
        name += "_" + std::to_string(rng() % 100000) + kTypes[rng() % 7];
        entries.push_back({name, -1});
      }
      std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return CompareNames(a.first, b.first) < 0;
      });
      entries.erase(std::unique(entries.begin(), entries.end(),
                                [](const auto& a, const auto& b) {
                                  return CompareNames(a.first, b.first) == 0;
                                }),
                    entries.end());
      FolderRecordBuilder builder;
      const int parent = i == 0 ? -1 : (i - 1) / kBranching;
      builder.Begin(ids[i], 0x5EED0000u + i, parent < 0 ? 0 : ids[parent],
                    i == 0 ? "" : "Folder " + std::to_string(i));
      for (const auto& [name, child] : entries) {
        if (child >= 0) {
          builder.AddFolder(name, ids[child]);
        } else {
          builder.AddFile(name);
        }
      }
      if (!store.WriteRecord(builder.Finish())) std::abort();
      names += entries.size();
    }
    if (!store.Flush()) std::abort();
  }
};

Fixture& SharedFixture() {
  static Fixture fixture;  // built once, removed at exit
  return fixture;
}

void BM_ScanRecords(benchmark::State& state) {
  Fixture& fx = SharedFixture();
  std::vector<std::uint8_t> buffer;
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    fx.store.BeginScan();
    while (fx.store.NextRecord(&buffer)) bytes += buffer.size();
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_ScanRecords)->Unit(benchmark::kMillisecond);

void BM_ScanAndDecodeEntries(benchmark::State& state) {
  Fixture& fx = SharedFixture();
  std::vector<std::uint8_t> buffer;
  std::uint64_t bytes = 0;
  std::uint64_t names = 0;
  for (auto _ : state) {
    fx.store.BeginScan();
    while (fx.store.NextRecord(&buffer)) {
      bytes += buffer.size();
      FolderRecordView view;
      if (!view.Parse(buffer)) continue;
      EntryIterator it(view);
      FolderEntry entry;
      while (it.Next(&entry)) {
        ++names;
        benchmark::DoNotOptimize(entry.name.data());
      }
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["names"] = benchmark::Counter(static_cast<double>(names),
                                                benchmark::Counter::kIsRate);
  state.counters["names_in_index"] = static_cast<double>(fx.names);
  state.counters["file_bytes"] = static_cast<double>(fx.store.end_offset());
}
BENCHMARK(BM_ScanAndDecodeEntries)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quindelo

BENCHMARK_MAIN();
