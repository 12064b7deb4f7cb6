// Test environment: a fresh temporary folder for each test, with the
// settings file and the data folder pointed into it, and helpers to make
// drives, folders and files there.
#pragma once

#include <string>

namespace quindelo::test {

class ScopedTestEnv {
 public:
  // Creates a temporary folder, points XDG_CONFIG_HOME and XDG_DATA_HOME into
  // it, turns the automatic drives off ("Drives" "Auto" = 0) and the
  // window's native paths off ("Options" "NativePaths" = 0).
  ScopedTestEnv();
  // Restores the environment and removes the folder with everything in it.
  ~ScopedTestEnv();
  ScopedTestEnv(const ScopedTestEnv&) = delete;
  ScopedTestEnv& operator=(const ScopedTestEnv&) = delete;

  // Native path of the temporary folder (no trailing slash).
  const std::string& root() const { return root_; }
  // root() + "/" + relative.
  std::string Path(const std::string& relative) const;
  // Makes folder root()/relative (with parents) and maps letter to it;
  // returns its native path.
  std::string MakeDrive(char letter, const std::string& relative);

 private:
  std::string root_;
  std::string old_config_;
  std::string old_data_;
  bool had_config_ = false;
  bool had_data_ = false;
};

// Maps a drive letter to a native folder in the settings file.
void MapDrive(char letter, const std::string& native_folder);

// File helpers; each fails the current test on error.
void MakeFolder(const std::string& native_path);
void WriteTextFile(const std::string& native_path, const std::string& contents);
std::string ReadWholeFile(const std::string& native_path);
void RemoveTree(const std::string& native_path);

// Whether a path names anything, a dangling link included.
bool Exists(const std::string& native_path);
// Sets or clears the immutable flag; false where the file system or the
// process's rights do not allow it.
bool SetImmutable(const std::string& native_path, bool on);

}  // namespace quindelo::test
