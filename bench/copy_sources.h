// What the copy benchmarks share: the files they copy (under $TMPDIR,
// default /tmp; removed at exit), a trash that refuses everything, and the
// process's peak resident size.
//   big:   one file of QUINDELO_COPY_BENCH_MIB MiB (default 1024)
//   small: a folder of 10,000 files of 1 KiB
// The files are written back to the disk before the first copy, so every
// copy reads them from the page cache.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "commands/file_operation_run.h"

namespace quindelo::bench {

struct CopySources {
  std::filesystem::path root;
  std::filesystem::path big;
  std::filesystem::path small;
  std::uint64_t big_bytes = 0;
  std::uint64_t small_bytes = 0;

  explicit CopySources(const std::string& prefix) {
    namespace fs = std::filesystem;
    const char* tmp = std::getenv("TMPDIR");
    root = fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") /
           (prefix + std::to_string(getpid()));
    fs::create_directories(root / "small");
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
    const std::string kib(1024, 'k');
    for (int i = 0; i < 10000; ++i) std::ofstream(small / ("f" + std::to_string(i))) << kib;
    small_bytes = 10000 * 1024;
    // Written back before timing starts, so no copy competes with it.
    out.close();
    sync();
  }
  ~CopySources() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  CopySources(const CopySources&) = delete;
  CopySources& operator=(const CopySources&) = delete;
};

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

}  // namespace quindelo::bench
