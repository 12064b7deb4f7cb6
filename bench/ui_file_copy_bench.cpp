// Copying and deleting through the window's path (planned as the window
// plans, carried out on its worker thread with the progress dialog and its
// timer, offscreen) against the engine called directly and against the
// peer program, in the same run, on the same files (see copy_sources.h):
//   BM_CopyBigFile/0, /1, /2:    one file of QUINDELO_COPY_BENCH_MIB MiB
//                                (default 1024): window path, engine, cp -a
//   BM_CopySmallFiles/0, /1, /2: a folder of 10,000 files of 1 KiB, the same
//   BM_DeletePermanently/0, /1:  10,000 selected files of 1 KiB deleted
//                                permanently: window path, rm -rf of their
//                                folder
// Counters: bytes_per_second (copies), peak_rss_mib (the process's peak
// resident size so far), peer_peak_rss_mib (the peer program's own peak).
#include <benchmark/benchmark.h>


#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "commands/file_operation_run.h"
#include "copy_sources.h"
#include "ui/file_operations.h"

namespace {

namespace fs = std::filesystem;
using namespace quindelo::commands;

using quindelo::bench::CopySources;
using quindelo::bench::NoTrash;
using quindelo::bench::ProgressOnly;
using quindelo::bench::PeakRssMib;
using quindelo::bench::PlanFor;
using quindelo::bench::RunPeer;

CopySources& GetSources() {
  static CopySources sources("quindelo-ui-copy-bench-");
  return sources;
}

void CopyWith(benchmark::State& state, const fs::path& source, std::uint64_t bytes) {
  CopySources& sources = GetSources();
  const fs::path target_folder = sources.root / "out";
  double peer_peak = 0;
  quindelo::ui::FileOperations window_path(nullptr, nullptr);
  window_path.set_trash(std::make_unique<NoTrash>());
  window_path.prompts().ask_skip_or_stop = [](const QString&) { return FailureAnswer::kStop; };
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(target_folder);
    fs::create_directories(target_folder);
    const fs::path target = target_folder / source.filename();
    state.ResumeTiming();
    const FileOperationPlan plan = PlanFor(sources, FileOperation::kCopy, {source}, target_folder);
    if (!plan.error.empty()) {
      state.SkipWithError(plan.error.c_str());
      break;
    }
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
        copied = RunPeer({"cp", "-a", source.string(), target.string()}, &peer_peak);
        break;
    }
    if (!copied) state.SkipWithError("copy failed");
  }
  fs::remove_all(target_folder);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["peak_rss_mib"] = PeakRssMib();
  if (state.range(0) == 2) state.counters["peer_peak_rss_mib"] = peer_peak;
  const char* labels[] = {"window path", "engine", "cp -a"};
  state.SetLabel(labels[std::min<std::int64_t>(state.range(0), 2)]);
}

void BM_CopyBigFile(benchmark::State& state) { CopyWith(state, GetSources().big, GetSources().big_bytes); }
void BM_CopySmallFiles(benchmark::State& state) {
  CopyWith(state, GetSources().small, GetSources().small_bytes);
}

// The window's Delete Permanently of every row of a find of 10,000 files,
// after its question was answered yes, against rm -rf of their folder.
void BM_DeletePermanently(benchmark::State& state) {
  CopySources& sources = GetSources();
  const fs::path folder = sources.root / "doomed";
  quindelo::ui::FileOperations window_path(nullptr, nullptr);
  window_path.set_trash(std::make_unique<NoTrash>());
  window_path.prompts().ask_skip_or_stop = [](const QString&) { return FailureAnswer::kStop; };
  const bool ours = state.range(0) == 0;
  double peer_peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(folder);
    CopySources::MakeSmallFiles(folder);
    std::vector<fs::path> selected;
    for (const auto& entry : fs::directory_iterator(folder)) selected.push_back(entry.path());
    sync();
    state.ResumeTiming();
    bool deleted;
    if (ours) {
      const FileOperationPlan plan =
          PlanFor(sources, FileOperation::kDeletePermanently, selected, fs::path());
      deleted = plan.error.empty() &&
                window_path.RunPlan(plan).done == static_cast<std::size_t>(CopySources::kSmallFiles);
    } else {
      deleted = RunPeer({"rm", "-rf", folder.string()}, &peer_peak);
    }
    if (!deleted) state.SkipWithError("delete failed");
  }
  fs::remove_all(folder);
  state.counters["peak_rss_mib"] = PeakRssMib();
  if (!ours) state.counters["peer_peak_rss_mib"] = peer_peak;
  state.SetLabel(ours ? "window path" : "rm -rf");
}

BENCHMARK(BM_CopyBigFile)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_CopySmallFiles)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_DeletePermanently)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

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
