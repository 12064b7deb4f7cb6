// Drive paths to native paths, and the program's own folders.
#include <cctype>
#include <cstdlib>

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
      !std::isalpha(static_cast<unsigned char>(drive_path[0])))
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
         std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(drive_letter)))) +
         ".idx";
}

}  // namespace quindelo::platform
