// Drive paths to native paths, and the program's own folders.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/ascii.h"
#include "platform/drive_table.h"
#include "platform/paths.h"
#include "platform/settings_file.h"

namespace quindelo::platform {

bool ToNativePath(const std::string& drive_path, std::string* native_path) {
  if (!drive_path.empty() && drive_path[0] == '/') {
    *native_path = drive_path;
    return true;
  }
  if (drive_path.size() < 2 || drive_path[1] != ':' ||
      !ascii::IsLetter(drive_path[0]))
    return false;
  DriveEntry drive;
  if (!LookUpDrive(drive_path[0], &drive, false)) return false;
  *native_path = NativePathBelow(drive.root, drive_path);
  return true;
}

std::string NativePathBelow(const std::string& native_root, const std::string& drive_path) {
  std::string out = native_root;
  std::size_t i = 2;
  if (!out.empty() && out.back() == '/' && i < drive_path.size() && drive_path[i] == '\\') ++i;
  for (; i < drive_path.size(); ++i) out += drive_path[i] == '\\' ? '/' : drive_path[i];
  return out;
}

namespace {

// The names of an absolute native path, with "." dropped and ".." taking
// away the name before it. False for a relative path.
bool SplitNativePath(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  if (path.empty() || path[0] != '/') return false;
  std::size_t at = 0;
  while (at < path.size()) {
    std::size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    std::string name = path.substr(at, slash - at);
    if (name == "..") {
      if (!names->empty()) names->pop_back();
    } else if (!name.empty() && name != ".") {
      names->push_back(std::move(name));
    }
    at = slash + 1;
  }
  return true;
}

}  // namespace

bool ToDrivePath(const std::string& native_path, std::string* drive_path) {
  std::vector<std::string> names;
  if (!SplitNativePath(native_path, &names)) return false;
  for (const std::string& name : names)
    if (name.find('\\') != std::string::npos) return false;
  const std::uint32_t mask = LogicalDriveMask();
  char best = 0;
  std::size_t best_depth = 0;
  std::vector<std::string> root_names;
  for (int i = 0; i < 26; ++i) {
    if (!(mask & (1u << i))) continue;
    DriveEntry drive;
    if (!LookUpDrive(static_cast<char>('A' + i), &drive, false)) continue;
    if (!SplitNativePath(drive.root, &root_names) || root_names.size() > names.size()) continue;
    bool below = true;
    for (std::size_t n = 0; n < root_names.size() && below; ++n) below = root_names[n] == names[n];
    if (below && (best == 0 || root_names.size() > best_depth)) {
      best = static_cast<char>('A' + i);
      best_depth = root_names.size();
    }
  }
  if (best == 0) return false;
  std::string out(1, best);
  out += ":\\";
  for (std::size_t n = best_depth; n < names.size(); ++n) {
    if (n > best_depth) out += '\\';
    out += names[n];
  }
  *drive_path = out;
  return true;
}

std::string StartupFolder() {
  std::string dir;
  if (SettingsReadString("Settings", "StartupDir", &dir) && !dir.empty()) {
    std::string native;
    if (ToNativePath(dir, &native)) dir = native;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
  }
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (data && data[0] == '/') {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : "/tmp") + "/.local/share";
  }
  return base + "/Pemblet Software/Quindelo";
}

std::string DataFolder() { return StartupFolder() + "/Data"; }

std::string IndexFilePath(char drive_letter) {
  return DataFolder() + "/Drive" +
         std::string(1, ascii::ToUpper(drive_letter)) +
         ".idx";
}

}  // namespace quindelo::platform
