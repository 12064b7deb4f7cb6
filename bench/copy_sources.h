// What the file-operation benchmarks share: the files they work on, a
// trash that refuses everything, the peak resident size of this process
// and of a peer program, and plans made the way the window makes them.
//
// The files are made under $TMPDIR (default /tmp), which is drive Q:, and
// the second file system is a folder under /dev/shm (a tmpfs), drive R:;
// both are removed at exit.
//   big:   one file of QUINDELO_COPY_BENCH_MIB MiB (default 1024)
//   small: a folder of 10,000 files of 1 KiB
// The files are written back to the disk before the first operation, so
// every copy reads them from the page cache.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "commands/file_operation_plan.h"
#include "commands/file_operation_run.h"
#include "platform/drive_table.h"

namespace quindelo::bench {

struct CopySources {
  std::filesystem::path root;   // drive Q:, on the file system of $TMPDIR
  std::filesystem::path other;  // drive R:, a tmpfs
  std::filesystem::path big;
  std::filesystem::path small;
  std::uint64_t big_bytes = 0;
  std::uint64_t small_bytes = 0;
  static constexpr int kSmallFiles = 10000;

  explicit CopySources(const std::string& prefix) {
    namespace fs = std::filesystem;
    const char* tmp = std::getenv("TMPDIR");
    root = fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") /
           (prefix + std::to_string(getpid()));
    other = fs::path("/dev/shm") / (prefix + std::to_string(getpid()));
    fs::create_directories(root / "small");
    fs::create_directories(other);
    const char* mib_text = std::getenv("QUINDELO_COPY_BENCH_MIB");
    const std::uint64_t mib = mib_text != nullptr ? std::strtoull(mib_text, nullptr, 10) : 1024;
    big = root / "big";
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
    std::ofstream out(big, std::ios::binary);
    for (std::uint64_t i = 0; i < mib; ++i)
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    big_bytes = mib << 20;
    small = root / "small";
    MakeSmallFiles(small);
    small_bytes = kSmallFiles * 1024;
    // Written back before timing starts, so no operation competes with it.
    out.close();
    sync();
    platform::SetProcessDrives({{'Q', root.string()}, {'R', other.string()}});
  }
  ~CopySources() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::filesystem::remove_all(other, ec);
  }
  CopySources(const CopySources&) = delete;
  CopySources& operator=(const CopySources&) = delete;

  static void MakeSmallFiles(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    const std::string kib(1024, 'k');
    for (int i = 0; i < kSmallFiles; ++i) std::ofstream(folder / ("f" + std::to_string(i))) << kib;
  }

  // The drive path of a native path below root (Q:) or other (R:).
  std::string DrivePath(const std::filesystem::path& native) const {
    const std::string text = native.string();
    const bool on_other = text.rfind(other.string(), 0) == 0;
    std::string below = text.substr((on_other ? other : root).string().size());
    for (char& c : below)
      if (c == '/') c = '\\';
    return std::string(on_other ? "R:" : "Q:") + (below.empty() ? "\\" : below);
  }
};

// The plan the window makes for op on the given native paths (below the
// drives of CopySources), with destination text to (a folder, or empty).
inline commands::FileOperationPlan PlanFor(const CopySources& sources, commands::FileOperation op,
                                           const std::vector<std::filesystem::path>& selected,
                                           const std::filesystem::path& to) {
  std::vector<std::string> drive_paths;
  drive_paths.reserve(selected.size());
  for (const auto& path : selected) drive_paths.push_back(sources.DrivePath(path));
  commands::DiskView view;
  return commands::PlanFileOperation(op, drive_paths, to.empty() ? "" : sources.DrivePath(to),
                                     view);
}

// An observer that answers yes to replacing, no to everything else, and
// keeps the last progress it was given.
class ProgressOnly : public commands::FileOperationObserver {
 public:
  std::atomic<std::uint64_t> shown{0};
  bool ConfirmReplace(const commands::PlannedStep&) override { return true; }
  bool ConfirmDeleteAfterTrashRefused(const commands::PlannedStep&, const std::string&) override {
    return false;
  }
  void Progress(std::size_t, std::uint64_t bytes) override {
    shown.store(bytes, std::memory_order_relaxed);
  }
  bool Cancelled() override { return false; }
  commands::FailureAnswer Failed(const commands::PlannedStep&, const std::string&) override {
    return commands::FailureAnswer::kStop;
  }
};

class NoTrash : public commands::Trash {
 public:
  bool MoveToTrash(const std::string&, std::string*) override { return false; }
};

inline double PeakRssMib() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Runs a peer program (cp, mv, rm) to its end; true when it exited with 0.
// *peak_mib is the peer's own peak resident size.
inline bool RunPeer(const std::vector<std::string>& arguments, double* peak_mib) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  while (wait4(child, &status, 0, &usage) < 0)
    if (errno != EINTR) return false;
  const double peak = static_cast<double>(usage.ru_maxrss) / 1024.0;
  if (peak > *peak_mib) *peak_mib = peak;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace quindelo::bench
