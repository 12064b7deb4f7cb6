// Helpers shared by the fuzz harnesses: a private scratch folder per
// process and whole-file writes.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace quindelo::fuzz {

// A folder of this process's own, made once under $TMPDIR (default /tmp)
// and removed when the process exits normally (a crash leaves it behind).
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quindelo-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
      perror("mkdtemp");
      abort();
    }
    return pattern;
  }();
  static const bool cleanup_registered = [] {
    return atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchFolder(), ec);
    }) == 0;
  }();
  (void)cleanup_registered;
  return folder;
}

// Replaces the file at path with exactly size bytes of data; aborts on
// failure, which would make every later result meaningless.
inline void WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    perror(path.c_str());
    abort();
  }
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) {
      perror(path.c_str());
      abort();
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

// Aborts with a message: a broken promise found by a harness.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  abort();
}

}  // namespace quindelo::fuzz
