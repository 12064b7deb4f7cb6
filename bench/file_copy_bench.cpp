// Copy and Move of found files, planned as the window plans them and
// carried out by RunFileOperationPlan, against `cp -a` and `mv` in the same
// run, on the same files (see copy_sources.h):
//   BM_FileOperation/op/what/to/who
//     op:   0 copy, 1 move
//     what: 0 one file of QUINDELO_COPY_BENCH_MIB MiB (default 1024),
//           1 a folder of 10,000 files of 1 KiB
//     to:   0 a folder of the same file system, 1 a tmpfs (another one)
//     who:  0 ours, 1 the peer (cp -a or mv)
// Before each timed operation, dirty pages are written back and a moved
// source is put back, untimed.
// Our operation reports every block to an observer that stores the byte
// count the way a progress dialog's update would, so its cost is in the
// time.
// Counters: bytes_per_second; peak_rss_mib, this process's peak resident
// size so far (flat, whatever the file size, when the copy streams), and
// for the peer peer_peak_rss_mib, the peer program's own peak.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "commands/file_operation_run.h"
#include "copy_sources.h"

namespace {

namespace fs = std::filesystem;
using namespace quindelo::commands;

using quindelo::bench::CopySources;
using quindelo::bench::NoTrash;
using quindelo::bench::PeakRssMib;
using quindelo::bench::PlanFor;
using quindelo::bench::ProgressOnly;
using quindelo::bench::RunPeer;

CopySources& GetSources() {
  static CopySources sources("quindelo-copy-bench-");
  return sources;
}

void BM_FileOperation(benchmark::State& state) {
  CopySources& sources = GetSources();
  const bool move = state.range(0) == 1;
  const bool small = state.range(1) == 1;
  const bool other = state.range(2) == 1;
  const bool ours = state.range(3) == 0;
  const fs::path source = small ? sources.small : sources.big;
  const fs::path target_folder = (other ? sources.other : sources.root) / "out";
  const fs::path target = target_folder / source.filename();
  double peer_peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    double ignored = 0;
    if (move && !fs::exists(source)) RunPeer({"mv", target.string(), source.string()}, &ignored);
    fs::remove_all(target_folder);
    fs::create_directories(target_folder);
    sync();
    state.ResumeTiming();
    bool done;
    if (ours) {
      FileOperationPlan plan =
          PlanFor(sources, move ? FileOperation::kMove : FileOperation::kCopy, {source},
                  target_folder);
      ProgressOnly observer;
      NoTrash trash;
      done = plan.error.empty() && RunFileOperationPlan(plan, &trash, &observer).done == 1;
    } else if (move) {
      done = RunPeer({"mv", source.string(), target.string()}, &peer_peak);
    } else {
      done = RunPeer({"cp", "-a", source.string(), target.string()}, &peer_peak);
    }
    if (!done) state.SkipWithError("operation failed");
  }
  double ignored = 0;
  if (move && !fs::exists(source)) RunPeer({"mv", target.string(), source.string()}, &ignored);
  fs::remove_all(target_folder);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(small ? sources.small_bytes : sources.big_bytes));
  state.counters["peak_rss_mib"] = PeakRssMib();
  if (!ours) state.counters["peer_peak_rss_mib"] = peer_peak;
  state.SetLabel(std::string(ours ? "ours" : move ? "mv" : "cp -a") + (move ? " move " : " copy ") +
                 (small ? "10000 files" : "big file") + (other ? " to tmpfs" : " same fs"));
}

BENCHMARK(BM_FileOperation)
    ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}, {0, 1}})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
