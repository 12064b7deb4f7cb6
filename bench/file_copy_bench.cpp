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


#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "commands/file_operation_run.h"
#include "commands/process_start.h"
#include "copy_sources.h"

namespace {

namespace fs = std::filesystem;
using namespace quindelo::commands;

using quindelo::bench::CopySources;
using quindelo::bench::NoTrash;
using quindelo::bench::ProgressOnly;
using quindelo::bench::PeakRssMib;

CopySources& GetSources() {
  static CopySources sources("quindelo-copy-bench-");
  return sources;
}


void CopyWith(benchmark::State& state, const fs::path& source, std::uint64_t bytes) {
  CopySources& sources = GetSources();
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
