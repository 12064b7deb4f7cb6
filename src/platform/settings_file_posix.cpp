// The settings file on POSIX: where it is, reading it whole, replacing it
// atomically, and the lock file that lets one writer at a time rewrite it.
// The INI text itself is settings_file.cpp's.
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings_file.h"
#include "platform/settings_file_io.h"

namespace quindelo::platform {
namespace {

constexpr char kFolderName[] = "Pemblet Software";
constexpr char kFileName[] = "Quindelo.conf";
constexpr char kLockSuffix[] = ".lock";
constexpr auto kLockRetryPause = std::chrono::milliseconds(2);

std::atomic<std::int64_t> g_lock_wait_ms{5000};

std::string ConfigHome() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return config;
  const char* home = std::getenv("HOME");
  std::string base;
  if (home && home[0] == '/') {
    base = home;
  } else {
    struct passwd pw;
    struct passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
      base = found->pw_dir;
    else
      base = "/tmp";
  }
  return base + "/.config";
}

std::string FolderPath() { return ConfigHome() + "/" + kFolderName; }

}  // namespace

void SetSettingsLockWait(std::chrono::milliseconds wait) { g_lock_wait_ms = wait.count(); }

std::chrono::milliseconds SettingsLockWait() { return std::chrono::milliseconds(g_lock_wait_ms); }

std::string SettingsFilePath() {
  return ConfigHome() + "/" + kFolderName + "/" + kFileName;
}

bool ReadSettingsText(std::string* text) {
  text->clear();
  int fd = ::open(SettingsFilePath().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size > static_cast<off_t>(kSettingsMaxFileSize)) {
    ::close(fd);
    return false;
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    text->append(buf, static_cast<std::size_t>(n));
    if (text->size() > kSettingsMaxFileSize) {  // grew while being read
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  return true;
}

bool WriteSettingsText(const std::string& text) {
  std::string folder = FolderPath();
  return CreateFolders(folder).ok() && ReplaceFileContents(folder + "/" + kFileName, text, 0600).ok();
}

// The lock is a flock on "Quindelo.conf.lock" beside the file, created 0600
// in the private folder. Its holder deletes it before letting go, so that the
// folder holds the settings file alone between writes. That is safe because
// File::OpenAlways, having taken the lock, checks that the path still names
// the file it locked and otherwise opens the path again: a waiter that locked
// a deleted lock file moves on to the one now at the path, so no two writers
// ever hold the lock file that the path names. A writer that dies holding the
// lock releases it with its descriptors; its file is reused by the next.
//
// A writer that rewrites the file again and again takes the lock back within
// microseconds of letting it go, so a waiter that looked only every few tens
// of milliseconds (File::OpenAlways's own wait) would seldom find it free;
// it looks every kLockRetryPause instead.
SettingsWriteLock::SettingsWriteLock() : path_(SettingsFilePath() + kLockSuffix) {
  status_ = CreateFolders(FolderPath());
  if (!status_.ok()) return;
  const auto deadline = std::chrono::steady_clock::now() + SettingsLockWait();
  while (!(status_ = file_.OpenAlways(path_, nullptr, 0)).ok()) {
    if (status_.code() != kErrorFileInUse || std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(kLockRetryPause);
  }
}

SettingsWriteLock::~SettingsWriteLock() {
  // Deleted while still held; a failure leaves a file the next writer reuses.
  if (file_.IsOpen()) ::unlink(path_.c_str());
  file_.Close();
}

}  // namespace quindelo::platform
