// Copying through the window's path (the worker thread, the progress
// dialog and its timer, offscreen) against the copy engine called directly
// and against `cp -a`, in the same run, on the same files (under $TMPDIR,
// default /tmp; removed at exit):
//   BM_CopyBigFile/0, /1, /2:    one file of QUINDELO_COPY_BENCH_MIB MiB
//                                (default 1024): window path, engine, cp -a
//   BM_CopySmallFiles/0, /1, /2: a folder of 10,000 files of 1 KiB, the same
// Counters: bytes_per_second, and peak_rss_mib (the process's peak resident
// size so far).
#include <benchmark/benchmark.h>


#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "commands/file_operation_run.h"
#include "commands/process_start.h"
#include "copy_sources.h"
#include "ui/file_operations.h"

namespace {

namespace fs = std::filesystem;
using namespace quindelo::commands;

using quindelo::bench::CopySources;
using quindelo::bench::NoTrash;
using quindelo::bench::ProgressOnly;
using quindelo::bench::PeakRssMib;

CopySources& GetSources() {
  static CopySources sources("quindelo-ui-copy-bench-");
  return sources;
}

void CopyWith(benchmark::State& state, const fs::path& source, std::uint64_t bytes) {
  CopySources& sources = GetSources();
  const fs::path target_folder = sources.root / "out";
  quindelo::ui::FileOperations window_path(nullptr, nullptr);
  window_path.set_trash(std::make_unique<NoTrash>());
  window_path.prompts().ask_skip_or_stop = [](const QString&) { return FailureAnswer::kStop; };
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(target_folder);
    fs::create_directories(target_folder);
    const fs::path target = target_folder / source.filename();
    state.ResumeTiming();
    FileOperationPlan plan;
    PlannedStep step;
    step.action = StepAction::kCopy;
    step.native_source = step.source = source.string();
    step.native_destination = step.destination = target.string();
    plan.steps.push_back(step);
    bool copied = false;
    switch (state.range(0)) {
      case 0:
        copied = window_path.RunPlan(plan).done == 1;
        break;
      case 1: {
        ProgressOnly observer;
        NoTrash trash;
        copied = RunFileOperationPlan(plan, &trash, &observer).done == 1;
        break;
      }
      default:
        copied = StartProcess({"cp", "-a", source.string(), target.string()}, "", true);
        break;
    }
    if (!copied) state.SkipWithError("copy failed");
  }
  fs::remove_all(target_folder);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["peak_rss_mib"] = PeakRssMib();
  const char* labels[] = {"window path", "engine", "cp -a"};
  state.SetLabel(labels[std::min<std::int64_t>(state.range(0), 2)]);
}

void BM_CopyBigFile(benchmark::State& state) { CopyWith(state, GetSources().big, GetSources().big_bytes); }
void BM_CopySmallFiles(benchmark::State& state) {
  CopyWith(state, GetSources().small, GetSources().small_bytes);
}

BENCHMARK(BM_CopyBigFile)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_CopySmallFiles)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
