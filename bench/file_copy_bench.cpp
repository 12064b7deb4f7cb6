// Copying found files with RunFileOperationPlan against `cp -a` in the same
// run, on the same files (under $TMPDIR, default /tmp; removed at exit):
//   BM_CopyBigFile/0 and /1:    one file of QUINDELO_COPY_BENCH_MIB MiB
//                               (default 1024): ours, then cp -a
//   BM_CopySmallFiles/0 and /1: a folder of 10,000 files of 1 KiB: ours,
//                               then cp -a
// The sources are written back to the disk before the first copy, and
// every copy reads them from the page cache.
// Our copy reports every block to an observer that stores the byte count
// the way a progress dialog's update would, so its cost is in the time.
// Counters: bytes_per_second, and peak_rss_mib (the process's peak resident
// size so far: flat, whatever the file size, when the copy streams).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "commands/file_operation_run.h"
#include "commands/process_start.h"

namespace {

namespace fs = std::filesystem;
using namespace quindelo::commands;

class ProgressOnly : public FileOperationObserver {
 public:
  std::atomic<std::uint64_t> shown{0};
  bool ConfirmReplace(const PlannedStep&) override { return true; }
  bool ConfirmDeleteAfterTrashRefused(const PlannedStep&, const std::string&) override { return false; }
  void Progress(std::size_t, std::uint64_t bytes) override { shown.store(bytes, std::memory_order_relaxed); }
  bool Cancelled() override { return false; }
  FailureAnswer Failed(const PlannedStep&, const std::string&) override { return FailureAnswer::kStop; }
};

class NoTrash : public Trash {
 public:
  bool MoveToTrash(const std::string&, std::string*) override { return false; }
};

struct Sources {
  fs::path root;
  fs::path big;
  fs::path small;
  std::uint64_t big_bytes = 0;
  std::uint64_t small_bytes = 0;

  Sources() {
    const char* tmp = std::getenv("TMPDIR");
    root = fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") /
           ("quindelo-copy-bench-" + std::to_string(getpid()));
    fs::create_directories(root / "small");
    const char* mib_text = std::getenv("QUINDELO_COPY_BENCH_MIB");
    std::uint64_t mib = mib_text != nullptr ? std::strtoull(mib_text, nullptr, 10) : 1024;
    big = root / "big";
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
    std::ofstream out(big, std::ios::binary);
    for (std::uint64_t i = 0; i < mib; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
    big_bytes = mib << 20;
    small = root / "small";
    std::string kib(1024, 'k');
    for (int i = 0; i < 10000; ++i) std::ofstream(small / ("f" + std::to_string(i))) << kib;
    small_bytes = 10000 * 1024;
    // Written back before timing starts, so neither copy competes with it.
    out.close();
    sync();
  }
  ~Sources() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Sources& GetSources() {
  static Sources sources;
  return sources;
}

double PeakRssMib() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void CopyWith(benchmark::State& state, const fs::path& source, std::uint64_t bytes) {
  Sources& sources = GetSources();
  fs::path target_folder = sources.root / "out";
  bool ours = state.range(0) == 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(target_folder);
    fs::create_directories(target_folder);
    fs::path target = target_folder / source.filename();
    state.ResumeTiming();
    bool copied;
    if (ours) {
      FileOperationPlan plan;
      PlannedStep step;
      step.action = StepAction::kCopy;
      step.native_source = source.string();
      step.native_destination = target.string();
      plan.steps.push_back(step);
      ProgressOnly observer;
      NoTrash trash;
      copied = RunFileOperationPlan(plan, &trash, &observer).done == 1;
    } else {
      copied = StartProcess({"cp", "-a", source.string(), target.string()}, "", true);
    }
    if (!copied) state.SkipWithError("copy failed");
  }
  fs::remove_all(target_folder);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["peak_rss_mib"] = PeakRssMib();
  state.SetLabel(ours ? "ours" : "cp -a");
}

void BM_CopyBigFile(benchmark::State& state) {
  CopyWith(state, GetSources().big, GetSources().big_bytes);
}
void BM_CopySmallFiles(benchmark::State& state) {
  CopyWith(state, GetSources().small, GetSources().small_bytes);
}

BENCHMARK(BM_CopyBigFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_CopySmallFiles)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
