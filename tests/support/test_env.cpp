#include "support/test_env.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/settings_file.h"

namespace quindelo::test {
namespace fs = std::filesystem;

namespace {
void SaveEnv(const char* name, std::string* old, bool* had) {
  const char* v = std::getenv(name);
  *had = v != nullptr;
  if (v) *old = v;
}
void RestoreEnv(const char* name, const std::string& old, bool had) {
  if (had)
    setenv(name, old.c_str(), 1);
  else
    unsetenv(name);
}
}  // namespace

ScopedTestEnv::ScopedTestEnv() {
  std::string pattern = (fs::temp_directory_path() / "quindelo-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (!made) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  root_ = made;
  SaveEnv("XDG_CONFIG_HOME", &old_config_, &had_config_);
  SaveEnv("XDG_DATA_HOME", &old_data_, &had_data_);
  setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
  EXPECT_TRUE(platform::SettingsWriteInt("Drives", "Auto", 0));
  // The window shows drive paths unless a test turns native paths on.
  EXPECT_TRUE(platform::SettingsWriteInt("Options", "NativePaths", 0));
}

ScopedTestEnv::~ScopedTestEnv() {
  RestoreEnv("XDG_CONFIG_HOME", old_config_, had_config_);
  RestoreEnv("XDG_DATA_HOME", old_data_, had_data_);
  if (!root_.empty()) RemoveTree(root_);
}

std::string ScopedTestEnv::Path(const std::string& relative) const {
  return root_ + "/" + relative;
}

std::string ScopedTestEnv::MakeDrive(char letter, const std::string& relative) {
  std::string folder = Path(relative);
  MakeFolder(folder);
  MapDrive(letter, folder);
  return folder;
}

void MapDrive(char letter, const std::string& native_folder) {
  EXPECT_TRUE(platform::SettingsWriteString("Drives", std::string(1, letter), native_folder));
}

void MakeFolder(const std::string& native_path) {
  std::error_code ec;
  fs::create_directories(native_path, ec);
  EXPECT_FALSE(ec) << native_path << ": " << ec.message();
}

void WriteTextFile(const std::string& native_path, const std::string& contents) {
  std::ofstream out(native_path, std::ios::binary | std::ios::trunc);
  EXPECT_TRUE(out.good()) << native_path;
  out << contents;
}

std::string ReadWholeFile(const std::string& native_path) {
  std::ifstream in(native_path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void RemoveTree(const std::string& native_path) {
  std::error_code ec;
  fs::permissions(native_path, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(native_path, ec);
}

bool Exists(const std::string& native_path) {
  struct stat st;
  return lstat(native_path.c_str(), &st) == 0;
}

bool SetImmutable(const std::string& native_path, bool on) {
  const int fd = open(native_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  close(fd);
  return done;
}

}  // namespace quindelo::test
